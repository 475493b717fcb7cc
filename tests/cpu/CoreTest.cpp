// Processor object: states, reset, interrupt inputs and entry sequences, events.
#include "TestBus.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

using M6502CPP::M6502;
using cputest::TestBus;

namespace {

constexpr uint8_t NOP = 0xEA;

TEST(M6502Core, NewCpuSteppedWithoutResetStops) {
    TestBus bus;
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_INIT);
    EXPECT_EQ(bus.cpu.stepState(), 1u);
    EXPECT_EQ(bus.trace(), "");
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_STOPPED);
    for (int i = 0; i < 3; ++i) {
        bus.clear();
        EXPECT_EQ(bus.cpu.stepState(), 7u);
        EXPECT_EQ(bus.trace(), "t7");
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_STOPPED);
    }
    // Stopped only ticks, whatever the request.
    bus.clear();
    EXPECT_EQ(bus.cpu.requestReset(), 7u);
    EXPECT_EQ(bus.trace(), "t7");
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_STOPPED);
}

TEST(M6502Core, InitialValues) {
    TestBus bus;
    EXPECT_EQ(bus.cpu.A | bus.cpu.X | bus.cpu.Y | bus.cpu.P | bus.cpu.SP | bus.cpu.PC, 0);
    EXPECT_EQ(bus.cpu.getIrqCounter(), 0);
    EXPECT_EQ(bus.cpu.getNmiCounter(), M6502::NEVER);
    EXPECT_EQ(bus.cpu.getLatchedI(), 0);
    EXPECT_EQ(bus.cpu.getIrqLineLevel(), 0);
    EXPECT_EQ(bus.cpu.getNmiLineLevel(), 0);
}

TEST(M6502Core, ResetRequestOnNewCpuResetsAtNextStep) {
    TestBus bus;
    bus.poke16(0xFFFC, 0xC000);
    EXPECT_EQ(bus.cpu.requestReset(), 1u);
    EXPECT_EQ(bus.trace(), "");
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RESET);
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.cpu.PC, 0xC000);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);

    TestBus other;
    EXPECT_EQ(other.cpu.setRunState(M6502::REQUEST_IRQ), 1u);
    EXPECT_EQ(other.cpu.getStateIndex(), M6502::STATE_STOPPED);
    EXPECT_EQ(other.cpu.setRunState(M6502::REQUEST_RESET), 1u);
    EXPECT_EQ(other.cpu.getStateIndex(), M6502::STATE_RESET);
}

TEST(M6502Core, PowerOnReset) {
    TestBus bus;
    bus.poke16(0xFFFC, 0xC000);
    bus.cpu.A = 1;
    bus.cpu.X = 2;
    bus.cpu.Y = 3;
    bus.cpu.P = 0xFF;
    bus.cpu.SP = 0x10;
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(bus.cpu.powerOnReset(), 7u);
    EXPECT_EQ(bus.trace(), "rFFFC rFFFD e0@C000 t7");
    EXPECT_EQ(bus.cpu.A, 0);
    EXPECT_EQ(bus.cpu.X, 0);
    EXPECT_EQ(bus.cpu.Y, 0);
    EXPECT_EQ(bus.cpu.P, 0x04);
    EXPECT_EQ(bus.cpu.SP, 0xFD);
    EXPECT_EQ(bus.cpu.PC, 0xC000);
    EXPECT_EQ(bus.cpu.getLatchedI(), 1);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
    // Lines and counters are left as they were.
    EXPECT_EQ(bus.cpu.getIrqLineLevel(), 1);
    EXPECT_EQ(bus.cpu.getIrqCounter(), 0);
}

TEST(M6502Core, ResetSequenceWrapsSpAndKeepsRegisters) {
    TestBus bus;
    bus.ram[0xC000] = NOP;
    bus.start(0xC000);
    bus.poke16(0xFFFC, 0xD000);
    bus.cpu.A = 0x11;
    bus.cpu.X = 0x22;
    bus.cpu.Y = 0x33;
    bus.cpu.P = 0xCB;  // N V D C Z, I clear
    bus.cpu.SP = 0x02;
    EXPECT_EQ(bus.cpu.requestReset(), 0u);
    EXPECT_EQ(bus.trace(), "");
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RESET);
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.trace(), "rFFFC rFFFD e0@D000 t7");
    EXPECT_EQ(bus.cpu.SP, 0xFF);
    EXPECT_EQ(bus.cpu.A, 0x11);
    EXPECT_EQ(bus.cpu.X, 0x22);
    EXPECT_EQ(bus.cpu.Y, 0x33);
    EXPECT_EQ(bus.cpu.P, 0xC7);  // D cleared, I set, the rest kept
    EXPECT_EQ(bus.cpu.PC, 0xD000);
    EXPECT_EQ(bus.cpu.getLatchedI(), 1);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
    EXPECT_EQ(bus.ram[0x0100] | bus.ram[0x01FF] | bus.ram[0x01FE], 0);  // no stack access
}

// An interrupt requested by a NOP at $C000, entered by the next step.
struct EntryCase {
    const char* name;
    bool nmi;
    uint8_t p;
    uint8_t pushedP;
    uint8_t pAfter;
    const char* trace;
};

TEST(M6502Core, InterruptEntrySequences) {
    const EntryCase cases[] = {
        {"IRQ, D set", false, 0x38, 0x28, 0x2C, "t5 rFFFE rFFFF t2 e1@E000"},
        {"IRQ, B clear", false, 0xE3, 0xE3, 0xE7, "t5 rFFFE rFFFF t2 e1@E000"},
        {"NMI", true, 0x30, 0x30, 0x24, "t5 rFFFA rFFFB t2 e2@D000"},
        {"NMI, I and D set", true, 0x0D, 0x0D, 0x0D, "t5 rFFFA rFFFB t2 e2@D000"},
    };
    for (const EntryCase& c : cases) {
        SCOPED_TRACE(c.name);
        TestBus bus;
        bus.ram[0xC000] = NOP;
        bus.poke16(0xFFFA, 0xD000);
        bus.poke16(0xFFFE, 0xE000);
        bus.start(0xC000);
        bus.cpu.P = c.p;
        bus.cpu.SP = 0xFF;
        if (c.nmi)
            bus.cpu.setNmiLine(1);
        else
            bus.cpu.setIrqLine(1);
        EXPECT_EQ(bus.cpu.stepState(), 2u);
        EXPECT_EQ(bus.cpu.getStateIndex(), c.nmi ? M6502::STATE_NMI : M6502::STATE_IRQ);
        bus.clear();
        EXPECT_EQ(bus.cpu.stepState(), 7u);
        EXPECT_EQ(bus.trace(), c.trace);
        EXPECT_EQ(bus.ram[0x01FF], 0xC0);
        EXPECT_EQ(bus.ram[0x01FE], 0x01);
        EXPECT_EQ(bus.ram[0x01FD], c.pushedP);
        EXPECT_EQ(bus.cpu.SP, 0xFC);
        EXPECT_EQ(bus.cpu.P, c.pAfter);
        EXPECT_EQ(bus.cpu.PC, c.nmi ? 0xD000 : 0xE000);
        EXPECT_EQ(bus.cpu.getLatchedI(), 1);
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
    }
}

TEST(M6502Core, IrqLineIsLevelSensitive) {
    TestBus bus;
    bus.load(0xC000, {NOP, NOP});
    bus.start(0xC000);  // I set: nothing is taken
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(bus.cpu.getIrqCounter(), 0);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.getIrqCounter(), -2);
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(bus.cpu.getIrqCounter(), -2);
    EXPECT_EQ(bus.cpu.getIrqLineLevel(), 1);
    bus.cpu.setIrqLine(0);
    EXPECT_EQ(bus.cpu.getIrqCounter(), M6502::NEVER);
    EXPECT_EQ(bus.cpu.getIrqLineLevel(), 0);
    // A level that does not fit the byte still counts as asserted.
    bus.cpu.setIrqLine(0x100);
    EXPECT_EQ(bus.cpu.getIrqCounter(), 0);
    EXPECT_NE(bus.cpu.getIrqLineLevel(), 0);
    bus.cpu.setIrqLine(1);
    EXPECT_EQ(bus.cpu.getIrqCounter(), 0);
    // Released before a poll: withdrawn.
    bus.cpu.P = 0;
    bus.cpu.setIrqLine(0);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
}

TEST(M6502Core, NmiLineIsEdgeTriggered) {
    TestBus bus;
    for (int i = 0; i < 8; ++i)
        bus.ram[0xC000 + i] = NOP;
    bus.poke16(0xFFFA, 0xC000);
    bus.start(0xC000);
    bus.cpu.setNmiLine(1);
    EXPECT_EQ(bus.cpu.getNmiCounter(), 0);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_NMI);
    // The poll set it to never; the NOP's last tick counted down once more.
    EXPECT_EQ(bus.cpu.getNmiCounter(), M6502::NEVER - 1);
    bus.cpu.stepState();    // entry: no count-down
    bus.cpu.setNmiLine(1);  // still high: no new edge
    EXPECT_EQ(bus.cpu.getNmiCounter(), M6502::NEVER - 1);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
    bus.cpu.setNmiLine(0);
    EXPECT_EQ(bus.cpu.getNmiCounter(), M6502::NEVER - 3);
    bus.cpu.setNmiLine(1);
    EXPECT_EQ(bus.cpu.getNmiCounter(), 0);
    // Releasing the line does not withdraw a pending NMI.
    bus.cpu.setNmiLine(0);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_NMI);
}

TEST(M6502Core, NmiBeforeIrqAtOnePoll) {
    TestBus bus;
    bus.ram[0xC000] = NOP;
    bus.ram[0xD000] = 0x40;  // RTI
    bus.poke16(0xFFFA, 0xD000);
    bus.poke16(0xFFFE, 0xE000);
    bus.start(0xC000);
    bus.cpu.P = 0x20;
    bus.cpu.setIrqLine(1);
    bus.cpu.setNmiLine(1);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_NMI);
    EXPECT_EQ(bus.cpu.getIrqCounter(), -1);  // the NMI's poll leaves it alone; the last tick counts
    bus.clear();
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.trace(), "t5 rFFFA rFFFB t2 e2@D000");
    // RTI clears I again; its own poll requests the IRQ still held on its line.
    EXPECT_EQ(bus.cpu.stepState(), 6u);
    EXPECT_EQ(bus.cpu.PC, 0xC001);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_IRQ);
    bus.clear();
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.trace(), "t5 rFFFE rFFFF t2 e1@E000");
    EXPECT_EQ(bus.ram[0x01FD], 0xC0);
    EXPECT_EQ(bus.ram[0x01FC], 0x01);
}

TEST(M6502Core, ResetRequestsPerState) {
    // RUN: state change only, reset at the next step.
    {
        TestBus bus;
        bus.ram[0xC000] = NOP;
        bus.start(0xC000);
        EXPECT_EQ(bus.cpu.requestReset(), 0u);
        EXPECT_EQ(bus.trace(), "");
        EXPECT_EQ(bus.cpu.stepState(), 7u);
        EXPECT_EQ(bus.trace(), "rFFFC rFFFD e0@C000 t7");
    }
    // IRQ: replaced by the reset.
    {
        TestBus bus;
        bus.ram[0xC000] = NOP;
        bus.start(0xC000);
        bus.cpu.P = 0;
        bus.cpu.setIrqLine(1);
        bus.cpu.stepState();
        ASSERT_EQ(bus.cpu.getStateIndex(), M6502::STATE_IRQ);
        EXPECT_EQ(bus.cpu.requestReset(), 0u);
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RESET);
    }
    // JAMMED: ticks 7 and stays.
    {
        TestBus bus;
        bus.ram[0xC000] = 0x02;
        bus.start(0xC000);
        bus.cpu.stepState();
        ASSERT_EQ(bus.cpu.getStateIndex(), M6502::STATE_JAMMED);
        bus.clear();
        EXPECT_EQ(bus.cpu.requestReset(), 7u);
        EXPECT_EQ(bus.trace(), "t7");
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_JAMMED);
        EXPECT_EQ(bus.cpu.stepState(), 7u);
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_JAMMED);
        // Neither the jam opcode nor the idle ticks count the interrupt counters down.
        EXPECT_EQ(bus.cpu.getIrqCounter(), M6502::NEVER);
        EXPECT_EQ(bus.cpu.getNmiCounter(), M6502::NEVER);
        // Only the power-on reset leaves it.
        bus.cpu.powerOnReset();
        EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_RUN);
    }
}

TEST(M6502Core, PushWritesRamDirectly) {
    TestBus bus;
    bus.cpu.SP = 0x00;
    bus.cpu.push(0x5A);
    EXPECT_EQ(bus.ram[0x0100], 0x5A);
    EXPECT_EQ(bus.cpu.SP, 0xFF);
    bus.cpu.push(0xA5);
    EXPECT_EQ(bus.ram[0x01FF], 0xA5);
    EXPECT_EQ(bus.cpu.SP, 0xFE);
    EXPECT_TRUE(bus.calls.empty());
}

TEST(M6502Core, ClearInterrupts) {
    TestBus bus;
    bus.cpu.setIrqLine(1);
    bus.cpu.setNmiLine(1);
    bus.cpu.clearInterrupts();
    EXPECT_EQ(bus.cpu.getIrqCounter(), M6502::NEVER);
    EXPECT_EQ(bus.cpu.getNmiCounter(), M6502::NEVER);
    EXPECT_EQ(bus.cpu.getIrqLineLevel(), 0);
    EXPECT_EQ(bus.cpu.getNmiLineLevel(), 0);
}

TEST(M6502Core, EventNames) {
    const char* const names[] = {"RESET", "IRQ", "NMI", "BRK", "USER_OPCODE",
                                 "POP_FAULT", "PUSH_FAULT", "JAM", "ERROR"};
    for (int id = 0; id < 9; ++id)
        EXPECT_EQ(std::string(M6502::cpuEventName(id)), names[id]) << id;
    for (int id : {-1, 9, 100, INT_MIN, INT_MAX})
        EXPECT_EQ(std::string(M6502::cpuEventName(id)), "UNKNOWN") << id;
}

// The state handlers are reached through the object's table, so the INIT entry is the
// virtual setRunState of the most derived class.
TEST(M6502Core, InitStateDispatchesVirtually) {
    struct Counting : M6502 {
        using M6502::M6502;
        int calls = 0;
        uint64_t setRunState(int32_t request) override {
            ++calls;
            return M6502::setRunState(request) + 10;
        }
    };
    TestBus bus;
    Counting cpu(bus.ram.data(), &bus);
    EXPECT_EQ(cpu.stepState(), 11u);
    EXPECT_EQ(cpu.calls, 1);
    EXPECT_EQ(cpu.getStateIndex(), M6502::STATE_STOPPED);
}

}  // namespace
