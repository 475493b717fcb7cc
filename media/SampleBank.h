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

    std::vector<uint8_t> rom;   // the chip's address space as received, zero-filled
    std::vector<bool> written;  // per ROM byte: supplied by some block
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
};
