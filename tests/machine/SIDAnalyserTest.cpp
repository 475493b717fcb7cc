#include "machine/SIDAnalyser.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

SidFrameAnalysis filled(uint8_t byte)
{
    SidFrameAnalysis record;
    std::memset(&record, byte, sizeof record);
    return record;
}

TEST(SIDAnalyser, FrequencyInHertz)
{
    SIDAnalyser analyser(985248.0);
    SID_shadow frame;
    frame.regs[0] = frame.regs[1] = 0xFF;  // voice 0 at the top
    frame.regs[7] = 0x00;
    frame.regs[8] = 0x1D;                  // voice 1: 0x1D00 = 7424
    SidFrameAnalysis record = filled(0);
    analyser.analyseFrame(frame, record, 7);
    EXPECT_NEAR(record.voices[0].frequency, 3848.6, 0.05);
    EXPECT_NEAR(record.voices[1].frequency, 435.98, 0.01);
    EXPECT_EQ(record.voices[2].frequency, 0.0f);
}

TEST(SIDAnalyser, VoiceFieldsAndVoicesOutsideTheMask)
{
    SID_shadow frame;
    for (int v = 0; v < 3; ++v) {
        uint8_t* r = frame.regs + 7 * v;
        r[2] = 0x34;
        r[3] = 0xF8;  // high nibble ignored: pulse width 0x834
        r[4] = 0x4B;  // pulse, test, ring off, sync, gate
        r[5] = 0x9A;
        r[6] = 0x5C;
    }
    frame.regs[23] = 0xF7;
    frame.regs[24] = 0x9F;  // voice 3 off, low-pass, volume 15
    SIDAnalyser analyser(985248.0);
    SidFrameAnalysis record = filled(0xEE);
    analyser.analyseFrame(frame, record, 5);
    for (int v : {0, 2}) {
        const auto& voice = record.voices[v];
        EXPECT_EQ(voice.pulseWidth, 0x834) << v;
        EXPECT_EQ(voice.waveform, 4) << v;
        EXPECT_EQ(voice.gate, 1) << v;
        EXPECT_EQ(voice.sync, 1) << v;
        EXPECT_EQ(voice.ring, 0) << v;
        EXPECT_EQ(voice.test, 1) << v;
        EXPECT_EQ(voice.attack, 9) << v;
        EXPECT_EQ(voice.decay, 10) << v;
        EXPECT_EQ(voice.sustain, 5) << v;
        EXPECT_EQ(voice.release, 12) << v;
        EXPECT_EQ(voice.filtered, 1) << v;
        EXPECT_EQ(voice.spare[0], 0xEE) << v;  // left alone
    }
    const auto& outside = record.voices[1];
    EXPECT_EQ(outside.pulseWidth, 0);
    for (uint8_t byte : {outside.attack, outside.decay, outside.sustain, outside.release, outside.waveform,
                         outside.gate, outside.sync, outside.ring, outside.test, outside.filtered})
        EXPECT_EQ(byte, 0);
    EXPECT_EQ(record.voices[0].voice3Off, 0);
    EXPECT_EQ(record.voices[2].voice3Off, 1);
    EXPECT_EQ(record.voice3Off, 1);
    EXPECT_EQ(record.volume, 15);
    EXPECT_EQ(record.lowPass, 1);
    EXPECT_EQ(record.bandPass, 0);
    EXPECT_EQ(record.highPass, 0);
    EXPECT_EQ(record.spare2[0], 0xEE);
}

TEST(SIDAnalyser, FilterRegisters)
{
    SID_shadow frame;
    frame.regs[21] = 0xFD;  // only bits 0-2 count
    frame.regs[22] = 0xFF;
    frame.regs[23] = 0xF7;
    frame.regs[24] = 0x6A;
    SIDAnalyser analyser(985248.0);
    SidFrameAnalysis record = filled(0);
    analyser.analyseFrame(frame, record, 7);
    EXPECT_EQ(record.cutoff, 0x7FD);
    EXPECT_EQ(record.resonance, 15);
    for (const auto& voice : record.voices)
        EXPECT_EQ(voice.filtered, 1);
    EXPECT_EQ(record.externalFiltered, 0);
    EXPECT_EQ(record.lowPass, 0);
    EXPECT_EQ(record.bandPass, 1);
    EXPECT_EQ(record.highPass, 1);
    EXPECT_EQ(record.voice3Off, 0);
    EXPECT_EQ(record.volume, 10);
    frame.regs[23] = 0x08;
    analyser.analyseFrame(frame, record, 7);
    EXPECT_EQ(record.externalFiltered, 1);
    EXPECT_EQ(record.voices[0].filtered, 0);
}

}  // namespace
