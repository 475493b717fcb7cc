#include "synth/CurveSegment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <vector>

using namespace ZRS;

namespace {

CurveSegment prepared(EnvelopeStage stage, double start, double rate, double* value = nullptr,
                      bool align = false)
{
    CurveSegment s;
    s.setFromStage(stage);
    double v = 0.0;
    s.prepare(v, align, start, rate);
    if (value)
        *value = v;
    return s;
}

}  // namespace

TEST(CurveSegment, ExponentialMeetsStartAndTarget)
{
    const struct
    {
        double start;
        float level, curve;
    } kCases[] = {{0.2, 0.8f, -3.0f}, {0.2, 0.8f, 4.0f}, {1.0, 0.0f, -10.3616f}, {0.9, 0.1f, 2.0f}};
    for (const auto& c : kCases) {
        double v = -1.0;
        CurveSegment s = prepared({1.0f, c.level, c.curve, kShapeExponential}, c.start, 100.0, &v);
        EXPECT_EQ(v, c.start);
        ASSERT_EQ(s.remaining, 100u);
        EXPECT_EQ(s.shape, kShapeExponential);
        EXPECT_NEAR(s.base + s.term, c.start, 1e-12) << c.curve;
        // delta is kept as a float
        EXPECT_NEAR(s.base + s.term * std::pow(s.step, 100.0), c.level, 1e-7) << c.curve;

        // The per-tick advance follows the same curve and ends on the target.
        const double term0 = s.term;
        uint32_t n = 40;
        EXPECT_TRUE(s.advance(n, v));
        EXPECT_NEAR(v, s.base + term0 * std::pow(s.step, 40.0), 1e-12);
        n = 100;
        EXPECT_FALSE(s.advance(n, v));
        EXPECT_EQ(n, 40u);  // of the 100 ticks, 60 were the segment's
        EXPECT_NEAR(v, c.level, 1e-7);
        EXPECT_EQ(s.remaining, 0u);
        n = 5;
        EXPECT_FALSE(s.advance(n, v));
        EXPECT_EQ(n, 0u);
    }
}

TEST(CurveSegment, LengthAndAlignment)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const struct
    {
        float time;
        bool align;
        uint32_t length;
    } kCases[] = {
        {0.05f, false, 5}, {0.05f, true, 4}, {0.06f, true, 8}, {0.07f, true, 8},
        {0.04f, true, 4},  {0.01f, true, 0}, {-1.0f, false, 0}, {nan, false, 0},
    };
    for (const auto& c : kCases) {
        double v = 0.0;
        CurveSegment s;
        s.setFromStage({c.time, 0.5f, 0.0f, kShapeLinear});
        const bool empty = s.prepare(v, c.align, 0.0, 100.0);
        EXPECT_EQ(s.remaining, c.length) << c.time << " " << c.align;
        EXPECT_EQ(empty, c.length == 0) << c.time;
        if (empty) {
            EXPECT_EQ(v, 0.5);
        }
    }
}

TEST(CurveSegment, ZeroLengthTakesTheClampedLevel)
{
    for (const auto& [level, target] : {std::pair{1.5f, 1.0}, {-3.0f, -1.0}, {0.25f, 0.25}}) {
        double v = 0.7;
        CurveSegment s;
        s.setFromStage({0.0f, level, 0.0f, kShapeExponential});
        EXPECT_TRUE(s.prepare(v, false, 0.7, 44100.0));
        EXPECT_EQ(v, target);
    }
}

TEST(CurveSegment, ShapesAsPrepared)
{
    const struct
    {
        EnvelopeStage stage;
        double start;
        uint8_t shape;
    } kCases[] = {
        {{0.1f, 0.5005f, 0.0f, kShapeLinear}, 0.5, kShapeHold},         // move below 0.001
        {{0.1f, 0.2009f, -5.0f, kShapeExponential}, 0.2, kShapeHold},
        {{0.1f, 1.0f, 0.00005f, kShapeExponential}, 0.0, kShapeLinear},  // flat curve
        {{0.1f, 1.0f, -2.0f, kShapeExp1}, 0.0, kShapeExp1},
        {{0.05f, 1.0f, 0.0f, kShapeStepped}, 0.0, kShapeLinear},  // short stepped stage
        {{0.2f, 1.0f, 0.0f, kShapeStepped}, 0.0, kShapeStepped},
        {{0.2f, 1.0f, 0.0f, 77}, 0.0, 77},
    };
    for (const auto& c : kCases) {
        const CurveSegment s = prepared(c.stage, c.start, 100.0);
        EXPECT_EQ(s.shape, c.shape) << c.stage.level << " " << int(c.stage.shape);
    }
    const CurveSegment linear = prepared({0.1f, 1.0f, 0.00005f, kShapeExponential}, 0.0, 100.0);
    EXPECT_EQ(linear.step, double(1.0f) / 10.0);
    EXPECT_EQ(prepared({0.2f, 1.0f, 0.0f, 77}, 0.0, 100.0).step, 0.0);
}

TEST(CurveSegment, PerTickAdvanceMovesOnlyExponentialAndLinear)
{
    for (uint8_t shape : {kShapeExp0, kShapeExp1, kShapeExp2, kShapeStepped, kShapeHold}) {
        double v = 0.0;
        CurveSegment s = prepared({0.2f, 1.0f, -2.0f, shape}, 0.3, 100.0, &v);
        uint32_t n = 7;
        EXPECT_TRUE(s.advance(n, v));
        EXPECT_EQ(v, 0.3) << int(shape);
        EXPECT_EQ(s.remaining, 13u);
    }
    // Values stay within 0..1 even on the way to a negative level.
    double v = 0.0;
    CurveSegment down = prepared({0.1f, -1.0f, 0.0f, kShapeLinear}, 0.5, 100.0, &v);
    uint32_t n = 8;
    down.advance(n, v);
    EXPECT_EQ(v, 0.0);
}

TEST(CurveSegment, FillWritesGroupsOfFour)
{
    double v = 0.0;
    CurveSegment s = prepared({0.08f, 1.0f, 0.0f, kShapeLinear}, 0.0, 100.0, &v);
    std::vector<float> out(10, -1.0f);
    s.fill(out.data(), 3, v);
    EXPECT_EQ(out[0], -1.0f);
    s.fill(out.data(), 10, v);
    for (int i = 0; i < 8; ++i)
        EXPECT_FLOAT_EQ(out[i], float(i) / 8.0f) << i;
    EXPECT_EQ(out[8], -1.0f);
    EXPECT_EQ(out[9], -1.0f);
    EXPECT_NEAR(v, 1.0, 1e-12);
    EXPECT_EQ(s.remaining, 0u);

    // Stepped: every value one of 16 levels, rising.
    CurveSegment stepped = prepared({0.2f, 1.0f, 0.0f, kShapeStepped}, 0.0, 100.0, &v);
    std::vector<float> levels(20);
    stepped.fill(levels.data(), levels.size(), v);
    std::set<float> distinct;
    for (size_t i = 0; i < levels.size(); ++i) {
        const float x = levels[i] * 15.0f;
        EXPECT_NEAR(x, std::round(x), 1e-4) << i;
        if (i > 0) {
            EXPECT_GE(levels[i], levels[i - 1]);
        }
        distinct.insert(levels[i]);
    }
    EXPECT_GT(distinct.size(), 10u);
    EXPECT_LE(distinct.size(), 16u);

    // Exponential: base + term x step^k from the current value.
    CurveSegment ex = prepared({0.4f, 0.9f, 3.0f, kShapeExponential}, 0.1, 100.0, &v);
    const double base = ex.base, term = ex.term, step = ex.step;
    std::vector<float> curve(40);
    ex.fill(curve.data(), curve.size(), v);
    for (int k = 0; k < 40; ++k)
        EXPECT_NEAR(curve[k], base + term * std::pow(step, k), 1e-6) << k;
}

TEST(CurveSegment, SettleFlagStopsBelowTheThreshold)
{
    for (uint8_t settle : {0, 1}) {
        double v = 0.0;
        CurveSegment s = prepared({1.0f, 0.0f, -10.0f, kShapeExponential}, 1.0, 1000.0, &v);
        s.settle = settle;
        double previous = v;
        bool done = false;
        int chunks = 0;
        while (!done && chunks < 70) {
            previous = v;
            done = s.advanceUnclamped(16, v);
            ++chunks;
        }
        if (settle) {
            EXPECT_TRUE(done);
            EXPECT_LT(std::fabs(v), CurveSegment::kSettled);
            EXPECT_GE(std::fabs(previous), CurveSegment::kSettled);
        } else {
            EXPECT_FALSE(done);
        }
    }
    // fill reports the same.
    double v = 0.0;
    CurveSegment s = prepared({0.1f, 0.0f, 0.0f, kShapeLinear}, 0.00002, 100.0, &v);
    s.settle = 1;
    float out[4];
    EXPECT_TRUE(s.fill(out, 4, v));
}
