#pragma once
// Sample data of a register log's PCM chips: one bank per data block, the OKIM6295 ROM images
// with their phrase tables, and the 32X PWM register model. Plain records; the log reader fills
// them and the DAC channels play from the banks.

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

struct SampleBank
{
    std::vector<int16_t> samples;
    std::vector<uint8_t> raw;  // the block's bytes, for the kinds that keep them
    std::map<std::string, std::string> attributes;
    uint32_t romSize = 0;      // ROM images: size given in the block; RAM writes: data size
    uint32_t startOffset = 0;  // ROM and RAM images: offset in the chip's address space
    uint32_t type = 0;         // the block's type byte
    float sampleRate = 0.0f;   // Hz
    uint16_t defaultLevel = 0; // level of a play-bank write whose level is 0
    std::set<uint32_t> sampleStarts;  // YM2612 sample positions seen in the log, each once
};

// One bit per byte of an address space, set and tested a range at a time.
class ByteMask
{
public:
    size_t size() const { return count; }
    void resize(size_t n);  // new bits clear
    void set(size_t first, size_t last);  // [first, last), within the size
    bool all(size_t first, size_t last) const;  // [first, last) all set; false past the size
    bool test(size_t i) const { return i < count && (words[i / 64] >> (i % 64) & 1); }

private:
    std::vector<uint64_t> words;
    size_t count = 0;
};

// The ADPCM of the OKI MSM6258 and MSM6295: 4-bit codes over 49 step sizes, a 12-bit signal,
// output scaled to 16 bits.
class OkiAdpcm
{
public:
    explicit OkiAdpcm(int32_t signal = 0) : signal(signal) {}
    int16_t decode(uint8_t nibble);
    // Both nibbles of a byte, high first.
    void decodeByte(uint8_t byte, std::vector<int16_t>& out)
    {
        out.push_back(decode(uint8_t(byte >> 4)));
        out.push_back(decode(uint8_t(byte & 15)));
    }

private:
    int32_t signal;
    int32_t stepIndex = 0;
};

struct OkiPhrase
{
    uint8_t decoded = 0;
    uint8_t bank = 0;           // sample bank holding the phrase
    uint32_t sampleStart = 0;   // first sample in that bank
    uint32_t sampleLength = 0;
};

struct OkiPhraseTable
{
    static constexpr uint32_t kPhrases = 128;
    static constexpr uint32_t kTableBytes = 0x400;
    // Phrase addresses have 20 bits: bytes above this are kept by no table.
    static constexpr uint32_t kAddressable = 1u << 20;

    std::vector<uint8_t> rom;   // the chip's address space as received, zero-filled
    ByteMask written;           // per ROM byte: supplied by some block
    uint8_t tableComplete = 0;  // one block brought the whole phrase table
    OkiPhrase phrases[kPhrases] = {};
};

struct SegaPcmChannel
{
    uint32_t loopAddress = 0;
    uint32_t currentAddress = 0;
    uint32_t bankOffset = 0;
    uint8_t endPage = 0;
    uint8_t flags = 0;
    uint8_t playing = 0;
};

// 32X PWM: only the output rate reaches the DAC channels; the FIFOs are kept, never played.
struct PwmState
{
    static constexpr uint32_t kInitialRate = 22472;
    static constexpr uint32_t kFifoDepth = 3;

    uint16_t control = 0;
    uint16_t cycle = 0;          // 4095 when written as 0
    uint16_t timerInterval = 0;  // bits 8-11 of the control word, 16 for 0
    uint16_t cycleWritten = 0;
    uint32_t clock = 0;
    uint32_t outputRate = kInitialRate;
    uint16_t fifo[2][kFifoDepth] = {};  // left, right
    uint8_t fifoCount[2] = {};

    // A register write with its 12 data bits: 1 after a control write, 4 after a cycle write
    // (a new output rate), 0 otherwise.
    uint32_t writeRegister(uint32_t reg, uint16_t data);

private:
    void updateRate();
    void push(uint32_t side, uint16_t sample);
};
