#pragma once
// Resampling stage on speexdsp's float resampler: chip rate in, host rate out.

#include "instrument/Provider.h"

#include <algorithm>
#include <cstdint>

struct SpeexResamplerState_;

class SpeexProvider : public Provider<float>
{
public:
    static constexpr int32_t kMaxQuality = 10;

    SpeexProvider() = default;
    ~SpeexProvider() override;
    SpeexProvider(const SpeexProvider&) = delete;
    SpeexProvider& operator=(const SpeexProvider&) = delete;

    // Creates the resampler on first use (its channel count is kept afterwards), then sets the
    // quality (clamped to 0..10) and the rates. False, with nothing changed, for a zero channel
    // count or rate, a rate above 32 bits, or when speexdsp refuses. A running resampler keeps
    // its read position and history through rate and quality changes; `skipZeros` starts it at
    // its first full output sample, which a running one only does after a reset.
    //
    // speexdsp reallocates its filter table and history whenever a quality or rate needs more
    // than it holds, so setup sizes them, whenever the output rate or the limit below is new, for
    // quality 10 and every input rate up to the limit: later setups that change only the input
    // rate or the quality then allocate nothing and can run on the audio thread. Sizing a
    // running resampler resets it.
    //
    // With a divisor d above 1 the input runs at inputRate / d, rounded up: the resampler then
    // takes its input slightly faster than it comes (a few parts per million), so a caller that
    // renders ahead never piles input up. (speexdsp misbehaves on running rate changes when the
    // ratio's denominator exceeds the output rate, so the ratio keeps one.)
    bool setup(uint64_t channels, uint64_t inputRate, uint64_t outputRate, int32_t quality,
               bool skipZeros, uint64_t divisor = 1);
    // The fastest input rate setups will ask for; 0 (the default) sizes for each input rate as it
    // comes.
    void setInputRateLimit(uint64_t rate) { inputRateLimit = rate; }

    // One resampler call per channel with the same counts; the counts returned are the last
    // channel's. Without a resampler nothing is consumed or produced.
    void process(float** input, float** output, uint64_t* inputFrames,
                 uint64_t* outputFrames) override;
    // One channel on its own; the counts as for process.
    void processChannel(uint64_t channel, const float* input, uint64_t* inputFrames, float* output,
                        uint64_t* outputFrames);
    // (u64)(frames x ratio), at least 1.
    uint64_t inputFramesFor(uint64_t outputFrames) override;
    void reset() override;
    int64_t inputLatency() override { return inLatency; }
    int64_t outputLatency() override { return outLatency; }

    bool hasResampler() const { return state != nullptr; }
    double getRatio() const { return ratio; }
    uint64_t getInputRateReduced() const { return inputReduced; }
    uint64_t getOutputRateReduced() const { return outputReduced; }
    uint64_t getChannelCount() const { return channelCount; }
    // Taps of the running filter (input samples one output sees).
    uint64_t filterLength() const { return uint64_t(2 * std::max<int64_t>(inLatency, 0)); }

    // Greatest common divisor by halving and subtraction; gcd(0, n) = n.
    static uint64_t gcd(uint64_t a, uint64_t b);

private:
    // Grows the tables for quality 10 at every input rate up to `inputRate`.
    void sizeFor(uint64_t inputRate, uint64_t outputRate);

    double ratio = 1.0;
    uint64_t inputReduced = 1;
    uint64_t outputReduced = 1;
    uint64_t channelCount = 0;
    uint64_t resamplerChannels = 0;  // fixed when the resampler is created
    int64_t inLatency = 0;
    int64_t outLatency = 0;
    uint64_t inputRateLimit = 0;
    uint64_t sizedInputRate = 0;  // what the tables hold: these rates at quality 10
    uint64_t sizedOutputRate = 0;
    SpeexResamplerState_* state = nullptr;
};
