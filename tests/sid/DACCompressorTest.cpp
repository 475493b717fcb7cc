#include "sid/DACCompressor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

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
