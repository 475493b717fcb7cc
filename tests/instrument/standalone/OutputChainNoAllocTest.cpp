// Counts every operator new of the process and, outside the sanitizer build (whose allocator
// must not be replaced), every malloc, calloc and realloc too - speexdsp allocates with those.
// So it runs alone.

#include "instrument/OutputFilters.h"
#include "instrument/Repackager.h"
#include "instrument/SpeexProvider.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

class Tone : public SRCSubRenderer<float>
{
public:
    void renderSubBlock(float** buffers, uint64_t frames) override
    {
        for (uint64_t i = 0; i < frames; ++i) {
            buffers[0][i] = float(std::sin(0.01 * double(n++)));
            buffers[1][i] = 0.0f;
        }
    }
    uint64_t n = 0;
};

TEST(OutputChain, RunsWithoutAllocating)
{
    SpeexProvider provider;
    ASSERT_TRUE(provider.setup(2, 985248, 48000, 4, true));
    Repackager<float> repackager;
    ASSERT_TRUE(repackager.setup(111472, 2));
    Tone tone;
    repackager.setProvider(&provider);
    repackager.setRenderer(&tone);
    LPFilter lp;
    HPFilter hp;
    SIDOutputFilter out;
    out.setMode(1);
    out.updateCoefficients();
    std::vector<float> left(256), right(256), chip(8192, 0.5f);

    const long before = fixtures::allocationCount();
    for (int block = 0; block < 200; ++block) {
        hp.process(chip.data(), int(chip.size()));
        lp.process(chip.data(), int(chip.size()));
        float* outs[2] = {left.data(), right.data()};
        repackager.pull(outs, 256);
        out.process(left.data(), 256);
    }
    float* ins[2] = {chip.data(), chip.data()};
    float* outs[2] = {left.data(), right.data()};
    uint64_t in = 1000, produced = 40;
    provider.process(ins, outs, &in, &produced);
    provider.reset();
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_GT(tone.n, 0u);
}

TEST(OutputChain, RateAndQualityChangesWithinTheLimitAllocateNothing)
{
    // 22050 Hz: the fastest chip rate, 1789773 Hz at +2400 cents, is 325 times the host rate.
    constexpr uint64_t kFastest = 7159091;
    SpeexProvider provider;
    provider.setInputRateLimit(kFastest);
    ASSERT_TRUE(provider.setup(2, 985248, 22050, 0, true));
    Repackager<float> repackager;
    ASSERT_TRUE(repackager.setup(kFastest / 20, 2));
    Tone tone;
    repackager.setProvider(&provider);
    repackager.setRenderer(&tone);
    std::vector<float> left(256), right(256);
    float* outs[2] = {left.data(), right.data()};

    const long before = fixtures::allocationCount();
    const uint64_t kRates[] = {kFastest, 223722, 985248, 44101, 22050, 22049, 1000000, 88199};
    for (int32_t quality = 0; quality <= 10; ++quality)
        for (const uint64_t rate : kRates) {
            ASSERT_TRUE(provider.setup(2, rate, 22050, quality, false));
            repackager.pull(outs, quality == 10 && rate == kFastest ? 16 : 256);
        }
    EXPECT_EQ(fixtures::allocationCount(), before);

    // A new output rate sizes the resampler again: that may allocate, and happens off the audio
    // thread (audio settings).
    ASSERT_TRUE(provider.setup(2, 985248, 8000, 0, false));
    const long resized = fixtures::allocationCount();
    ASSERT_TRUE(provider.setup(2, kFastest, 8000, 10, false));
    EXPECT_EQ(fixtures::allocationCount(), resized);
}

}  // namespace
