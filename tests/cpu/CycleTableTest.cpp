// Cycle counts of all 256 opcodes, and where each instruction polls the interrupt lines.
#include "TestBus.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>
#include <vector>

using M6502CPP::M6502;
using cputest::TestBus;

namespace {

// Row = high nibble; b = branch (2/3/4); + = one more on a page crossing.
const char* const kCycleRows[16] = {
    "7 6 7 8 3 3 5 5 3 2 2 2 4 4 6 6",        "b 5+ 7 8 4 4 6 6 2 4+ 2 7 4+ 4+ 7 7",
    "6 6 7 8 3 3 5 5 4 2 2 2 4 4 6 6",        "b 5+ 7 8 4 4 6 6 2 4+ 2 7 4+ 4+ 7 7",
    "6 6 7 8 3 3 5 5 3 2 2 2 3 4 6 6",        "b 5+ 7 8 4 4 6 6 2 4+ 2 7 4+ 4+ 7 7",
    "6 6 7 8 3 3 5 5 4 2 2 2 5 4 6 6",        "b 5+ 7 8 4 4 6 6 2 4+ 2 7 4+ 4+ 7 7",
    "2 6 2 6 3 3 3 3 2 2 2 2 4 4 4 4",        "b 6 7 6 4 4 4 4 2 5 2 5 5 5 5 5",
    "2 6 2 6 3 3 3 3 2 2 2 2 4 4 4 4",        "b 5+ 7 5+ 4 4 4 4 2 4+ 2 4+ 4+ 4+ 4+ 4+",
    "2 6 2 8 3 3 5 5 2 2 2 2 4 4 6 6",        "b 5+ 7 8 4 4 6 6 2 4+ 2 7 4+ 4+ 7 7",
    "2 6 2 8 3 3 5 5 2 2 2 2 4 4 6 6",        "b 5+ 2 8 4 4 6 6 2 4+ 2 7 4+ 4+ 7 7",
};

struct Timing {
    bool branch = false;
    int cycles = 0;
    bool pageExtra = false;
};

Timing timing(int opcode) {
    std::istringstream row(kCycleRows[opcode >> 4]);
    std::string cell;
    for (int i = 0; i <= (opcode & 15); ++i)
        row >> cell;
    Timing t;
    if (cell == "b") {
        t.branch = true;
        return t;
    }
    t.pageExtra = cell.back() == '+';
    t.cycles = std::stoi(cell);
    return t;
}

bool isBranch(int opcode) { return (opcode & 0x1F) == 0x10; }
bool isJam(int opcode) {
    switch (opcode) {
    case 0x02: case 0x12: case 0x22: case 0x32: case 0x42: case 0x52:
    case 0x62: case 0x72: case 0x92: case 0xB2: case 0xD2: return true;
    default: return false;
    }
}

// One instruction at $C000: operands $10 $12 (zero page $10, absolute $1210); the pointer
// at $10/$11 is $12F8. With index 0 nothing crosses a page; with $FF every indexed
// address does. SP is $F0 over a zeroed stack, so RTI and PLP pull P = 0.
struct OneStep {
    uint64_t cycles;
    uint64_t tickSum;
    uint64_t tickCalls;
    int32_t state;
};

OneStep runOne(int opcode, uint8_t index, uint8_t p, const std::vector<TestBus::LineAction>& actions = {}) {
    TestBus bus;
    bus.load(0xC000, {uint8_t(opcode), 0x10, 0x12});
    bus.poke16(0x10, 0x12F8);
    bus.start(0xC000);
    bus.cpu.X = index;
    bus.cpu.Y = index;
    bus.cpu.P = p;
    bus.cpu.SP = 0xF0;
    bus.lineActions = actions;
    OneStep r;
    r.cycles = bus.cpu.stepState();
    r.tickSum = bus.cycles;
    r.tickCalls = bus.tickCalls;
    r.state = bus.cpu.getStateIndex();
    return r;
}

TEST(M6502Cycles, AllOpcodesMatchTheTable) {
    for (int op = 0; op < 256; ++op) {
        const Timing t = timing(op);
        if (t.branch)
            continue;
        SCOPED_TRACE(testing::Message() << "opcode $" << std::hex << op);
        const OneStep same = runOne(op, 0x00, 0x24);
        EXPECT_EQ(same.cycles, uint64_t(t.cycles));
        EXPECT_EQ(same.tickSum, same.cycles);
        const OneStep crossed = runOne(op, 0xFF, 0x24);
        EXPECT_EQ(crossed.cycles, uint64_t(t.cycles + (t.pageExtra ? 1 : 0)));
        EXPECT_EQ(crossed.tickSum, crossed.cycles);
    }
}

TEST(M6502Cycles, Branches) {
    struct Flag {
        int opcode;
        uint8_t takenWhen;  // P value that takes the branch
        uint8_t notTaken;
    };
    const Flag flags[] = {{0x10, 0x00, 0x80}, {0x30, 0x80, 0x00}, {0x50, 0x00, 0x40}, {0x70, 0x40, 0x00},
                          {0x90, 0x00, 0x01}, {0xB0, 0x01, 0x00}, {0xD0, 0x00, 0x02}, {0xF0, 0x02, 0x00}};
    for (const Flag& f : flags) {
        SCOPED_TRACE(testing::Message() << "opcode $" << std::hex << f.opcode);
        for (const auto& [pc, offset, taken, cycles, target] :
             {std::tuple{0xC000, 0x10, false, 2, 0xC002}, std::tuple{0xC000, 0x10, true, 3, 0xC012},
              std::tuple{0xC000, 0x80, true, 4, 0xBF82}, std::tuple{0xC0F0, 0x7F, true, 4, 0xC171},
              std::tuple{0xC0FE, 0x00, true, 3, 0xC100}, std::tuple{0xC0FD, 0xFF, true, 3, 0xC0FE},
              std::tuple{0xC0FD, 0x01, true, 4, 0xC100}, std::tuple{0xC0FF, 0x01, true, 3, 0xC102}}) {
            TestBus bus;
            bus.load(uint16_t(pc), {uint8_t(f.opcode), uint8_t(offset)});
            bus.start(uint16_t(pc));
            bus.cpu.P = uint8_t((taken ? f.takenWhen : f.notTaken) | 0x24);
            EXPECT_EQ(bus.cpu.stepState(), uint64_t(cycles)) << pc << " " << offset;
            EXPECT_EQ(bus.cpu.PC, target);
        }
    }
}

// The poll is the tick that ends the next-to-last cycle: an IRQ raised inside the tick call
// before the last one is requested by the instruction, one raised in the last is not.
TEST(M6502Cycles, PollEndsTheNextToLastCycle) {
    for (int op = 0; op < 256; ++op) {
        if (isBranch(op) || isJam(op) || op == 0x00 || op == 0xF2)
            continue;
        SCOPED_TRACE(testing::Message() << "opcode $" << std::hex << op);
        const uint64_t calls = runOne(op, 0, 0x20).tickCalls;
        ASSERT_GE(calls, 2u);
        EXPECT_EQ(runOne(op, 0, 0x20, {{calls - 1, 1, -1}}).state, M6502::STATE_IRQ);
        EXPECT_EQ(runOne(op, 0, 0x20, {{calls, 1, -1}}).state, M6502::STATE_RUN);
        EXPECT_EQ(runOne(op, 0, 0x24, {{calls - 1, -1, 1}}).state, M6502::STATE_NMI);
        EXPECT_EQ(runOne(op, 0, 0x24, {{calls, -1, 1}}).state, M6502::STATE_RUN);
    }
}

TEST(M6502Cycles, NoPollInBrkJamAndUserOpcode) {
    for (int op = 0; op < 256; ++op) {
        if (!(isJam(op) || op == 0x00 || op == 0xF2))
            continue;
        SCOPED_TRACE(testing::Message() << "opcode $" << std::hex << op);
        TestBus bus;
        bus.load(0xC000, {uint8_t(op)});
        bus.start(0xC000);
        bus.cpu.P = 0x20;
        bus.cpu.setIrqLine(1);
        bus.cpu.setNmiLine(1);
        const uint64_t cycles = bus.cpu.stepState();
        EXPECT_EQ(cycles, op == 0xF2 ? 2u : 7u);
        EXPECT_EQ(bus.cpu.getStateIndex(), isJam(op) ? M6502::STATE_JAMMED : M6502::STATE_RUN);
        // Their merged ticks leave the counters alone.
        EXPECT_EQ(bus.cpu.getIrqCounter(), 0);
        EXPECT_EQ(bus.cpu.getNmiCounter(), 0);
    }
}

// Branch polls: not taken and taken in-page poll in the first tick only; a page crossing
// polls again in the third.
TEST(M6502Cycles, BranchPolls) {
    struct Case {
        uint16_t pc;
        uint8_t offset;
        uint8_t p;
        uint64_t raiseInTick;
        bool requested;
    };
    const Case cases[] = {
        {0xC000, 0x10, 0x22, 1, true},  {0xC000, 0x10, 0x22, 2, false},  // not taken (BNE, Z set)
        {0xC000, 0x10, 0x20, 1, true},  {0xC000, 0x10, 0x20, 2, false}, {0xC000, 0x10, 0x20, 3, false},
        {0xC0F0, 0x20, 0x20, 1, true},  {0xC0F0, 0x20, 0x20, 2, true},   {0xC0F0, 0x20, 0x20, 3, true},
        {0xC0F0, 0x20, 0x20, 4, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pc " << c.pc << " tick " << c.raiseInTick);
        TestBus bus;
        bus.load(c.pc, {0xD0, c.offset});  // BNE
        bus.start(c.pc);
        bus.cpu.P = c.p;
        bus.lineActions = {{c.raiseInTick, 1, -1}};
        bus.cpu.stepState();
        EXPECT_EQ(bus.cpu.getStateIndex(), c.requested ? M6502::STATE_IRQ : M6502::STATE_RUN);
    }
}

}  // namespace
