#pragma once
// ASID: the write registers of one SID chip as MIDI SysEx messages (F0 2D command payload F7).
// The receiver turns whole messages into media callback calls; the builders append one message
// to a byte vector.

#include "media/MediaCallback.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace asid {
constexpr uint8_t kSysExStart = 0xF0;
constexpr uint8_t kSysExEnd = 0xF7;
constexpr uint8_t kManufacturer = 0x2D;
constexpr uint8_t kStart = 0x4C;
constexpr uint8_t kStop = 0x4D;
constexpr uint8_t kRegisters = 0x4E;
constexpr uint8_t kText = 0x4F;
constexpr uint8_t kLastCommand = 0x50;
constexpr uint32_t kStartEventRate = 1000000;
constexpr size_t kRegisterCount = 25;
constexpr size_t kMaxPayload = 64;
constexpr size_t kMaxText = 256;  // text bytes kept of a text message; the rest are dropped
constexpr size_t kMaskBytes = 4;
constexpr size_t kHeaderBytes = 2 * kMaskBytes;  // masks and MSBs before the data bytes
// The SID register at mask byte i, bit b: kRegisterAt[7 * i + b]. 4, 11 and 18 appear twice.
constexpr uint8_t kRegisterAt[28] = {0,  1,  2,  3,  5,  6,  7,  8,  9,  10, 12, 13, 14, 15,
                                     16, 17, 19, 20, 21, 22, 23, 24, 4,  11, 18, 4,  11, 18};
}  // namespace asid

// Parses one message at a time: the owner calls reset, then feed for every byte in order.
class ASIDReceiver
{
public:
    ASIDReceiver(MediaCallback* listener, uint32_t chipKind);
    ASIDReceiver(const ASIDReceiver&) = delete;
    ASIDReceiver& operator=(const ASIDReceiver&) = delete;

    void reset();
    void feed(uint8_t b) { (this->*handlers[size_t(state)])(b); }
    // reset, then every byte.
    void feedMessage(const uint8_t* bytes, uint64_t length);

    int32_t getState() const { return state; }
    size_t bufferedBytes() const { return registers.size(); }
    size_t bufferCapacity() const { return registers.capacity(); }
    size_t textCapacity() const { return text.capacity(); }

    enum State : int32_t { kWaitStart, kWaitManufacturer, kCommand, kWaitEnd, kTextBytes, kPayload, kError };

private:
    using Handler = void (ASIDReceiver::*)(uint8_t);
    void onWaitStart(uint8_t b);
    void onManufacturer(uint8_t b);
    void onCommand(uint8_t b);
    void onWaitEnd(uint8_t b);
    void onText(uint8_t b);
    void onPayload(uint8_t b);
    void onError(uint8_t b);

    std::array<Handler, 7> handlers;
    int32_t state = kWaitStart;
    MediaCallback* listener;
    uint32_t chipKind;
    std::string text;  // at most kMaxText bytes, reserved at construction
    std::vector<uint8_t> registers;
};

// Writes every register a register payload carries through writeMediaRegister (kind, 0, 0, r, v);
// false, and nothing written, when the payload is shorter than 8 bytes or its data bytes do not
// match its mask bits (all eight bits of each mask byte count).
bool decodeAsidRegisters(const uint8_t* payload, size_t length, MediaCallback& listener,
                         uint32_t chipKind);

// Each appends one message to `out`.
bool buildAsidStart(std::vector<uint8_t>& out);
bool buildAsidStop(std::vector<uint8_t>& out);
// False at a byte of 0x80 or above: what was appended so far stays, without F7.
bool buildAsidText(const uint8_t* text, size_t length, std::vector<uint8_t>& out);
// All 25 registers of `image` (37 bytes).
bool buildAsidRegisters(const uint8_t* image, std::vector<uint8_t>& out);
// One register 0-24 (13 bytes); any other register empties `out` and gives false.
bool buildAsidRegister(uint8_t reg, uint8_t value, std::vector<uint8_t>& out);
