// The transport record: filled from the VST3 process context, its block fields, its checks, the
// distances to the next bar and beat and the diagnostic line.

#include "vst3/SyncInfo.h"

#include <pluginterfaces/vst/ivstprocesscontext.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>

namespace {

using Steinberg::Vst::ProcessContext;
using vantor::SyncInfo;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Playing at 120 bpm in 4/4, 48 kHz, bar start 0.
SyncInfo playing(double ppq)
{
    SyncInfo s;
    s.setDefaults();
    s.playing = 1;
    s.sampleRate = 48000.0;
    s.ppqPosition = ppq;
    return s;
}

TEST(SyncInfo, DefaultsAreTempo120In4Over4)
{
    SyncInfo s;
    EXPECT_EQ(s.tempo, 0.0);  // the member initialisers stay zero
    s.ppqPosition = 5.0;
    s.setDefaults();
    EXPECT_EQ(s.tempo, 120.0);
    EXPECT_EQ(s.timeSigNumerator, 4);
    EXPECT_EQ(s.timeSigDenominator, 4);
    EXPECT_EQ(s.ppqPosition, 0.0);
    EXPECT_EQ(s.playing, 0);
}

TEST(SyncInfo, FilledWithoutFlagsGivesTheDefaults)
{
    ProcessContext context{};
    context.sampleRate = 44100.0;
    context.projectTimeSamples = 12345;
    context.tempo = 90.0;  // not marked valid: not taken
    context.projectTimeMusic = 7.0;
    context.barPositionMusic = 4.0;
    context.cycleStartMusic = 1.0;
    context.cycleEndMusic = 2.0;
    context.timeSigNumerator = 3;
    context.timeSigDenominator = 8;
    context.samplesToNextClock = 17;
    context.systemTime = 99;
    SyncInfo s;
    s.playing = 1;
    vantor::fillSyncInfo(&context, &s);
    EXPECT_EQ(s.samplePosition, 12345.0);
    EXPECT_EQ(s.sampleRate, 44100.0);
    EXPECT_EQ(s.systemTime, 0.0);
    EXPECT_EQ(s.tempo, 120.0);
    EXPECT_EQ(s.timeSigNumerator, 4);
    EXPECT_EQ(s.timeSigDenominator, 4);
    EXPECT_EQ(s.ppqPosition, 0.0);
    EXPECT_EQ(s.barStart, 0.0);
    EXPECT_EQ(s.loopStart, 0.0);
    EXPECT_EQ(s.loopEnd, 0.0);
    EXPECT_EQ(s.samplesToNextClock, 16777215);
    EXPECT_EQ(s.playing, 0);
    EXPECT_EQ(s.recording, 0);
    EXPECT_EQ(s.looping, 0);
    EXPECT_TRUE(s.prepare(256, context.sampleRate, nullptr, nullptr, true));

    vantor::fillSyncInfo(nullptr, &s);  // nothing happens
    vantor::fillSyncInfo(&context, nullptr);
}

TEST(SyncInfo, FilledWithEveryFlagCopiesEachField)
{
    ProcessContext context{};
    context.state = ProcessContext::kPlaying | ProcessContext::kCycleActive | ProcessContext::kRecording |
        ProcessContext::kSystemTimeValid | ProcessContext::kProjectTimeMusicValid |
        ProcessContext::kBarPositionValid | ProcessContext::kCycleValid | ProcessContext::kTempoValid |
        ProcessContext::kTimeSigValid | ProcessContext::kClockValid;
    context.sampleRate = 96000.0;
    context.projectTimeSamples = -5;
    context.systemTime = 123456789;
    context.projectTimeMusic = 9.25;
    context.barPositionMusic = 8.0;
    context.cycleStartMusic = 4.0;
    context.cycleEndMusic = 12.0;
    context.tempo = 87.5;
    context.timeSigNumerator = 7;
    context.timeSigDenominator = 8;
    context.samplesToNextClock = -3;
    SyncInfo s;
    s.diff = 1;
    vantor::fillSyncInfo(&context, &s);
    EXPECT_EQ(s.samplePosition, -5.0);
    EXPECT_EQ(s.sampleRate, 96000.0);
    EXPECT_EQ(s.systemTime, 123456789.0);
    EXPECT_EQ(s.ppqPosition, 9.25);
    EXPECT_EQ(s.barStart, 8.0);
    EXPECT_EQ(s.loopStart, 4.0);
    EXPECT_EQ(s.loopEnd, 12.0);
    EXPECT_EQ(s.tempo, 87.5);
    EXPECT_EQ(s.timeSigNumerator, 7);
    EXPECT_EQ(s.timeSigDenominator, 8);
    EXPECT_EQ(s.samplesToNextClock, -3);
    EXPECT_EQ(s.playing, 1);
    EXPECT_EQ(s.recording, 1);
    EXPECT_EQ(s.looping, 1);
    EXPECT_EQ(s.diff, 0);

    // Each flag alone brings only its own fields.
    context.state = ProcessContext::kRecording;
    vantor::fillSyncInfo(&context, &s);
    EXPECT_EQ(s.recording, 1);
    EXPECT_EQ(s.playing, 0);
    EXPECT_EQ(s.looping, 0);
    EXPECT_EQ(s.tempo, 120.0);
}

TEST(SyncInfo, PrepareDerivesTheBlockFields)
{
    SyncInfo s = playing(3.0);
    ASSERT_TRUE(s.prepare(256, 48000.0, nullptr, nullptr, true));
    EXPECT_EQ(s.samplesToNextBar, 24000);
    EXPECT_DOUBLE_EQ(s.blockQuarters, 256.0 / 24000.0);
    EXPECT_EQ(s.barLength, 4.0);
    EXPECT_EQ(s.blockFrames, 256);
    EXPECT_EQ(s.barInBlock, 0);

    // The next bar starts inside the block.
    s = playing(3.995);
    ASSERT_TRUE(s.prepare(256, 48000.0, nullptr, nullptr, true));
    EXPECT_EQ(s.barInBlock, 1);

    // Exactly on the bar start.
    s = playing(8.0);
    s.barStart = 8.0;
    ASSERT_TRUE(s.prepare(256, 48000.0, nullptr, nullptr, true));
    EXPECT_EQ(s.samplesToNextBar, 0);
    EXPECT_EQ(s.barInBlock, 1);

    // 7/8: a bar of 3.5 quarter notes.
    s = playing(0.5);
    s.timeSigNumerator = 7;
    s.timeSigDenominator = 8;
    ASSERT_TRUE(s.prepare(256, 48000.0, nullptr, nullptr, true));
    EXPECT_EQ(s.barLength, 3.5);
    EXPECT_EQ(s.samplesToNextBar, 72000);

    // A stopped transport is valid whatever it holds.
    s = SyncInfo();
    EXPECT_TRUE(s.prepare(256, 0.0, nullptr, nullptr, true));

    // Frame counts beyond the field's range.
    s = playing(0.0);
    ASSERT_TRUE(s.prepare(40000, 48000.0, nullptr, nullptr, true));
    EXPECT_EQ(s.blockFrames, 32767);
    ASSERT_TRUE(s.prepare(-5, 48000.0, nullptr, nullptr, true));
    EXPECT_EQ(s.blockFrames, 0);
}

TEST(SyncInfo, FailedChecksKeepThePreviousBlockFields)
{
    const struct
    {
        const char* name;
        void (*change)(SyncInfo&);
        double rate;
        int32_t code;
    } kCases[] = {
        {"position before the bar", [](SyncInfo& s) { s.ppqPosition = 1.0, s.barStart = 2.0; }, 48000.0, 7},
        {"rate 0", [](SyncInfo&) {}, 0.0, 1},
        {"rate NaN", [](SyncInfo&) {}, kNaN, 1},
        {"tempo 0", [](SyncInfo& s) { s.tempo = 0.0; }, 48000.0, 3},
        {"tempo NaN", [](SyncInfo& s) { s.tempo = kNaN; }, 48000.0, 3},
        {"tempo infinite", [](SyncInfo& s) { s.tempo = kInf; }, 48000.0, 3},
        {"numerator 0", [](SyncInfo& s) { s.timeSigNumerator = 0; }, 48000.0, 5},
        {"denominator 0", [](SyncInfo& s) { s.timeSigDenominator = 0; }, 48000.0, 6},
        {"position NaN", [](SyncInfo& s) { s.ppqPosition = kNaN; }, 48000.0, 7},
        {"loop end -1", [](SyncInfo& s) { s.looping = 1, s.loopStart = 0.0, s.loopEnd = -1.0; }, 48000.0, 9},
        {"loop start -1", [](SyncInfo& s) { s.looping = 1, s.loopStart = -1.0, s.loopEnd = 8.0; }, 48000.0, 10},
        {"loop end NaN", [](SyncInfo& s) { s.looping = 1, s.loopEnd = kNaN; }, 48000.0, 9},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        SyncInfo s = playing(3.0);
        ASSERT_TRUE(s.prepare(256, 48000.0, nullptr, nullptr, true));
        const SyncInfo before = s;
        c.change(s);
        std::string log;
        EXPECT_FALSE(s.prepare(128, c.rate, "key ", &log, false));
        EXPECT_EQ(s.valid().code, c.code);
        EXPECT_EQ(s.samplesToNextBar, before.samplesToNextBar);
        EXPECT_EQ(s.blockQuarters, before.blockQuarters);
        EXPECT_EQ(s.barInBlock, before.barInBlock);
        EXPECT_EQ(s.loopInBlock, before.loopInBlock);
        EXPECT_EQ(s.blockFrames, 128);  // stored before the checks
        ASSERT_FALSE(log.empty());
        EXPECT_EQ(log.rfind("key ", 0), 0u) << log;
        EXPECT_EQ(log.substr(4, 2), (c.code < 10 ? " " : "") + std::to_string(c.code)) << log;
        EXPECT_EQ(log.back(), '\n');

        // Quiet, or without a text, nothing is written.
        log.clear();
        EXPECT_FALSE(s.prepare(128, c.rate, nullptr, &log, true));
        EXPECT_TRUE(log.empty());
        EXPECT_FALSE(s.prepare(128, c.rate, nullptr, nullptr, false));
    }
}

TEST(SyncInfo, LoopsOutsideTheBlockAreSwitchedOff)
{
    const struct
    {
        double start, end, ppq;
        uint8_t looping, loopInBlock;
    } kCases[] = {
        {8.0, 16.0, 3.0, 0, 0},     // starts after this block
        {3.001, 3.0005, 3.0, 0, 0}, // end before start
        {0.0, 2.0, 3.0, 0, 0},      // already past its end
        {0.0, 3.005, 3.0, 1, 1},    // its end falls in this block
        {3.0, 16.0, 3.0, 1, 1},     // starts right here
        {0.0, 16.0, 3.0, 1, 0},     // runs on
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.start << "-" << c.end << " at " << c.ppq);
        SyncInfo s = playing(c.ppq);
        s.looping = 1;
        s.loopStart = c.start;
        s.loopEnd = c.end;
        ASSERT_TRUE(s.prepare(256, 48000.0, nullptr, nullptr, true));  // first block: blockQuarters 0
        ASSERT_TRUE(s.prepare(256, 48000.0, nullptr, nullptr, true));
        EXPECT_EQ(s.looping, c.looping);
        EXPECT_EQ(s.loopInBlock, c.loopInBlock);
    }
}

TEST(SyncInfo, DistanceToTheNextBar)
{
    const struct
    {
        double tempo, ppq, bar;
        int32_t numerator, denominator;
        double rate;
        int64_t frames;
    } kCases[] = {
        {120, 0, 0, 4, 4, 48000, 0},
        {120, 3, 0, 4, 4, 48000, 24000},
        {120, 9, 0, 4, 4, 48000, 72000},
        {120, -4, 0, 4, 4, 48000, 96000},
        {120, 2, 0, 7, 8, 48000, 36000},
        {120, 4, 0, 4, 4, 48000, 0},        // on the next bar start
        {120, -8, 0, 4, 4, 48000, 96000},   // whole bars ahead: a full bar, from above
        {120, 6, 4, 4, 4, 48000, 48000},
        {60, 3, 0, 3, 4, 44100, 0},         // three quarters into 3/4: the bar ends now
        {120, 1, 0, 4, 0, 48000, 72000},    // no denominator: 4 quarters
        {120, 1, 0, -3, 4, 48000, 72000},   // a negative bar: 4 quarters
        {0, 3, 0, 4, 4, 48000, 0},
        {-120, 3, 0, 4, 4, 48000, 0},
        {kNaN, 3, 0, 4, 4, 48000, 0},
        {kInf, 3, 0, 4, 4, 48000, 0},
        {120, kNaN, 0, 4, 4, 48000, 0},
        {120, kInf, 0, 4, 4, 48000, 0},
        {120, 3, kInf, 4, 4, 48000, 0},
        {120, 3, 0, 4, 4, 0, 0},
        {120, 3, 0, 4, 4, kNaN, 0},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.tempo << " bpm, ppq " << c.ppq << ", bar " << c.bar << ", "
                                        << c.numerator << "/" << c.denominator << ", " << c.rate << " Hz");
        EXPECT_EQ(vantor::samplesToNextBar(c.tempo, c.ppq, c.bar, c.numerator, c.denominator, c.rate), c.frames);
    }
}

TEST(SyncInfo, DistanceToTheNextBarWrapsAtOnce)
{
    // A position far from the bar start: no loop of a bar at a time.
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(vantor::samplesToNextBar(120, 1e15, 0, 4, 4, 48000), 0);
    EXPECT_EQ(vantor::samplesToNextBar(120, 1e15 + 2, 0, 4, 4, 48000), 48000);
    EXPECT_EQ(vantor::samplesToNextBar(120, -1e15 + 1, 0, 4, 4, 48000), 72000);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

TEST(SyncInfo, DistanceToTheNextBeat)
{
    EXPECT_EQ(vantor::samplesToNextBeat(120, 2.5, 0, 4, 4, 48000), 12000);
    EXPECT_EQ(vantor::samplesToNextBeat(120, 5.5, 0, 4, 4, 48000), 0);  // the bar ended before
    EXPECT_EQ(vantor::samplesToNextBeat(120, 3.0, 0, 4, 4, 48000), 0);
    EXPECT_EQ(vantor::samplesToNextBeat(120, 3.25, 0, 7, 8, 48000), 6000);  // bar end 3.5 comes first
    EXPECT_EQ(vantor::samplesToNextBeat(0, 2.5, 0, 4, 4, 48000), 0);
    EXPECT_EQ(vantor::samplesToNextBeat(120, kNaN, 0, 4, 4, 48000), 0);
    EXPECT_EQ(vantor::samplesToNextBeat(120, 2.5, 0, 4, 4, kInf), 0);
}

TEST(SyncInfo, DiagnosticLine)
{
    SyncInfo s;
    s.ppqPosition = 1.0;
    s.blockQuarters = 0.5;
    s.lastPpqPosition = 0.0;
    s.barStart = 2.0;
    s.timeSigNumerator = 4;
    s.timeSigDenominator = 4;
    s.tempo = 120.0;
    s.playing = 1;
    s.sampleRate = 48000.0;
    s.blockFrames = 256;
    std::string line;
    s.log(7, line);
    EXPECT_EQ(line, " 7 ppq:  1.000000 L:  0.500000 D:    1.000000 bar:2.000000 (4/4) bpm:120.000000 "
                    "play:1 loop:0 diff:0 sr:48000 sl:  256 sp:0 ls:0 le:0");

    s.samplePosition = 1234567.0;
    s.loopStart = 2.5;
    s.loopEnd = 1e-7;
    s.sampleRate = 44100.5;
    s.log(10, line);
    EXPECT_NE(line.find("10 ppq:"), std::string::npos) << line;
    EXPECT_NE(line.find(" sr:44100.5 sl:  256 sp:1.23457e+06 ls:2.5 le:1e-07"), std::string::npos) << line;
}

}  // namespace
