#include "instrument/SpeexProvider.h"

#include "platform/SaturatingCast.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <limits>

SpeexProvider::~SpeexProvider()
{
    if (state)
        speex_resampler_destroy(state);
}

uint64_t SpeexProvider::gcd(uint64_t a, uint64_t b)
{
    if (a == 0)
        return b;
    if (b == 0)
        return a;
    int shift = 0;
    while (((a | b) & 1) == 0) {
        a >>= 1;
        b >>= 1;
        ++shift;
    }
    while ((a & 1) == 0)
        a >>= 1;
    while (b != 0) {
        while ((b & 1) == 0)
            b >>= 1;
        if (a > b)
            std::swap(a, b);
        b -= a;
    }
    return a << shift;
}

bool SpeexProvider::setup(uint64_t channels, uint64_t inputRate, uint64_t outputRate,
                          int32_t quality, bool skipZeros, uint64_t divisor)
{
    constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
    if (channels == 0 || channels > kMax32 || inputRate == 0 || outputRate == 0 ||
        inputRate > kMax32 || outputRate > kMax32 || divisor == 0 || divisor > inputRate)
        return false;
    quality = std::clamp(quality, 0, kMaxQuality);
    const bool created = !state;
    if (created) {
        int err = 0;
        state = speex_resampler_init(uint32_t(channels), 1024, 192000, quality, &err);
        if (!state)
            return false;
        speex_resampler_set_rate(state, 192000, 1024);
        resamplerChannels = channels;
        sizedInputRate = sizedOutputRate = 0;
    }
    // Sized for the undivided rate, so any later divisor fits.
    const uint64_t limit = std::min(std::max(inputRate, inputRateLimit), kMax32);
    const bool resize = outputRate != sizedOutputRate || limit > sizedInputRate;
    if (resize)
        sizeFor(limit, outputRate);

    const uint64_t rate = (inputRate + divisor - 1) / divisor;
    const uint64_t g = gcd(rate, outputRate);
    channelCount = channels;
    inputReduced = rate / g;
    outputReduced = outputRate / g;
    speex_resampler_set_quality(state, quality);
    speex_resampler_set_rate(state, uint32_t(rate), uint32_t(outputRate));
    ratio = double(rate) / double(outputRate);
    if (resize && !created) {
        speex_resampler_reset_mem(state);  // the history went through the sizing rates
        speex_resampler_skip_zeros(state);
    } else if (skipZeros) {
        speex_resampler_skip_zeros(state);
    }
    inLatency = speex_resampler_get_input_latency(state);
    outLatency = speex_resampler_get_output_latency(state);
    return true;
}

void SpeexProvider::sizeFor(uint64_t inputRate, uint64_t outputRate)
{
    // The filter runs quality x ratio taps, and the table holds them at an oversampling that
    // halves above ratios 2, 4, 8 and 16 (or only the taps at each phase for ratios with a
    // small denominator): it is longest just below each of ratios 1, 2, 4, 8, 16 or at the
    // highest ratio. The history is longest at the highest ratio.
    speex_resampler_set_rate(state, uint32_t(inputRate), uint32_t(outputRate));
    speex_resampler_set_quality(state, kMaxQuality);
    for (uint64_t k = 1; k <= 16; k *= 2)
        if (k * outputRate - 1 <= inputRate && k * outputRate > 1)
            speex_resampler_set_rate(state, uint32_t(k * outputRate - 1), uint32_t(outputRate));
    sizedInputRate = inputRate;
    sizedOutputRate = outputRate;
}

void SpeexProvider::process(float** input, float** output, uint64_t* inputFrames,
                            uint64_t* outputFrames)
{
    constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
    const uint64_t inGiven = std::min(*inputFrames, kMax32);
    const uint64_t outRoom = std::min(*outputFrames, kMax32);
    uint32_t in = 0, out = 0;
    // The resampler keeps the channel count it was created with.
    const uint64_t channels = state ? std::min(channelCount, resamplerChannels) : 0;
    for (uint64_t c = 0; c < channels; ++c) {
        in = uint32_t(inGiven);
        out = uint32_t(outRoom);
        speex_resampler_process_float(state, uint32_t(c), input[c], &in, output[c], &out);
    }
    *inputFrames = in;
    *outputFrames = out;
}

void SpeexProvider::processChannel(uint64_t channel, const float* input, uint64_t* inputFrames,
                                   float* output, uint64_t* outputFrames)
{
    constexpr uint64_t kMax32 = std::numeric_limits<uint32_t>::max();
    uint32_t in = uint32_t(std::min(*inputFrames, kMax32));
    uint32_t out = uint32_t(std::min(*outputFrames, kMax32));
    if (!state || channel >= std::min(channelCount, resamplerChannels)) {
        in = out = 0;
    } else {
        speex_resampler_process_float(state, uint32_t(channel), input, &in, output, &out);
    }
    *inputFrames = in;
    *outputFrames = out;
}

uint64_t SpeexProvider::inputFramesFor(uint64_t outputFrames)
{
    return std::max<uint64_t>(vantor::saturatingCast<uint64_t>(double(outputFrames) * ratio), 1);
}

void SpeexProvider::reset()
{
    if (state)
        speex_resampler_reset_mem(state);
}
