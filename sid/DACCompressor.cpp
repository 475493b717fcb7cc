#include "sid/DACCompressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr float kDefaults[DACCompressor::kParameterCount] = {0.5f,   0.1f, 0.75f, 0.025f, 0.5f,
                                                             0.01f,  0.0f, 0.0f,  0.5f};
constexpr float kTwoPi = 6.2831855f;
constexpr float kBandOffsets[4] = {-18.0f, -6.0f, 6.0f, 18.0f};
constexpr float kLevelFloor = 1e-10f;
constexpr float kDetectorCeiling = 2e18f;
constexpr float kMaxReduction = 180.0f;

// One-pole section, y := y + a((previous + in)/2 - y), split into the part known before the new
// input and the input's own term, so that the input meets one multiply and one add: the crossover
// and the full-band detector form the longest chain of the per-sample path.
struct OnePole {
    float rest;  // y(1 - a) + previous x a/2
    float half;  // a/2
    OnePole(float y, float previous, float a)
        : rest(y * (1.0f - a) + previous * (0.5f * a)), half(0.5f * a)
    {
    }
    float low(float in) const { return rest + in * half; }
    // in - low(in), from the input directly.
    float high(float in) const { return in * (1.0f - half) - rest; }
};

// 3 x log2 of a power, from the float's exponent and mantissa bits.
inline float levelOf(float power)
{
    const float p = std::max(std::fabs(power), kLevelFloor);
    int32_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    return float(bits - 1065353216) * (3.0f / 8388608.0f);
}

// 2^(-r/6) as (2 - f(4 - f)/3) x 2^(-1-n) with n + f = r/6: exact at whole steps of 6, continuous
// between them. The power of two is built in the exponent bits.
// r within 0..180.
[[gnu::always_inline]] inline float reductionGain(float r)
{
    const float q = r * (1.0f / 6.0f);
    const int32_t n = int32_t(q);  // 0..30
    const float f = q - float(n);
    const uint32_t bits = uint32_t(126 - n) << 23;
    float power;
    std::memcpy(&power, &bits, sizeof power);
    return (2.0f - f * (4.0f - f) * (1.0f / 3.0f)) * power;
}

}  // namespace

DACCompressor::DACCompressor()
{
    std::copy(std::begin(kDefaults), std::end(kDefaults), params.begin());
    params[kMakeUpGain] = 13.0f / 24.0f;
    updateCoefficients();
}

float DACCompressor::defaultParameter(uint32_t index)
{
    return index < kParameterCount ? kDefaults[index] : 0.0f;
}

float DACCompressor::gainForReduction(float r)
{
    return reductionGain(std::max(0.0f, std::min(r, kMaxReduction)));
}

void DACCompressor::setParameter(uint32_t index, float value)
{
    if (std::isnan(value))
        return;
    if (index < kParameterCount)
        params[index] = std::clamp(value, 0.0f, 1.0f);
    updateCoefficients();
}

void DACCompressor::setSampleRate(float rate)
{
    if (!(std::isfinite(rate) && rate > 0.0f) || rate == sampleRate)
        return;
    sampleRate = rate;
    updateCoefficients();
}

void DACCompressor::reset()
{
    for (auto& stage : crossover)
        for (CrossoverChannel& c : stage) {
            c.low.fill(0.0f);
            c.high.fill(0.0f);
            c.previous.fill(0.0f);
        }
    for (CompressorBand* b : {&bands[0], &bands[1], &bands[2], &bands[3], &fullBand}) {
        b->envelope1 = 0.0f;
        b->envelope2 = 0.0f;
        b->reduction = 0.0f;
    }
}

bool DACCompressor::loadDefaults()
{
    for (uint32_t i = 0; i < kParameterCount; ++i)
        setParameter(i, kDefaults[i]);
    return true;
}

void DACCompressor::updateCoefficients()
{
    ++coefficientUpdates;
    const float fs = sampleRate;
    for (size_t s = 0; s < 3; ++s) {
        const float a = 1.0f - std::exp(-kTwoPi * kCrossoverHz[s] / fs);
        for (CrossoverChannel& c : crossover[s])
            c.coefficient = a;
    }
    const float ratio = params[kRatio];
    const float multiband = params[kMultiband];
    thresholdLevel = params[kThreshold] * 96.0f - 96.0f;
    const float autoGain = std::exp2((0.0f - thresholdLevel) * ratio * 0.5f / 6.0f);
    makeUpFactor = std::exp2((params[kMakeUpGain] * 48.0f - 36.0f) / 6.0f);
    const float rms = params[kRmsTime];
    const float c = 1.0f - std::exp(-kTwoPi * (5000.0f / (rms * rms * 200.0f)) / fs);
    const float attackStep = 480.0f / (params[kAttack] * 200.0f * 0.001f * fs);
    const float release = params[kRelease];
    const float releaseStep = 480.0f / (8.0f * release * release * 200.0f * 0.001f * fs);

    auto fill = [&](CompressorBand& b, int32_t index, float threshold, float slope) {
        b.index = index;
        b.threshold = threshold;
        b.slope = slope;
        b.attack = params[kAttack];
        b.release = params[kRelease];
        b.rmsTime = params[kRmsTime];
        b.coefficient1 = c;
        b.coefficient2 = c;
        b.attackStep = attackStep;
        b.releaseStep = releaseStep;
        b.rate = fs;
    };
    const float balance = 2.0f * params[kBandBalance] - 1.0f;
    for (int32_t k = 0; k < 4; ++k)
        fill(bands[size_t(k)], k, balance * kBandOffsets[k] - 6.0f + thresholdLevel, ratio * multiband);
    fill(fullBand, 4, thresholdLevel, (1.0f - multiband) * ratio);
    fullBand.rate = autoGain;
}

[[gnu::always_inline]] inline DACCompressor::BandSplit DACCompressor::split(CrossoverChannel& c, float in)
{
    const float a = c.coefficient;
    const OnePole l0(c.low[0], c.previous[0], a), l1(c.low[1], c.previous[1], a);
    const OnePole h0(c.high[0], c.previous[2], a), h1(c.high[1], c.previous[3], a);
    const float low0 = l0.low(in);
    const float low = l1.low(low0);
    const float high1 = h0.high(in);
    const float high = h1.high(high1);
    c.low = {low0, low};
    c.high = {h0.low(in), h1.low(high1)};
    c.previous = {in, low0, in, high1};
    return {low, high};
}

// Runs the detector on v and returns the gain of the new reduction.
[[gnu::always_inline]] inline float DACCompressor::detect(CompressorBand& b, float v)
{
    v = std::min(v, kDetectorCeiling);
    // e := e + c(x - e), as e(1 - c) + cx.
    b.envelope1 = b.envelope1 * (1.0f - b.coefficient1) + b.coefficient1 * (v * v);
    b.envelope2 = b.envelope2 * (1.0f - b.coefficient2) + b.coefficient2 * b.envelope1;
    // With a zero slope and no reduction left, the gain computer below gives exactly 1.
    if (b.slope == 0.0f && b.reduction == 0.0f)
        return 1.0f;
    // Branch-free forms: the slope is never negative, so below the threshold the target is 0.
    const float target = std::max(0.0f, (levelOf(b.envelope2) - b.threshold) * b.slope);
    const float r = b.reduction;
    const float up = std::min(r + b.attackStep, target);
    const float down = std::max(r - b.releaseStep, target);
    // min then max: a reduction that is not a number falls back to none.
    const float next = std::max(0.0f, std::min(target > r ? up : down, kMaxReduction));
    b.reduction = next;
    return reductionGain(next);
}

void DACCompressor::process(float* samples, size_t count)
{
    // ((dry - wet) parallel + wet) makeUp, as dry x parallel makeUp + wet x (1 - parallel) makeUp.
    const float parallel = params[kParallel];
    const float dryScale = parallel * makeUpFactor;
    const float wetScale = fullBand.rate * ((1.0f - parallel) * makeUpFactor);
    for (size_t i = 0; i < count; ++i) {
        const float x = samples[i];
        const BandSplit s1 = split(crossover[0][0], x);
        const BandSplit s2 = split(crossover[1][0], -s1.highPass);
        const float h2 = -s2.highPass;
        const BandSplit s3 = split(crossover[2][0], h2);
        float b[4] = {s1.lowPass, s2.lowPass, s3.lowPass, -s3.highPass};
        const float dry = (b[0] + b[1]) + (b[2] + b[3]);
        for (size_t k = 0; k < 4; ++k) {
            // Band gains are exactly 1 while the band slope is 0 (single-band use); skipping the
            // product keeps the sum off the detectors' chain.
            const float g = detect(bands[k], b[k]);
            if (g != 1.0f)
                b[k] *= g;
        }
        const float sum = (b[0] + b[1]) + (b[2] + b[3]);
        samples[i] = dry * dryScale + (sum * wetScale) * detect(fullBand, sum);
    }
}
