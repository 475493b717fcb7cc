#include "synth/AutomTables.h"

#include <cmath>
#include <cstring>
#include <iterator>

namespace ZRS {

namespace {

constexpr uint32_t kFlagsChanged = 0x01;
constexpr uint32_t kFlagsReset = 0x10;

template <typename T>
bool readAt(const TableRecord& r, size_t offset, T& out)
{
    if (!r.data || offset > r.size || r.size - offset < sizeof(T))
        return false;
    std::memcpy(&out, r.data + offset, sizeof(T));
    return true;
}

template <typename T>
void writeAt(uint8_t* record, size_t offset, T value)
{
    std::memcpy(record + offset, &value, sizeof(T));
}

float finiteOrZero(float v)
{
    return std::isfinite(v) ? v : 0.0f;
}

void markReset(uint8_t* record)
{
    uint32_t flags = 0;
    std::memcpy(&flags, record + 12, sizeof flags);
    writeAt<uint32_t>(record, 12, (flags & ~(kFlagsChanged | kFlagsReset)) | kFlagsReset);
}

}  // namespace

uint32_t TableRecord::kind() const
{
    uint32_t k = 0;
    return readAt(*this, 0, k) ? k : 0;
}

int16_t StepTableView::low() const
{
    int16_t v = 0;
    return readAt(record, kStepTableLowOffset, v) ? v : int16_t(0);
}

int16_t StepTableView::high() const
{
    int16_t v = 0;
    return readAt(record, kStepTableHighOffset, v) ? v : int16_t(0);
}

int8_t StepTableView::step(uint64_t position) const
{
    int8_t v = 0;
    return readAt(record, kStepTableStepsOffset + size_t(position % kStepTableSteps), v)
               ? v
               : int8_t(0);
}

uint32_t EnvelopeView::stageCount() const
{
    uint32_t count = 0;
    if (!readAt(record, kEnvelopeCountOffset, count) || record.size < kEnvelopeStagesOffset)
        return 0;
    const size_t room = (record.size - kEnvelopeStagesOffset) / kEnvelopeStageSize;
    size_t n = count;
    if (n > kEnvelopeMaxStages)
        n = kEnvelopeMaxStages;
    if (n > room)
        n = room;
    return uint32_t(n);
}

EnvelopeStage EnvelopeView::stage(size_t i) const
{
    EnvelopeStage s;
    if (i >= stageCount())
        return s;
    const size_t at = kEnvelopeStagesOffset + i * kEnvelopeStageSize;
    readAt(record, at, s.time);
    readAt(record, at + 4, s.level);
    readAt(record, at + 8, s.curve);
    readAt(record, at + 12, s.shape);
    s.time = finiteOrZero(s.time);
    s.level = finiteOrZero(s.level);
    s.curve = finiteOrZero(s.curve);
    return s;
}

bool writeDefaultStepTable(uint8_t* record, size_t size)
{
    if (!record || size < kStepTableSize)
        return false;
    writeAt<uint32_t>(record, 0, kStepTableKind);
    writeAt<uint32_t>(record, 4, 64);
    markReset(record);
    writeAt<int16_t>(record, kStepTableLowOffset, 0);
    writeAt<int16_t>(record, kStepTableHighOffset, 127);
    writeAt<uint16_t>(record, 36, 32);
    writeAt<uint16_t>(record, 38, 0);
    std::memset(record + kStepTableStepsOffset, 0, kStepTableSteps);
    return true;
}

bool writeDefaultEnvelope(uint8_t* record, size_t size)
{
    if (!record || size < kEnvelopeSize)
        return false;
    static constexpr EnvelopeStage kDefault[] = {
        {0.0f, 0.0f, 0.0f, kShapeHold},
        {0.4f, 1.0f, 0.0f, kShapeLinear},
        {0.3f, 0.6f, -10.3616f, kShapeExponential},
        {0.3f, 0.6f, 0.0f, kShapeHold},
        {1.0f, 0.0f, -10.3616f, kShapeExponential},
    };
    constexpr uint32_t count = uint32_t(std::size(kDefault));
    writeAt<uint32_t>(record, 0, kEnvelopeKind);
    writeAt<uint32_t>(record, 4, 116);
    writeAt<uint32_t>(record, 8, 1);
    markReset(record);
    writeAt<uint32_t>(record, kEnvelopeCountOffset, count);
    std::memset(record + kEnvelopeStagesOffset, 0, kEnvelopeSize - kEnvelopeStagesOffset);
    for (uint32_t i = 0; i < count; ++i) {
        const size_t at = kEnvelopeStagesOffset + i * kEnvelopeStageSize;
        writeAt(record, at, kDefault[i].time);
        writeAt(record, at + 4, kDefault[i].level);
        writeAt(record, at + 8, kDefault[i].curve);
        writeAt(record, at + 12, kDefault[i].shape);
    }
    return true;
}

}  // namespace ZRS
