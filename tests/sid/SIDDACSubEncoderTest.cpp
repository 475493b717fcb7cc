#include "DacTestSupport.h"

#include "sid/TesslowTables.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using dactest::Rig;
using Write = fixtures::DacWriterDouble::Write;

constexpr uint32_t kLength = 64;

// Every sample is `value`; rate 44100; one note marker at 0.
fixtures::DacSampleBuilder constantSample(int16_t value, uint32_t length = kLength)
{
    fixtures::DacSampleBuilder b;
    b.length(length).rate(44100).samples(length, [value](uint32_t) { return value; });
    b.marker(0, DacSampleRecord::kNoteMarker, 0);
    return b;
}

// s = 1, -1 and 0 through the channel: 0.5 x gain 2, -1, 0.
struct Level {
    const char* name;
    int16_t sample;
    float gain;
};
constexpr Level kPlus{"+1", 16384, 2.0f}, kMinus{"-1", -32768, 1.0f}, kZero{"0", 0, 1.0f};

std::vector<std::pair<uint8_t, uint8_t>> directWrites(const Rig& r)
{
    std::vector<std::pair<uint8_t, uint8_t>> w;
    for (const Write& x : r.writer.writes)
        if (x.direct)
            w.emplace_back(x.reg, x.written);
    return w;
}

void expectInvariants(const SID_DAC_sub& d, Rig& r, const std::string& where)
{
    for (uint8_t reg = 0; reg < 32; ++reg) {
        const bool owned = (d.ownedMask >> reg) & 1;
        if (!owned) {
            ASSERT_EQ(d.ownedBits[reg], 0) << where << " reg " << int(reg);
            ASSERT_EQ(d.ownedValue[reg], 0) << where << " reg " << int(reg);
        }
        ASSERT_EQ(d.ownedValue[reg] & ~d.ownedBits[reg], 0) << where << " reg " << int(reg);
        if (reg <= 24) {
            ASSERT_EQ(r.chipReg(reg), (d.savedValue[reg] & ~d.ownedBits[reg]) | d.ownedValue[reg])
                << where << " reg " << int(reg);
        }
    }
    ASSERT_EQ(d.ownedMask >> 25, 0u) << where;
}

TEST(SIDDACSubEncoderTest, Volume)
{
    const struct {
        Level in;
        float amplitude;
        uint8_t expected;
    } kCases[] = {{kPlus, 1.0f, 0x5F}, {kMinus, 1.0f, 0x50}, {kZero, 1.0f, 0x58}, {kMinus, 0.0f, 0x5F}};
    for (const auto& c : kCases) {
        Rig r;
        const auto sample = constantSample(c.in.sample);
        r.attach(sample);
        r.synth(24, 0x5A);
        r.set(SID_DAC_sub::kGain, c.in.gain);
        r.clearWrites();
        r.dac.noteOn(36, c.amplitude);
        EXPECT_EQ(r.chipReg(24), c.expected) << c.in.name << " amplitude " << c.amplitude;
        EXPECT_EQ(r.dac.ownedMask, uint64_t(1) << 24);
        EXPECT_EQ(r.dac.ownedBits[24], 0x0F);
        ASSERT_EQ(directWrites(r).size(), 1u);
    }
}

TEST(SIDDACSubEncoderTest, OneBitPulseWidthOne)
{
    const struct {
        Level in;
        uint8_t reg3, reg2;
    } kCases[] = {{kZero, 0xA0, 0x00}, {kPlus, 0xAF, 0xFF}, {kMinus, 0xA0, 0x00}};
    for (const auto& c : kCases) {
        Rig r;
        const auto sample = constantSample(c.in.sample);
        r.attach(sample);
        r.synth(3, 0xA5);
        r.synth(2, 0x33);
        r.set(SID_DAC_sub::kDacMode, 1);
        r.set(SID_DAC_sub::kGain, c.in.gain);
        r.clearWrites();
        r.dac.noteOn(36, 1.0f);
        const std::vector<std::pair<uint8_t, uint8_t>> expected = {{3, c.reg3}, {2, c.reg2}};
        EXPECT_EQ(directWrites(r), expected) << c.in.name;
    }
}

TEST(SIDDACSubEncoderTest, OneBitTargets)
{
    // target -> register, bits
    const struct {
        int target;
        uint8_t reg, bits;
    } kCases[] = {{4, 10, 0x0F}, {5, 17, 0x0F}, {6, 23, 0x01}, {8, 23, 0x04}, {9, 24, 0x10}, {11, 24, 0x40}};
    for (const auto& c : kCases) {
        Rig r;
        const auto sample = constantSample(kPlus.sample);
        r.attach(sample);
        r.synth(c.reg, 0x80);
        r.set(SID_DAC_sub::kDacMode, 1);
        r.set(SID_DAC_sub::kOneBitTarget, float(c.target));
        r.set(SID_DAC_sub::kGain, 2.0f);
        r.dac.noteOn(36, 1.0f);
        EXPECT_EQ(r.dac.ownedMask, uint64_t(1) << c.reg) << "target " << c.target;
        EXPECT_EQ(r.chipReg(c.reg), 0x80 | c.bits) << "target " << c.target;
    }
    // Past the list (and negative): nothing written, the position moves on.
    for (int target : {12, -1, 1000}) {
        Rig r;
        const auto sample = constantSample(kPlus.sample);
        r.attach(sample);
        r.set(SID_DAC_sub::kDacMode, 1);
        r.set(SID_DAC_sub::kOneBitTarget, float(target));
        r.clearWrites();
        r.dac.noteOn(36, 1.0f);
        EXPECT_TRUE(r.writer.writes.empty()) << "target " << target;
        EXPECT_EQ(r.dac.playPos, 1u) << "target " << target;
    }
}

TEST(SIDDACSubEncoderTest, TesslowSetUpOncePerRun)
{
    Rig r;
    const auto sample = constantSample(kZero.sample, 4);
    r.attach(sample);
    r.set(SID_DAC_sub::kDacMode, 2);
    r.set(SID_DAC_sub::kLoopMode, SID_DAC_sub::kRegion);
    r.clearWrites();
    r.dac.noteOn(36, 1.0f);

    std::vector<std::pair<uint8_t, uint8_t>> setUp;
    for (uint8_t k = 0; k < 3; ++k) {
        const uint8_t v[7] = {0x00, 0x00, 0x00, 0x08, 0x49, 0x0F, 0xFF};
        for (uint8_t i = 0; i < 7; ++i)
            setUp.emplace_back(uint8_t(7 * k + i), v[i]);
    }
    setUp.insert(setUp.end(), {{21, 0xFF}, {22, 0xFF}, {23, 0x03}, {24, kTesslowLevelTable[2048]}});
    EXPECT_EQ(directWrites(r), setUp);

    r.clearWrites();
    r.dac.renderBlock(dactest::kTicksPerSecond);
    EXPECT_EQ(directWrites(r), (std::vector<std::pair<uint8_t, uint8_t>>{{24, kTesslowLevelTable[2048]}}));

    // Another mode in between: set up again.
    r.set(SID_DAC_sub::kDacMode, 0);
    r.dac.renderBlock(dactest::kTicksPerSecond);
    r.set(SID_DAC_sub::kDacMode, 2);
    r.clearWrites();
    r.dac.renderBlock(dactest::kTicksPerSecond);
    EXPECT_EQ(directWrites(r).size(), 25u);

    // Playback ends (region of 4 samples): everything restored, and the next firing sets up again.
    r.dac.renderBlock(dactest::kTicksPerSecond);
    EXPECT_EQ(r.dac.ownedMask, 0u);
    EXPECT_FALSE(r.dac.voicesPrepared);
    r.clearWrites();
    r.dac.renderBlock(dactest::kTicksPerSecond);
    EXPECT_EQ(directWrites(r).size(), 25u + 25u);  // set up, then released at once
    EXPECT_EQ(r.dac.ownedMask, 0u);
}

TEST(SIDDACSubEncoderTest, TesslowLevelIndex)
{
    for (bool linear : {false, true}) {
        const auto& table = linear ? kTesslowLevelTableLinear : kTesslowLevelTable;
        const struct {
            Level in;
            size_t index;
        } kCases[] = {{kMinus, 0}, {kPlus, 4095}, {kZero, 2048}};
        for (const auto& c : kCases) {
            Rig r;
            const auto sample = constantSample(c.in.sample);
            r.attach(sample);
            r.dac.setLinearModelTable(linear);
            r.set(SID_DAC_sub::kDacMode, 2);
            r.set(SID_DAC_sub::kGain, c.in.gain);
            r.dac.noteOn(36, 1.0f);
            EXPECT_EQ(r.chipReg(24), table[c.index]) << c.in.name << (linear ? " linear" : "");
        }
    }
}

TEST(SIDDACSubEncoderTest, KvrbTakesOnlyItsVoicesFrequencyAndControl)
{
    Rig r;
    const auto sample = constantSample(kPlus.sample);
    r.attach(sample);
    r.synth(13, 0xF0);  // voice 2 sustains while gated
    r.set(SID_DAC_sub::kDacMode, 0);
    r.dac.noteOn(36, 1.0f);
    ASSERT_EQ(r.dac.ownedMask, uint64_t(1) << 24);
    r.set(SID_DAC_sub::kDacMode, 3);
    r.set(SID_DAC_sub::kKvrbChannel, 1);
    r.set(SID_DAC_sub::kGain, 2.0f);
    r.dac.noteOn(36, 1.0f);
    EXPECT_EQ(r.dac.ownedMask, (uint64_t(1) << 8) | (uint64_t(1) << 11));
    EXPECT_EQ(r.chipReg(11), 0x09);
    EXPECT_EQ(r.chipReg(8), 0xFF);  // s = 1: 128 + 128, cut to 255
    r.run(5000);
    r.dac.noteOff();
    r.run(400);
    bool sawReleasedTest = false;
    for (const Write& w : r.writer.writes)
        if (w.direct && w.reg == 11 && w.written == 0x08)
            sawReleasedTest = true;
    EXPECT_TRUE(sawReleasedTest);
    for (const Write& w : r.writer.writes) {
        if (w.direct) {
            EXPECT_TRUE(w.reg == 8 || w.reg == 11 || w.reg == 24) << "reg " << int(w.reg);
        }
    }
}

TEST(SIDDACSubEncoderTest, KvrbChannelOutsideTheListIsClamped)
{
    for (const auto& [value, voice] : {std::pair{-4.0f, 0}, std::pair{9.0f, 2}}) {
        Rig r;
        const auto sample = constantSample(kZero.sample);
        r.attach(sample);
        r.set(SID_DAC_sub::kDacMode, 3);
        r.set(SID_DAC_sub::kKvrbChannel, value);
        r.dac.noteOn(36, 1.0f);
        EXPECT_EQ(r.dac.ownedMask, (uint64_t(1) << (7 * voice + 1)) | (uint64_t(1) << (7 * voice + 4)));
        EXPECT_EQ(r.chipReg(uint8_t(7 * voice + 1)), 0x80);
    }
}

TEST(SIDDACSubEncoderTest, ModesFourFiveAndBeyondWriteNothing)
{
    for (float mode : {4.0f, 5.0f, 6.0f, -1.0f}) {
        Rig r;
        const auto sample = constantSample(kPlus.sample);
        r.attach(sample);
        r.set(SID_DAC_sub::kDacMode, mode);
        r.clearWrites();
        r.dac.noteOn(36, 1.0f);
        for (int i = 0; i < 10; ++i)
            r.dac.renderBlock(dactest::kTicksPerSecond);
        EXPECT_TRUE(r.writer.writes.empty()) << "mode " << mode;
        EXPECT_EQ(r.dac.playPos, 0u) << "mode " << mode;
        r.dac.noteOff();  // stops at once
        EXPECT_TRUE(r.scheduler.getEntries().empty());
    }
}

TEST(SIDDACSubEncoderTest, SynthWritesKeepTheHeldBitsAndReleaseRestoresTheLastValue)
{
    Rig r;
    const auto sample = constantSample(kZero.sample);
    r.attach(sample);
    r.synth(24, 0x1F);
    r.dac.noteOn(36, 1.0f);
    EXPECT_EQ(r.chipReg(24), 0x18);
    r.synth(24, 0x3C);  // only the high nibble is the synth's now
    EXPECT_EQ(r.chipReg(24), 0x38);
    r.synth(24, 0x47);
    r.synth(5, 0x12);  // not held: as written
    EXPECT_EQ(r.chipReg(5), 0x12);

    // Same values release nothing.
    r.clearWrites();
    r.set(SID_DAC_sub::kDacMode, 0);
    r.set(SID_DAC_sub::kOneBitTarget, 0);
    r.set(SID_DAC_sub::kKvrbChannel, 0);
    EXPECT_TRUE(r.writer.writes.empty());
    EXPECT_EQ(r.dac.ownedMask, uint64_t(1) << 24);

    r.dac.noteOff();
    EXPECT_EQ(r.chipReg(24), 0x47);
    EXPECT_EQ(r.dac.ownedMask, 0u);
}

TEST(SIDDACSubEncoderTest, RandomMixesKeepTheOwnershipInvariants)
{
    const unsigned seed = 20240611u;
    std::mt19937 rng(seed);
    Rig r;
    fixtures::DacSampleBuilder b;
    b.length(500).rate(22050).samples(500, [&](uint32_t) { return int16_t(rng()); });
    for (size_t slot = 0; slot < 4; ++slot)
        b.marker(slot, DacSampleRecord::kNoteMarker, uint32_t(100 * slot));
    r.attach(b);
    r.writer.recording = false;
    auto pick = [&](uint32_t n) { return uint32_t(rng() % n); };
    for (int step = 0; step < 20000; ++step) {
        switch (pick(9)) {
        case 0:
            r.set(SID_DAC_sub::kDacMode, float(pick(6)));
            break;
        case 1:
            r.set(SID_DAC_sub::kOneBitTarget, float(pick(14)) - 1.0f);
            break;
        case 2:
            r.set(SID_DAC_sub::kKvrbChannel, float(pick(3)));
            break;
        case 3:
            r.set(SID_DAC_sub::kLoopMode, float(pick(4)));
            break;
        case 4:
            r.dac.noteOn(36 + pick(8), 1.0f);
            break;
        case 5:
            r.dac.noteOff();
            break;
        case 6:
        case 7:
            r.synth(uint8_t(pick(25)), uint8_t(rng()));
            break;
        default:
            r.run(1 + pick(300));
            break;
        }
        expectInvariants(r.dac, r, "seed " + std::to_string(seed) + " step " + std::to_string(step));
        if (testing::Test::HasFatalFailure())
            return;
    }
    r.dac.releaseRegisters();
    for (uint8_t reg = 0; reg <= 24; ++reg)
        EXPECT_EQ(r.chipReg(reg), r.dac.savedValue[reg]) << "reg " << int(reg);
}

TEST(TesslowTablesTest, LinearTableRuns)
{
    const struct {
        uint16_t first, last;
        uint8_t value;
    } kRuns[] = {{0, 68, 0x9F},        {69, 204, 0x9E},     {205, 341, 0x9D},    {342, 477, 0x9C},
                 {478, 614, 0x9B},     {615, 750, 0x9A},    {751, 887, 0x99},    {888, 1023, 0x98},
                 {1024, 1058, 0x1F},   {1059, 1126, 0x1E},  {1127, 1194, 0x1D},  {1195, 1262, 0x1C},
                 {1263, 1331, 0x1B},   {1332, 1399, 0x1A},  {1400, 1467, 0x19},  {1468, 1535, 0x18},
                 {1536, 1604, 0x17},   {1605, 1672, 0x16},  {1673, 1740, 0x15},  {1741, 1809, 0x14},
                 {1810, 1877, 0x13},   {1878, 1945, 0x12},  {1946, 2007, 0x11},  {2008, 2008, 0x8F},
                 {2009, 2011, 0x8E},   {2012, 2013, 0x8D},  {2014, 2027, 0x10},  {2028, 2030, 0x87},
                 {2031, 2037, 0x10},   {2038, 2038, 0x84},  {2039, 2039, 0x83},  {2040, 2042, 0x10},
                 {2043, 2043, 0x82},   {2044, 2047, 0x10},  {2048, 2082, 0x00},  {2083, 2150, 0x01},
                 {2151, 2218, 0x02},   {2219, 2286, 0x03},  {2287, 2355, 0x04},  {2356, 2423, 0x05},
                 {2424, 2491, 0x06},   {2492, 2560, 0x07},  {2561, 2628, 0x08},  {2629, 2696, 0x09},
                 {2697, 2764, 0x0A},   {2765, 2833, 0x0B},  {2834, 2901, 0x0C},  {2902, 2969, 0x0D},
                 {2970, 3037, 0x0E},   {3038, 4095, 0x0F}};
    size_t next = 0;
    for (const auto& run : kRuns) {
        ASSERT_EQ(run.first, next);
        for (size_t i = run.first; i <= run.last; ++i)
            ASSERT_EQ(kTesslowLevelTableLinear[i], run.value) << "index " << i;
        next = run.last + 1u;
    }
    EXPECT_EQ(next, 4096u);
}

TEST(TesslowTablesTest, MeasuredTableFixedRowsAndRisingVolumeSteps)
{
    const struct {
        uint16_t first, last;
        uint8_t value;
    } kRows[] = {{0, 68, 0x9F},     {69, 204, 0x9E},   {205, 341, 0x9D},   {342, 477, 0x9C},
                 {478, 614, 0x9B},  {615, 721, 0x9A},  {722, 722, 0xDA},   {723, 723, 0xBC},
                 {724, 724, 0xFC},  {725, 725, 0xBC},  {2048, 2048, 0x00}, {3304, 3373, 0x2E},
                 {3374, 4095, 0x2F}};
    for (const auto& row : kRows)
        for (size_t i = row.first; i <= row.last; ++i)
            ASSERT_EQ(kTesslowLevelTable[i], row.value) << "index " << i;

    // Outside the mixed rows: low-pass with voice 3 off (falling volume) below the middle,
    // band-pass with voice 3 on (rising volume) above it.
    auto signedLevel = [](uint8_t v) { return (v & 0xF0) == 0x90 ? -int(v & 15) : int(v & 15); };
    int previous = -15;
    for (size_t i = 0; i < 4096; ++i) {
        if (i >= 722 && i <= 725)
            continue;
        const uint8_t v = kTesslowLevelTable[i];
        ASSERT_TRUE((v & 0xF0) == 0x90 || (v & 0xF0) == 0x20 || v == 0x00) << "index " << i;
        ASSERT_GE(signedLevel(v), previous) << "index " << i;
        previous = signedLevel(v);
    }
}

}  // namespace
