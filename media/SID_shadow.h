#pragma once
// Register image of one SID chip: the last byte written to each register and, per voice, whether
// its gate bit changed since the flags were last cleared. Copied by value into capture frames.

#include <cstdint>

class ChipSubShadow
{
public:
    virtual ~ChipSubShadow() = default;
};

class SID_shadow : public ChipSubShadow
{
public:
    static constexpr uint8_t kRegisters = 32;
    static constexpr uint8_t kModeVolume = 24;

    SID_shadow() { regs[kModeVolume] = 15; }
    SID_shadow(const SID_shadow&) = default;
    SID_shadow& operator=(const SID_shadow&) = default;

    // Register r (taken modulo 32) receives b; a change of the gate bit of a voice's control
    // register (4, 11, 18) marks that voice.
    void store(uint8_t r, uint8_t b)
    {
        r &= kRegisters - 1;
        if ((r == 4 || r == 11 || r == 18) && ((b ^ regs[r]) & 1))
            gateChanged[r / 7] = 1;
        regs[r] = b;
    }

    uint8_t regs[kRegisters] = {};
    uint8_t gateChanged[3] = {};
};
