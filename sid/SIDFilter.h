#pragma once
// The two SID filter models: a linear two-integrator state-variable filter, and the measured
// filter driven by a chip record's curves. Both run one value per chip cycle and add their output.

#include "sid/SIDChipRecords.h"

#include <array>
#include <bit>
#include <cstdint>
#include <type_traits>

// Filter parameter indices shared by both models.
namespace SIDFilterParam {
inline constexpr uint32_t kDistGain = 0;      // "Filter Dist Gain"
inline constexpr uint32_t kDcGain = 1;        // "Filter Filter DC"
inline constexpr uint32_t kCutoffOffset = 2;  // "Filter Cutoff Offset"
inline constexpr uint32_t kGain = 3;          // "Filter Gain"
}  // namespace SIDFilterParam

namespace sid_filter {

inline bool sameBits(float a, float b)
{
    return std::bit_cast<uint32_t>(a) == std::bit_cast<uint32_t>(b);
}

struct NothingDone {
    void operator()(uint64_t, uint64_t) const {}
};

// Runs one block through a per-cycle function. After the first cycle, when the states did not
// change, the run of inputs equal to the first repeats its output: the cycle would compute exactly
// the same values from the same states and input. done(from, count) gets the finished outputs in
// order, in groups of eight from the block's start (all of the rest at the end), one group behind
// the cycles being computed: its work runs beside the filter's chain of dependent operations.
// Returns whether the last cycle left both states as they were. With Store the outputs replace
// what the output buffer held instead of adding to it.
template <bool Store, class Cycle, class Done>
bool runBlock(const Cycle& cycle, const float* input, float* output, uint64_t n, float& bandState,
              float& lowState, bool shortcut, const Done& done)
{
    constexpr uint64_t kGroup = 8;
    const auto put = [output](uint64_t i, float y) {
        if constexpr (Store)
            output[i] = y;
        else
            output[i] += y;
    };
    float band = bandState, low = lowState;  // locals: stores to output cannot alias them
    const float x0 = input[0];
    const float band0 = band, low0 = low;
    const float y0 = cycle(x0, band, low);
    put(0, y0);
    uint64_t i = 1;
    bool still = sameBits(band, band0) && sameBits(low, low0);
    if (shortcut && still) {
        for (; i < n && sameBits(input[i], x0); ++i)
            put(i, y0);
    }
    uint64_t handed = 0;
    if (i < n) {
        if constexpr (!std::is_same_v<Done, NothingDone>) {
            for (; i + 1 < n && (i % kGroup) != 0; ++i)
                put(i, cycle(input[i], band, low));
            for (; i + kGroup < n; i += kGroup) {
                for (uint64_t k = 0; k < kGroup; ++k)
                    put(i + k, cycle(input[i + k], band, low));
                done(handed, i - handed);
                handed = i;
            }
        }
        for (; i + 1 < n; ++i)
            put(i, cycle(input[i], band, low));
        const float bandBefore = band, lowBefore = low;
        put(i, cycle(input[i], band, low));
        still = sameBits(band, bandBefore) && sameBits(low, lowBefore);
    }
    done(handed, n - handed);
    bandState = band;
    lowState = low;
    return still;
}

}  // namespace sid_filter

// Pairing the two integrator updates into one vector operation (SLP) lengthens the loop's
// dependency chain by about a third: an empty asm statement holding a value in its own register
// keeps the updates scalar, and costs nothing.
#if defined(__GNUC__) && defined(__x86_64__)
#define SID_KEEP_SCALAR(v) asm("" : "+x"(v))
#else
#define SID_KEEP_SCALAR(v) (void)(v)
#endif

class SIDFilterLinear {
public:
    SIDFilterLinear();

    // Value v (-1..1) of a filter parameter; non-finite values are ignored.
    void setParameter(uint32_t index, float v);
    // Recomputes the frequency coefficient and the damping from cutoff, resonance and tables.
    void update();
    // Adds n filtered values of input into output; lp, bp, hp are the mode gains.
    void process(const float* input, float* output, uint64_t n, float lp, float bp, float hp)
    {
        process(input, output, n, lp, bp, hp, sid_filter::NothingDone{});
    }
    // The same, handing the finished outputs to done as sid_filter::runBlock does; with Store the
    // filtered values replace the contents of output.
    template <bool Store = false, class Done>
    void process(const float* input, float* output, uint64_t n, float lp, float bp, float hp,
                 const Done& done);

    void setRate(float hz);
    void setCutoff(uint32_t c) { cutoff = c & 0x7FF; }
    void setResonance(uint32_t r) { resonance = r & 15; }
    // A table-model profile's resonance values and cutoff rows; call update afterwards.
    void setTables(const std::array<float, 16>& resonanceValues, const SIDLineRows& rows);
    // The next processed block starts at rest for its first input value.
    void setFirstBlock() { firstBlock = 1; }
    void clearBandState() { bandState = 0.0f; }
    // Test switch for the constant-input shortcut (on by default; results are identical).
    void setConstantInputShortcut(bool on) { shortcut = on; }
    // The last processed cycle left both states as they were, and nothing is pending: every
    // further cycle of the same input adds the same value.
    bool isAtRest() const { return settled && !firstBlock; }

    float getRate() const { return rate; }
    float getFrequencyCoefficient() const { return frequencyCoefficient; }
    float getDamping() const { return damping; }
    float getBandState() const { return bandState; }
    float getLowState() const { return lowState; }
    uint32_t getCutoff() const { return cutoff; }
    uint32_t getResonance() const { return resonance; }
    float getCutoffScale() const { return cutoffScale; }
    float getGain() const { return gain; }
    uint8_t getFirstBlock() const { return firstBlock; }

private:
    float rate = 44100.0f;
    float frequencyCoefficient = 0.0f;  // f
    float damping = 0.0f;               // q
    float bandState = 0.0f;
    float lowState = 0.0f;
    uint32_t cutoff = 0;     // 0..2047
    uint32_t resonance = 0;  // 0..15
    SIDLineRows cutoffRows;  // column 0 damping term, column 3 frequency (Hz)
    std::array<float, 16> resonanceTable;
    float cutoffScale = 1.0f;
    float gain = 1.0f;
    uint8_t firstBlock = 0;
    bool shortcut = true;
    bool settled = false;
};

class SIDFilter_table {
public:
    SIDFilter_table() = default;
    virtual ~SIDFilter_table() = default;

    // Distortion gain and DC gain 2^(4v), cutoff scale and output gain 2^(2v); non-finite ignored.
    void setParameter(uint32_t index, float v);
    // Clears cutoff, resonance and states, marks the first block, updates.
    void reset();
    void updateResonance();
    // Recomputes every coefficient from the record; nothing without a record.
    void update();
    // Mode DC terms of the record: a for the high-pass, b for the band-pass path.
    void getModeDc(float& a, float& b) const;
    float getInputScale() const;
    // Adds n filtered values of input into output; nothing without a record.
    void process(const float* input, float* output, uint64_t n, float lp, float bp, float hp);

    // The record is not owned and must outlive the filter (or be replaced); updates the
    // coefficients and the resonance value from it.
    void setRecord(const SIDChipRecord* r);
    void setRate(double hz);
    void setCutoff(uint32_t c) { cutoff = c & 0x7FF; }
    void setResonance(uint32_t r) { resonance = r & 15; }
    void setFirstBlock() { firstBlock = 1; }
    // A jump of the input DC level, added to the low-pass state by the next process.
    void addPendingInputStep(float step) { pendingInputStep += step; }
    void setConstantInputShortcut(bool on) { shortcut = on; }
    // As SIDFilterLinear::isAtRest, with no input step or offset change pending.
    bool isAtRest() const;

    // Curve read position for a raw index: 0..2046.9999, NaN gives 0.
    static float curvePosition(float raw);

    const SIDChipRecord* getRecord() const { return record; }
    double getRate() const { return rate; }
    float getFrequencyCoefficient() const { return bandStage.frequency; }
    float getDampingSum() const { return dampingSum; }
    float getResonanceValue() const { return resonanceValue; }
    float getInputStageGain() const { return inputGain; }
    float getOutputStageGain() const { return outputStageGain; }
    float getBandState() const { return bandState; }
    float getLowState() const { return lowState; }
    uint8_t getFirstBlock() const { return firstBlock; }
    float getPendingInputStep() const { return pendingInputStep; }
    float getCutoffScale() const { return cutoffScale; }
    float getDistortionGain() const { return distortionGain; }
    float getOutputGain() const { return outputGain; }
    float getDcGain() const { return dcGain; }

    // One integrator stage: frequency, the curves of two neighbouring cutoff steps and their blend,
    // and the shaping constants.
    struct Stage {
        float frequency = 0.0f;
        const float* curve = nullptr;      // step j
        const float* curveNext = nullptr;  // step j + 1
        float stepFraction = 0.0f;
        float reshapegainin = 0.0f;
        float reshapebpfoffset = 0.0f;
        float reshapelpfoffset = 0.0f;
        float reshapegainout = 0.0f;
        float offsetMod = 0.0f;  // reshapebpfoffsetmod (band) or reshapelpfoffsetmod (low)
    };

private:
    const SIDChipRecord* record = nullptr;
    double rate = 44100.0;
    uint32_t cutoff = 0;
    uint32_t resonance = 0;
    float resonanceValue = 0.0f;
    float dampingSum = 0.0f;
    Stage bandStage;
    Stage lowStage;
    float inputGain = 1.0f;  // G1
    float inverseInputGain = 1.0f;
    float outputStageGain = 1.0f;  // G2
    float inverseOutputStageGain = 1.0f;
    float bandState = 0.0f;
    float lowState = 0.0f;
    uint8_t firstBlock = 1;
    float cutoffScale = 1.0f;
    float distortionGain = 1.0f;
    float outputGain = 1.0f;
    float dcGain = 1.0f;
    float lastInputOffset = 0.0f;
    float pendingInputStep = 0.0f;
    bool shortcut = true;
    bool settled = false;
};

template <bool Store, class Done>
void SIDFilterLinear::process(const float* input, float* output, uint64_t n, float lp, float bp,
                              float hp, const Done& done)
{
    if (n == 0)
        return;
    float band = bandState;
    float low = lowState;
    if (firstBlock) {
        firstBlock = 0;
        low = -input[0];
    }
    const float f = frequencyCoefficient;
    const float q = damping;
    const float g = gain;
    const auto cycle = [f, q, g, lp, bp, hp](float x, float& bandRef, float& lowRef) {
        const float h = q * bandRef - x - lowRef;
        bandRef = bandRef - f * h;
        SID_KEEP_SCALAR(bandRef);
        lowRef = lowRef - f * bandRef;
        return g * (hp * h + bp * bandRef + lp * lowRef);
    };
    settled = sid_filter::runBlock<Store>(cycle, input, output, n, band, low, shortcut, done);
    bandState = band;
    lowState = low;
}
