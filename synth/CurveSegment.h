#pragma once
// One envelope stage as a ramp from a start value to the stage's level over a number of ticks:
// linear (a step per tick) or exponential (base + term x step^k).

#include "synth/AutomTables.h"

#include <cstddef>
#include <cstdint>

class CurveSegment
{
public:
    static constexpr float kTinyDelta = 0.001f;    // smaller moves hold
    static constexpr float kLinearCurve = 0.0001f;  // flatter exponential curves run linear
    static constexpr double kSettled = 3.2e-5;      // block forms stop below this with `settle`

    // Copies time, level, curve and shape; clears the rest.
    void setFromStage(const ZRS::EnvelopeStage& stage);

    // Prepares the ramp from `start` at `rate` ticks per second; `value` becomes the start, or
    // the target when the segment has no length (then the result is true). With `align` the
    // length is rounded to the nearest multiple of 4.
    bool prepare(double& value, bool align, double start, double rate);

    // Moves `value` by up to `ticks` ticks, clamped to 0..1. True while the segment still runs;
    // when it ends, `ticks` becomes the ticks of the call that were left over.
    bool advance(uint32_t& ticks, double& value);

    // Block forms: `fill` writes count / 4 groups of four values starting with the current one;
    // `advanceUnclamped` moves shapes 10 and 255 by `ticks` without clamping. Both count the
    // ticks they used off `remaining` and return true when `settle` is set and |value| is below
    // kSettled.
    bool fill(float* out, size_t count, double& value);
    bool advanceUnclamped(uint32_t ticks, double& value);

    // The level clamped to -1..1.
    float target() const;

    double step = 0.0;  // increment (linear) or factor (exponential) per tick
    double term = 0.0;
    double base = 0.0;
    float time = 0.0f;  // seconds, scaled by the caller before prepare
    float level = 0.0f;
    float curve = 0.0f;
    float delta = 0.0f;  // target - start
    uint32_t remaining = 0;
    uint8_t shape = ZRS::kShapeHold;
    uint8_t settle = 0;  // block forms report a settled value
    uint8_t spare = 0;

private:
    void move(uint32_t n, double& value);
    bool settled(double value) const;
};
