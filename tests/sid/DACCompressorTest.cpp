#include "sid/DACCompressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

// The compressor written plainly from its description, step by step, to check the fast forms.
class ReferenceCompressor {
public:
    explicit ReferenceCompressor(const float (&p)[9], float fs)
    {
        const float f[3] = {400.0f, 1000.0f, 5000.0f};
        for (int s = 0; s < 3; ++s)
            stage[s].a = 1.0f - std::exp(-6.2831855f * f[s] / fs);
        const float t = p[0] * 96.0f - 96.0f;
        autoGain = std::exp2((0.0f - t) * p[1] * 0.5f / 6.0f);
        makeUp = std::exp2((p[2] * 48.0f - 36.0f) / 6.0f);
        const float c = 1.0f - std::exp(-6.2831855f * (5000.0f / (p[5] * p[5] * 200.0f)) / fs);
        const float attack = 480.0f / (p[3] * 200.0f * 0.001f * fs);
        const float release = 480.0f / (8.0f * p[4] * p[4] * 200.0f * 0.001f * fs);
        const float offsets[4] = {-18.0f, -6.0f, 6.0f, 18.0f};
        for (int k = 0; k < 5; ++k) {
            Band& b = band[k];
            b.threshold = k < 4 ? (2.0f * p[8] - 1.0f) * offsets[k] - 6.0f + t : t;
            b.slope = k < 4 ? p[1] * p[7] : (1.0f - p[7]) * p[1];
            b.c = c;
            b.attack = attack;
            b.release = release;
        }
        parallel = p[6];
    }

    float process(float x)
    {
        float lp1, hp1, lp2, hp2, lp3, hp3;
        stage[0].run(x, lp1, hp1);
        stage[1].run(-hp1, lp2, hp2);
        stage[2].run(-hp2, lp3, hp3);
        float b[4] = {lp1, lp2, lp3, -hp3};
        const float dry = b[0] + b[1] + b[2] + b[3];
        for (int k = 0; k < 4; ++k)
            b[k] *= band[k].gain(b[k]);
        const float s = b[0] + b[1] + b[2] + b[3];
        const float wet = s * band[4].gain(s) * autoGain;
        return ((dry - wet) * parallel + wet) * makeUp;
    }

    float reduction(int k) const { return band[k].r; }

private:
    struct Section {
        float y = 0.0f, p = 0.0f;
        float run(float in, float a)
        {
            y = y + a * ((p + in) / 2.0f - y);
            p = in;
            return y;
        }
    };
    struct Stage {
        float a = 0.0f;
        Section low1, low2, high1, high2;
        void run(float in, float& low, float& high)
        {
            low = low2.run(low1.run(in, a), a);
            const float out1 = in - high1.run(in, a);
            high = out1 - high2.run(out1, a);
        }
    };
    struct Band {
        float env1 = 0.0f, env2 = 0.0f, r = 0.0f, threshold, slope, c, attack, release;
        float gain(float x)
        {
            const float v = std::min(x, 2e18f);
            env1 = env1 + c * (v * v - env1);
            env2 = env2 + c * (env1 - env2);
            const float p = std::max(std::fabs(env2), 1e-10f);
            int32_t bits;
            std::memcpy(&bits, &p, 4);
            const float level = float(int64_t(bits) - 1065353216) * 3.0f / 8388608.0f;
            const float g = level > threshold ? (level - threshold) * slope : 0.0f;
            if (g > r)
                r = std::min(r + attack, g);
            else
                r = std::max(r - release, g);
            r = std::clamp(r, 0.0f, 180.0f);
            const float q = r / 6.0f;
            const float n = std::floor(q);
            const float f = q - n;
            return (2.0f - f * (4.0f - f) / 3.0f) * float(uint32_t(1u << 30) >> int(n)) * 0x1p-31f;
        }
    };
    Stage stage[3];
    Band band[5];
    float autoGain, makeUp, parallel;
};

TEST(DACCompressorTest, MatchesThePlainReference)
{
    const unsigned seed = 77u;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    for (int set = 0; set < 12; ++set) {
        float p[9];
        for (float& v : p)
            v = 0.05f + 0.95f * unit(rng);
        if (set == 0)
            for (uint32_t i = 0; i < 9; ++i)
                p[i] = DACCompressor::defaultParameter(i);
        const float fs = set % 2 ? 44100.0f : 22050.0f;
        DACCompressor c;
        c.setSampleRate(fs);
        for (uint32_t i = 0; i < 9; ++i)
            c.setParameter(i, p[i]);
        ReferenceCompressor ref(p, fs);
        double worst = 0.0;
        for (int i = 0; i < 20000; ++i) {
            // Loud and quiet stretches, so reductions rise and fall.
            const float amplitude = (i / 2500) % 2 ? 0.9f : 0.02f;
            float x = amplitude * (2.0f * unit(rng) - 1.0f) * float(std::sin(i * 0.01));
            const float want = ref.process(x);
            c.process(&x, 1);
            worst = std::max(worst, double(std::fabs(x - want)) / (1e-3 + std::fabs(want)));
        }
        EXPECT_LT(worst, 1e-3) << "seed " << seed << " set " << set;
        for (int k = 0; k < 4; ++k)
            EXPECT_NEAR(c.band(size_t(k)).reduction, ref.reduction(k), 0.01) << "set " << set;
        EXPECT_NEAR(c.fullBandRecord().reduction, ref.reduction(4), 0.01) << "set " << set;
    }
}

constexpr double kRate = 44100.0;

std::vector<float> sine(double hz, double amplitude, size_t n)
{
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = float(amplitude * std::sin(2.0 * M_PI * hz * double(i) / kRate));
    return v;
}

double power(const std::vector<float>& v, size_t from)
{
    double s = 0.0;
    for (size_t i = from; i < v.size(); ++i)
        s += double(v[i]) * v[i];
    return s / double(v.size() - from);
}

void expectReductionsInRange(const DACCompressor& c)
{
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_GE(c.band(k).reduction, 0.0f) << "band " << k;
        EXPECT_LE(c.band(k).reduction, 180.0f) << "band " << k;
    }
    EXPECT_GE(c.fullBandRecord().reduction, 0.0f);
    EXPECT_LE(c.fullBandRecord().reduction, 180.0f);
}

TEST(DACCompressorTest, DefaultsAndStartingValues)
{
    const float expected[] = {0.5f, 0.1f, 0.75f, 0.025f, 0.5f, 0.01f, 0.0f, 0.0f, 0.5f, 0.0f, 0.0f};
    for (uint32_t i = 0; i < std::size(expected); ++i)
        EXPECT_EQ(DACCompressor::defaultParameter(i), expected[i]) << "index " << i;

    DACCompressor c;
    EXPECT_EQ(c.getSampleRate(), 44100.0f);
    EXPECT_FLOAT_EQ(c.getParameter(DACCompressor::kMakeUpGain), 0.5416667f);
    for (uint32_t i = 0; i < DACCompressor::kParameterCount; ++i) {
        if (i != DACCompressor::kMakeUpGain) {
            EXPECT_EQ(c.getParameter(i), expected[i]) << "index " << i;
        }
    }
}

TEST(DACCompressorTest, LoadDefaultsGivesTheDocumentedSetUp)
{
    DACCompressor c;
    ASSERT_TRUE(c.loadDefaults());
    EXPECT_FLOAT_EQ(c.getThresholdLevel(), -48.0f);
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(c.band(k).index, int32_t(k));
        EXPECT_FLOAT_EQ(c.band(k).threshold, -54.0f) << "band " << k;
        EXPECT_EQ(c.band(k).slope, 0.0f);
    }
    const CompressorBand& full = c.fullBandRecord();
    EXPECT_EQ(full.index, 4);
    EXPECT_FLOAT_EQ(full.threshold, -48.0f);
    EXPECT_FLOAT_EQ(full.slope, 0.1f);
    // 480 units over the attack (5 ms) and the release (400 ms).
    EXPECT_NEAR(480.0 / (full.attackStep * kRate), 0.005, 1e-7);
    EXPECT_NEAR(480.0 / (full.releaseStep * kRate), 0.4, 1e-6);
    EXPECT_EQ(full.coefficient1, full.coefficient2);
    EXPECT_FLOAT_EQ(c.getMakeUpFactor(), 1.0f);
    EXPECT_FLOAT_EQ(c.getAutoGainFactor(), std::pow(2.0f, 0.4f));
}

TEST(DACCompressorTest, GainOfAReduction)
{
    const struct {
        float r, gain;
    } kCases[] = {{0.0f, 1.0f}, {6.0f, 0.5f}, {180.0f, 0x1p-30f}, {3.0f, 0.7083333f}, {12.0f, 0.25f}};
    for (const auto& c : kCases)
        EXPECT_FLOAT_EQ(DACCompressor::gainForReduction(c.r), c.gain) << "r " << c.r;
    // Continuous across whole steps.
    EXPECT_NEAR(DACCompressor::gainForReduction(11.9999f), 0.25f, 1e-5f);
}

TEST(DACCompressorTest, ParameterClampingRatesAndRecomputation)
{
    DACCompressor c;
    c.setParameter(DACCompressor::kThreshold, -3.0f);
    EXPECT_EQ(c.getParameter(DACCompressor::kThreshold), 0.0f);
    EXPECT_FLOAT_EQ(c.getThresholdLevel(), -96.0f);
    c.setParameter(DACCompressor::kThreshold, 7.0f);
    EXPECT_EQ(c.getParameter(DACCompressor::kThreshold), 1.0f);
    c.setParameter(DACCompressor::kRatio, std::numeric_limits<float>::infinity());
    EXPECT_EQ(c.getParameter(DACCompressor::kRatio), 1.0f);

    uint64_t updates = c.getCoefficientUpdates();
    c.setParameter(DACCompressor::kThreshold, std::nanf(""));
    EXPECT_EQ(c.getParameter(DACCompressor::kThreshold), 1.0f);
    EXPECT_EQ(c.getCoefficientUpdates(), updates);
    c.setParameter(9, 0.3f);  // only recomputes
    EXPECT_EQ(c.getCoefficientUpdates(), ++updates);

    c.setSampleRate(48000.0f);
    c.setSampleRate(48000.0f);
    EXPECT_EQ(c.getCoefficientUpdates(), ++updates);
    for (float bad : {0.0f, -1.0f, std::nanf(""), std::numeric_limits<float>::infinity()})
        c.setSampleRate(bad);
    EXPECT_EQ(c.getSampleRate(), 48000.0f);
    EXPECT_EQ(c.getCoefficientUpdates(), updates);
}

TEST(DACCompressorTest, SilenceBuildsNoReduction)
{
    // The level floor (3 x log2 of 1e-10, about -99.8) lies below the default band thresholds
    // (-54) and below the lowest full-band threshold (-96).
    for (float threshold : {0.5f, 0.0f}) {
        DACCompressor c;
        c.loadDefaults();
        c.setParameter(DACCompressor::kRatio, 1.0f);
        c.setParameter(DACCompressor::kThreshold, threshold);
        c.setParameter(DACCompressor::kMultiband, threshold == 0.0f ? 0.0f : 0.5f);
        std::vector<float> v(20000, 0.0f);
        c.process(v.data(), v.size());
        for (float y : v)
            ASSERT_EQ(y, 0.0f);
        for (size_t k = 0; k < 4; ++k)
            EXPECT_EQ(c.band(k).reduction, 0.0f) << "threshold " << threshold;
        EXPECT_EQ(c.fullBandRecord().reduction, 0.0f) << "threshold " << threshold;
    }
}

TEST(DACCompressorTest, SingleBandLeavesTheBandsAlone)
{
    DACCompressor c;
    c.loadDefaults();
    c.setParameter(DACCompressor::kRatio, 1.0f);
    auto v = sine(1000.0, 0.9, 8000);
    c.process(v.data(), v.size());
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ(c.band(k).reduction, 0.0f) << "band " << k;
    EXPECT_GT(c.fullBandRecord().reduction, 10.0f);
}

TEST(DACCompressorTest, LouderInputIsReducedMore)
{
    DACCompressor c;
    c.loadDefaults();
    c.setParameter(DACCompressor::kRatio, 0.8f);
    c.setParameter(DACCompressor::kMultiband, 1.0f);
    auto quiet = sine(300.0, 0.05, 20000);
    auto loud = sine(300.0, 0.8, 20000);
    c.process(quiet.data(), quiet.size());
    const float quietReduction = c.band(0).reduction;
    c.process(loud.data(), loud.size());
    EXPECT_GT(c.band(0).reduction, quietReduction + 6.0f);
    // 16x the input comes out less than 16x louder.
    EXPECT_LT(power(loud, 10000) / power(quiet, 10000), 16.0 * 16.0 / 4.0);
    c.reset();
    for (size_t k = 0; k < 4; ++k)
        EXPECT_EQ(c.band(k).reduction, 0.0f);
    std::vector<float> silence(100, 0.0f);
    c.process(silence.data(), silence.size());
    for (float y : silence)
        EXPECT_EQ(y, 0.0f);  // crossover states cleared too
}

TEST(DACCompressorTest, ParallelOneIsTheBandSumTimesMakeUp)
{
    // The output must not depend on the detectors at all.
    auto run = [](float threshold, float makeUp, double hz) {
        DACCompressor c;
        c.loadDefaults();
        c.setParameter(DACCompressor::kParallel, 1.0f);
        c.setParameter(DACCompressor::kRatio, 1.0f);
        c.setParameter(DACCompressor::kThreshold, threshold);
        c.setParameter(DACCompressor::kMakeUpGain, makeUp);
        auto v = sine(hz, 0.5, 44100);
        c.process(v.data(), v.size());
        return v;
    };
    // (dry - wet) x 1 + wet: equal to the dry sum up to rounding.
    const auto a = run(0.0f, 0.75f, 1000.0);
    const auto b = run(1.0f, 0.75f, 1000.0);
    const auto louder = run(0.0f, 0.875f, 1000.0);  // make-up x 2
    for (size_t i = 0; i < a.size(); ++i) {
        ASSERT_NEAR(b[i], a[i], 1e-6f) << i;
        ASSERT_NEAR(louder[i], 2.0f * a[i], 2e-6f) << i;
    }

    // The band sum is near flat but not the input: -1.65 dB at 1 kHz (measured).
    const double in = power(sine(1000.0, 0.5, 44100), 22050);
    EXPECT_NEAR(10.0 * std::log10(power(a, 22050) / in), -1.65, 0.1);
    for (double hz : {20.0, 100.0, 400.0, 700.0, 2000.0, 5000.0, 10000.0, 20000.0}) {
        const double db = 10.0 * std::log10(power(run(0.0f, 0.75f, hz), 22050) /
                                            power(sine(hz, 0.5, 44100), 22050));
        EXPECT_GT(db, -2.0) << hz << " Hz";
        EXPECT_LT(db, 2.0) << hz << " Hz";
    }
}

TEST(DACCompressorTest, ReductionStaysInRangeForAnyInput)
{
    const float inf = std::numeric_limits<float>::infinity();
    for (float x : {1e30f, -1e30f, 3e38f, -3e38f, inf, -inf, std::nanf("")}) {
        DACCompressor c;
        c.loadDefaults();
        c.setParameter(DACCompressor::kRatio, 1.0f);
        c.setParameter(DACCompressor::kMultiband, 0.5f);
        std::vector<float> v(500, x);
        c.process(v.data(), v.size());
        expectReductionsInRange(c);
    }
    // Zero attack and release times jump straight to the target.
    DACCompressor c;
    c.setParameter(DACCompressor::kAttack, 0.0f);
    c.setParameter(DACCompressor::kRelease, 0.0f);
    c.setParameter(DACCompressor::kRmsTime, 0.0f);
    c.setParameter(DACCompressor::kRatio, 1.0f);
    auto v = sine(200.0, 1.0, 4000);
    c.process(v.data(), v.size());
    expectReductionsInRange(c);
    for (float y : v)
        ASSERT_TRUE(std::isfinite(y));
}

}  // namespace
