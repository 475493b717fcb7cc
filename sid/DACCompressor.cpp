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

// One-pole section: y follows the mean of this and the previous input.
inline float onePole(float& y, float& previous, float a, float in)
{
    y += a * ((previous + in) * 0.5f - y);
    previous = in;
    return y;
}

// 3 x log2 of a power, from the float's exponent and mantissa bits.
inline float levelOf(float power)
{
    const float p = std::max(std::fabs(power), kLevelFloor);
    int32_t bits;
    std::memcpy(&bits, &p, sizeof bits);
    return float(bits - 1065353216) * (3.0f / 8388608.0f);
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
    r = r > 0.0f ? std::min(r, kMaxReduction) : 0.0f;
    const float q = r / 6.0f;
    const float n = std::floor(q);
    const float f = q - n;
    const uint32_t shift = uint32_t(n);  // 0..30
    return (2.0f - f * (4.0f - f) / 3.0f) * float(uint32_t(1u << 30) >> shift) * (1.0f / 2147483648.0f);
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
    for (int32_t k = 0; k < 4; ++k)
        fill(bands[size_t(k)], k, (2.0f * params[kBandBalance] - 1.0f) * kBandOffsets[k] - 6.0f + thresholdLevel,
             ratio * multiband);
    fill(fullBand, 4, thresholdLevel, (1.0f - multiband) * ratio);
    fullBand.rate = autoGain;
}

DACCompressor::BandSplit DACCompressor::split(CrossoverChannel& c, float in)
{
    const float a = c.coefficient;
    const float low = onePole(c.low[1], c.previous[1], a, onePole(c.low[0], c.previous[0], a, in));
    const float high1 = in - onePole(c.high[0], c.previous[2], a, in);
    const float high = high1 - onePole(c.high[1], c.previous[3], a, high1);
    return {low, high};
}

// Runs the detector on v and returns the gain of the new reduction.
float DACCompressor::detect(CompressorBand& b, float v)
{
    v = std::min(v, kDetectorCeiling);
    b.envelope1 += b.coefficient1 * (v * v - b.envelope1);
    b.envelope2 += b.coefficient2 * (b.envelope1 - b.envelope2);
    const float level = levelOf(b.envelope2);
    const float target = level > b.threshold ? (level - b.threshold) * b.slope : 0.0f;
    float r = b.reduction;
    if (target > r)
        r = std::min(r + b.attackStep, target);
    else
        r = std::max(r - b.releaseStep, target);
    // NaN-safe: a reduction that is not a number falls back to none.
    r = r > 0.0f ? std::min(r, kMaxReduction) : 0.0f;
    b.reduction = r;
    return gainForReduction(r);
}

void DACCompressor::process(float* samples, size_t count)
{
    const float parallel = params[kParallel];
    const float autoGain = fullBand.rate;
    for (size_t i = 0; i < count; ++i) {
        const float x = samples[i];
        const BandSplit s1 = split(crossover[0][0], x);
        const BandSplit s2 = split(crossover[1][0], -s1.highPass);
        const float h2 = -s2.highPass;
        const BandSplit s3 = split(crossover[2][0], h2);
        float b[4] = {s1.lowPass, s2.lowPass, s3.lowPass, -s3.highPass};
        const float dry = b[0] + b[1] + b[2] + b[3];
        for (size_t k = 0; k < 4; ++k)
            b[k] *= detect(bands[k], b[k]);
        const float sum = b[0] + b[1] + b[2] + b[3];
        const float wet = sum * detect(fullBand, sum) * autoGain;
        samples[i] = ((dry - wet) * parallel + wet) * makeUpFactor;
    }
}
