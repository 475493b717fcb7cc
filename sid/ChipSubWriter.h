#pragma once
// The one path by which the sub-controllers of a chip send register writes to the instrument.

#include <cstdint>

class ChipSubWriter
{
public:
    // OR-ed into the chip number: straight to the chip, bypassing the register image, merging,
    // capture and hardware output.
    static constexpr uint64_t DIRECT_WRITE = 0x10000000;

    virtual ~ChipSubWriter() = default;
    virtual void unusedWriterHook2() {}
    virtual void unusedWriterHook3() {}
    virtual void writeRegister(uint64_t chip, uint8_t reg, uint8_t value) = 0;
    virtual void unusedWriterHook5() {}
};
