// The run executor against the step executor: budgets, the run frame, and parity of
// traces, registers and cycles over the test programs and random byte streams.
#include "ProgramHarness.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <random>
#include <string>
#include <utility>
#include <vector>

using M6502CPP::M6502;
using namespace cputest;

namespace {

constexpr uint8_t NOP = 0xEA;

TEST(M6502Run, BudgetZeroOrLessRunsNothing) {
    for (int64_t start : {int64_t(0), int64_t(-5), INT64_MIN}) {
        SCOPED_TRACE(start);
        TestBus bus;
        bus.load(0xC000, {NOP});
        bus.start(0xC000);
        bus.cpu.A = 0x12;
        int64_t budget = start;
        EXPECT_EQ(bus.cpu.runCycles(budget), 0u);
        EXPECT_EQ(budget, start == INT64_MIN ? INT64_MIN : start - 1);
        EXPECT_TRUE(bus.calls.empty());
        EXPECT_EQ(bus.cpu.PC, 0xC000);
        EXPECT_EQ(bus.cpu.A, 0x12);
        EXPECT_EQ(bus.cpu.SP, 0xFD);
        EXPECT_EQ(bus.cpu.P, 0x04);
    }
}

TEST(M6502Run, OneInstruction) {
    TestBus bus;
    bus.load(0xC000, {0xA9, 0x00});
    bus.start(0xC000);
    bus.cpu.A = 0x55;
    int64_t budget = 1;
    EXPECT_EQ(bus.cpu.runCycles(budget), 2u);
    EXPECT_EQ(budget, -1);
    EXPECT_EQ(bus.cpu.PC, 0xC002);
    EXPECT_EQ(bus.cpu.A, 0x00);
    EXPECT_EQ(bus.cpu.P, 0x06);
}

TEST(M6502Run, ThreeNops) {
    TestBus bus;
    bus.load(0xC000, {NOP, NOP, NOP, NOP});
    bus.start(0xC000);
    int64_t budget = 3;
    EXPECT_EQ(bus.cpu.runCycles(budget), 6u);
    EXPECT_EQ(budget, -1);
    EXPECT_EQ(bus.trace(), "rC000 t1 t1 rC001 t1 t1 rC002 t1 t1");
    EXPECT_EQ(bus.cpu.PC, 0xC003);
}

TEST(M6502Run, TrapEndsTheRunThroughTheBudget) {
    TestBus bus;
    bus.load(0xC000, {NOP, 0xF2, NOP, NOP, NOP});
    bus.start(0xC000);
    int64_t budget = 5;
    bus.budget = &budget;
    EXPECT_EQ(bus.cpu.runCycles(budget), 4u);  // NOP 2 + $F2 2
    EXPECT_EQ(budget, -1);
    EXPECT_EQ(bus.cpu.PC, 0xC002);
    EXPECT_EQ(bus.userEvents, 1);
}

TEST(M6502Run, IrqDuringARunIsEnteredAtTheNextStep) {
    TestBus bus;
    bus.load(0xC000, {NOP, NOP, NOP, NOP, NOP});
    bus.poke16(0xFFFE, 0xE000);
    bus.start(0xC000);
    bus.cpu.P = 0x20;
    bus.lineActions = {{1, 1, -1}};  // inside the first instruction's poll tick
    int64_t budget = 4;
    EXPECT_EQ(bus.cpu.runCycles(budget), 8u);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_IRQ);
    EXPECT_EQ(bus.cpu.PC, 0xC004);  // the rest of the run went on
    bus.clear();
    EXPECT_EQ(bus.cpu.stepState(), 7u);
    EXPECT_EQ(bus.trace(), "t5 rFFFE rFFFF t2 e1@E000");
    EXPECT_EQ(bus.ram[0x01FC], 0x04);  // return address $C004
}

TEST(M6502Run, RunStartingInIrqStateAcceptsOnlyAnNmiRequest) {
    TestBus bus;
    bus.load(0xC000, {NOP, NOP, NOP});
    bus.start(0xC000);
    bus.cpu.P = 0x20;
    bus.cpu.setIrqLine(1);
    int64_t budget = 1;
    bus.cpu.runCycles(budget);
    ASSERT_EQ(bus.cpu.getStateIndex(), M6502::STATE_IRQ);
    budget = 1;
    bus.cpu.runCycles(budget);  // IRQ request again: nothing changes
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_IRQ);
    bus.cpu.setNmiLine(1);
    budget = 1;
    bus.cpu.runCycles(budget);
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_NMI);
    EXPECT_EQ(bus.cpu.PC, 0xC003);
}

TEST(M6502Run, JamInARunGoesOn) {
    TestBus bus;
    bus.load(0xC000, {0x02, NOP});
    bus.start(0xC000);
    int64_t budget = 2;
    EXPECT_EQ(bus.cpu.runCycles(budget), 9u);
    EXPECT_EQ(bus.trace(), "rC000 e7@C001 t7 rC001 t1 t1");
    EXPECT_EQ(bus.cpu.getStateIndex(), M6502::STATE_JAMMED);
    EXPECT_EQ(bus.cpu.PC, 0xC002);
}

TEST(M6502Run, BrkInARunContinuesAtTheVector) {
    TestBus bus;
    bus.load(0xC000, {0x00, 0x00});
    bus.load(0xE000, {0xA9, 0x42});
    bus.poke16(0xFFFE, 0xE000);
    bus.start(0xC000);
    bus.cpu.P = 0x21;
    bus.cpu.SP = 0x80;
    int64_t budget = 2;
    EXPECT_EQ(bus.cpu.runCycles(budget), 9u);
    EXPECT_EQ(bus.ram[0x0180], 0xC0);
    EXPECT_EQ(bus.ram[0x017F], 0x02);
    EXPECT_EQ(bus.ram[0x017E], 0x31);
    EXPECT_EQ(bus.cpu.SP, 0x7D);
    EXPECT_EQ(bus.cpu.P, 0x35);
    EXPECT_EQ(bus.cpu.A, 0x42);
    EXPECT_EQ(bus.cpu.PC, 0xE002);
}

// Registers written by the listener during a run are replaced by the working copies.
TEST(M6502Run, ListenerRegisterWritesAreOverwritten) {
    struct Meddling : TestBus {
        bool meddle = false;
        void tick(uint64_t n) override {
            TestBus::tick(n);
            if (meddle) {
                cpu.A = 0x99;
                cpu.PC = 0x1234;
            }
        }
    } bus;
    bus.load(0xC000, {0xA9, 0x01, NOP});
    bus.start(0xC000);
    bus.meddle = true;
    int64_t budget = 2;
    bus.cpu.runCycles(budget);
    EXPECT_EQ(bus.cpu.A, 0x01);
    EXPECT_EQ(bus.cpu.PC, 0xC003);
}

// --- parity ---------------------------------------------------------------------------

struct Outcome {
    std::vector<BusCall> calls;
    uint64_t cycles = 0;
    uint8_t a, x, y, p, sp;
    uint16_t pc;
    int32_t state;
    std::vector<uint8_t> ram;
};

Outcome outcome(TestBus& bus, uint64_t cycles) {
    return {bus.calls, cycles, bus.cpu.A, bus.cpu.X, bus.cpu.Y, bus.cpu.P,
            bus.cpu.SP, bus.cpu.PC, bus.cpu.getStateIndex(), bus.ram};
}

void expectSame(const Outcome& a, const Outcome& b, const char* what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(a.calls.size(), b.calls.size());
    for (size_t i = 0; i < a.calls.size(); ++i)
        ASSERT_EQ(a.calls[i], b.calls[i]) << "call " << i << ": " << toString(a.calls[i]) << " vs "
                                          << toString(b.calls[i]);
    EXPECT_EQ(a.cycles, b.cycles);
    EXPECT_EQ(a.a, b.a);
    EXPECT_EQ(a.x, b.x);
    EXPECT_EQ(a.y, b.y);
    EXPECT_EQ(a.p, b.p);
    EXPECT_EQ(a.sp, b.sp);
    EXPECT_EQ(a.pc, b.pc);
    EXPECT_EQ(a.state, b.state);
    EXPECT_TRUE(a.ram == b.ram);
}

using BusSetup = std::function<void(TestBus&)>;

// n stepState calls, one runCycles(n) and n runCycles(1) from the same start.
void expectParity(const BusSetup& setup, uint64_t n) {
    TestBus stepped;
    setup(stepped);
    uint64_t cycles = 0;
    for (uint64_t i = 0; i < n; ++i)
        cycles += stepped.cpu.stepState();
    const Outcome a = outcome(stepped, cycles);

    TestBus whole;
    setup(whole);
    int64_t budget = int64_t(n);
    const Outcome b = outcome(whole, whole.cpu.runCycles(budget));
    EXPECT_EQ(budget, -1);

    TestBus single;
    setup(single);
    cycles = 0;
    for (uint64_t i = 0; i < n; ++i) {
        budget = 1;
        cycles += single.cpu.runCycles(budget);
    }
    const Outcome c = outcome(single, cycles);

    expectSame(a, b, "one runCycles(n)");
    expectSame(a, c, "n runCycles(1)");
}

// Steps while the CPU stays in STATE_RUN, at most max instructions; counts the last one.
uint64_t stepsWhileRunning(const BusSetup& setup, uint64_t max) {
    TestBus probe;
    probe.recording = false;
    setup(probe);
    uint64_t steps = 0;
    while (steps < max && probe.cpu.getStateIndex() == M6502::STATE_RUN) {
        probe.cpu.stepState();
        ++steps;
    }
    return steps;
}

bool isJam(uint8_t op) {
    return (op & 0x0F) == 0x02 && op != 0x82 && op != 0xA2 && op != 0xC2 && op != 0xE2 && op != 0xF2;
}

// Random RAM (vectors included) without jam opcodes, registers random, D as asked.
BusSetup randomStream(uint32_t seed, bool decimal) {
    return [seed, decimal](TestBus& bus) {
        std::mt19937 rng(seed);
        for (uint8_t& b : bus.ram) {
            b = uint8_t(rng());
            if (isJam(b))
                b = NOP;
        }
        bus.cpu.clearInterrupts();
        bus.cpu.powerOnReset();
        bus.cpu.A = uint8_t(rng());
        bus.cpu.X = uint8_t(rng());
        bus.cpu.Y = uint8_t(rng());
        bus.cpu.SP = uint8_t(rng());
        bus.cpu.P = uint8_t((rng() & ~0x08u) | (decimal ? 0x08 : 0));
        bus.clear();
    };
}

// A stream may store a jam opcode and run into it: the comparison ends with that jam,
// after which the step executor idles and a run goes on.
TEST(M6502Parity, RandomByteStreams) {
    uint64_t total = 0;
    for (uint32_t seed = 1; seed <= 12; ++seed)
        for (bool decimal : {false, true}) {
            SCOPED_TRACE(testing::Message() << "seed " << seed << (decimal ? " decimal" : " binary"));
            const BusSetup setup = randomStream(seed, decimal);
            const uint64_t n = stepsWhileRunning(setup, 3000);
            total += n;
            expectParity(setup, n);
        }
    EXPECT_GT(total, 20000u);
}

TEST(M6502Parity, Programs) {
    for (const char* name : {"documented", "undocumented"}) {
        SCOPED_TRACE(name);
        TestBus probe;
        probe.recording = false;
        ASSERT_TRUE(loadProgram(probe, name));
        const ProgramRun run = runStepping(probe);
        ASSERT_TRUE(run.finished);
        expectParity(
            [name](TestBus& bus) {
                loadProgram(bus, name);
                powerOn(bus);
            },
            run.steps);
    }
}

// With the lines driven by the listener, the executors agree up to the instruction whose
// poll makes the first request, and leave the same state.
TEST(M6502Parity, UpToTheFirstInterruptRequest) {
    std::vector<std::pair<std::string, BusSetup>> setups;
    setups.emplace_back("interrupts program", [](TestBus& bus) {
        loadProgram(bus, "interrupts");
        powerOn(bus);
    });
    for (uint32_t seed = 100; seed < 106; ++seed)
        setups.emplace_back("random stream " + std::to_string(seed), [seed](TestBus& bus) {
            randomStream(seed, seed & 1)(bus);
            bus.lineActions = {{200 + seed * 7, -1, 1}, {300 + seed * 5, 1, -1}};
        });
    for (const auto& [name, setup] : setups) {
        SCOPED_TRACE(name);
        const uint64_t steps = stepsWhileRunning(setup, 100000);
        TestBus probe;
        setup(probe);
        for (uint64_t i = 0; i < steps; ++i)
            probe.cpu.stepState();
        ASSERT_TRUE(probe.cpu.getStateIndex() == M6502::STATE_IRQ ||
                    probe.cpu.getStateIndex() == M6502::STATE_NMI)
            << probe.cpu.getStateIndex();
        expectParity(setup, steps);
    }
}

}  // namespace
