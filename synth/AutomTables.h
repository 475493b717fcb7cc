#pragma once
// Read views of the shared step-table and envelope records that the automation actions play.
// The records are raw bytes owned by the instrument; every read checks the record's length, and
// nothing here writes a record except the two default writers.

#include <cstddef>
#include <cstdint>

namespace ZRS {

constexpr uint32_t kStepTableKind = 22362;
constexpr uint32_t kEnvelopeKind = 50789;

// Step table: kind, used length, value, flags, ..., low and high bound at 32 and 34, a u16 at
// 36, the last-written step at 38, then 128 frames of 128 signed steps from 64.
constexpr size_t kStepTableLowOffset = 32;
constexpr size_t kStepTableHighOffset = 34;
constexpr size_t kStepTableStepsOffset = 64;
constexpr size_t kStepTableSteps = 16384;
constexpr size_t kStepTableSize = kStepTableStepsOffset + kStepTableSteps;

// Envelope: kind, used length, value, flags, ..., stage count at 32, then 16-byte stages from 36
// (time f32 seconds, level f32, curve f32, shape u8, three zero bytes), room for 256.
constexpr size_t kEnvelopeCountOffset = 32;
constexpr size_t kEnvelopeStagesOffset = 36;
constexpr size_t kEnvelopeStageSize = 16;
constexpr size_t kEnvelopeMaxStages = 256;
constexpr size_t kEnvelopeSize = kEnvelopeStagesOffset + kEnvelopeMaxStages * kEnvelopeStageSize;
static_assert(kEnvelopeSize == 4132);

// Stage shapes.
enum CurveShape : uint8_t {
    kShapeExp0 = 0,
    kShapeExp1 = 1,
    kShapeExp2 = 2,
    kShapeExponential = 10,
    kShapeStepped = 11,  // linear in 15 levels
    kShapeHold = 254,
    kShapeLinear = 255,
};

struct EnvelopeStage
{
    float time = 0.0f;  // seconds
    float level = 0.0f;
    float curve = 0.0f;
    uint8_t shape = kShapeHold;
};

// A record's bytes and the length the owner vouches for. Not owned.
struct TableRecord
{
    const uint8_t* data = nullptr;
    size_t size = 0;

    // The kind word, 0 when the record is shorter than it.
    uint32_t kind() const;
};

class StepTableView
{
public:
    StepTableView() = default;
    explicit StepTableView(TableRecord r) : record(r) {}

    // Bounds of the step values; 0 when the record is too short to hold them.
    int16_t low() const;
    int16_t high() const;
    // Step at an absolute position (modulo the 16384 steps); 0 past the record's end.
    int8_t step(uint64_t position) const;

private:
    TableRecord record;
};

class EnvelopeView
{
public:
    EnvelopeView() = default;
    explicit EnvelopeView(TableRecord r) : record(r) {}

    // The stored count, limited to 256 and to the stages the record's length holds.
    uint32_t stageCount() const;
    // Stage i (i below stageCount); fields that are not finite read as 0.
    EnvelopeStage stage(size_t i) const;

private:
    TableRecord record;
};

// The defaults a routing rebuild writes into a table no row uses. Records shorter than
// kStepTableSize or kEnvelopeSize are left untouched and false is returned.
bool writeDefaultStepTable(uint8_t* record, size_t size);
bool writeDefaultEnvelope(uint8_t* record, size_t size);

}  // namespace ZRS
