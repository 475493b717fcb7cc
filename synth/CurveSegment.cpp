#include "synth/CurveSegment.h"

#include "platform/SaturatingCast.h"

#include <algorithm>
#include <cmath>

using namespace ZRS;

namespace {

// term x step^n by repeated multiplication, eight at a time.
double multiplyTicks(double term, double step, uint32_t n)
{
    for (; n >= 8; n -= 8) {
        term *= step;
        term *= step;
        term *= step;
        term *= step;
        term *= step;
        term *= step;
        term *= step;
        term *= step;
    }
    for (; n > 0; --n)
        term *= step;
    return term;
}

bool isExponentialShape(uint8_t shape)
{
    return shape == kShapeExp0 || shape == kShapeExp1 || shape == kShapeExp2 ||
           shape == kShapeExponential;
}

}  // namespace

void CurveSegment::setFromStage(const EnvelopeStage& stage)
{
    time = stage.time;
    level = stage.level;
    curve = stage.curve;
    shape = stage.shape;
    step = 0.0;
    term = 0.0;
    base = 0.0;
    delta = 0.0f;
    remaining = 0;
    settle = 0;
    spare = 0;
}

float CurveSegment::target() const
{
    if (!(level >= -1.0f))  // NaN too
        return -1.0f;
    return level > 1.0f ? 1.0f : level;
}

bool CurveSegment::prepare(double& value, bool align, double start, double rate)
{
    value = start;
    const float to = target();
    delta = float(double(to) - start);

    const double seconds = time > 0.0f ? double(time) : 0.0;
    uint64_t length = vantor::saturatingCast<uint64_t>(std::floor(seconds * rate + 0.5));
    length = std::min<uint64_t>(length, 0xFFFFFFF0u);
    if (align)
        length = (length + 2) & ~uint64_t(3);
    remaining = uint32_t(length);

    if (remaining == 0) {
        value = to;
        return true;
    }
    const bool tiny = std::fabs(delta) < kTinyDelta;
    const double ticks = double(remaining);
    if (shape == kShapeStepped && time < 0.1f)
        shape = kShapeLinear;
    if (shape == kShapeLinear || shape == kShapeStepped) {
        if (tiny)
            shape = kShapeHold;
        else
            step = double(delta) / ticks;
    } else if (isExponentialShape(shape)) {
        if (tiny) {
            shape = kShapeHold;
        } else if (std::fabs(curve) < kLinearCurve) {
            shape = kShapeLinear;
            step = double(delta) / ticks;
        } else {
            term = double(delta) / (std::exp(double(curve)) - 1.0);
            step = std::exp(double(curve) / ticks);
            base = start - term;
        }
    }
    return false;
}

void CurveSegment::move(uint32_t n, double& value)
{
    if (shape == kShapeExponential) {
        term = multiplyTicks(term, step, n);
        value = base + term;
    } else if (shape == kShapeLinear) {
        value += double(n) * step;
    }
}

bool CurveSegment::advance(uint32_t& ticks, double& value)
{
    if (remaining == 0) {
        ticks = 0;
        return false;
    }
    const bool runs = ticks < remaining;
    const uint32_t n = runs ? ticks : remaining;
    move(n, value);
    if (!std::isfinite(value))  // a degenerate curve from an outside record
        value = double(target());
    value = std::clamp(value, 0.0, 1.0);
    if (runs) {
        remaining -= n;
        return true;
    }
    ticks -= n;
    remaining = 0;
    return false;
}

bool CurveSegment::fill(float* out, size_t count, double& value)
{
    const size_t n = count & ~size_t(3);
    for (size_t i = 0; i < n; ++i) {
        switch (shape) {
        case kShapeLinear:
            out[i] = float(value);
            value += step;
            break;
        case kShapeStepped:
            out[i] = float(std::floor(value * 15.0 + 0.5) / 15.0);
            value += step;
            break;
        case kShapeExp0:
        case kShapeExp1:
        case kShapeExp2:
        case kShapeExponential:
            out[i] = float(value);
            term *= step;
            value = base + term;
            break;
        default:
            out[i] = float(value);
            break;
        }
    }
    remaining -= uint32_t(std::min<size_t>(remaining, n));
    return settled(value);
}

bool CurveSegment::advanceUnclamped(uint32_t ticks, double& value)
{
    move(ticks, value);
    remaining -= std::min(remaining, ticks);
    return settled(value);
}

bool CurveSegment::settled(double value) const
{
    return settle != 0 && std::fabs(value) < kSettled;
}
