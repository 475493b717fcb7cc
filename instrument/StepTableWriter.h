#pragma once
// Fills a step slot of the synth from a track of per-frame values: finds a repeating tail, stores
// the clamped values in the slot's step table and sets the slot's parameters. Slots above 14 are
// ignored. lastIndex and given loop points must lie within the values.

#include "instrument/SIDPatch.h"

#include <cstdint>
#include <vector>

namespace ZRS {
class SynthBase;
}

void writeStepTableSigned(ZRS::SynthBase& synth, uint64_t slot, const std::vector<int8_t>& values,
                          bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                          uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed);
void writeStepTableUnsigned(ZRS::SynthBase& synth, uint64_t slot, const std::vector<uint8_t>& values,
                            bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                            uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed);
void writeStepTableInt16(ZRS::SynthBase& synth, uint64_t slot, const std::vector<int16_t>& values,
                         bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                         uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed);
void writeStepTableInt32(ZRS::SynthBase& synth, uint64_t slot, const std::vector<int32_t>& values,
                         bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                         uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed);
void writeStepTableBits(ZRS::SynthBase& synth, uint64_t slot, const std::vector<bool>& values,
                        bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                        uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed);

// The writers above as the tracker import's seam.
class SynthStepTableWriters final : public StepTableWriters
{
public:
    explicit SynthStepTableWriters(ZRS::SynthBase& s) : synth(s) {}

    void writeSigned(uint64_t slot, const std::vector<int8_t>& values, bool once, int32_t lo,
                     int32_t hi, uint64_t lastIndex, uint32_t loopMode, uint64_t loopIn,
                     uint64_t loopOut, float speed) override
    {
        writeStepTableSigned(synth, slot, values, once, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
    }
    void writeUnsigned(uint64_t slot, const std::vector<uint8_t>& values, bool once, int32_t lo,
                       int32_t hi, uint64_t lastIndex, uint32_t loopMode, uint64_t loopIn,
                       uint64_t loopOut, float speed) override
    {
        writeStepTableUnsigned(synth, slot, values, once, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
    }
    void writeBits(uint64_t slot, const std::vector<bool>& values, bool once, int32_t lo, int32_t hi,
                   uint64_t lastIndex, uint32_t loopMode, uint64_t loopIn, uint64_t loopOut,
                   float speed) override
    {
        writeStepTableBits(synth, slot, values, once, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
    }

private:
    ZRS::SynthBase& synth;
};
