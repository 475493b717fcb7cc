// Ports, the interrupt control register and its line, FLAG, the serial output and reset.
#include "CiaTestListener.h"

#include <gtest/gtest.h>

namespace {

using ciatest::CiaCall;
using ciatest::CiaRig;

TEST(CiaIcr, LineRisesOneStepAfterTheUnderflowAndFallsAfterTheRead)
{
    CiaRig rig;
    rig.write(13, 0x81);
    rig.startTimerA(5, 0x01);
    rig.step(7);  // the underflow
    EXPECT_TRUE(rig.bus.only(CiaCall::Irq).empty());
    rig.step(3);  // the flag stays set: one assertion only
    EXPECT_EQ(toString(rig.bus.only(CiaCall::Irq)), "irq1@8");
    EXPECT_EQ(rig.read(13), 0x81);
    EXPECT_EQ(rig.read(13), 0x00);
    rig.step();
    EXPECT_EQ(toString(rig.bus.only(CiaCall::Irq)), "irq1@8 irq0@11");
    // The next underflow (step 13) asserts again.
    rig.step(3);
    EXPECT_EQ(toString(rig.bus.only(CiaCall::Irq)), "irq1@8 irq0@11 irq1@14");
}

TEST(CiaIcr, MaskedSourcesSetTheirBitsButNeverTheLine)
{
    CiaRig rig;
    rig.startTimerA(5, 0x01);
    rig.step(7);
    EXPECT_EQ(rig.read(13), 0x01);
    rig.step(20);
    EXPECT_TRUE(rig.bus.only(CiaCall::Irq).empty());
}

TEST(CiaIcr, ReadBeforeTheLineRisesCancelsIt)
{
    CiaRig rig;
    rig.write(13, 0x81);
    rig.startTimerA(5, 0x01);
    rig.step(7);
    EXPECT_EQ(rig.read(13), 0x81);
    rig.step(3);
    EXPECT_TRUE(rig.bus.only(CiaCall::Irq).empty());
}

TEST(CiaIcr, EnablingAPendingSourceAssertsAndClearingTheMaskKeepsTheLine)
{
    CiaRig rig;
    rig.startTimerA(5, 0x01);
    rig.step(7);
    rig.write(13, 0x81);  // the flag is already set
    rig.step(2);
    EXPECT_EQ(toString(rig.bus.only(CiaCall::Irq)), "irq1@9");
    rig.write(13, 0x01);  // mask off: the line waits for the read
    rig.step(2);
    EXPECT_EQ(rig.bus.only(CiaCall::Irq).size(), 1u);
    EXPECT_EQ(rig.read(13), 0x81);
    rig.step();
    EXPECT_EQ(toString(rig.bus.only(CiaCall::Irq)), "irq1@9 irq0@12");
}

// Whether the line rises within three steps of the source (FLAG falling or a timer A underflow
// at latch 0) after the mask writes.
bool lineRises(std::initializer_list<uint8_t> maskWrites, bool fromFlag)
{
    CiaRig rig;
    rig.writeLatchA(0);
    for (const uint8_t m : maskWrites)
        rig.write(13, m);
    if (fromFlag)
        rig.cia.setFlagPin(0);
    else
        rig.write(14, 0x11);
    rig.step(5);
    return !rig.bus.only(CiaCall::Irq).empty();
}

TEST(CiaIcr, MaskWritesSetOrClearOnlyTheNamedBits)
{
    const struct {
        std::initializer_list<uint8_t> writes;
        bool flag, timerA;
    } kCases[] = {
        {{}, false, false},
        {{0x90}, true, false},
        {{0x81}, false, true},
        {{0x9F, 0x0F}, true, false},
        {{0x9F, 0x10}, false, true},
        {{0x81, 0x90}, true, true},
        {{0x9F, 0x7F}, false, false},
        {{0xE1}, false, true},  // bits 5 and 6 are not sources
    };
    int row = 0;
    for (const auto& c : kCases) {
        EXPECT_EQ(lineRises(c.writes, true), c.flag) << "row " << row;
        EXPECT_EQ(lineRises(c.writes, false), c.timerA) << "row " << row;
        ++row;
    }
}

TEST(CiaIcr, FlagFallingEdgeSetsBit4)
{
    CiaRig rig;
    rig.cia.setFlagPin(0);  // 1 -> 0
    EXPECT_EQ(rig.read(13), 0x10);
    rig.cia.setFlagPin(0);  // no edge
    EXPECT_EQ(rig.read(13), 0x00);
    rig.cia.setFlagPin(1);
    EXPECT_EQ(rig.read(13), 0x00);
    rig.cia.setFlagPin(0);
    rig.step();  // the flag survives the step's recomputation
    EXPECT_EQ(rig.read(13), 0x10);

    // Slot 5 puts FLAG back to 1, so the next fall counts.
    rig.cia.releaseInputs();
    rig.cia.setFlagPin(0);
    EXPECT_EQ(rig.read(13), 0x10);
}

TEST(CiaPorts, ReadsCombinePinsWithTheOutputsByDirection)
{
    CiaRig rig;
    rig.bus.pinsA = 0xF3;
    rig.write(2, 0xFF);
    rig.write(0, 0x0F);
    EXPECT_EQ(rig.read(0), 0x03);  // all outputs: pins pulled low win
    rig.write(2, 0x00);
    EXPECT_EQ(rig.read(0), 0xF3);  // all inputs
    rig.write(2, 0xF0);
    EXPECT_EQ(rig.read(0), 0x03);  // outputs 0000 from PRA, inputs 0011 from the pins

    rig.bus.pinsB = 0x5A;
    rig.write(3, 0x0F);
    rig.write(1, 0x3C);
    EXPECT_EQ(rig.read(1), 0x5C);
}

TEST(CiaPorts, OutputsAreReportedOnlyWhenTheyChange)
{
    CiaRig rig;
    rig.write(2, 0xFF);  // PRA 0 after power-on: the output leaves $FF
    rig.write(0, 0x0F);
    rig.write(0, 0x0F);
    rig.write(2, 0xFF);
    rig.write(3, 0xFF);
    rig.write(1, 0x81);
    rig.write(1, 0x81);
    EXPECT_EQ(toString(rig.bus.only(CiaCall::PortA)), "pa00@0 pa0F@0");
    EXPECT_EQ(toString(rig.bus.only(CiaCall::PortB)), "pb00@0 pb81@0");

    // A direction change that alters the output reports it: the last input shows through.
    rig.bus.pinsA = 0xF0;
    rig.write(2, 0x00);
    rig.read(0);  // last input $F0
    rig.write(2, 0x0F);
    EXPECT_EQ(toString(rig.bus.only(CiaCall::PortA)), "pa00@0 pa0F@0 paFF@0");
    rig.write(2, 0xFF);
    EXPECT_EQ(toString(rig.bus.only(CiaCall::PortA)), "pa00@0 pa0F@0 paFF@0 pa0F@0");
}

TEST(CiaPorts, PortBOutputCarriesTheTimerBits)
{
    CiaRig rig;
    rig.write(3, 0xFF);
    rig.write(1, 0x00);
    rig.writeLatchB(2);
    rig.step();
    rig.write(15, 0x07);  // toggle on PB7
    EXPECT_EQ(rig.cia.portBOutput(), 0x00);  // the toggle is set by the start, a step later
    rig.step();
    rig.write(1, 0x01);
    EXPECT_EQ(rig.cia.portBOutput(), 0x81);
}

TEST(CiaSerial, ShiftsOutMsbFirstOnUnderflowsWithCntLow)
{
    CiaRig rig;
    rig.startTimerA(4, 0x41);
    rig.write(12, 0xA5);
    rig.step(200);
    const auto sp = rig.bus.only(CiaCall::Sp);
    ASSERT_EQ(sp.size(), 8u);
    std::vector<int> bits;
    for (const CiaCall& c : sp)
        bits.push_back(c.value);
    EXPECT_EQ(bits, (std::vector<int>{1, 0, 1, 0, 0, 1, 0, 1}));

    // Each bit went out on a timer A underflow step (6 + 5k) while CNT was low.
    int cnt = 1;
    size_t bit = 0;
    for (const CiaCall& c : rig.bus.calls) {
        if (c.kind == CiaCall::Cnt)
            cnt = c.value;
        if (c.kind == CiaCall::Sp) {
            EXPECT_EQ(cnt, 0) << "bit " << bit;
            EXPECT_EQ((c.step + 4) % 5, 0u) << "bit " << bit;
            ++bit;
        }
    }
    // ICR bit 3 after the eighth bit, and not before.
    CiaRig again;
    again.startTimerA(4, 0x41);
    again.write(12, 0xA5);
    uint64_t serialAt = 0;
    for (int i = 0; i < 200 && !serialAt; ++i) {
        again.step();
        if (again.read(13) & 0x08)
            serialAt = again.bus.stepNo;
    }
    EXPECT_EQ(serialAt, sp.back().step);
    EXPECT_EQ(rig.read(12), 0xA5);
}

TEST(CiaSerial, NothingShiftsWithoutAByteOrInInputMode)
{
    CiaRig idle;
    idle.startTimerA(0, 0x41);
    idle.step(100);
    CiaRig input;
    input.startTimerA(0, 0x01);
    input.write(12, 0x55);
    input.step(100);
    for (CiaRig* rig : {&idle, &input}) {
        EXPECT_TRUE(rig->bus.only(CiaCall::Sp).empty());
        EXPECT_TRUE(rig->bus.only(CiaCall::Cnt).empty());
        EXPECT_EQ(rig->read(13) & 0x08, 0);
    }
}

TEST(CiaReset, KeepsTimersClearsMaskAndPortsAndReportsLines)
{
    CiaRig rig;
    rig.write(13, 0x81);
    rig.write(2, 0xFF);
    rig.write(0, 0x55);
    rig.write(12, 0x77);
    rig.startTimerA(5, 0x01);
    rig.step(3);
    rig.read(1);
    rig.bus.calls.clear();
    const uint16_t counter = rig.counterA();

    rig.cia.reset();
    EXPECT_EQ(toString(rig.bus.calls), "irq0@3 pc1@3 sp1@3 cnt1@3");
    EXPECT_EQ(rig.counterA(), counter);
    EXPECT_EQ(rig.cia.timerALatch(), 5);
    EXPECT_EQ(rig.read(2), 0x00);
    EXPECT_EQ(rig.read(12), 0x00);
    EXPECT_EQ(rig.cia.portAOutput(), 0xFF);
    // The timer still runs: underflow at step 7, but the cleared mask keeps the line down.
    rig.bus.calls.clear();
    rig.step(4);
    EXPECT_EQ(rig.read(13), 0x01);
    EXPECT_TRUE(rig.bus.only(CiaCall::Irq).empty());
    EXPECT_TRUE(rig.bus.only(CiaCall::Pc).empty());  // PC already high
}

TEST(CiaReset, DropsAnAssertedLine)
{
    CiaRig rig;
    rig.writeLatchA(0);
    rig.write(13, 0x81);
    rig.write(14, 0x11);
    rig.step(10);
    EXPECT_EQ(rig.bus.only(CiaCall::Irq).size(), 1u);
    rig.cia.reset();
    rig.step(10);  // the pending flag went with the reset; the mask too
    EXPECT_EQ(toString(rig.bus.only(CiaCall::Irq)), "irq1@4 irq0@10");
    EXPECT_EQ(rig.read(13) & 0x80, 0);
}

}  // namespace
