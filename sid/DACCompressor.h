#pragma once
// Four-band compressor with a full-band stage after the bands, for the sampled-sound channel: a
// crossover at 400, 1000 and 5000 Hz, an RMS detector and gain computer per band in a log2 domain
// (about decibels), a parallel mix and a make-up gain. Single-precision float throughout; the
// per-sample path allocates nothing and calls no maths library function but floor.

#include <array>
#include <cstddef>
#include <cstdint>

// One detector and gain computer.
struct CompressorBand {
    int32_t index = 0;         // 0..3 the bands, 4 the full band
    float envelope1 = 0.0f;    // first RMS smoothing stage (power)
    float envelope2 = 0.0f;    // second RMS smoothing stage
    float reduction = 0.0f;    // current gain reduction, 0..180 (6 units halve the gain)
    float threshold = 0.0f;    // in the level unit
    float slope = 0.0f;        // reduction per level unit above the threshold
    float attack = 0.0f;       // parameter copies
    float release = 0.0f;
    float rmsTime = 0.0f;
    float coefficient1 = 0.0f;  // RMS smoothing, both equal
    float coefficient2 = 0.0f;
    float attackStep = 0.0f;   // reduction units per sample
    float releaseStep = 0.0f;
    float rate = 0.0f;         // the full band keeps autoGainFactor here instead
};

class DACCompressor {
public:
    enum Parameter : uint32_t {
        kThreshold = 0,
        kRatio,
        kMakeUpGain,
        kAttack,
        kRelease,
        kRmsTime,
        kParallel,
        kMultiband,
        kBandBalance,
        kParameterCount
    };

    static constexpr float kCrossoverHz[3] = {400.0f, 1000.0f, 5000.0f};

    // 44100 Hz, the defaults but a make-up gain of 13/24, cleared states.
    DACCompressor();

    // Published default of a parameter; 0 past the last.
    static float defaultParameter(uint32_t index);
    // Gain for a reduction of r units (2^(-r/6) by a quadratic and a shift), r in 0..180.
    static float gainForReduction(float r);

    // Clamps to 0..1 and stores (indices 0..8), then recomputes; NaN is ignored.
    void setParameter(uint32_t index, float value);
    float getParameter(uint32_t index) const { return index < kParameterCount ? params[index] : 0.0f; }
    // Recomputes only when the rate changes; rates that are not finite and positive are ignored.
    void setSampleRate(float rate);
    float getSampleRate() const { return sampleRate; }
    // Clears crossover, detector and reduction states; parameters and coefficients stay.
    void reset();
    bool loadDefaults();
    // Mono, in place.
    void process(float* samples, size_t count);
    void updateCoefficients();

    // State view.
    const CompressorBand& band(size_t k) const { return bands[k]; }
    const CompressorBand& fullBandRecord() const { return fullBand; }
    float getThresholdLevel() const { return thresholdLevel; }
    float getMakeUpFactor() const { return makeUpFactor; }
    float getAutoGainFactor() const { return fullBand.rate; }
    uint64_t getCoefficientUpdates() const { return coefficientUpdates; }

private:
    // One crossover stage for one channel: two one-pole lowpass and two highpass sections.
    struct CrossoverChannel {
        std::array<float, 2> low{};
        std::array<float, 2> high{};
        std::array<float, 4> previous{};  // inputs of low[0], low[1], high[0], high[1]
        float coefficient = 0.0f;
    };
    struct BandSplit {
        float lowPass, highPass;
    };
    static BandSplit split(CrossoverChannel& c, float in);
    static float detect(CompressorBand& b, float v);

    float sampleRate = 44100.0f;
    std::array<float, kParameterCount> params{};
    std::array<std::array<CrossoverChannel, 2>, 3> crossover{};  // [stage][channel]
    std::array<CompressorBand, 4> bands{};
    CompressorBand fullBand{};
    float makeUpFactor = 1.0f;
    float thresholdLevel = 0.0f;  // T, -96..0
    uint64_t coefficientUpdates = 0;
};
