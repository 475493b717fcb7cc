#pragma once
// Resampling from the chips' rate to the host rate in two stages: a fixed-ratio FIR decimator
// (everything that would fold into the host band is 100 dB down, the band up to 20 kHz flat to
// 0.0002 dB), the high-pass at the decimated rate, then speexdsp. The decimation factor is one
// that gives speexdsp the same filter, in time, as resampling in one stage at the same quality,
// so the band up to 20 kHz sounds the same.
//
// Each channel comes to rest on its own: a constant input makes the decimator's output constant,
// the high-pass settles on exactly that value and gives 0, and once speexdsp has seen only zeros
// for its whole filter, its output is counted out as zeros without calling it.

#include "instrument/Provider.h"
#include "instrument/SpeexProvider.h"

#include <cstdint>
#include <memory>

class DecimatingProvider : public Provider<float>
{
public:
    static constexpr uint64_t kMaxChannels = 4;
    static constexpr uint64_t kMaxDecimation = 32;
    static constexpr uint64_t kMaxTaps = 1024;

    DecimatingProvider() = default;
    DecimatingProvider(const DecimatingProvider&) = delete;
    DecimatingProvider& operator=(const DecimatingProvider&) = delete;

    // Sizes the buffers for process calls of up to `capacity` input frames (on the first call or
    // when the capacity grows), picks the decimation factor, designs the decimator and sets up
    // the resampler. A change of factor, or of the channel count, starts from silence. False, and
    // nothing set up, for unusable rates or channel counts.
    bool setup(uint64_t channels, uint64_t chipRate, uint64_t hostRate, int32_t quality,
               uint64_t capacity);
    // The fastest chip rate setups will ask for (see SpeexProvider).
    void setInputRateLimit(uint64_t rate) { speex.setInputRateLimit(rate); }
    // High-pass cutoff of a channel in Hz (5 Hz until set).
    void setHighPass(uint64_t channel, double hz);
    // Channel 0 starts at rest on `value`: the decimator's history holds it and the high-pass
    // settles on it, so a level step there does not click.
    void primeHighPass(float value);

    // Consumes all the input; produces what every channel has ready, up to the room.
    void process(float** input, float** output, uint64_t* inputFrames,
                 uint64_t* outputFrames) override;
    uint64_t inputFramesFor(uint64_t outputFrames) override;
    void reset() override;
    int64_t inputLatency() override;
    int64_t outputLatency() override { return speex.outputLatency(); }

    // The factor for these rates and quality: the largest in 2..kMaxDecimation whose resampler
    // filter spans as many chip samples as the single stage's, with the decimated rate at least
    // 1.05 times the host rate (5 times below quality 4); 1 when none does.
    static uint64_t decimationFor(uint64_t chipRate, uint64_t hostRate, int32_t quality);

    // Test switch: a lane whose history and input hold one value keeps its history in place
    // (on by default; the output is the same).
    void setHistoryShortcut(bool on) { historyShortcut = on; }
    uint64_t getDecimation() const { return decimation; }
    uint64_t getTapCount() const { return tapCount; }
    const float* getTaps() const { return taps.get(); }
    double getHighPassState(uint64_t channel) const { return lanes[channel].hpState; }
    bool isResting(uint64_t channel) const { return lanes[channel].resting; }
    const SpeexProvider& resampler() const { return speex; }

private:
    struct Lane
    {
        std::unique_ptr<float[]> work;    // kMaxTaps - 1 inputs of history, then the block
        uint64_t phase = 0;               // inputs until the next output
        float runValue = 0.0f;            // the value of the trailing run of equal inputs
        uint64_t runLength = 0;
        bool historyUniform = true;       // the history holds only runValue's bits
        float restValue = 0.0f;           // the decimator output of a window of runValue
        bool restKnown = false;
        double hpStep = 0.0;              // 1 - a
        double hpState = 0.0;
        std::unique_ptr<float[]> fifo;    // decimated, high-passed, not yet resampled
        uint64_t fifoLength = 0;
        bool fifoSilent = true;           // every sample in the fifo is 0
        std::unique_ptr<float[]> ready;   // resampled, not yet handed out
        uint64_t readyLength = 0;
        uint64_t zeroRun = 0;             // zeros the resampler consumed last, in a row
        bool resting = false;
        uint64_t shadowPosition = 0;      // the resampler's stepping while it rests
        uint64_t shadowFraction = 0;
        double hpCutoff = 5.0;
    };

    void design(uint64_t chipRate, uint64_t hostRate, uint64_t minimumTaps);
    void decimate(Lane& lane, const float* in, uint64_t n);
    void resample(Lane& lane, uint64_t channel, uint64_t room);
    void clearLanes();

    SpeexProvider speex;
    std::unique_ptr<float[]> taps;
    uint64_t tapCount = 0;
    uint64_t decimation = 0;
    uint64_t channelCount = 0;
    uint64_t capacity = 0;
    uint64_t allocatedLanes = 0;
    int32_t lastQuality = -1;
    uint64_t fifoCapacity = 0;
    double chipRatio = 1.0;  // chip rate / host rate
    double decimatedRate = 0.0;
    uint64_t stepNumerator = 1, stepDenominator = 1;  // decimated : host, reduced
    Lane lanes[kMaxChannels];
    bool historyShortcut = true;
};
