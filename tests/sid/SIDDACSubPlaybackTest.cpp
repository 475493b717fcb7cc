#include "DacTestSupport.h"

#include "fixtures/Spectrum.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using dactest::kTicksPerSecond;
using dactest::Rig;

constexpr uint8_t kNote = DacSampleRecord::kNoteMarker;

// Note markers in slots 0..3 at 0, 100, 200, 300; 400 samples of i + 1.
fixtures::DacSampleBuilder fourRegions()
{
    fixtures::DacSampleBuilder b;
    b.length(400).rate(44100).samples(400, [](uint32_t i) { return i + 1; });
    for (size_t slot = 0; slot < 4; ++slot)
        b.marker(slot, kNote, uint32_t(100 * slot));
    return b;
}

// The fields a note sets, for before/after comparisons.
struct NoteState {
    uint32_t playPos, regionStart, regionEnd, loopEnd, sampleEnd;
    bool released;
    double timeRemainder;
    size_t timers;
    bool operator==(const NoteState&) const = default;
};
NoteState noteState(Rig& r)
{
    const SID_DAC_sub& d = r.dac;
    return {d.playPos, d.regionStart, d.regionEnd, d.loopEnd, d.sampleEnd, d.released, d.timeRemainder,
            r.scheduler.getEntries().size()};
}

// playPos before each of `n` further firings.
std::vector<uint32_t> positions(Rig& r, size_t n)
{
    std::vector<uint32_t> p;
    for (size_t i = 0; i < n; ++i) {
        p.push_back(r.dac.playPos);
        r.dac.renderBlock(kTicksPerSecond);
    }
    return p;
}

std::vector<uint32_t> range(uint32_t first, uint32_t last)
{
    std::vector<uint32_t> v;
    for (uint32_t i = first; i <= last; ++i)
        v.push_back(i);
    return v;
}

TEST(SIDDACSubPlaybackTest, SetSampleTakesTheFirstStartAndEndMarkers)
{
    Rig r;
    fixtures::DacSampleBuilder b;
    b.length(300).rate(22050);
    r.dac.setSample(b.get());
    EXPECT_EQ(r.dac.playPos, 0u);
    EXPECT_EQ(r.dac.regionStart, 0u);
    EXPECT_EQ(r.dac.sampleEnd, 300u);
    EXPECT_EQ(r.dac.regionEnd, 300u);
    EXPECT_EQ(r.dac.loopEnd, 300u);
    EXPECT_EQ(r.dac.getSampleRate(), 22050.0f);

    b.marker(5, DacSampleRecord::kStartMarker, 100).marker(7, DacSampleRecord::kStartMarker, 200);
    b.marker(9, DacSampleRecord::kEndMarker, 250).marker(10, DacSampleRecord::kEndMarker, 280);
    b.marker(0, kNote, 10).marker(1, kNote, 20).marker(2, 3, 30);
    r.dac.setSample(b.get());
    EXPECT_EQ(r.dac.playPos, 100u);
    EXPECT_EQ(r.dac.regionStart, 100u);
    EXPECT_EQ(r.dac.sampleEnd, 251u);
    EXPECT_EQ(r.dac.regionEnd, 251u);
    EXPECT_EQ(r.dac.loopEnd, 251u);
    EXPECT_EQ(r.dac.noteMarkerCount, 2);

    SID_DAC_sub none(nullptr, 0);
    EXPECT_EQ(none.getSampleRate(), 8000.0f);
}

TEST(SIDDACSubPlaybackTest, SetSampleKeepsEveryPositionInsideTheRecord)
{
    const uint32_t kMax = DacSampleRecord::kMaxSamples;
    const struct {
        const char* name;
        uint32_t length, start, end;  // start/end markers (~0u: none)
        uint32_t sampleLength, playPos, sampleEnd;
    } kCases[] = {
        {"huge length", 0xFFFFFFFFu, ~0u, ~0u, kMax, 0, kMax},
        {"markers past the length", 1000, 5000, 0xFFFFFFFFu, 1000, 1000, 1000},
        {"start after end", 1000, 600, 100, 1000, 600, 101},
        {"length 0", 0, ~0u, ~0u, 0, 0, 0},
    };
    for (const auto& c : kCases) {
        Rig r;
        fixtures::DacSampleBuilder b;
        b.length(c.length).rate(44100);
        if (c.start != ~0u)
            b.marker(0, DacSampleRecord::kStartMarker, c.start);
        if (c.end != ~0u)
            b.marker(1, DacSampleRecord::kEndMarker, c.end);
        r.attach(b);
        EXPECT_EQ(r.dac.getSampleLength(), c.sampleLength) << c.name;
        EXPECT_EQ(r.dac.playPos, c.playPos) << c.name;
        EXPECT_EQ(r.dac.sampleEnd, c.sampleEnd) << c.name;
        // Play through every loop mode; ASan sees any read past the record.
        for (float loop : {0.0f, 1.0f, 2.0f, 3.0f}) {
            r.set(SID_DAC_sub::kLoopMode, loop);
            r.dac.noteOn(36, 1.0f);
            r.dac.setSample(b.get());  // back to the markers' positions, next to the end
            for (int i = 0; i < 300; ++i)
                r.dac.renderBlock(kTicksPerSecond);
            EXPECT_LE(r.dac.playPos, r.dac.getSampleLength() + 1) << c.name;
        }
    }
}

TEST(SIDDACSubPlaybackTest, EmptyOrRatelessSamplesIgnoreNotes)
{
    for (const auto& [length, rate] : {std::pair{0u, 44100u}, std::pair{100u, 0u}}) {
        Rig r;
        fixtures::DacSampleBuilder b;
        b.length(length).rate(rate).marker(0, kNote, 0);
        r.attach(b);
        r.set(SID_DAC_sub::kLoopMode, 3);
        r.clearWrites();
        r.dac.noteOn(40, 1.0f);
        EXPECT_TRUE(r.writer.writes.empty()) << length << " " << rate;
        EXPECT_TRUE(r.scheduler.getEntries().empty());
    }
}

TEST(SIDDACSubPlaybackTest, NotesPickTheirRegions)
{
    const struct {
        uint32_t note, start, end;
    } kCases[] = {{36, 0, 100}, {40, 0, 100}, {44, 0, 100}, {37, 100, 200}, {39, 300, 400}, {42, 200, 300}};
    const auto b = fourRegions();
    for (const auto& c : kCases) {
        Rig r;
        r.attach(b);
        r.dac.noteOn(c.note, 1.0f);
        EXPECT_EQ(r.dac.regionStart, c.start) << "note " << c.note;
        EXPECT_EQ(r.dac.regionEnd, c.end) << "note " << c.note;
        EXPECT_EQ(r.dac.loopEnd, c.end) << "note " << c.note;
        // The first sample is rendered inside the call.
        EXPECT_EQ(r.dac.playPos, c.start + 1) << "note " << c.note;
        ASSERT_EQ(r.scheduler.getEntries().size(), 1u);
        EXPECT_EQ(r.scheduler.getEntries()[0].due, 22u);  // 985248 / 44100 = 22.3
        EXPECT_EQ(r.chipReg(24), 0x08);  // sample value ~0 in volume mode
    }
}

TEST(SIDDACSubPlaybackTest, IgnoredNotesLeaveEveryFieldAsItWas)
{
    auto b = fourRegions();
    Rig r;
    r.attach(b);
    r.dac.noteOn(37, 1.0f);
    r.dac.renderBlock(kTicksPerSecond);
    r.dac.noteOff();
    const NoteState before = noteState(r);
    r.clearWrites();
    r.dac.noteOn(35, 1.0f);  // below the offset
    r.dac.retrigger(0);
    EXPECT_EQ(noteState(r), before);

    // Note markers that the k, k - m, ... search never meets: slots 1 and 3 with m = 2 and an even k.
    fixtures::DacSampleBuilder odd;
    odd.length(400).rate(44100).marker(1, kNote, 100).marker(3, kNote, 300);
    r.dac.setSample(odd.get());
    const NoteState afterSetSample = noteState(r);
    r.dac.noteOn(36, 1.0f);
    EXPECT_EQ(noteState(r), afterSetSample);
    r.dac.noteOn(37, 1.0f);  // k = 1 meets slot 1
    EXPECT_EQ(r.dac.regionStart, 100u);

    fixtures::DacSampleBuilder plain;
    plain.length(400).rate(44100);
    r.dac.setSample(plain.get());
    r.dac.noteOff();
    const NoteState noMarkers = noteState(r);
    r.clearWrites();
    r.dac.noteOn(40, 1.0f);
    EXPECT_EQ(noteState(r), noMarkers);
    EXPECT_TRUE(r.writer.writes.empty());
}

TEST(SIDDACSubPlaybackTest, FullWaveRegionsByMarkerCount)
{
    const struct {
        int markers;  // note markers in slots 0.., positions 100, 500, 800
        uint32_t start, regionEnd, loopEnd;
    } kCases[] = {{0, 0, 1000, 1000}, {1, 100, 1000, 1000}, {2, 0, 101, 501}, {3, 100, 501, 801},
                  {4, 100, 501, 801}};
    for (const auto& c : kCases) {
        Rig r;
        fixtures::DacSampleBuilder b;
        b.length(1000).rate(44100);
        const uint32_t pos[] = {100, 500, 800, 900};
        for (int slot = 0; slot < 4; ++slot)
            b.marker(size_t(slot), slot < c.markers ? kNote : 0, pos[slot]);
        r.attach(b);
        r.set(SID_DAC_sub::kLoopMode, 3);
        r.dac.noteOn(60, 1.0f);
        EXPECT_EQ(r.dac.regionStart, c.start) << c.markers << " markers";
        EXPECT_EQ(r.dac.regionEnd, c.regionEnd) << c.markers << " markers";
        EXPECT_EQ(r.dac.loopEnd, c.loopEnd) << c.markers << " markers";
    }
}

TEST(SIDDACSubPlaybackTest, LoopModesEndOrWrapAsTheyShould)
{
    const auto b = fourRegions();
    {
        SCOPED_TRACE("Region: plays the region and its end sample, then lets go");
        Rig r;
        r.attach(b);
        r.set(SID_DAC_sub::kLoopMode, 0);
        r.dac.noteOn(36, 1.0f);
        EXPECT_EQ(positions(r, 100), range(1, 100));
        EXPECT_EQ(r.dac.ownedMask, 0u);
        EXPECT_EQ(positions(r, 3), (std::vector<uint32_t>{100, 100, 100}));
        EXPECT_EQ(r.dac.ownedMask, 0u);
    }
    {
        SCOPED_TRACE("Continue: on to the end of the sample");
        Rig r;
        r.attach(b);
        r.set(SID_DAC_sub::kLoopMode, 1);
        r.dac.noteOn(38, 1.0f);
        EXPECT_EQ(positions(r, 200), range(201, 400));
        EXPECT_EQ(r.dac.ownedMask, 0u);
        EXPECT_EQ(r.dac.playPos, 400u);
    }
    {
        SCOPED_TRACE("Loop: the end sample once per pass");
        Rig r;
        r.attach(b);
        r.set(SID_DAC_sub::kLoopMode, 2);
        r.dac.noteOn(37, 1.0f);
        auto expected = range(101, 200);
        const auto pass = range(100, 200);
        expected.insert(expected.end(), pass.begin(), pass.end());
        expected.insert(expected.end(), pass.begin(), pass.end());
        EXPECT_EQ(positions(r, expected.size()), expected);
        EXPECT_NE(r.dac.ownedMask, 0u);
    }
    {
        SCOPED_TRACE("FullWave: from positions[0], then looping positions[1] + 1 .. positions[2] + 1");
        Rig r;
        fixtures::DacSampleBuilder w;
        w.length(1000).rate(44100).marker(0, kNote, 100).marker(1, kNote, 500).marker(2, kNote, 800);
        r.attach(w);
        r.set(SID_DAC_sub::kLoopMode, 3);
        r.dac.noteOn(60, 1.0f);
        auto expected = range(101, 801);
        const auto pass = range(501, 801);
        expected.insert(expected.end(), pass.begin(), pass.end());
        expected.insert(expected.end(), pass.begin(), pass.end());
        EXPECT_EQ(positions(r, expected.size()), expected);
    }
    {
        SCOPED_TRACE("FullWave without note markers, with an end marker: ends there");
        Rig r;
        fixtures::DacSampleBuilder w;
        w.length(1000).rate(44100).marker(9, DacSampleRecord::kEndMarker, 600);
        r.attach(w);
        r.set(SID_DAC_sub::kLoopMode, 3);
        r.dac.noteOn(60, 1.0f);
        EXPECT_EQ(positions(r, 601), range(1, 601));
        EXPECT_EQ(r.dac.ownedMask, 0u);
        EXPECT_EQ(r.dac.playPos, 601u);
    }
}

// Registers the synth wrote before a note, to compare after the channel has let go.
void synthSetUp(Rig& r)
{
    for (uint8_t reg = 0; reg <= 24; ++reg)
        r.synth(reg, uint8_t(0x11 * (reg % 15) + 1));
    r.synth(12, 0x00);  // voice 2: fast attack, sustain 15, fast release, gate off
    r.synth(13, 0xF0);
    r.synth(11, 0x40);
    r.synth(5, 0x00);
    r.synth(6, 0xF0);
    r.synth(4, 0x40);
}

void expectRestored(Rig& r)
{
    EXPECT_EQ(r.dac.ownedMask, 0u);
    for (uint8_t reg = 0; reg <= 24; ++reg)
        EXPECT_EQ(r.chipReg(reg), r.dac.savedValue[reg]) << "reg " << int(reg);
}

TEST(SIDDACSubPlaybackTest, VolumeAndTesslowReleaseAtOnce)
{
    const auto b = fourRegions();
    for (float mode : {0.0f, 2.0f}) {
        Rig r;
        r.attach(b);
        synthSetUp(r);
        r.set(SID_DAC_sub::kDacMode, mode);
        r.dac.noteOn(36, 1.0f);
        r.run(1000);
        EXPECT_NE(r.dac.ownedMask, 0u);
        r.dac.noteOff();
        expectRestored(r);
        EXPECT_TRUE(r.scheduler.getEntries().empty()) << "mode " << mode;
        EXPECT_FALSE(r.dac.voicesPrepared);
    }
}

TEST(SIDDACSubPlaybackTest, KvrbAndOneBitVoiceTargetsPlayOnUntilTheVoiceIsSilent)
{
    const auto b = fourRegions();
    const struct {
        float mode, target, channel;
        uint8_t control;  // the watched voice's control register
    } kCases[] = {{3, 0, 1, 11}, {1, 1, 0, 11}, {1, 4, 0, 11}, {1, 6, 0, 4}};
    for (const auto& c : kCases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + " target " + std::to_string(c.target));
        Rig r;
        r.attach(b);
        synthSetUp(r);
        r.set(SID_DAC_sub::kDacMode, c.mode);
        r.set(SID_DAC_sub::kOneBitTarget, c.target);
        r.set(SID_DAC_sub::kKvrbChannel, c.channel);
        r.set(SID_DAC_sub::kLoopMode, 2);
        if (c.mode == 1)
            r.synth(c.control, 0x41);  // the synth's own note on the watched voice
        r.dac.noteOn(36, 1.0f);
        r.run(20000);
        const uint64_t voice = c.control / 7;
        ASSERT_TRUE(r.writer.chip().isVoiceSounding(voice));
        r.dac.noteOff();
        if (c.mode == 1)
            r.synth(c.control, 0x40);
        r.clearWrites();
        uint64_t ticks = 0;
        while (r.dac.ownedMask != 0 && ticks < 2000000) {
            r.run(100);
            ticks += 100;
        }
        EXPECT_GT(ticks, 1000u);  // played on after the release
        EXPECT_FALSE(r.writer.chip().isVoiceSounding(voice));
        EXPECT_EQ(r.querier.last.voice, voice);
        EXPECT_EQ(r.querier.last.sub, 3u);
        expectRestored(r);
        ASSERT_EQ(r.scheduler.getEntries().size(), 1u);
        EXPECT_GT(r.scheduler.getEntries()[0].due, uint64_t(1) << 62);  // stopped
        for (const auto& w : r.writer.writes) {
            if (w.reg == c.control) {
                EXPECT_EQ(w.written & 1, 0) << "gate after the release";
            }
        }
    }
}

TEST(SIDDACSubPlaybackTest, OneBitFilterSwitchTargetsStopAtOnce)
{
    const auto b = fourRegions();
    Rig r;
    r.attach(b);
    r.set(SID_DAC_sub::kDacMode, 1);
    r.set(SID_DAC_sub::kOneBitTarget, 10);
    r.dac.noteOn(36, 1.0f);
    r.dac.noteOff();
    EXPECT_TRUE(r.scheduler.getEntries().empty());
    EXPECT_EQ(r.dac.ownedMask, 0u);
}

TEST(SIDDACSubPlaybackTest, WithoutQuerierAReleasedKvrbNoteStopsAtTheNextFiring)
{
    const auto b = fourRegions();
    Rig r;
    r.dac.setActivityQuerier(nullptr);
    r.attach(b);
    r.set(SID_DAC_sub::kDacMode, 3);
    r.dac.noteOn(36, 1.0f);
    r.dac.noteOff();
    EXPECT_NE(r.dac.ownedMask, 0u);
    EXPECT_EQ(r.dac.renderBlock(kTicksPerSecond), SID_DAC_sub::kNever);
    EXPECT_EQ(r.dac.ownedMask, 0u);
}

// A scheduler rate that makes the period exactly `period` ticks with a step of 2^-15 s.
constexpr float kExactPitch = 32768.0f;

TEST(SIDDACSubPlaybackTest, TickCarryKeepsTheAverageExact)
{
    const auto b = fourRegions();
    Rig r;
    r.attach(b);
    r.set(SID_DAC_sub::kDacMode, 4);
    r.dac.setPitch(kExactPitch);
    const double rate = 2.5 * kExactPitch;
    std::vector<uint64_t> first;
    for (int i = 0; i < 4; ++i)
        first.push_back(r.dac.renderBlock(rate));
    EXPECT_EQ(first, (std::vector<uint64_t>{3, 2, 3, 2}));
    uint64_t sum = 10;
    for (int i = 4; i < 1000000; ++i)
        sum += r.dac.renderBlock(rate);
    EXPECT_NEAR(double(sum), 2500000.0, 1.0);

    // An irrational period does not drift either.
    r.dac.timeRemainder = 0.0;
    const double odd = std::sqrt(2.0) * 10.0;
    sum = 0;
    for (int i = 0; i < 100000; ++i)
        sum += r.dac.renderBlock(odd * kExactPitch);
    EXPECT_NEAR(double(sum), odd * 100000.0, 1.0);
}

TEST(SIDDACSubPlaybackTest, BurstRule)
{
    const struct {
        double period;
        double factor;
        std::vector<uint32_t> bursts;
    } kCases[] = {
        {65, 2.0, {2, 2, 2}},      {26, 5.0, {5, 5}},         {40, 3.5, {3, 4, 3, 4}},
        {100, 1.5, {1, 2, 1, 2}},  {90, 1.5, {1, 2, 1, 2}},   {110, 1.25, {1, 1, 1, 2, 1, 1, 1, 2}},
        {75, 1.75, {1, 2, 2, 2}},  {50, 3.0, {3, 3}},         {130, 1.0, {1, 1}},
        {5, 26.0, {26}},           {1e-9, 2080.0, {2080}},
    };
    for (const auto& c : kCases) {
        SID_DAC_sub d(nullptr, 0);
        std::vector<uint32_t> got;
        // Periods are clamped by renderBlock; the rule itself sees what it is given.
        const double p = std::max(c.period, SID_DAC_sub::kMinPeriodTicks);
        for (size_t i = 0; i < c.bursts.size(); ++i)
            got.push_back(d.burstCount(p));
        EXPECT_EQ(got, c.bursts) << "period " << c.period;
        EXPECT_EQ(d.burstFactor, c.factor) << "period " << c.period;
    }
    // A rounding phase left by a quarter-step factor does not upset a half-step one.
    SID_DAC_sub d(nullptr, 0);
    d.burstCount(110);
    d.burstCount(110);
    d.burstCount(110);  // phase 3
    const uint32_t n = d.burstCount(40);
    EXPECT_TRUE(n == 3 || n == 4) << n;
}

TEST(SIDDACSubPlaybackTest, KvrbCycleLength)
{
    const auto b = fourRegions();
    for (double period : {10.0, 26.0, 40.0, 65.0, 100.0, 200.0}) {
        Rig r;
        r.attach(b);
        r.set(SID_DAC_sub::kDacMode, 3);
        r.set(SID_DAC_sub::kLoopMode, 2);
        r.dac.setPitch(kExactPitch);
        const double rate = period * kExactPitch;
        double total = 0.0, samples = 0.0;
        for (int cycle = 0; cycle < 8; ++cycle) {
            const uint32_t before = r.dac.playPos;
            const uint64_t a = r.dac.renderBlock(rate);
            samples += double(r.dac.playPos - before);
            const double factor = r.dac.burstFactor;
            const uint64_t m = r.dac.renderBlock(rate);
            const uint64_t e = r.dac.renderBlock(rate);
            EXPECT_EQ(a, 1u);
            EXPECT_EQ(m, 128u);
            EXPECT_NEAR(double(a + m + e), 129.0 + std::max(1.0, period * factor - 129.0), 0.5)
                << "period " << period;
            total += double(a + m + e);
        }
        // Each cycle lasts as long as the samples it played, at least 130 ticks.
        EXPECT_NEAR(total, std::max(samples * period, 8 * 130.0), 1.0) << "period " << period;
    }
}

TEST(SIDDACSubPlaybackTest, BadRatesNeverStallTheScheduler)
{
    const auto b = fourRegions();
    Rig r;
    r.attach(b);
    r.set(SID_DAC_sub::kDacMode, 4);
    const float before = r.dac.freeStep;
    const float inf = std::numeric_limits<float>::infinity();
    for (float bad : {0.0f, -44100.0f, std::nanf(""), inf, -inf, 1e-45f}) {
        r.dac.setPitch(bad);
        r.dac.setKeyPitch(bad);
    }
    EXPECT_EQ(r.dac.freeStep, before);
    EXPECT_EQ(r.dac.keyStep, before);

    // At most 16 samples per tick: 1600 firings move the clock 100 ticks.
    r.dac.setPitch(1e30f);
    uint64_t sum = 0;
    for (int i = 0; i < 1600; ++i)
        sum += r.dac.renderBlock(kTicksPerSecond);
    EXPECT_EQ(sum, 100u);
    for (double rate : {std::nan(""), 0.0, -5.0}) {
        sum = 0;
        for (int i = 0; i < 16; ++i)
            sum += r.dac.renderBlock(rate);
        EXPECT_EQ(sum, 1u) << rate;
    }
    // Longest interval: 2^31 - 1 ticks.
    r.dac.setPitch(1e-30f);
    EXPECT_EQ(r.dac.renderBlock(kTicksPerSecond), 2147483647u);
    EXPECT_EQ(r.dac.renderBlock(1e300), 2147483647u);
    EXPECT_EQ(r.dac.renderBlock(std::numeric_limits<double>::infinity()), 2147483647u);
}

TEST(SIDDACSubPlaybackTest, NonFiniteValuesAndStrayIndicesAreHarmless)
{
    const auto b = fourRegions();
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::nanf("");
    for (float mode : {0.0f, 1.0f, 2.0f, 3.0f}) {
        for (float v : {nan, inf, -inf}) {
            Rig r;
            r.attach(b);
            r.set(SID_DAC_sub::kDacMode, mode);
            r.set(SID_DAC_sub::kLoopMode, 2);
            r.set(SID_DAC_sub::kCompressorSwitch, 1.0f);
            for (uint32_t i = SID_DAC_sub::kCompressorFirst; i <= SID_DAC_sub::kCompressorLast; ++i)
                r.set(i, v);
            r.set(SID_DAC_sub::kGain, v);
            r.set(SID_DAC_sub::kBias, v);
            r.dac.updateVoiceParameters(v);
            r.dac.noteOn(36, v);
            r.run(3000);
            EXPECT_NE(r.dac.ownedMask, 0u);
        }
    }
    // NaN through the volume encoder counts as 0: the middle step.
    Rig r;
    r.attach(b);
    r.set(SID_DAC_sub::kGain, nan);
    r.dac.noteOn(36, 1.0f);
    EXPECT_EQ(r.chipReg(24), 0x08);

    const SID_DAC_sub::Parameter none = SID_DAC_sub::kParameterCount;
    for (uint32_t index : {uint32_t(none), 100u, 0xFFFFFFFFu})
        r.set(index, 3.0f);
    r.dac.setParameter(SID_DAC_sub::kGain, nullptr, nullptr);
    EXPECT_EQ(r.dac.gain, 0.0f);
    EXPECT_EQ(r.dac.dacMode, 0);
}

TEST(SIDDACSubPlaybackTest, CompressorSwitchResetsWhenSetOnAgain)
{
    fixtures::DacSampleBuilder b;
    b.sine(4000, 44100, 200.0);
    Rig r;
    r.attach(b);
    r.set(SID_DAC_sub::kCompressorSwitch, 1.0f);
    r.set(uint32_t(SID_DAC_sub::kCompressorFirst) + DACCompressor::kRatio, 1.0f);
    r.set(SID_DAC_sub::kLoopMode, 3);  // the whole sample, 4000 x 22 ticks
    r.dac.noteOn(36, 1.0f);
    r.run(60000);
    ASSERT_GT(r.dac.compressor.fullBandRecord().reduction, 0.0f);
    r.set(SID_DAC_sub::kCompressorSwitch, 0.0f);
    EXPECT_FALSE(r.dac.compressorOn);
    EXPECT_GT(r.dac.compressor.fullBandRecord().reduction, 0.0f);  // kept while off
    r.set(SID_DAC_sub::kCompressorSwitch, 1.0f);
    EXPECT_GT(r.dac.compressor.fullBandRecord().reduction, 0.0f);  // off to on: no reset
    r.set(SID_DAC_sub::kCompressorSwitch, 0.7f);
    EXPECT_EQ(r.dac.compressor.fullBandRecord().reduction, 0.0f);
    EXPECT_TRUE(r.dac.compressorOn);
}

TEST(SIDDACSubPlaybackTest, VolumeModePlaysTheSampleAtItsPitch)
{
    fixtures::DacSampleBuilder b;
    b.sine(44100, 44100, 1000.0, 30000.0);
    Rig r;
    r.attach(b);
    r.set(SID_DAC_sub::kLoopMode, 3);
    r.dac.noteOn(60, 1.0f);
    const size_t n = size_t(kTicksPerSecond / 4);
    r.run(n);
    std::vector<double> signal(r.out.begin(), r.out.begin() + std::ptrdiff_t(n));
    const fixtures::Spectrum spectrum(std::move(signal), kTicksPerSecond);
    EXPECT_NEAR(spectrum.peakFrequency(20.0, 20000.0), 1000.0, 5.0);
}

}  // namespace
