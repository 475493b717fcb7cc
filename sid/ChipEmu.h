#pragma once
// Interface of an emulated sound chip as the instrument drives it, the description record each chip
// publishes, and the listener a SID chip calls when another chip profile is selected.

#include "platform/ParameterInfo.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// What a chip publishes about itself; owned by the chip, valid as long as the chip.
struct ChipInfo {
    uint64_t infoVersion = 1;
    uint64_t inputChannels = 0;
    uint64_t outputChannels = 2;
    uint64_t clockDivider = 1;
    std::vector<double> clocks;              // selectable chip clocks in Hz
    std::vector<ParameterInfo> parameters;   // in parameter-index order
    int64_t defaultClockIndex = 0;           // into clocks
    std::string chipType;
    std::string family;
    std::array<float, 4> outputScales{};     // per output channel: sample word -> float
};

// Told by a SID chip, before it switches, which chip profile it selects (profile index, the
// chip's init value).
class SwallowPopListener {
public:
    virtual void swallowPop(uint64_t chipIndex, uint32_t value) = 0;

protected:
    ~SwallowPopListener() = default;
};

// An emulated sound chip. The operations are declared in a fixed order; slots the instrument never
// calls keep their place with an empty default.
class ChipEmu {
public:
    virtual ~ChipEmu() = default;

    // Prepares the per-block buffers for at most maxCyclesPerBlock cycles per render call; called
    // once, before any render. path names the chip's data file (may be null).
    virtual bool init(uint64_t maxCyclesPerBlock, const char* path, uint32_t initValue) = 0;
    virtual void powerOn() = 0;
    virtual void reset() = 0;
    virtual const ChipInfo* getChipInfo() const = 0;
    // The clock chosen from ChipInfo::clocks.
    virtual void selectClock(uint64_t /*clockIndex*/) {}
    virtual void setPaddles(uint64_t index, float value) = 0;
    // cycleOffset is reserved for chips that time their writes inside a block; pass 0.
    virtual void writeRegister(uint16_t reg, uint8_t value, uint64_t cycleOffset = 0) = 0;
    virtual uint8_t readRegister(uint16_t reg, uint64_t cycleOffset = 0) = 0;
    virtual uint64_t reservedSlot10() { return 0; }
    virtual void setParameter(uint64_t index, float value) = 0;
    virtual void reservedSlot12() {}
    // Adds `cycles` 32-bit sample words (1.0 = 2^20) into outputs[output channel]; clears nothing
    // and leaves the pointers as they are, so several chips can add into one buffer.
    virtual void render(int32_t* const* outputs, uint64_t cycles) = 0;
    virtual void reservedSlot14() {}
    virtual uint64_t reservedSlot15() { return 0; }
    virtual uint64_t reservedSlot16() { return 0; }
    virtual uint64_t reservedSlot17() { return 0; }
    // Which of the render's output buffers the chip adds into (0 by default).
    virtual void setOutputChannel(uint64_t channel) = 0;
    virtual uint64_t reservedSlot19() { return 0; }
    virtual uint64_t reservedSlot20() { return 0; }
    virtual uint64_t reservedSlot21() { return 0; }
    virtual void reservedSlot22() {}
};
