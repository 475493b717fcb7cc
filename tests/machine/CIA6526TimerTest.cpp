// The two interval timers: start timing through the control pipeline, continuous and one-shot
// modes, latch loads, counter reads, timer B's count sources and the PB6/PB7 outputs.
#include "CiaTestListener.h"

#include <gtest/gtest.h>

namespace {

using ciatest::CiaRig;
using Steps = std::vector<uint64_t>;

TEST(CiaTimer, ContinuousUnderflowsComeEveryLatchPlusOneSteps)
{
    const struct {
        uint16_t latch;
        Steps underflows;
    } kCases[] = {
        {0, {2, 3, 4}},
        {1, {3, 5, 7}},
        {5, {7, 13, 19}},
        {0xFFFF, {65537, 131073, 196609}},
    };
    for (const auto& c : kCases) {
        CiaRig rig;
        rig.startTimerA(c.latch, 0x01);
        EXPECT_EQ(rig.icrSteps(c.underflows.back(), 0x01), c.underflows) << "latch " << c.latch;
    }
}

TEST(CiaTimer, LoadAndStartTogetherAddsTheLoadCycle)
{
    for (const uint16_t latch : {uint16_t(0), uint16_t(1), uint16_t(5), uint16_t(300)}) {
        CiaRig rig;
        rig.writeLatchA(latch);
        rig.write(14, 0x11);  // no step: the LOAD puts the latch in the counter
        rig.restartCount();
        const Steps got = rig.icrSteps(3 + latch, 0x01);
        ASSERT_FALSE(got.empty()) << "latch " << latch;
        EXPECT_EQ(got.front(), 3u + latch) << "latch " << latch;
    }
}

TEST(CiaTimer, ControlReadsLagTheWriteByOneStep)
{
    CiaRig rig;
    rig.write(14, 0x01);
    rig.step(3);
    rig.write(14, 0x19);
    EXPECT_EQ(rig.read(14), 0x01);  // the old value
    rig.step();
    EXPECT_EQ(rig.read(14), 0x09);  // LOAD never reads back
    rig.write(15, 0x50);
    EXPECT_EQ(rig.read(15), 0x00);
    rig.step();
    EXPECT_EQ(rig.read(15), 0x40);
}

TEST(CiaTimer, OneShotStopsAfterOneUnderflowAndReloads)
{
    CiaRig rig;
    rig.startTimerA(5, 0x09);
    EXPECT_EQ(rig.icrSteps(7, 0x01), Steps{7});
    EXPECT_EQ(rig.read(14) & 0x01, 0);
    EXPECT_EQ(rig.counterA(), 5);
    EXPECT_TRUE(rig.icrSteps(100, 0x01).empty());
    EXPECT_EQ(rig.counterA(), 5);

    // Writing START again runs one more period.
    rig.write(14, 0x09);
    rig.restartCount();
    EXPECT_EQ(rig.icrSteps(50, 0x01), Steps{7});
}

TEST(CiaTimer, OneShotBitWrittenWhileRunningStopsAtTheNextUnderflow)
{
    CiaRig rig;
    rig.startTimerA(3, 0x01);
    rig.step(3);
    rig.write(14, 0x09);
    EXPECT_EQ(rig.icrSteps(50, 0x01), (Steps{5}));
}

TEST(CiaTimer, CounterReadsGiveTheValueAtTheStartOfTheStep)
{
    CiaRig rig;
    EXPECT_EQ(rig.counterA(), 0xFFFF);
    EXPECT_EQ(rig.counterB(), 0xFFFF);

    // A high byte written while stopped loads at the next step; reads see it one step later.
    rig.writeLatchA(5);
    EXPECT_EQ(rig.counterA(), 0xFFFF);
    rig.step();
    EXPECT_EQ(rig.counterA(), 0xFFFF);
    rig.step();
    EXPECT_EQ(rig.counterA(), 5);

    rig.write(14, 0x01);
    rig.restartCount();
    std::vector<uint16_t> reads;
    for (int i = 0; i < 8; ++i) {
        rig.step();
        reads.push_back(rig.counterA());
    }
    // Steps 1-8: still stopped, counting 5 to 1, the underflow (step 7) reloads, counting on.
    EXPECT_EQ(reads, (std::vector<uint16_t>{5, 5, 4, 3, 2, 1, 5, 5}));
}

TEST(CiaTimer, LatchWritesWhileRunningLeaveTheCountAlone)
{
    CiaRig rig;
    rig.startTimerA(5, 0x01);
    rig.step(3);
    rig.writeLatchA(20);  // the running count ends as before, then the new latch
    EXPECT_EQ(rig.icrSteps(49, 0x01), (Steps{7, 28, 49}));
}

TEST(CiaTimer, LatchLowByteAloneTakesEffectAtTheNextReload)
{
    CiaRig rig;
    rig.startTimerA(5, 0x01);
    rig.write(4, 2);
    EXPECT_EQ(rig.icrSteps(13, 0x01), (Steps{7, 10, 13}));
}

TEST(CiaTimer, LatchHighByteWhileStoppedReloadsAStoppedCounter)
{
    CiaRig rig;
    rig.startTimerA(5, 0x09);
    rig.step(20);  // one-shot ran out
    rig.writeLatchA(2);
    rig.step(2);
    EXPECT_EQ(rig.counterA(), 2);
}

TEST(CiaTimer, CntCountingIsNotModelled)
{
    CiaRig rig;
    rig.startTimerA(0, 0x21);
    EXPECT_TRUE(rig.icrSteps(100, 0x01).empty());
    EXPECT_EQ(rig.counterA(), 0);
}

TEST(CiaTimer, TimerBCountsTimerAUnderflowsOneStepLate)
{
    CiaRig rig;
    rig.writeLatchA(1);
    rig.writeLatchB(2);
    rig.step();
    rig.write(15, 0x41);
    rig.write(14, 0x01);
    rig.restartCount();
    Steps ta, tb;
    for (int i = 0; i < 40; ++i) {
        rig.step();
        const uint8_t icr = rig.read(13);
        if (icr & 0x01)
            ta.push_back(rig.bus.stepNo);
        if (icr & 0x02)
            tb.push_back(rig.bus.stepNo);
    }
    ASSERT_EQ(ta.size(), 19u);
    Steps want;
    for (size_t i = 2; i < ta.size() - 1; i += 3)
        want.push_back(ta[i] + 1);
    EXPECT_EQ(tb, want);
    EXPECT_EQ(tb, (Steps{8, 14, 20, 26, 32, 38}));
}

TEST(CiaTimer, TimerBCountsCyclesWithoutBit6)
{
    CiaRig rig;
    rig.writeLatchB(3);
    rig.step();
    rig.write(15, 0x01);
    rig.restartCount();
    EXPECT_EQ(rig.icrSteps(13, 0x02), (Steps{5, 9, 13}));
}

// Reads PRB after each step; bit 6 (timer A) or 7 (timer B) from the timer output.
std::vector<int> portBitPerStep(bool timerB, uint8_t control, int steps)
{
    CiaRig rig;
    rig.bus.pinsB = 0x00;  // the bit can only come from the timer
    if (timerB)
        rig.writeLatchB(2);
    else
        rig.writeLatchA(2);
    rig.step();
    rig.write(timerB ? 15 : 14, control);
    std::vector<int> bits;
    for (int i = 0; i < steps; ++i) {
        rig.step();
        bits.push_back((rig.read(1) >> (timerB ? 7 : 6)) & 1);
    }
    return bits;
}

TEST(CiaTimer, PortBTimerOutputsPulseOrToggle)
{
    // Latch 2: underflows at steps 4, 7, 10.
    const std::vector<int> kPulse = {0, 0, 0, 1, 0, 0, 1, 0, 0, 1, 0};
    const std::vector<int> kToggle = {1, 1, 1, 0, 0, 0, 1, 1, 1, 0, 0};
    for (const bool timerB : {false, true}) {
        EXPECT_EQ(portBitPerStep(timerB, 0x03, 11), kPulse) << "timer B " << timerB;
        EXPECT_EQ(portBitPerStep(timerB, 0x07, 11), kToggle) << "timer B " << timerB;
        // Without bit 1 the pins show through.
        EXPECT_EQ(portBitPerStep(timerB, 0x05, 11), std::vector<int>(11, 0)) << "timer B " << timerB;
    }
}

TEST(CiaTimer, PortBAccessPulsesPcForOneStep)
{
    CiaRig rig;
    rig.step(2);
    rig.read(1);
    rig.step();
    rig.write(1, 0x00);
    rig.step(2);
    rig.read(0);  // port A leaves PC alone
    rig.step();
    EXPECT_EQ(toString(rig.bus.only(ciatest::CiaCall::Pc)), "pc0@2 pc1@3 pc0@3 pc1@4");
}

}  // namespace
