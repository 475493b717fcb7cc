// Block render: DC table, output stage, voice mix, render paths and block splitting.

#include "SIDEmuTestSupport.h"

#include "WaveReference.h"
#include "WaveTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>

using sidtest::makeChip;
using sidtest::render;
using sidtest::renderInto;
using sidtest::write;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

int32_t fixedPoint(float y) { return int32_t(std::floor(double(y) * 1048576.0 + 0.5)); }

TEST(SIDEmuRender, DefaultDcTableFollowsItsFormula)
{
    EXPECT_NEAR(kDefaultDcTable[56], 4.0153694, 1e-6);
    for (int i = 0; i < 144; ++i) {
        double want;
        if (i < 128) {
            const int mode = i & 7, routing = (i >> 3) & 7, off = i >> 6;
            int k = __builtin_popcount(unsigned(routing)) + (off && !(routing & 4) ? 1 : 0);
            want = 4.0355539 - 0.0053997 * (mode & 1) + 0.0046 * ((mode >> 1) & 1) +
                   0.0055003 * ((mode >> 2) & 1) - 0.0067281723 * k;
        } else {
            want = 0.0067281723 * __builtin_popcount(unsigned(i - 128) & 7);
        }
        EXPECT_NEAR(kDefaultDcTable[size_t(i)], want, 2e-6) << i;
    }
}

TEST(SIDEmuRender, ZeroCyclesAddNothing)
{
    auto c = makeChip();
    write(*c, {{24, 0x0F}, {4, 0x21}, {1, 0x10}});
    std::vector<int32_t> out(8, 12345);
    int32_t* channels[1] = {out.data()};
    c->render(channels, 0);
    EXPECT_EQ(out, std::vector<int32_t>(8, 12345));
}

TEST(SIDEmuRender, OutputChannelChoosesTheBuffer)
{
    auto c = makeChip();
    c->setOutputChannel(1);
    std::vector<int32_t> a(64, 0), b(64, 0);
    int32_t* channels[2] = {a.data(), b.data()};
    c->render(channels, 64);
    EXPECT_EQ(a, std::vector<int32_t>(64, 0));
    EXPECT_NE(b, std::vector<int32_t>(64, 0));
}

TEST(SIDEmuRender, ChipsAddIntoOneBuffer)
{
    auto setUp = [](SIDEmu& c, int variant) {
        write(c, {{24, uint8_t(0x1F - variant)}, {23, 0x01}, {22, 40}, {5, 0x11}, {6, 0xA9}, {0, 0x11},
                  {1, uint8_t(0x20 + variant)}, {4, uint8_t(variant ? 0x41 : 0x21)}, {3, 0x08}});
    };
    auto a1 = makeChip(), b1 = makeChip(), a2 = makeChip(), b2 = makeChip();
    setUp(*a1, 0);
    setUp(*a2, 0);
    setUp(*b1, 1);
    setUp(*b2, 1);
    const std::vector<int32_t> ra = render(*a1, 5000), rb = render(*b1, 5000);
    std::vector<int32_t> both(5000, 0);
    for (uint64_t at = 0; at < 5000; at += 250) {
        renderInto(*a2, both, 250, 250, at);
        renderInto(*b2, both, 250, 250, at);
    }
    for (size_t i = 0; i < both.size(); ++i)
        ASSERT_EQ(int64_t(both[i]), int64_t(ra[i]) + rb[i]) << i;

    // Sums past the 32-bit range saturate.
    auto c = makeChip();
    write(*c, {{24, 0x0F}});
    std::vector<int32_t> edge = {INT32_MAX, INT32_MAX - 10, INT32_MIN, 0};
    int32_t* channels[1] = {edge.data()};
    c->render(channels, 4);
    EXPECT_EQ(edge[0], INT32_MAX);
    EXPECT_EQ(edge[1], INT32_MAX);
    EXPECT_GT(edge[2], INT32_MIN);
}

TEST(SIDEmuRender, VolumeMovesTheSilentLevel)
{
    for (bool digiMute : {false, true}) {
        auto loud = makeChip(), quiet = makeChip();
        loud->setParameter(SIDParam::kDigiMute, digiMute ? 1.0f : 0.0f);
        quiet->setParameter(SIDParam::kDigiMute, digiMute ? 1.0f : 0.0f);
        write(*loud, {{24, 0x0F}});
        write(*quiet, {{24, 0x00}});
        const std::vector<int32_t> l = render(*loud, 1000), q = render(*quiet, 1000);
        // The built-in profile's volume DC bias is most of the step.
        const double step =
            digiMute ? 0.0 : (double(kDefaultDcTable[0]) - kDefaultDcTable[56] - kBuiltInVolumeDcBias) * 1048576.0;
        for (size_t i = 0; i < l.size(); ++i) {
            ASSERT_NEAR(l[i] - q[i], step, 1.5) << i;
            ASSERT_EQ(l[i] - q[i], l[0] - q[0]) << i;
        }
        if (!digiMute) {
            EXPECT_NEAR(step, 414381, 1);
            EXPECT_EQ(q[0], fixedPoint(kDefaultDcTable[56] + kBuiltInVolumeDcBias));  // volume 0 leaves the DC level
        }
    }
}

// Output of a chip with voice 1 playing a sawtooth, set up by `adjust`.
std::vector<int32_t> voiceOneOutput(const std::function<void(SIDEmu&)>& adjust, bool sounding = true)
{
    auto c = makeChip();
    c->extensionsEnabled = 1;
    c->setParameter(SIDParam::kAdsrBehavior, 0.0f);
    write(*c, {{24, 0x1F}, {22, 60}, {5, 0x00}, {6, 0xF0}, {0, 0x00}, {1, 0x30}});
    adjust(*c);
    if (sounding)
        write(*c, {{4, 0x21}});
    return render(*c, 3000);
}

TEST(SIDEmuRender, MutedAndSwitchedOffVoices)
{
    const auto silent = voiceOneOutput([](SIDEmu&) {}, false);
    const auto direct = voiceOneOutput([](SIDEmu&) {});
    const auto routed = voiceOneOutput([](SIDEmu& c) { write(c, {{23, 0x01}}); });
    const auto routedSilent = voiceOneOutput([](SIDEmu& c) { write(c, {{23, 0x01}}); }, false);
    ASSERT_NE(direct, silent);
    ASSERT_NE(routed, routedSilent);

    // A muted voice is absent from both paths.
    EXPECT_EQ(voiceOneOutput([](SIDEmu& c) { c.setParameter(SIDParam::kMute0, 1.0f); }), silent);
    EXPECT_EQ(voiceOneOutput([](SIDEmu& c) {
                  c.setParameter(SIDParam::kMute0, 1.0f);
                  write(c, {{23, 0x01}});
              }),
              routedSilent);
    // A voice switched off still sounds through the filter.
    EXPECT_EQ(voiceOneOutput([](SIDEmu& c) { write(c, {{27, 0x01}}); }), silent);
    EXPECT_EQ(voiceOneOutput([](SIDEmu& c) { write(c, {{27, 0x01}, {23, 0x01}}); }), routed);
    // Level 0 silences it; the other voices' mutes do not touch it.
    EXPECT_EQ(voiceOneOutput([](SIDEmu& c) { write(c, {{29, 0xFF}}); }), silent);
    EXPECT_EQ(voiceOneOutput([](SIDEmu& c) {
                  c.setParameter(SIDParam::kMute0 + 1, 1.0f);
                  c.setParameter(SIDParam::kMute0 + 2, 1.0f);
              }),
              direct);
}

// The knee of the clipping curve, written out for the check.
float kneeOf(float y, float ceiling, float level)
{
    y = std::min(y, ceiling);
    if (y >= level + 0.1f)
        return y;
    const float x = y - level;
    if (x < -0.1f)
        return level;
    const float t = x - 0.1f;
    return (2.5f * t + 1.0f) * t + 0.1f + level;
}

TEST(SIDEmuRender, ClippingKnee)
{
    for (float clipping : {1.0f, 0.0f}) {
        auto c = makeChip();
        c->setParameter(SIDParam::kVolumeDcBias, 1.0f + kBuiltInVolumeDcBias);  // 1.0 below the built-in level
        c->setParameter(SIDParam::kClipping, clipping);
        const float d = c->getOutputDcLevel();
        ASSERT_NEAR(d, 3.0153694f, 1e-6f);
        const float want = clipping > 0 ? kneeOf(d, 7.29f, 3.1f) : d;
        if (clipping > 0) {
            EXPECT_NEAR(want, 3.10059f, 1e-5f);
        }
        const auto out = render(*c, 100);
        for (int32_t v : out)
            ASSERT_EQ(v, fixedPoint(want)) << clipping;
    }
}

TEST(SIDEmuRender, VectorAndScalarOutputAgree)
{
    // A loud resonant filter swings the output across the knee and past the ceiling; blocks of
    // one cycle run the per-cycle code only, one long block mostly the four-at-a-time code.
    const auto setUp = [](SIDEmu& c) {
        c.setParameter(SIDParam::kFilterGain, 1.0f);
        write(c, {{24, 0x3F}, {23, 0xF7}, {22, 20}, {5, 0x00}, {6, 0xF0}, {12, 0x00}, {13, 0xF0},
                  {19, 0x00}, {20, 0xF0}, {1, 0x08}, {8, 0x0B}, {15, 0x11}, {4, 0x21}, {11, 0x21},
                  {18, 0x41}, {17, 0x04}});
    };
    // The same on a measured profile, whose mixer gains are not 1.
    const auto db = sidtest::loadDatabase({fixtures::syntheticChip("m", 5, false)});
    auto measured = [&](uint64_t n) {
        auto c = makeChip(n);
        c->useDatabase(*db);
        c->setParameter(SIDParam::kModel, 0.0f);
        c->extensionsEnabled = 1;
        setUp(*c);
        write(*c, {{23, 0xF3}, {29, 0x40}, {31, 0x11}});  // levels that are not powers of two
        return c;
    };
    ASSERT_NE(db->chipInfoAt(0).mixerGains[3], 1.0f);
    EXPECT_EQ(render(*measured(1), 8000, 1), render(*measured(8192), 8000, 8000));

    auto one = makeChip(1), whole = makeChip(8192);
    setUp(*one);
    setUp(*whole);
    const auto a = render(*one, 8000, 1), b = render(*whole, 8000, 8000);
    ASSERT_EQ(a, b);
    const int32_t ceiling = fixedPoint(7.29f), flat = fixedPoint(3.1f);
    EXPECT_GT(std::count(b.begin(), b.end(), ceiling), 10);
    EXPECT_GT(std::count(b.begin(), b.end(), flat), 10);
    const int32_t kneeTop = fixedPoint(3.2f);
    EXPECT_GT(std::count_if(b.begin(), b.end(), [&](int32_t v) { return v > flat && v < kneeTop; }), 10);
}

// ---------------------------------------------------------------------------------------------
// Render paths

// Reference of the stepped-phase path: the three accumulators stepped together (test, saw+pulse
// quirk, hard sync on the source's rising bit 23 before its own sync), then the buffered
// reference renderer of each voice.
struct PhasePathReference {
    ref::Osc osc[3];
    uint32_t control[3] = {};
    uint8_t quirk[3] = {}, delayed[3] = {};
    std::vector<uint16_t> tops[3];
    std::vector<uint32_t> out[3];

    explicit PhasePathReference(const SIDEmu& chip)
    {
        for (size_t v = 0; v < 3; ++v) {
            osc[v] = wavetest::toRef(chip.voice(v));
            control[v] = chip.voice(v).control;
            quirk[v] = chip.voice(v).sawPulseQuirk;
            delayed[v] = chip.voice(v).delayedOutput;
        }
    }

    static size_t sourceOf(size_t v) { return (v + 2) % 3; }

    void run(uint64_t n)
    {
        for (size_t v = 0; v < 3; ++v) {
            tops[v].assign(n + 4, 0);
            tops[v][2] = uint16_t((osc[v].accumulatorPrev >> 12) & 0xFFF);
            tops[v][3] = uint16_t((osc[v].accumulator >> 12) & 0xFFF);
        }
        for (uint64_t i = 0; i < n; ++i) {
            uint32_t next[3], stepped[3];
            for (size_t v = 0; v < 3; ++v) {
                uint32_t a = (control[v] & 8) ? 0 : (osc[v].accumulator + osc[v].frequency) & 0xFFFFFF;
                if (quirk[v] && (control[v] >> 4) == 6 && a < 0x821000)
                    a &= 0x7FFFFF;
                stepped[v] = next[v] = a;
            }
            for (size_t v = 0; v < 3; ++v) {
                const size_t s = sourceOf(v);
                const bool rose = (stepped[s] & 0x800000) && !(osc[s].accumulator & 0x800000);
                if ((control[v] & 2) && rose)
                    next[v] = 0;
            }
            for (size_t v = 0; v < 3; ++v) {
                osc[v].accumulatorPrev2 = osc[v].accumulatorPrev;
                osc[v].accumulatorPrev = osc[v].accumulator;
                osc[v].accumulator = next[v];
                tops[v][4 + i] = uint16_t(next[v] >> 12);
            }
        }
        for (size_t v = 0; v < 3; ++v) {
            const uint32_t nibble = control[v] >> 4;
            const bool ring = control[v] & 4, test = control[v] & 8;
            const unsigned index = nibble + 16 * test + 32 * delayed[v] + 64 * ring;
            out[v].assign(n, 0);
            const uint16_t* src = tops[sourceOf(v)].data() + 4;
            ref::renderBuffered(osc[v], index, out[v].data(), n, tops[v].data() + 4, src);
            osc[v].testBit = test;
            const bool sourceMsb = (src[n - 1] >> 11) & 1;
            const bool msb = (osc[v].accumulator >> 23) & 1;
            const bool fold = ring ? msb == sourceMsb : msb;
            const uint32_t top = (osc[v].accumulator >> 12) & 0xFFF;
            osc[v].nextWaveIndex = !(nibble & 2) && fold ? top ^ 0x17FF : top;
        }
    }
};

// Random register settings for a voice that takes its source through sync and/or ring.
void randomVoice(std::mt19937_64& rng, SIDEmu& c, size_t v, bool sync, bool ring)
{
    std::uniform_int_distribution<int> byte(0, 255), wave(1, 15);
    const uint8_t base = uint8_t(7 * v);
    uint8_t control = uint8_t(wave(rng) << 4);
    if (sync)
        control |= 2;
    if (ring)
        control |= 4;
    if (byte(rng) < 20)
        control |= 8;
    write(c, {{base, uint8_t(byte(rng))}, {uint16_t(base + 1), uint8_t(byte(rng) >> (byte(rng) & 3))},
              {uint16_t(base + 2), uint8_t(byte(rng))}, {uint16_t(base + 3), uint8_t(byte(rng))},
              {uint16_t(base + 4), control}});
}

// Two or three voices with a source, or one ring voice whose source plays waveform 6.
void checkPhasePath(SIDEmu& c, std::mt19937_64& rng, const char* what)
{
    PhasePathReference reference(c);
    std::uniform_int_distribution<uint64_t> length(1, 300);
    for (int block = 0; block < 12; ++block) {
        const uint64_t n = length(rng);
        c.renderOscillators(n);
        reference.run(n);
        for (size_t v = 0; v < 3; ++v) {
            const SIDVoice& s = c.voice(v);
            const std::vector<uint32_t> got(s.outputBuffer, s.outputBuffer + n);
            ASSERT_EQ(got, reference.out[v]) << what << " voice " << v << " block " << block;
            const std::vector<uint16_t> tops(s.accumulatorBuffer + 2, s.accumulatorBuffer + 4 + n);
            ASSERT_EQ(tops, std::vector<uint16_t>(reference.tops[v].begin() + 2, reference.tops[v].end()))
                << what << " voice " << v;
            ASSERT_EQ(s.accumulator, reference.osc[v].accumulator);
            ASSERT_EQ(s.accumulatorPrev, reference.osc[v].accumulatorPrev);
            ASSERT_EQ(s.accumulatorPrev2, reference.osc[v].accumulatorPrev2);
            ASSERT_EQ(s.nextWaveIndex, reference.osc[v].nextWaveIndex);
        }
    }
}

TEST(SIDEmuRender, SteppedPhasePathMatchesTheReference)
{
    // Profile 0: table model with both quirk bytes set (quirked, delayed output); profile 1:
    // measured model (quirked, direct output). Without a database: delayed output, no quirk.
    std::vector<fixtures::ChipDescription> chips = {fixtures::syntheticChip("q", 1, true),
                                                    fixtures::syntheticChip("m", 2, false)};
    chips[0].without("Conf").leaf("Conf", fixtures::confBytes(1, 1, 0, 4));
    const auto db = sidtest::loadDatabase(chips);

    for (uint64_t seed = 1; seed <= 90; ++seed) {
        std::mt19937_64 rng(seed);
        SCOPED_TRACE(testing::Message() << "seed " << seed);
        auto c = makeChip(300);
        const int profile = int(seed % 3);
        if (profile > 0) {
            c->useDatabase(*db);
            c->setParameter(SIDParam::kModel, float(profile - 1));
        }
        int shape = int((seed / 3) % 3);
        if (shape == 2 && !c->isLinearModel())
            shape = 1;  // a source on waveform 6 takes this path only on the linear model
        if (shape == 0) {  // two sync voices
            randomVoice(rng, *c, 0, true, rng() & 1);
            randomVoice(rng, *c, 1, true, false);
            randomVoice(rng, *c, 2, false, false);
        } else if (shape == 1) {  // all three use a source
            for (size_t v = 0; v < 3; ++v)
                randomVoice(rng, *c, v, rng() & 1, true);
        } else {  // one ring voice whose source is on waveform 6
            randomVoice(rng, *c, 1, false, true);
            randomVoice(rng, *c, 0, false, false);
            randomVoice(rng, *c, 2, false, false);
            write(*c, {{4, uint8_t(0x60 | (rng() & 8))}});
        }
        checkPhasePath(*c, rng, shape == 0 ? "two sync" : shape == 1 ? "three" : "ring on 6");
    }
}

TEST(SIDEmuRender, PathChoice)
{
    // The stepped-phase path is the only one that writes accumulator tops.
    auto topsWritten = [](std::initializer_list<std::pair<uint16_t, uint8_t>> regs) {
        auto c = makeChip(64);
        write(*c, {{1, 0x40}, {8, 0x41}, {15, 0x42}});
        write(*c, regs);
        c->renderOscillators(64);
        return c->voice(0).accumulatorBuffer[4 + 63] != 0;
    };
    EXPECT_FALSE(topsWritten({{4, 0x10}, {11, 0x20}, {18, 0x40}}));
    EXPECT_FALSE(topsWritten({{4, 0x14}, {18, 0x20}}));  // one ring voice, source on saw
    EXPECT_TRUE(topsWritten({{4, 0x14}, {18, 0x60}}));   // source on saw+pulse, linear model
    EXPECT_TRUE(topsWritten({{4, 0x12}, {11, 0x22}}));   // two sync voices
    EXPECT_FALSE(topsWritten({{11, 0x22}, {4, 0x20}}));  // one sync voice, source on saw
    EXPECT_TRUE(topsWritten({{11, 0x22}, {4, 0x60}}));   // its source on saw+pulse
    EXPECT_FALSE(topsWritten({{4, 0x60}}));              // waveform 6 without a dependent voice
}

// Whole-chip output with the render cut into random blocks equals one render of the lot.
void checkBlockSplitting(const std::function<void(SIDEmu&)>& setUp, const char* what)
{
    constexpr uint64_t kCycles = 20000;
    auto whole = makeChip(kCycles);
    setUp(*whole);
    const std::vector<int32_t> want = render(*whole, kCycles, kCycles);
    for (uint64_t seed = 1; seed <= 4; ++seed) {
        std::mt19937_64 rng(seed);
        std::uniform_int_distribution<uint64_t> length(1, 300);
        auto split = makeChip(300);
        setUp(*split);
        std::vector<int32_t> got(kCycles, 0);
        for (uint64_t at = 0; at < kCycles;) {
            const uint64_t n = std::min(length(rng), kCycles - at);
            renderInto(*split, got, n, n, at);
            at += n;
        }
        for (size_t i = 0; i < kCycles; ++i)
            ASSERT_EQ(got[i], want[i]) << what << " seed " << seed << " cycle " << i;
    }
}

TEST(SIDEmuRender, BlockSplittingChangesNothing)
{
    const auto voices = [](SIDEmu& c) {
        c.extensionsEnabled = 1;
        c.setParameter(SIDParam::kAdsrBehavior, 3.0f);
        write(c, {{24, 0x3F}, {23, 0x73}, {22, 30}, {5, 0x12}, {6, 0x8A}, {12, 0x31}, {13, 0xC4}, {19, 0x05},
                  {20, 0x6F}, {0, 0x45}, {1, 0x1D}, {7, 0x01}, {8, 0x0B}, {14, 0x77}, {15, 0x31}, {9, 0x00},
                  {10, 0x06}});
    };
    checkBlockSplitting(
        [&](SIDEmu& c) {
            voices(c);
            write(c, {{4, 0x11}, {11, 0x41}, {18, 0x81}});
        },
        "no source");
    checkBlockSplitting(
        [&](SIDEmu& c) {
            voices(c);
            write(c, {{4, 0x15}, {11, 0x21}, {18, 0x41}});
        },
        "one ring voice");
    checkBlockSplitting(
        [&](SIDEmu& c) {
            voices(c);
            write(c, {{4, 0x41}, {11, 0x23}, {18, 0x11}});
        },
        "one sync voice after its source");
    checkBlockSplitting(
        [&](SIDEmu& c) {
            voices(c);
            write(c, {{4, 0x13}, {11, 0x23}, {18, 0x61}});
        },
        "sync and ring voices");
    checkBlockSplitting(
        [&](SIDEmu& c) {
            write(c, {{24, 0x1F}, {4, 0x11}, {11, 0x21}, {18, 0x41}, {1, 0x20}, {8, 0x31}});
            c.setParameter(SIDParam::kOscLeak, 1.0f);
        },
        "cycle-exact envelopes with leak");
}

TEST(SIDEmuRender, LongerThanTheInitBlock)
{
    const auto setUp = [](SIDEmu& c) {
        write(c, {{24, 0x1F}, {23, 0x01}, {22, 50}, {6, 0xF0}, {1, 0x20}, {4, 0x21}, {13, 0xF0}, {8, 0x07},
                  {11, 0x13}});
    };
    auto small = makeChip(64), large = makeChip(4096);
    setUp(*small);
    setUp(*large);
    EXPECT_EQ(render(*small, 4000, 4000), render(*large, 4000, 4000));
}

TEST(SIDEmuRender, RenderBeforeInitDoesNothing)
{
    SIDEmu c;
    std::vector<int32_t> out(16, 7);
    int32_t* channels[1] = {out.data()};
    c.render(channels, 16);
    EXPECT_EQ(out, std::vector<int32_t>(16, 7));
}

// ---------------------------------------------------------------------------------------------
// Measured model and bad profiles

TEST(SIDEmuRender, MeasuredChipNeverClipsAndStepsItsFilterInput)
{
    const auto db = sidtest::loadDatabase({fixtures::syntheticChip("m", 2, false)});
    const auto setUp = [&](SIDEmu& c, float clipping) {
        c.useDatabase(*db);
        c.setParameter(SIDParam::kModel, 0.0f);
        c.setParameter(SIDParam::kClipping, clipping);
        c.setParameter(SIDParam::kVolumeDcBias, 1.0f);
        write(c, {{24, 0x1F}, {23, 0x01}, {22, 80}, {6, 0xF0}, {1, 0x20}, {4, 0x21}});
    };
    auto on = makeChip(), off = makeChip();
    setUp(*on, 1.0f);
    setUp(*off, 0.0f);
    ASSERT_EQ(on->isLinearModel(), 0);
    const auto a = render(*on, 3000), b = render(*off, 3000);
    EXPECT_EQ(a, b);

    // A routing change moves the filter's input DC: the measured filter hears of the step.
    auto c = makeChip(64);
    setUp(*c, 1.0f);
    c->renderOscillators(64);
    c->renderEnvelopes(64);
    c->mixVoices(64);
    EXPECT_EQ(c->getMeasuredFilter().getPendingInputStep(), 0.0f);  // the model did not change
    write(*c, {{23, 0x03}});
    const SIDChipInfo& p = c->getProfile();
    const float scale = db->chipRecordAt(0).adjustinputgain * db->chipRecordAt(0).adjustoutputgain;
    const float before = -scale * (p.dcTable[128 + 1] * p.filterScale);
    const float after = -scale * (p.dcTable[128 + 3] * p.filterScale);
    c->mixVoices(64);
    EXPECT_EQ(c->getMeasuredFilter().getPendingInputStep(), after - before);
}

TEST(SIDEmuRender, NonFiniteProfileValuesAddNothing)
{
    fixtures::ChipDescription chip = fixtures::syntheticChip("nan", 3, true);
    chip.without("Ddcm").leaf("Ddcm", fixtures::floatBytes(std::vector<float>(144, kNaN)));
    std::vector<float> glbl(16, 0.5f);
    glbl[0] = kNaN;
    chip.filterLeaves.erase(chip.filterLeaves.begin(), chip.filterLeaves.end());
    chip.filterLeaf("Glbl", fixtures::floatBytes(glbl));
    const auto db = sidtest::loadDatabase({chip});
    auto c = makeChip();
    c->useDatabase(*db);
    c->setParameter(SIDParam::kModel, 0.0f);
    ASSERT_TRUE(std::isnan(c->getOutputDcLevel()));
    write(*c, {{24, 0x1F}, {23, 0x01}, {6, 0xF0}, {1, 0x20}, {4, 0x21}});
    std::vector<int32_t> out(1000, 99);
    renderInto(*c, out, 1000, 256);
    EXPECT_EQ(out, std::vector<int32_t>(1000, 99));
}

TEST(SIDEmuRender, HugeOutputsSaturate)
{
    // A profile whose DC level is far beyond the 32-bit range after scaling by 2^20.
    fixtures::ChipDescription chip = fixtures::syntheticChip("big", 4, true);
    chip.without("Ddcm").leaf("Ddcm", fixtures::floatBytes(std::vector<float>(144, 1e30f)));
    const auto db = sidtest::loadDatabase({chip});
    for (float bias : {0.0f, 1.0f}) {
        auto c = makeChip();
        c->useDatabase(*db);
        c->setParameter(SIDParam::kModel, 0.0f);
        c->setParameter(SIDParam::kClipping, 0.0f);
        c->setParameter(SIDParam::kVolumeDcBias, bias);
        write(*c, {{24, 0x0F}});
        std::vector<int32_t> out(37, 5);
        renderInto(*c, out, 37, 256);
        for (int32_t v : out)
            EXPECT_TRUE(v == INT32_MAX || v == INT32_MIN || v == 5) << v;
    }
}

}  // namespace
