#include "sid/SIDFilter.h"

#include "platform/SaturatingCast.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace {

constexpr float kLinearBaseDamping = 0.45315537f;
constexpr float kLinearRowStepHz = 700.0f;
constexpr float kLinearCutoffStep = 0.007327748f;
constexpr float kLinearCutoffZero = 0.0014655496f;  // cutoff 0 still gives about 1 Hz
constexpr float kLinearMaxPosition = 14.9999f;
constexpr float kLinearMaxW = 0.1f;
constexpr double kTableMaxW = 0.05;
constexpr float kMaxCurvePosition = 2046.9999f;

constexpr std::array<float, 16> kDefaultLinearResonance = {
    1.2719839f,  0.65012991f, 0.97633755f, 0.85228014f, 0.80330241f, 0.6451503f,
    0.44730213f, 0.63401973f, 0.30589458f, 0.41103795f, 0.19354591f, 0.1470212f,
    0.1373724f,  0.06017521f, 0.11192527f, 0.0f};

SIDLineRows defaultLinearRows()
{
    SIDLineRows rows{};
    for (std::size_t k = 0; k < rows.size(); ++k)
        rows[k] = {kLinearBaseDamping, 0.0f, 0.0f, kLinearRowStepHz * float(k)};
    return rows;
}

// std::clamp without its ordering precondition (record values may put hi below lo).
inline float clampTo(float v, float lo, float hi)
{
    return v < lo ? lo : (hi < v ? hi : v);
}

// Parameter scale 2^(exponent x v); false leaves the stored scale when either is not finite.
bool parameterScale(float v, float exponent, float& scale)
{
    if (!std::isfinite(v))
        return false;
    const float s = std::exp2(exponent * v);
    if (!std::isfinite(s))
        return false;
    scale = s;
    return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// SIDFilterLinear

SIDFilterLinear::SIDFilterLinear()
    : cutoffRows(defaultLinearRows()), resonanceTable(kDefaultLinearResonance)
{
}

void SIDFilterLinear::setRate(float hz)
{
    if (std::isfinite(hz) && hz > 0.0f)
        rate = hz;
}

void SIDFilterLinear::setTables(const std::array<float, 16>& resonanceValues,
                                const SIDLineRows& rows)
{
    resonanceTable = resonanceValues;
    cutoffRows = rows;
}

void SIDFilterLinear::setParameter(uint32_t index, float v)
{
    if (index == SIDFilterParam::kCutoffOffset)
        parameterScale(v, 2.0f, cutoffScale);
    else if (index == SIDFilterParam::kGain)
        parameterScale(v, 4.0f, gain);
    update();
}

void SIDFilterLinear::update()
{
    const float x = std::min(cutoff == 0 ? kLinearCutoffZero : float(cutoff) * kLinearCutoffStep,
                             kLinearMaxPosition);
    const int32_t i = int32_t(x);  // x lies in 0..14.9999
    const float t = x - float(i);
    const SIDLineRow& a = cutoffRows[i];
    const SIDLineRow& b = cutoffRows[i + 1];
    damping = (1.0f - t) * a[0] + t * b[0] + resonanceTable[resonance];
    const float w = ((1.0f - t) * a[3] + t * b[3]) * cutoffScale / rate;
    frequencyCoefficient = 2.0f * std::sin(std::numbers::pi_v<float> * std::min(w, kLinearMaxW));
}

// ---------------------------------------------------------------------------------------------
// SIDFilter_table

void SIDFilter_table::setRate(double hz)
{
    if (std::isfinite(hz) && hz > 0.0)
        rate = hz;
}

void SIDFilter_table::setRecord(const SIDChipRecord* r)
{
    record = r;
    update();
    updateResonance();
}

void SIDFilter_table::setParameter(uint32_t index, float v)
{
    switch (index) {
    case SIDFilterParam::kDistGain:
        parameterScale(v, 4.0f, distortionGain);
        break;
    case SIDFilterParam::kDcGain:
        parameterScale(v, 4.0f, dcGain);
        break;
    case SIDFilterParam::kCutoffOffset:
        parameterScale(v, 2.0f, cutoffScale);
        break;
    case SIDFilterParam::kGain:
        parameterScale(v, 2.0f, outputGain);
        break;
    default:
        break;
    }
    update();
}

void SIDFilter_table::reset()
{
    cutoff = 0;
    resonance = 0;
    bandState = 0.0f;
    lowState = 0.0f;
    firstBlock = 1;
    update();
    updateResonance();
}

void SIDFilter_table::updateResonance()
{
    if (record)
        resonanceValue = record->inverseQ[resonance];
}

void SIDFilter_table::update()
{
    if (!record)
        return;
    const SIDChipRecord& r = *record;

    for (Stage* st : {&bandStage, &lowStage}) {
        st->reshapegainin = r.reshapegainin;
        st->reshapebpfoffset = r.reshapebpfoffset;
        st->reshapelpfoffset = r.reshapelpfoffset;
        st->reshapegainout = r.reshapegainout;
    }
    bandStage.offsetMod = r.reshapebpfoffsetmod;
    lowStage.offsetMod = r.reshapelpfoffsetmod;

    // Position on the 16 cutoff rows, 0..15; a NaN or negative curve entry counts as 0.
    float x1 = r.cutoffCurve[cutoff];
    x1 = x1 > 0.0f ? std::min(x1, 15.0f) : 0.0f;
    const int32_t i = std::min(vantor::saturatingCast<int32_t>(x1), int32_t(14));
    const float t = x1 - float(i);
    const auto row = [&](int32_t column) {
        return (1.0f - t) * r.lineRows[i][column] + t * r.lineRows[i + 1][column];
    };
    dampingSum = row(0) + row(1) + row(2) + r.resonancedrop;

    const double w = double(row(3)) * double(cutoffScale) / rate;
    const float f = float(2.0 * std::sin(std::numbers::pi * std::min(w, kTableMaxW)));
    bandStage.frequency = f;
    lowStage.frequency = f;

    inputGain = r.bpfdrivescale * distortionGain * dcGain;
    inverseInputGain = inputGain != 0.0f ? 1.0f / inputGain : 0.0f;
    outputStageGain = distortionGain * r.lpfdrivescale;
    inverseOutputStageGain = outputStageGain != 0.0f ? 1.0f / outputStageGain : 0.0f;

    // Curve step: the clip point within 0..x1, NaN as 0.
    const float clip = r.curveclip > 0.0f ? r.curveclip : 0.0f;
    const float x2 = std::min(clip, x1);
    const int32_t j = std::min(vantor::saturatingCast<int32_t>(x2), int32_t(14));
    const float s = x2 - float(j);
    const float* data = r.filterData.data();
    const std::size_t stepLength = 2 * kFilterCurveLength;
    bandStage.curve = data + std::size_t(j) * stepLength;
    bandStage.curveNext = data + std::size_t(j + 1) * stepLength;
    lowStage.curve = bandStage.curve + kFilterCurveLength;
    lowStage.curveNext = bandStage.curveNext + kFilterCurveLength;
    bandStage.stepFraction = s;
    lowStage.stepFraction = s;
}

void SIDFilter_table::getModeDc(float& a, float& b) const
{
    if (!record) {
        a = 0.0f;
        b = 0.0f;
        return;
    }
    a = -(record->lineRows[0][1] + record->bleedoffsethpf);
    b = -(record->lineRows[0][2] + record->bleedoffsetbpf);
}

float SIDFilter_table::getInputScale() const
{
    return record ? record->adjustinputgain * record->adjustoutputgain : 1.0f;
}

float SIDFilter_table::curvePosition(float raw)
{
    return raw > 0.0f ? (raw < kMaxCurvePosition ? raw : kMaxCurvePosition) : 0.0f;
}

namespace {

// Curve value of a stage at a raw index: each step's curve read linearly, the steps blended.
inline float curveValue(const SIDFilter_table::Stage& st, float raw)
{
    const float pos = SIDFilter_table::curvePosition(raw);
    const int32_t k = vantor::saturatingCast<int32_t>(pos);
    const float frac = pos - float(k);
    const float a = (1.0f - frac) * st.curve[k] + frac * st.curve[k + 1];
    const float b = (1.0f - frac) * st.curveNext[k] + frac * st.curveNext[k + 1];
    return (1.0f - st.stepFraction) * a + st.stepFraction * b;
}

// Shaping term of a stage: min(p, 8)^2 x gain for p >= 0, else 0.
inline float reshape(float p, float gainOut)
{
    if (!(p >= 0.0f))
        return 0.0f;
    const float c = std::min(p, 8.0f);
    return c * c * gainOut;
}

}  // namespace

void SIDFilter_table::process(const float* input, float* output, uint64_t n, float lp, float bp,
                              float hp)
{
    if (n == 0 || !record)
        return;
    const SIDChipRecord& r = *record;
    float band = bandState;
    float low = lowState;

    if (r.adjustinputbias != lastInputOffset) {
        low += lastInputOffset - r.adjustinputbias;
        lastInputOffset = r.adjustinputbias;
    }
    low += pendingInputStep;
    pendingInputStep = 0.0f;

    if (firstBlock) {
        firstBlock = 0;
        const float y0 = (1.0f - r.innerbpagrinit) * r.reshapebpfoffsetmod + r.reshapebpfoffset;
        const float e0 = y0 < -8.0f ? 8.0f : std::max(0.0f, -y0);
        low = e0 * y0 * r.reshapegainout - (input[0] * r.adjustinputgain + r.adjustinputbias);
    }

    const Stage& bs = bandStage;
    const Stage& ls = lowStage;
    const float d = resonanceValue + dampingSum;
    const float inGain = r.adjustinputgain;
    const float inBias = r.adjustinputbias;
    const float stg0 = r.innerbpstg0in, hpfIn = r.innerbphpfin, biasIn = r.innerbpbiasin;
    const float inClip = r.innerbpinclip, mxGain = r.innerbpmxgain, mxBias = r.innerbpmxbias;
    const float agrInit = r.innerbpagrinit, agrMinv = r.innerbpagrminv;
    const float agrVldg = r.innerbpagrvldg, agrGaib = r.innerbpagrgaib;
    const bool gFloor = r.nameFixFlag != 0;
    const float fixHi = r.nameFixOffsets[0], fixLo = r.nameFixOffsets[1];
    const bool fix = fixHi != 0.0f || fixLo != 0.0f;
    const float hpfBleed = r.lineRows[0][1] + r.bleedoffsethpf;
    const float bpfBleed = r.lineRows[0][2] + r.bleedoffsetbpf;
    const float lpfBias = r.adjustoutputlpfbias;
    const float outAdjust = r.adjustoutputgain;
    const float outGain = outputGain;
    const float g1 = inputGain, g2 = outputStageGain;

    const auto cycle = [&](float x, float& bandRef, float& lowRef) {
        const float h = d * bandRef - (x * inGain + inBias) - lowRef;

        const float w = clampTo(stg0 * bandRef + hpfIn * h + biasIn, 0.0f, inClip);
        float g = w * w * mxGain + mxBias;
        if (gFloor && !(g >= 1e-8f))
            g = 1e-8f;

        const float m = std::min(1.0f, lowRef);
        const float u = agrMinv > m ? std::max(0.0f, agrInit - (agrVldg - m) * agrGaib) : agrInit;
        const float v = 1.0f - u;

        // Band stage.
        const float pb = -bandRef * bs.reshapegainin - (bs.offsetMod * v + bs.reshapebpfoffset);
        const float h2 = h - reshape(pb, bs.reshapegainout);
        const float cb = curveValue(bs, (g1 * h2 + 4.0f) * 256.0f);
        const float bandNext =
            clampTo(clampTo(bandRef, -10.0f, 14.0f) - h2 * std::min(cb * bs.frequency, 0.5f),
                    -50.0f, 50.0f);

        // Low stage, driven by the band state before this cycle's update.
        const float pl = -lowRef * ls.reshapegainin - (ls.offsetMod * v + ls.reshapelpfoffset);
        const float z = bandRef - reshape(pl, ls.reshapegainout);
        const float cl = curveValue(ls, (g2 * z + 4.0f) * 256.0f);
        float s2 = g * v + cl;
        if (fix && s2 > fixLo && s2 < fixHi)
            s2 = fixHi;
        const float lowNext =
            clampTo(clampTo(lowRef, -10.0f, 14.0f) - z * std::min(s2 * ls.frequency, 0.5f),
                    -50.0f, 50.0f);

        const float l = lpfBias + lowNext;
        const float b2 = bandNext - hpfBleed * l;
        const float y = ((h - bpfBleed * b2) * hp + b2 * bp + l * lp) * outAdjust * outGain;
        bandRef = bandNext;
        lowRef = lowNext;
        return y;
    };
    settled = sid_filter::runBlock<false>(cycle, input, output, n, band, low, shortcut, sid_filter::NothingDone{});
    bandState = band;
    lowState = low;
}

bool SIDFilter_table::isAtRest() const
{
    if (!record)
        return true;  // processes nothing
    return settled && !firstBlock && pendingInputStep == 0.0f && record->adjustinputbias == lastInputOffset;
}
