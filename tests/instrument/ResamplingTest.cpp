#include "SignalAnalysis.h"
#include "instrument/Repackager.h"
#include "instrument/SpeexProvider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr double kChipRate = 985248.0;

TEST(SpeexProvider, GreatestCommonDivisor)
{
    const struct
    {
        uint64_t a, b, want;
    } kCases[] = {{0, 5, 5},        {5, 0, 5},       {12, 18, 6},
                  {985248, 44100, 36}, {985248, 48000, 96}, {1, 1, 1},
                  {1ull << 40, 3ull << 20, 1ull << 20}, {17, 13, 1}};
    for (const auto& c : kCases)
        EXPECT_EQ(SpeexProvider::gcd(c.a, c.b), c.want) << c.a << " " << c.b;
}

TEST(SpeexProvider, SetupReducesRatesAndSizesPulls)
{
    const struct
    {
        uint64_t out;
        uint64_t inReduced, outReduced, for256;
    } kCases[] = {{44100, 27368, 1225, 5719}, {48000, 10263, 500, 5254}};
    for (const auto& c : kCases) {
        SpeexProvider p;
        ASSERT_TRUE(p.setup(2, 985248, c.out, 0, true));
        EXPECT_TRUE(p.hasResampler());
        EXPECT_EQ(p.getInputRateReduced(), c.inReduced);
        EXPECT_EQ(p.getOutputRateReduced(), c.outReduced);
        EXPECT_EQ(p.getRatio(), 985248.0 / double(c.out));
        EXPECT_EQ(p.inputFramesFor(256), c.for256);
        EXPECT_EQ(p.inputFramesFor(0), 1u);
        EXPECT_GT(p.inputLatency(), 0);
    }
}

TEST(SpeexProvider, RefusedSettingsKeepTheResampler)
{
    SpeexProvider p;
    EXPECT_FALSE(p.setup(2, 0, 44100, 0, true));
    EXPECT_FALSE(p.setup(2, 44100, 0, 0, true));
    EXPECT_FALSE(p.setup(0, 985248, 44100, 0, true));
    EXPECT_FALSE(p.setup(2, 1ull << 32, 44100, 0, true));
    EXPECT_FALSE(p.hasResampler());
    EXPECT_EQ(p.inputFramesFor(256), 256u);

    // Without a resampler nothing is consumed or produced.
    std::vector<float> in(100, 1.0f), out(100, 5.0f);
    float* ins[1] = {in.data()};
    float* outs[1] = {out.data()};
    uint64_t inFrames = 100, outFrames = 100;
    p.process(ins, outs, &inFrames, &outFrames);
    EXPECT_EQ(inFrames, 0u);
    EXPECT_EQ(outFrames, 0u);
    EXPECT_EQ(out[0], 5.0f);
    p.reset();

    // Out-of-range qualities are clamped, so a resampler is made.
    ASSERT_TRUE(p.setup(2, 985248, 44100, 42, true));
    ASSERT_TRUE(p.hasResampler());
    EXPECT_FALSE(p.setup(2, 0, 48000, -5, true));
    EXPECT_TRUE(p.hasResampler());
    EXPECT_EQ(p.getOutputRateReduced(), 1225u);
    EXPECT_TRUE(p.setup(2, 985248, 48000, -5, true));
    EXPECT_EQ(p.getOutputRateReduced(), 500u);
}

// A sine at the chip rate, continuous across sub-blocks of any size; channel 1 stays silent.
class SineRenderer : public SRCSubRenderer<float>
{
public:
    explicit SineRenderer(double hz, double amplitude) : step(hz / kChipRate), level(amplitude) {}
    void renderSubBlock(float** buffers, uint64_t frames) override
    {
        for (uint64_t i = 0; i < frames; ++i) {
            buffers[0][i] = float(level * std::sin(2.0 * M_PI * step * double(n++)));
            buffers[1][i] = 0.0f;
        }
        ++calls;
        largest = std::max(largest, frames);
    }
    uint64_t n = 0;
    uint64_t calls = 0;
    uint64_t largest = 0;

private:
    double step;
    double level;
};

struct Chain
{
    Chain(uint64_t capacity, uint64_t outRate, int quality) : renderer(1000.0, 0.5)
    {
        EXPECT_TRUE(provider.setup(2, uint64_t(kChipRate), outRate, quality, true));
        EXPECT_TRUE(repackager.setup(capacity, 2));
        repackager.setProvider(&provider);
        repackager.setRenderer(&renderer);
    }
    // `total` frames in pulls of `size` frames.
    void run(uint64_t total, uint64_t size, std::vector<float>& left, std::vector<float>& right)
    {
        left.assign(total, -9.0f);
        right.assign(total, -9.0f);
        for (uint64_t at = 0; at < total; at += size) {
            float* outs[2] = {left.data() + at, right.data() + at};
            repackager.pull(outs, std::min(size, total - at));
        }
    }
    SineRenderer renderer;
    SpeexProvider provider;
    Repackager<float> repackager;
};

TEST(Repackager, SineKeepsItsFrequencyAndLevel)
{
    for (int quality : {0, 4}) {
        Chain chain(111472, 44100, quality);
        std::vector<float> left, right;
        chain.run(44100, 256, left, right);
        const float* steady = left.data() + 8192;
        const size_t n = 32768;
        const size_t bin = analysis::peakBin(steady, n);
        EXPECT_NEAR(analysis::binFrequency(bin, n, 44100.0), 1000.0, 44100.0 / double(n))
            << "quality " << quality;
        const double db = 20.0 * std::log10(analysis::rms(steady, n) / (0.5 / std::sqrt(2.0)));
        EXPECT_NEAR(db, 0.0, 0.5) << "quality " << quality;
        EXPECT_EQ(analysis::rms(right.data(), right.size()), 0.0);
        EXPECT_LE(chain.renderer.largest, 5719u + 0u);
    }
}

TEST(Repackager, PullSizesDoNotChangeTheSamples)
{
    const uint64_t total = 20000;
    Chain reference(111472, 44100, 4);
    std::vector<float> wantL, wantR;
    reference.run(total, 256, wantL, wantR);
    for (uint64_t size : {1, 7, 64, 256, 1000}) {
        Chain chain(111472, 44100, 4);
        std::vector<float> left, right;
        chain.run(total, size, left, right);
        EXPECT_EQ(std::memcmp(left.data(), wantL.data(), total * 4), 0) << size;
        EXPECT_EQ(std::memcmp(right.data(), wantR.data(), total * 4), 0) << size;
    }
}

TEST(Repackager, SmallCapacitySplitsRendersAndKeepsTheSamples)
{
    const uint64_t total = 20000;
    Chain reference(111472, 44100, 0);
    std::vector<float> wantL, wantR;
    reference.run(total, 256, wantL, wantR);
    for (uint64_t capacity : {3000, 1000, 1}) {
        Chain chain(capacity, 44100, 0);
        std::vector<float> left, right;
        chain.run(total, 256, left, right);
        EXPECT_LE(chain.renderer.largest, capacity);
        EXPECT_EQ(std::memcmp(left.data(), wantL.data(), total * 4), 0) << capacity;
    }
    // A pull larger than the capacity on the output side too.
    Chain big(3000, 44100, 0);
    std::vector<float> left, right;
    big.run(total, 9000, left, right);
    EXPECT_EQ(std::memcmp(left.data(), wantL.data(), total * 4), 0);
}

TEST(Repackager, WithoutAWorkingProviderTheOutputIsSilent)
{
    SineRenderer renderer(1000.0, 0.5);
    SpeexProvider idle;  // never set up: no resampler
    Repackager<float> r;
    ASSERT_TRUE(r.setup(4096, 2));
    std::vector<float> left(512, 3.0f), right(512, 3.0f);
    float* outs[2] = {left.data(), right.data()};
    r.pull(outs, 512);  // no provider or renderer
    EXPECT_EQ(left[0], 0.0f);
    r.setProvider(&idle);
    r.setRenderer(&renderer);
    std::fill(left.begin(), left.end(), 3.0f);
    r.pull(outs, 512);
    EXPECT_EQ(analysis::rms(left.data(), left.size()), 0.0);
    EXPECT_EQ(r.getPendingFrames(), 4096u);  // filled once, then the pull gave up
    r.clearPending();
    EXPECT_EQ(r.getPendingFrames(), 0u);
}

TEST(Repackager, RefusesUnusableSizes)
{
    Repackager<float> r;
    EXPECT_FALSE(r.setup(0, 2));
    EXPECT_FALSE(r.setup(1024, 0));
    EXPECT_FALSE(r.setup(1024, 17));
    EXPECT_FALSE(r.setup(UINT64_MAX / 2, 2));
    EXPECT_EQ(r.getCapacity(), 0u);
    float* outs[1] = {nullptr};
    r.pull(outs, 100);  // nothing set up: nothing written
    EXPECT_TRUE(r.setup(1024, 16));
    EXPECT_EQ(r.getChannelCount(), 16u);
}

}  // namespace
