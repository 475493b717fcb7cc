#include "instrument/OutputFilters.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <vector>

namespace {

std::vector<float> noise(size_t n, uint32_t seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    std::vector<float> v(n);
    for (float& x : v)
        x = d(rng);
    return v;
}

// Processes in uneven pieces so the state has to carry across calls.
void processInPieces(Filter& f, std::vector<float>& buffer)
{
    const int pieces[] = {1, 37, 256, 3, 700};
    size_t at = 0;
    for (size_t i = 0; at < buffer.size(); ++i) {
        const int n = std::min<int>(pieces[i % 5], int(buffer.size() - at));
        f.process(buffer.data() + at, n);
        at += size_t(n);
    }
}

// Gain in dB at hz of a filter whose impulse response (long enough to have died away) is ir.
double gainDb(const std::vector<float>& ir, double hz, double rate)
{
    std::complex<double> sum = 0.0;
    const double w = 2.0 * M_PI * hz / rate;
    for (size_t n = 0; n < ir.size(); ++n)
        sum += double(ir[n]) * std::polar(1.0, -w * double(n));
    return 20.0 * std::log10(std::abs(sum));
}

std::vector<float> impulseResponse(Filter& f, size_t n)
{
    std::vector<float> ir(n, 0.0f);
    ir[0] = 1.0f;
    processInPieces(f, ir);
    return ir;
}

TEST(OnePoleFilters, GainAtCutoffAndADecadeEitherSide)
{
    // The analog one-pole's response: the sampled filters follow it closely while the cutoff is
    // far below the rate, less so for the chip-rate low-pass at the host's Nyquist frequency.
    const struct
    {
        double cutoff, rate, toleranceDb;
    } kCases[] = {{100.0, 44100.0, 0.1}, {5.0, 985248.0, 0.1}, {22050.0, 985248.0, 0.8}};
    for (const auto& c : kCases) {
        LPFilter lp;
        HPFilter hp;
        for (Filter* f : {static_cast<Filter*>(&lp), static_cast<Filter*>(&hp)}) {
            f->setCutoff(c.cutoff);
            f->setSampleRate(c.rate);
            f->updateCoefficients();
        }
        // Long enough for the state to fall below 1e-8 of the impulse.
        const size_t n = size_t(20.0 * c.rate / (2.0 * M_PI * c.cutoff));
        const std::vector<float> low = impulseResponse(lp, n), high = impulseResponse(hp, n);
        for (double ratio : {0.1, 1.0, 10.0}) {
            const double hz = c.cutoff * ratio;
            const double magnitude = 1.0 / std::sqrt(1.0 + ratio * ratio);
            EXPECT_NEAR(gainDb(low, hz, c.rate), 20.0 * std::log10(magnitude), c.toleranceDb)
                << c.cutoff << " Hz at " << c.rate << ", " << hz << " Hz";
            EXPECT_NEAR(gainDb(high, hz, c.rate), 20.0 * std::log10(ratio * magnitude),
                        c.toleranceDb)
                << c.cutoff << " Hz at " << c.rate << ", " << hz << " Hz";
        }
    }
}

TEST(OnePoleFilters, HighPassIsTheRestOfTheLowPass)
{
    const std::vector<float> input = noise(4000, 7);
    LPFilter lp;
    HPFilter hp;
    for (Filter* f : {static_cast<Filter*>(&lp), static_cast<Filter*>(&hp)}) {
        f->setCutoff(22050.0);
        f->setSampleRate(985248.0);
        f->updateCoefficients();
        f->setState(0.25);
    }
    std::vector<float> low = input, high = input;
    processInPieces(lp, low);
    processInPieces(hp, high);
    for (size_t i = 0; i < input.size(); ++i)
        ASSERT_NEAR(double(low[i]) + double(high[i]), double(input[i]), 1e-6) << i;
    EXPECT_EQ(lp.getState(), hp.getState());
}

TEST(OnePoleFilters, NoFramesChangeNothing)
{
    LPFilter lp;
    HPFilter hp;
    SIDOutputFilter out;
    out.setMode(2);
    out.updateCoefficients();
    for (Filter* f : {static_cast<Filter*>(&lp), static_cast<Filter*>(&hp),
                      static_cast<Filter*>(&out)}) {
        f->updateCoefficients();
        f->setState(0.5);
        float buffer[4] = {1.0f, 2.0f, 3.0f, 4.0f};
        f->process(buffer, 0);
        f->process(buffer, -3);
        EXPECT_EQ(buffer[0], 1.0f);
        EXPECT_EQ(buffer[3], 4.0f);
        EXPECT_EQ(f->getState(), 0.5);
    }
    float y[1] = {1.0f};
    out.process(y, 1);
    EXPECT_NE(y[0], 1.0f);  // history untouched: the first sample sees only b0
    EXPECT_EQ(y[0], out.getSection(3).y1);
}

TEST(SIDOutputFilter, ModeZeroIsAnExactPassThrough)
{
    std::vector<float> input = noise(1000, 3);
    input[10] = -0.0f;
    input[11] = 1e-42f;  // subnormal
    input[12] = 3.0e38f;
    input[13] = -3.0e38f;
    for (int64_t mode : {0, 3, -1}) {
        SIDOutputFilter f;
        f.setMode(mode);
        f.updateCoefficients();
        std::vector<float> buffer = input;
        processInPieces(f, buffer);
        EXPECT_EQ(std::memcmp(buffer.data(), input.data(), input.size() * 4), 0) << mode;
    }
}

// The output stage of each mode as designed: high shelves and peaks given by centre frequency,
// Q and gain. The sampled sections are bilinear transforms of these analog prototypes, so the
// cascade's response at f is theirs at the warped frequency tan(pi f / rate).
struct Target
{
    bool shelf;
    double hz, q, gainDb;
};
constexpr Target kTargets[2][4] = {
    {{true, 3620.6, 0.4, -9.2}, {true, 11723.2, 0.81, -25.7}, {false, 14753.8, 0.869, 8.2},
     {false, 749.2, 0.682, 0.8}},
    {{true, 3620.6, 0.4, -14.6}, {true, 11723.2, 0.81, -11.5}, {false, 14753.8, 0.869, 8.2},
     {false, 19567.7, 1.2219, -5.5}},
};

double targetDb(int mode, double hz, double rate)
{
    std::complex<double> h = 1.0;
    for (const Target& t : kTargets[mode - 1]) {
        const double a = std::pow(10.0, t.gainDb / 40.0);
        const double warped = std::tan(M_PI * hz / rate) / std::tan(M_PI * t.hz / rate);
        const std::complex<double> s(0.0, warped);
        const double r = std::sqrt(a) / t.q;
        if (t.shelf)
            h *= a * (a * s * s + r * s + 1.0) / (s * s + r * s + a);
        else
            h *= (s * s + s * a / t.q + 1.0) / (s * s + s / (a * t.q) + 1.0);
    }
    return 20.0 * std::log10(std::abs(h));
}

TEST(SIDOutputFilter, GainAtTheDesignFrequenciesAndADecadeEitherSide)
{
    for (int mode : {1, 2})
        for (double rate : {44100.0, 48000.0}) {
            SIDOutputFilter f;
            f.setSampleRate(rate);
            f.setMode(mode);
            f.updateCoefficients();
            const std::vector<float> ir = impulseResponse(f, 8192);
            for (const Target& t : kTargets[mode - 1])
                for (double hz : {t.hz / 10.0, t.hz, t.hz * 10.0}) {
                    if (hz >= rate / 2.0)
                        continue;
                    EXPECT_NEAR(gainDb(ir, hz, rate), targetDb(mode, hz, rate), 0.01)
                        << "mode " << mode << " at " << rate << ", " << hz << " Hz";
                }
        }
}

TEST(SIDOutputFilter, StateCarriesAcrossBlocks)
{
    const std::vector<float> input = noise(3000, 11);
    SIDOutputFilter whole, pieces;
    for (SIDOutputFilter* f : {&whole, &pieces}) {
        f->setSampleRate(48000.0);
        f->setMode(2);
        f->updateCoefficients();
    }
    std::vector<float> once = input, cut = input;
    whole.process(once.data(), int(once.size()));
    processInPieces(pieces, cut);
    EXPECT_EQ(std::memcmp(once.data(), cut.data(), cut.size() * 4), 0);
    EXPECT_NE(std::memcmp(once.data(), input.data(), input.size() * 4), 0);
}

TEST(SIDOutputFilter, PassThroughKeepsTheHistoryForTheNextMode)
{
    // After mode 0, every section's history holds the last two samples (y = x), so mode 1 goes
    // on from them as if it had filtered an identity all along.
    const std::vector<float> input = noise(600, 5);
    SIDOutputFilter f;
    std::vector<float> got = input;
    f.process(got.data(), 298);
    f.process(got.data() + 298, 1);  // a one-frame block shifts the history by one
    f.process(got.data() + 299, 1);
    f.setMode(1);
    f.updateCoefficients();
    f.process(got.data() + 300, 300);

    std::vector<float> want(input.begin() + 300, input.end());
    for (int i = 0; i < 4; ++i) {
        const SIDOutputFilter::Section& s = f.getSection(i);
        float x1 = input[299], x2 = input[298], y1 = x1, y2 = x2;
        for (float& v : want) {
            const float y = s.p0 * y1 + s.p1 * y2 + s.b0 * v + s.b1 * x1 + s.b2 * x2;
            x2 = x1;
            x1 = v;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    EXPECT_EQ(std::memcmp(got.data() + 300, want.data(), want.size() * 4), 0);
}

}  // namespace
