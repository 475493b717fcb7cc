// Interrupt latency around the instructions that change I, branches, BRK, jam and $F2.
#include "TestBus.h"

#include <gtest/gtest.h>

using M6502CPP::M6502;
using cputest::TestBus;

namespace {

constexpr uint8_t NOP = 0xEA;

// Steps one instruction and returns the state after it.
int32_t step(TestBus& bus) {
    bus.cpu.stepState();
    return bus.cpu.getStateIndex();
}

TEST(M6502Interrupts, CliLetsTheIrqInAfterTheNextInstruction) {
    TestBus bus;
    bus.load(0xC000, {0x58, NOP, NOP});  // CLI
    bus.start(0xC000);                   // I set
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(step(bus), M6502::STATE_RUN);
    EXPECT_EQ(bus.cpu.P & M6502::FLAG_I, 0);
    EXPECT_EQ(step(bus), M6502::STATE_IRQ);
    EXPECT_EQ(bus.cpu.PC, 0xC002);
}

TEST(M6502Interrupts, SeiIsStillFollowedByThePendingIrq) {
    TestBus bus;
    bus.load(0xC000, {0x78, NOP});  // SEI
    bus.start(0xC000);
    bus.cpu.P = 0x20;
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(step(bus), M6502::STATE_IRQ);
    EXPECT_NE(bus.cpu.P & M6502::FLAG_I, 0);
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.ram[0x01FB], 0x24);  // pushed with I set by SEI
}

TEST(M6502Interrupts, PlpPullingIClearActsFromTheNextInstruction) {
    TestBus bus;
    bus.load(0xC000, {0x28, NOP, NOP});  // PLP
    bus.start(0xC000);
    bus.ram[0x01FE] = 0x00;
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(step(bus), M6502::STATE_RUN);
    EXPECT_EQ(bus.cpu.P, 0x00);
    EXPECT_EQ(step(bus), M6502::STATE_IRQ);
    EXPECT_EQ(bus.cpu.PC, 0xC002);
}

TEST(M6502Interrupts, PlpSettingIStillLetsTheIrqInOnce) {
    TestBus bus;
    bus.load(0xC000, {0x28, NOP});
    bus.start(0xC000);
    bus.cpu.P = 0x20;
    bus.ram[0x01FE] = 0x04;
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(step(bus), M6502::STATE_IRQ);  // polled with the old I clear
}

TEST(M6502Interrupts, RtiPullingIClearRequestsInItsOwnPoll) {
    TestBus bus;
    bus.load(0xC000, {0x40});  // RTI
    bus.start(0xC000);
    bus.ram[0x01FE] = 0x00;  // P
    bus.ram[0x01FF] = 0x00;  // PC low
    bus.ram[0x0100] = 0xD0;  // PC high: SP wraps
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(step(bus), M6502::STATE_IRQ);
    EXPECT_EQ(bus.cpu.PC, 0xD000);
    EXPECT_EQ(bus.cpu.SP, 0x00);
}

TEST(M6502Interrupts, IrqLateInAnInPageBranchWaitsForTheNextInstruction) {
    for (uint64_t tick : {2u, 3u}) {
        SCOPED_TRACE(tick);
        TestBus bus;
        bus.load(0xC000, {0xD0, 0x02, NOP, NOP, NOP, NOP});  // BNE +2, taken
        bus.start(0xC000);
        bus.cpu.P = 0x20;
        bus.lineActions = {{tick, 1, -1}};
        EXPECT_EQ(bus.cpu.stepState(), 3u);
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
        EXPECT_EQ(step(bus), M6502::STATE_IRQ);
        EXPECT_EQ(bus.cpu.PC, 0xC005);
    }
}

// First poll of a page-crossing branch requests the IRQ; the second hands an NMI to the
// IRQ state, which gives way to it.
TEST(M6502Interrupts, SecondBranchPollUpgradesIrqToNmi) {
    TestBus bus;
    bus.load(0xC0F0, {0xD0, 0x20});
    bus.poke16(0xFFFA, 0xD000);
    bus.start(0xC0F0);
    bus.cpu.P = 0x20;
    bus.cpu.setIrqLine(1);
    bus.lineActions = {{2, -1, 1}};
    EXPECT_EQ(bus.cpu.stepState(), 4u);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_NMI);
    bus.clear();
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.trace(), "t5 rFFFA rFFFB t2 e2@D000");
}

TEST(M6502Interrupts, BrkPushesAndReportsWithoutPolling) {
    TestBus bus;
    bus.load(0xC000, {0x00, 0x77});
    bus.poke16(0xFFFE, 0xE000);
    bus.start(0xC000);
    bus.cpu.P = 0x03;  // bit 5 and B clear, I clear
    bus.cpu.SP = 0xFF;
    bus.cpu.setIrqLine(1);
    bus.cpu.setNmiLine(1);
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.trace(), "rC000 t5 rFFFE rFFFF t2 e3@DFFF");
    EXPECT_EQ(bus.ram[0x01FF], 0xC0);
    EXPECT_EQ(bus.ram[0x01FE], 0x02);
    EXPECT_EQ(bus.ram[0x01FD], 0x33);
    EXPECT_EQ(bus.cpu.P, 0x17);  // B kept, I set
    EXPECT_EQ(bus.cpu.PC, 0xE000);
    EXPECT_EQ(bus.cpu.SP, 0xFC);
    EXPECT_EQ(bus.cpu.getLatchedI(), 1);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
    EXPECT_EQ(bus.cpu.getIrqCounter(), 0);
    EXPECT_EQ(bus.cpu.getNmiCounter(), 0);
}

TEST(M6502Interrupts, JamAndUserOpcode) {
    for (uint8_t op : {uint8_t(0x02), uint8_t(0x12)}) {
        TestBus bus;
        bus.load(0xC000, {op});
        bus.start(0xC000);
        EXPECT_EQ(bus.cpu.stepState(), 7u);
        EXPECT_EQ(bus.trace(), "rC000 e7@C001 t7");
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_JAMMED);
        EXPECT_EQ(bus.cpu.PC, 0xC001);
        bus.clear();
        EXPECT_EQ(bus.cpu.stepState(), 7u);
        EXPECT_EQ(bus.trace(), "t7");
    }
    TestBus bus;
    bus.load(0xC000, {0xF2, NOP});
    bus.start(0xC000);
    EXPECT_EQ(bus.cpu.stepState(), 2u);
    EXPECT_EQ(bus.trace(), "rC000 e4@C001 t2");
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
    EXPECT_EQ(bus.cpu.PC, 0xC001);
    EXPECT_EQ(bus.cpu.stepState(), 2u);
    EXPECT_EQ(bus.cpu.PC, 0xC002);
}

// IRQ requested, then released before the entry step: the entry still runs (the request
// is a state), as the machine sees it.
TEST(M6502Interrupts, RequestIsKeptAsState) {
    TestBus bus;
    bus.load(0xC000, {NOP});
    bus.poke16(0xFFFE, 0xE000);
    bus.start(0xC000);
    bus.cpu.P = 0x20;
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(step(bus), M6502::STATE_IRQ);
    bus.cpu.setIrqLine(0);
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.cpu.PC, 0xE000);
}

// A request a run left pending, its source acknowledged: clearing the interrupts drops it, so
// the next step runs an instruction; a line still asserted is polled anew.
TEST(M6502Interrupts, ClearInterruptsDropsARequestNotYetEntered) {
    for (const bool nmi : {false, true}) {
        SCOPED_TRACE(nmi ? "NMI" : "IRQ");
        TestBus bus;
        bus.load(0xC000, {NOP, NOP, NOP, NOP});
        bus.poke16(0xFFFE, 0xE000);
        bus.poke16(0xFFFA, 0xE100);
        bus.start(0xC000);
        bus.cpu.P = 0x20;
        if (nmi)
            bus.cpu.setNmiLine(1);
        else
            bus.cpu.setIrqLine(1);
        int64_t budget = 1;
        bus.cpu.runCycles(budget);
        ASSERT_EQ(bus.cpu.getStateIndex(), nmi ? M6502::STATE_NMI : M6502::STATE_IRQ);
        bus.cpu.setIrqLine(0);
        bus.cpu.setNmiLine(0);
        bus.cpu.clearInterrupts();
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
        bus.clear();
        EXPECT_EQ(bus.cpu.stepState(), 2u);
        EXPECT_EQ(bus.trace(), "rC001 t1 t1");  // a NOP, no entry
        EXPECT_EQ(bus.cpu.PC, 0xC002);

        // The source asserts again (a device whose line stayed up): the next poll requests it.
        if (nmi)
            bus.cpu.setNmiLine(1);
        else
            bus.cpu.setIrqLine(1);
        EXPECT_EQ(step(bus), nmi ? M6502::STATE_NMI : M6502::STATE_IRQ);
        EXPECT_EQ(bus.cpu.stepState(), 7u);
        EXPECT_EQ(bus.cpu.PC, nmi ? 0xE100 : 0xE000);
    }
}

// Stopped and jammed states are not interrupt requests: clearing leaves them.
TEST(M6502Interrupts, ClearInterruptsLeavesOtherStates) {
    TestBus bus;
    bus.load(0xC000, {0x02});
    bus.start(0xC000);
    bus.cpu.stepState();
    ASSERT_EQ(bus.cpu.getStateIndex(), M6502::STATE_JAMMED);
    bus.cpu.clearInterrupts();
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_JAMMED);
}

}  // namespace
