#include "platform/PMIDI.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

TEST(PMIDI, FourteenBitBytes)
{
    uint8_t low = 0xFF, high = 0xFF;
    PMIDICreateBytes(0x2000, low, high);
    EXPECT_EQ(low, 0x00);
    EXPECT_EQ(high, 0x40);
    EXPECT_EQ(PMIDICombineBytes(0x00, 0x40), 0x2000);
    PMIDICreateBytes(0x3FFF, low, high);
    EXPECT_EQ(PMIDICombineBytes(low, high), 0x3FFF);
}

TEST(PMIDI, Downgrades)
{
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const struct { double v; int midi7; int midi14; } kCases[] = {
        {0.5, 64, 12288}, {1.0, 127, 16383}, {0.0, 0, 8192},  {1.01, 127, 16383},
        {-0.1, 0, 7373},  {-1.0, 0, 0},      {-2.0, 0, 0},     {2.0, 127, 16383},
        {nan, 0, 8192},   {inf, 127, 16383}, {-inf, 0, 0},     {1e300, 127, 16383},
    };
    for (const auto& c : kCases) {
        const float f = float(c.v);
        EXPECT_EQ(PDowngradeToMIDI7(c.v), c.midi7) << c.v;
        EXPECT_EQ(PDowngradeToMIDI7(f), c.midi7) << c.v;
        EXPECT_EQ(PDowngradeToMIDI14(c.v), c.midi14) << c.v;
        EXPECT_EQ(PDowngradeToMIDI14(f), c.midi14) << c.v;
    }
}

TEST(PMIDI, LogMessage)
{
    const struct { uint8_t m[3]; bool zero; const char* want; } kCases[] = {
        {{0x90, 0x3C, 0x00}, false, "Chn:  1 Note Off( 60):   0"},
        {{0x90, 0x3C, 0x00}, true, "Chn:  0 Note Off( 60):   0"},
        {{0x9F, 0xBC, 0xE4}, false, "Chn: 16 Note On ( 60): 100"},
        {{0x81, 0x40, 0x7F}, false, "Chn:  2 Note Off( 64): 127"},
        {{0xA0, 0x01, 0x02}, false, "Chn:  1 Aftertouch(  1):   2"},
        {{0xB3, 0x07, 0x64}, false, "Chn:  4 CC(  7): 100"},
        {{0xC0, 0x05, 0x00}, false, "Chn:  1 Program(  5)"},
        {{0xD0, 0x30, 0x00}, false, "Chn:  1 Channel Pressure:  48"},
        {{0xE0, 0x00, 0x40}, false, "Chn:  1 Pitch Bend:    0"},
        {{0xE0, 0x7F, 0x7F}, false, "Chn:  1 Pitch Bend: 8191"},
        {{0xE0, 0x00, 0x00}, false, "Chn:  1 Pitch Bend: -8192"},
        {{0xF1, 0x12, 0x00}, false, "MTC Qtr Frame:  18"},
        {{0xF2, 0x01, 0x02}, false, "Song Position Ptr:   257"},
        {{0xF3, 0x09, 0x00}, false, "Song Select:   9"},
        {{0xF6, 0, 0}, false, "Tune Request"},
        {{0xF8, 0, 0}, false, "Clock"},
        {{0xFA, 0, 0}, false, "Start"},
        {{0xFB, 0, 0}, false, "Continue"},
        {{0xFC, 0, 0}, false, "Stop"},
        {{0xFE, 0, 0}, false, "Active Sense"},
        {{0xFF, 0, 0}, false, "Reset"},
        {{0x45, 0, 0}, false, "????"},
    };
    for (const auto& c : kCases) {
        char buf[64];
        memset(buf, 'x', sizeof buf);
        PMIDILogMessage(buf, sizeof buf, c.m, c.zero);
        EXPECT_STREQ(buf, c.want) << std::hex << int(c.m[0]);
    }
}

TEST(PMIDI, LogMessageLeavesBufferAlone)
{
    const uint8_t clock[3] = {0xF8, 0, 0};
    char buf[40];
    memset(buf, 'x', sizeof buf);
    PMIDILogMessage(buf, 31, clock, false);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(buf[30], 'x');
    PMIDILogMessage(nullptr, 64, clock, false);

    const uint8_t sysex[3] = {0xF0, 0x7E, 0x7F};
    PMIDILogMessage(buf, 32, sysex, false);  // only the last byte is set
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(buf[31], 0);

    const uint8_t note[3] = {0x90, 0x3C, 0x64};
    memset(buf, 'x', sizeof buf);
    PMIDILogMessage(buf, 32, note, false);  // 26 characters fit in 31
    EXPECT_STREQ(buf, "Chn:  1 Note On ( 60): 100");
}
