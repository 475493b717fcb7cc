#include "instrument/StepTableWriter.h"

#include "media/SIDCapture.h"
#include "synth/AutomTables.h"
#include "synth/SynthBase.h"

#include <algorithm>
#include <cassert>
#include <cstring>

namespace {

constexpr uint64_t kWritableSlots = 15;
constexpr size_t kUsedSizeOffset = 4;
constexpr size_t kFlagsOffset = 12;
constexpr size_t kHighestStepOffset = 38;
constexpr uint32_t kFlagHoldsSteps = 8;
constexpr uint64_t kNoLoopPoint = StepTableWriters::kNoLoopPoint;

template <typename T>
void store(uint8_t* record, size_t offset, T value)
{
    std::memcpy(record + offset, &value, sizeof value);
}

// Slot n's table record, or null when the instrument handed none over for it.
uint8_t* stepTableRecord(ZRS::SynthBase& synth, uint64_t slot)
{
    const auto& entries = synth.stepTableEntries();
    if (slot >= entries.size() || !entries[slot].record || entries[slot].size < ZRS::kStepTableSize)
        return nullptr;
    return entries[slot].record;
}

template <typename T>
void writeStepTable(ZRS::SynthBase& synth, uint64_t slot, const std::vector<T>& values,
                    bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                    uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed)
{
    if (slot >= kWritableSlots)
        return;
    assert(lastIndex < values.size());
    uint32_t mode = loopMode;
    if (loopIn == kNoLoopPoint || loopOut == kNoLoopPoint) {
        if (values.empty() || !findStepLoop(values, std::min<uint64_t>(lastIndex, values.size() - 1), loopIn, loopOut)) {
            mode = onceWithoutLoop ? 0 : 2;
            loopIn = loopOut = lastIndex;
        }
    }
    assert(loopIn < values.size() && loopOut < values.size());

    uint8_t* record = stepTableRecord(synth, slot);
    if (record) {
        std::memset(record + ZRS::kStepTableStepsOffset, 0, ZRS::kStepTableSteps);
        store<uint16_t>(record, kHighestStepOffset, 0);
        store<uint32_t>(record, kUsedSizeOffset, ZRS::kStepTableStepsOffset);
    }
    uint64_t count = mode == 1 ? lastIndex : loopOut + 1;
    count = std::min<uint64_t>({count, values.size(), ZRS::kStepTableSteps});
    uint64_t steps = 4;
    while (steps < count)
        steps <<= 1;

    const float settings[] = {1.0f, 0.0f, float(mode), 0.0f, 1.0f, float(steps), speed, 1.0f, 96.0f,
                              float(loopIn), float(loopOut), 0.0f, 0.0f, 0.0f};
    for (uint32_t p = 0; p < std::size(settings); ++p)
        if (p != 3)
            synth.setAutomSlotParameterAndNotify(slot, p, settings[p]);

    if (!record || count == 0)
        return;
    for (uint64_t i = 0; i < count; ++i) {
        const int32_t v = std::clamp<int32_t>(int32_t(values[i]), lo, std::max(lo, hi));
        record[ZRS::kStepTableStepsOffset + i] = uint8_t(v);
    }
    const uint16_t highest = uint16_t(count - 1);
    store<uint16_t>(record, kHighestStepOffset, highest);
    uint32_t flags = 0;
    std::memcpy(&flags, record + kFlagsOffset, sizeof flags);
    store<uint32_t>(record, kFlagsOffset, flags | kFlagHoldsSteps);
    store<uint32_t>(record, kUsedSizeOffset, uint32_t(ZRS::kStepTableStepsOffset + 1 + highest));
}

}  // namespace

void writeStepTableSigned(ZRS::SynthBase& synth, uint64_t slot, const std::vector<int8_t>& values,
                          bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                          uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed)
{
    writeStepTable(synth, slot, values, onceWithoutLoop, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
}

void writeStepTableUnsigned(ZRS::SynthBase& synth, uint64_t slot, const std::vector<uint8_t>& values,
                            bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                            uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed)
{
    writeStepTable(synth, slot, values, onceWithoutLoop, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
}

void writeStepTableInt16(ZRS::SynthBase& synth, uint64_t slot, const std::vector<int16_t>& values,
                         bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                         uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed)
{
    writeStepTable(synth, slot, values, onceWithoutLoop, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
}

void writeStepTableInt32(ZRS::SynthBase& synth, uint64_t slot, const std::vector<int32_t>& values,
                         bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                         uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed)
{
    writeStepTable(synth, slot, values, onceWithoutLoop, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
}

void writeStepTableBits(ZRS::SynthBase& synth, uint64_t slot, const std::vector<bool>& values,
                        bool onceWithoutLoop, int32_t lo, int32_t hi, uint64_t lastIndex,
                        uint32_t loopMode, uint64_t loopIn, uint64_t loopOut, float speed)
{
    writeStepTable(synth, slot, values, onceWithoutLoop, lo, hi, lastIndex, loopMode, loopIn, loopOut, speed);
}
