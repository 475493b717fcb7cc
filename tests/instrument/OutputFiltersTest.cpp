#include "instrument/OutputFilters.h"

#include <gtest/gtest.h>

#include <cmath>
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

TEST(OnePoleFilters, CoefficientsAreRoundedToFloat)
{
    const struct
    {
        double cutoff, rate;
    } kCases[] = {{5.0, 985248.0}, {22050.0, 985248.0}, {100.0, 44100.0}};
    for (const auto& c : kCases) {
        const double a = std::exp(-6.283185307179586 * c.cutoff / c.rate);
        LPFilter lp;
        HPFilter hp;
        for (Filter* f : {static_cast<Filter*>(&lp), static_cast<Filter*>(&hp)}) {
            f->setCutoff(c.cutoff);
            f->setSampleRate(c.rate);
            f->updateCoefficients();
            EXPECT_EQ(f->getC0(), double(float(1.0 - a))) << c.cutoff << " " << c.rate;
            EXPECT_EQ(f->getC1(), -double(float(a))) << c.cutoff << " " << c.rate;
        }
    }
}

TEST(OnePoleFilters, MatchAnIndependentLoopBitForBit)
{
    const double a = std::exp(-6.283185307179586 * 22050.0 / 985248.0);
    const double keep = double(float(a)), take = double(float(1.0 - a));
    const std::vector<float> input = noise(4000, 7);

    LPFilter lp;
    lp.setCutoff(22050.0);
    lp.setSampleRate(985248.0);
    lp.updateCoefficients();
    std::vector<float> low = input;
    processInPieces(lp, low);

    HPFilter hp;
    hp.setCutoff(22050.0);
    hp.setSampleRate(985248.0);
    hp.updateCoefficients();
    hp.setState(0.25);
    std::vector<float> high = input;
    processInPieces(hp, high);

    double ls = 0.0, hs = 0.25;
    for (size_t i = 0; i < input.size(); ++i) {
        const double x = input[i];
        ls = take * x + keep * ls;
        hs = take * x + keep * hs;
        ASSERT_EQ(low[i], float(ls)) << i;
        ASSERT_EQ(high[i], float(x - hs)) << i;
    }
    EXPECT_EQ(lp.getState(), ls);
    EXPECT_EQ(hp.getState(), hs);
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

// The two modes' sections designed again, in float, from the table.
struct Design
{
    bool shelf;
    float k, d, e;
};
constexpr Design kDesigns[2][4] = {
    {{true, 22748.90234375f, 0.8f, -0.23f},
     {true, 73659.0390625f, 1.62f, -0.6425f},
     {false, 92700.859375f, 1.738f, 0.205f},
     {false, 4707.36279296875f, 1.364f, 0.02f}},
    {{true, 22748.90234375f, 0.8f, -0.365f},
     {true, 73659.0390625f, 1.62f, -0.2875f},
     {false, 92700.859375f, 1.738f, 0.205f},
     {false, 122947.484375f, 2.4438f, -0.1375f}},
};

SIDOutputFilter::Section expectedSection(const Design& s, float rate)
{
    const float w0 = s.k / rate;
    const float c = std::cos(w0), alpha = std::sin(w0) / s.d, A = std::pow(10.0f, s.e);
    float a[3], b[3];
    if (s.shelf) {
        const float r = 2.0f * std::sqrt(A) * alpha;
        a[0] = (A + 1.0f) - (A - 1.0f) * c + r;
        a[1] = 2.0f * ((A - 1.0f) - (A + 1.0f) * c);
        a[2] = (A + 1.0f) - (A - 1.0f) * c - r;
        b[0] = A * ((A + 1.0f) + (A - 1.0f) * c + r);
        b[1] = -2.0f * A * ((A - 1.0f) + (A + 1.0f) * c);
        b[2] = A * ((A + 1.0f) + (A - 1.0f) * c - r);
    } else {
        a[0] = 1.0f + alpha / A;
        a[1] = -2.0f * c;
        a[2] = 1.0f - alpha / A;
        b[0] = 1.0f + alpha * A;
        b[1] = -2.0f * c;
        b[2] = 1.0f - alpha * A;
    }
    return {-a[1] / a[0], -a[2] / a[0], b[0] / a[0], b[1] / a[0], b[2] / a[0], 0, 0, 0, 0};
}

TEST(SIDOutputFilter, ModeSectionsMatchTheTable)
{
    for (int mode : {1, 2})
        for (double rate : {44100.0, 48000.0}) {
            SIDOutputFilter f;
            f.setSampleRate(rate);
            f.setMode(mode);
            f.updateCoefficients();
            for (int i = 0; i < 4; ++i) {
                const auto want = expectedSection(kDesigns[mode - 1][i], float(rate));
                const auto& got = f.getSection(i);
                EXPECT_EQ(got.p0, want.p0) << mode << " " << rate << " " << i;
                EXPECT_EQ(got.p1, want.p1) << mode << " " << rate << " " << i;
                EXPECT_EQ(got.b0, want.b0) << mode << " " << rate << " " << i;
                EXPECT_EQ(got.b1, want.b1) << mode << " " << rate << " " << i;
                EXPECT_EQ(got.b2, want.b2) << mode << " " << rate << " " << i;
            }
        }
}

TEST(SIDOutputFilter, CascadeMatchesAnIndependentLoop)
{
    const std::vector<float> input = noise(3000, 11);
    SIDOutputFilter f;
    f.setSampleRate(48000.0);
    f.setMode(2);
    f.updateCoefficients();
    std::vector<float> got = input;
    processInPieces(f, got);

    std::vector<float> want = input;
    for (int i = 0; i < 4; ++i) {
        const auto s = expectedSection(kDesigns[1][i], 48000.0f);
        float x1 = 0, x2 = 0, y1 = 0, y2 = 0;
        for (float& v : want) {
            const float y = s.p0 * y1 + s.p1 * y2 + s.b0 * v + s.b1 * x1 + s.b2 * x2;
            x2 = x1;
            x1 = v;
            y2 = y1;
            y1 = y;
            v = y;
        }
    }
    EXPECT_EQ(std::memcmp(got.data(), want.data(), want.size() * 4), 0);
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
        const auto s = expectedSection(kDesigns[0][i], 44100.0f);
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
