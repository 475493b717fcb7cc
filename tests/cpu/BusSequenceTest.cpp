// Exact listener sequence of one instruction per addressing mode and kind.
// Trace notation: rADDR read, wADDR:VV write, tN tick(N), eID@ADDR event.
#include "TestBus.h"

#include <gtest/gtest.h>

#include <vector>

using M6502CPP::M6502;
using cputest::BusCall;
using cputest::TestBus;

namespace {

struct SequenceCase {
    const char* name;
    uint16_t pc;
    std::vector<uint8_t> code;
    uint8_t x;
    uint8_t y;
    uint8_t p;
    const char* trace;
    uint16_t nextPc;
};

// Memory shared by every row: pointers at $20 ($3000), $24 ($30F0), $FF/$00 ($1234).
void prepare(TestBus& bus) {
    bus.ram[0x10] = 0x05;
    bus.ram[0x14] = 0x81;
    bus.poke16(0x20, 0x3000);
    bus.poke16(0x24, 0x30F0);
    bus.ram[0xFF] = 0x34;
    bus.ram[0x00] = 0x12;
    bus.ram[0x1235] = 0xAB;
    bus.ram[0x1238] = 0x40;
    bus.ram[0x10FF] = 0x78;
    bus.ram[0x1000] = 0x56;
    bus.ram[0x1100] = 0x99;
    bus.ram[0x01FE] = 0x33;
    bus.ram[0x01FF] = 0x22;
    bus.ram[0x0100] = 0x44;
    bus.poke16(0xFFFE, 0xE000);
}

const SequenceCase kCases[] = {
    {"implied NOP", 0xC000, {0xEA}, 0, 0, 0x24, "rC000 t1 t1", 0xC001},
    {"implied INX", 0xC000, {0xE8}, 0, 0, 0x24, "rC000 t1 t1", 0xC001},
    {"accumulator ASL", 0xC000, {0x0A}, 0, 0, 0x24, "rC000 t1 t1", 0xC001},
    {"immediate LDA", 0xC000, {0xA9, 0x44}, 0, 0, 0x24, "rC000 t1 rC001 t1", 0xC002},
    {"zp read LDA $10", 0xC000, {0xA5, 0x10}, 0, 0, 0x24, "rC000 t1 rC001 t1 r0010 t1", 0xC002},
    {"zp write STA $10", 0xC000, {0x85, 0x10}, 0, 0, 0x24, "rC000 t1 rC001 t1 w0010:77 t1", 0xC002},
    {"zp rmw INC $20", 0xC000, {0xE6, 0x20}, 0, 0, 0x24,
     "rC000 t1 rC001 t1 r0020 t1 w0020:00 t1 w0020:01 t1", 0xC002},
    {"zp,X read LDA $80,X wraps in page 0", 0xC000, {0xB5, 0x80}, 0x90, 0, 0x24,
     "rC000 t1 rC001 t1 r0010 t1 r0010 t1", 0xC002},
    {"zp,X write STA $10,X", 0xC000, {0x95, 0x10}, 4, 0, 0x24, "rC000 t1 rC001 t1 r0014 t1 w0014:77 t1",
     0xC002},
    {"zp,X rmw ASL $10,X", 0xC000, {0x16, 0x10}, 4, 0, 0x24,
     "rC000 t1 rC001 t1 r0014 t1 r0014 t1 w0014:81 t1 w0014:02 t1", 0xC002},
    {"zp,Y read LDX $10,Y", 0xC000, {0xB6, 0x10}, 0, 4, 0x24, "rC000 t1 rC001 t1 r0014 t1 r0014 t1", 0xC002},
    {"zp,Y write STX $10,Y", 0xC000, {0x96, 0x10}, 0x33, 4, 0x24, "rC000 t1 rC001 t1 r0014 t1 w0014:33 t1",
     0xC002},
    {"abs read LDA $1234", 0xC000, {0xAD, 0x34, 0x12}, 0, 0, 0x24, "rC000 t1 rC001 t1 rC002 t1 r1234 t1",
     0xC003},
    {"abs write STA $1234", 0xC000, {0x8D, 0x34, 0x12}, 0, 0, 0x24, "rC000 t1 rC001 t1 rC002 t1 w1234:77 t1",
     0xC003},
    {"abs rmw DEC $1234", 0xC000, {0xCE, 0x34, 0x12}, 0, 0, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r1234 t1 w1234:00 t1 w1234:FF t1", 0xC003},
    {"abs,X read, same page", 0xC000, {0xBD, 0xFF, 0x10}, 0, 0, 0x24, "rC000 t1 rC001 t1 rC002 t1 r10FF t1",
     0xC003},
    {"abs,X read, page crossed", 0xC000, {0xBD, 0xFF, 0x10}, 1, 0, 0x24,
     "rC000 t1 rC001 t1 rC002 r1000 t1 t1 r1100 t1", 0xC003},
    {"abs,Y read, page crossed", 0xC000, {0xB9, 0xFF, 0x10}, 0, 1, 0x24,
     "rC000 t1 rC001 t1 rC002 r1000 t1 t1 r1100 t1", 0xC003},
    {"abs,X write, same page", 0xC000, {0x9D, 0xFF, 0x10}, 0, 0, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r10FF t1 w10FF:77 t1", 0xC003},
    {"abs,X write, page crossed", 0xC000, {0x9D, 0xFF, 0x10}, 1, 0, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r1000 t1 w1100:77 t1", 0xC003},
    {"abs,X rmw INC", 0xC000, {0xFE, 0xFF, 0x10}, 1, 0, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r1000 t1 r1100 t1 w1100:99 t1 w1100:9A t1", 0xC003},
    {"abs,Y rmw SLO", 0xC000, {0x1B, 0x34, 0x12}, 0, 4, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r1238 t1 r1238 t1 w1238:40 t1 w1238:80 t1", 0xC003},
    {"(zp,X) read", 0xC000, {0xA1, 0x20}, 4, 0, 0x24, "rC000 t1 rC001 t1 r0024 t1 r0025 t1 t1 r30F0 t1",
     0xC002},
    {"(zp,X) pointer wraps in page 0", 0xC000, {0xA1, 0xFE}, 1, 0, 0x24,
     "rC000 t1 rC001 t1 r00FF t1 r0000 t1 t1 r1234 t1", 0xC002},
    {"(zp,X) write", 0xC000, {0x81, 0x20}, 4, 0, 0x24, "rC000 t1 rC001 t1 r0024 t1 r0025 t1 t1 w30F0:77 t1",
     0xC002},
    {"(zp,X) rmw DCP", 0xC000, {0xC3, 0x20}, 0, 0, 0x24,
     "rC000 t1 rC001 t1 r0020 t1 r0021 t1 t1 r3000 t1 w3000:00 t1 w3000:FF t1", 0xC002},
    {"(zp),Y read", 0xC000, {0xB1, 0x20}, 0, 4, 0x24, "rC000 t1 rC001 t1 r0020 t1 r0021 t1 r3004 t1", 0xC002},
    {"(zp),Y read, page crossed", 0xC000, {0xB1, 0x24}, 0, 0x20, 0x24,
     "rC000 t1 rC001 t1 r0024 t1 r0025 r3010 t1 t1 r3110 t1", 0xC002},
    {"(zp),Y pointer from $FF and $00", 0xC000, {0xB1, 0xFF}, 0, 0, 0x24,
     "rC000 t1 rC001 t1 r00FF t1 r0000 t1 r1234 t1", 0xC002},
    {"(zp),Y write", 0xC000, {0x91, 0x20}, 0, 4, 0x24, "rC000 t1 rC001 t1 r0020 t1 r0021 t1 r3004 t1 w3004:77 t1",
     0xC002},
    {"(zp),Y rmw ISC", 0xC000, {0xF3, 0x24}, 0, 0x20, 0x24,
     "rC000 t1 rC001 t1 r0024 t1 r0025 t1 r3010 t1 r3110 t1 w3110:00 t1 w3110:01 t1", 0xC002},
    {"JMP abs", 0xC000, {0x4C, 0x34, 0x12}, 0, 0, 0x24, "rC000 t1 rC001 t1 rC002 t1", 0x1234},
    {"JMP ($10FF) wraps in its page", 0xC000, {0x6C, 0xFF, 0x10}, 0, 0, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r10FF t1 r1000 t1", 0x5678},
    {"JMP ($1234)", 0xC000, {0x6C, 0x34, 0x12}, 0, 0, 0x24, "rC000 t1 rC001 t1 rC002 t1 r1234 t1 r1235 t1",
     0xAB00},
    {"JSR", 0xC000, {0x20, 0x34, 0x12}, 0, 0, 0x24, "rC000 t4 rC001 t1 rC002 t1", 0x1234},
    {"RTS", 0xC000, {0x60}, 0, 0, 0x24, "rC000 t1 rC001 t3 t1 t1", 0x2234},
    {"RTI", 0xC000, {0x40}, 0, 0, 0x24, "rC000 t1 rC001 t3 t1 t1", 0x4422},
    {"BRK", 0xC000, {0x00, 0xFF}, 0, 0, 0x24, "rC000 t5 rFFFE rFFFF t2 e3@DFFF", 0xE000},
    {"PHA", 0xC000, {0x48}, 0, 0, 0x24, "rC000 t1 t1 t1", 0xC001},
    {"PHP", 0xC000, {0x08}, 0, 0, 0x24, "rC000 t1 t1 t1", 0xC001},
    {"PLA", 0xC000, {0x68}, 0, 0, 0x24, "rC000 t1 rC001 t1 t1 t1", 0xC001},
    {"PLP", 0xC000, {0x28}, 0, 0, 0x24, "rC000 t2 t1 t1", 0xC001},
    {"branch not taken", 0xC000, {0xD0, 0x10}, 0, 0, 0x26, "rC000 rC001 t1 t1", 0xC002},
    {"branch taken, same page", 0xC000, {0xF0, 0x10}, 0, 0, 0x26, "rC000 rC001 t1 t1 t1", 0xC012},
    {"branch taken, next page", 0xC0F0, {0xF0, 0x20}, 0, 0, 0x26, "rC0F0 rC0F1 t1 t1 t1 t1", 0xC112},
    {"branch taken, previous page", 0xC000, {0xF0, 0xF0}, 0, 0, 0x26, "rC000 rC001 t1 t1 t1 t1", 0xBFF2},
    {"NOP implied $1A", 0xC000, {0x1A}, 0, 0, 0x24, "rC000 t1 t1", 0xC001},
    {"NOP #$89 reads nothing more", 0xC000, {0x89, 0x00}, 0, 0, 0x24, "rC000 t1 t1", 0xC002},
    {"NOP $44 reads its operand only", 0xC000, {0x44, 0x10}, 0, 0, 0x24, "rC000 t1 rC001 t1 t1", 0xC002},
    {"NOP zp,X", 0xC000, {0x14, 0x10}, 4, 0, 0x24, "rC000 t1 rC001 t1 r0014 t1 t1", 0xC002},
    {"NOP abs", 0xC000, {0x0C, 0x34, 0x12}, 0, 0, 0x24, "rC000 t1 rC001 t1 rC002 t1 t1", 0xC003},
    {"NOP abs,X, same page", 0xC000, {0x1C, 0x34, 0x12}, 4, 0, 0x24, "rC000 t1 rC001 t1 rC002 t1 t1", 0xC003},
    {"NOP abs,X, page crossed", 0xC000, {0x1C, 0xFF, 0x10}, 1, 0, 0x24,
     "rC000 t1 rC001 t1 rC002 r1000 t1 t1 t1", 0xC003},
    {"JAM $02", 0xC000, {0x02}, 0, 0, 0x24, "rC000 e7@C001 t7", 0xC001},
    {"user opcode $F2", 0xC000, {0xF2}, 0, 0, 0x24, "rC000 e4@C001 t2", 0xC001},
    {"SHX, page crossed", 0xC000, {0x9E, 0xF0, 0x12}, 0xFF, 0x20, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r1210 t1 w1410:14 t1", 0xC003},
    {"SHY, same page", 0xC000, {0x9C, 0xF0, 0x12}, 0x05, 0xFF, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r12F5 t1 w12F5:13 t1", 0xC003},
    {"SHA (zp),Y, page crossed", 0xC000, {0x93, 0x24}, 0xFF, 0x20, 0x24,
     "rC000 t1 rC001 t1 r0024 t1 r0025 t1 r3010 t1 w3210:32 t1", 0xC002},
    {"SHA abs,Y, same page", 0xC000, {0x9F, 0xF0, 0x12}, 0xFF, 0x05, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r12F5 t1 w12F5:13 t1", 0xC003},
    {"TAS, page crossed", 0xC000, {0x9B, 0xF0, 0x12}, 0xFF, 0x20, 0x24,
     "rC000 t1 rC001 t1 rC002 t1 r1210 t1 w1410:14 t1", 0xC003},
};

uint64_t tickSum(const std::vector<BusCall>& calls) {
    uint64_t sum = 0;
    for (const BusCall& c : calls)
        if (c.kind == BusCall::Tick)
            sum += c.value;
    return sum;
}

TEST(M6502Bus, SequencePerModeAndKind) {
    for (const SequenceCase& c : kCases) {
        SCOPED_TRACE(c.name);
        TestBus bus;
        prepare(bus);
        for (size_t i = 0; i < c.code.size(); ++i)
            bus.ram[uint16_t(c.pc + i)] = c.code[i];
        bus.start(c.pc);
        bus.cpu.A = 0x77;
        bus.cpu.X = c.x;
        bus.cpu.Y = c.y;
        bus.cpu.P = c.p;
        const uint64_t cycles = bus.cpu.stepState();
        EXPECT_EQ(bus.trace(), c.trace);
        EXPECT_EQ(cycles, tickSum(bus.calls));
        EXPECT_EQ(bus.cpu.PC, c.nextPc);
    }
}

TEST(M6502Bus, StackBytesBypassTheListener) {
    TestBus bus;
    // PHA, PHP, PLA, PLP, JSR $C00A ... RTS
    bus.load(0xC000, {0x48, 0x08, 0x68, 0x28, 0x20, 0x0A, 0xC0, 0xEA, 0xEA, 0xEA, 0x60});
    bus.start(0xC000);
    bus.cpu.A = 0x5A;
    for (int i = 0; i < 6; ++i)
        bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.PC, 0xC007);
    for (const BusCall& c : bus.calls) {
        if (c.kind == BusCall::Read) {
            EXPECT_NE(c.address >> 8, 0x01) << cputest::toString(c);
        }
        EXPECT_NE(c.kind, BusCall::Write) << cputest::toString(c);
    }
    EXPECT_EQ(bus.cpu.A, 0x34);        // PLA took what PHP pushed: P OR $30
    EXPECT_EQ(bus.ram[0x01FD], 0xC0);  // JSR's return address $C006, pushed high first
    EXPECT_EQ(bus.ram[0x01FC], 0x06);
    EXPECT_EQ(bus.cpu.SP, 0xFD);
}

TEST(M6502Bus, ReadModifyWriteValues) {
    // INC $20: old value first, then the new one; flags from the new one.
    TestBus bus;
    bus.load(0xC000, {0xE6, 0x20});
    bus.ram[0x20] = 0x7F;
    bus.start(0xC000);
    bus.cpu.stepState();
    EXPECT_EQ(bus.trace(), "rC000 t1 rC001 t1 r0020 t1 w0020:7F t1 w0020:80 t1");
    EXPECT_EQ(bus.ram[0x20], 0x80);
    EXPECT_EQ(bus.cpu.P & 0x82, 0x80);
}

TEST(M6502Bus, OnlyLowByteOfReadIsUsed) {
    struct WideBus : TestBus {
        uint32_t readMemory(uint16_t address) override { return TestBus::readMemory(address) | 0x1200; }
    } bus;
    bus.load(0xC000, {0xA9, 0x80, 0xA5, 0x10});
    bus.ram[0x10] = 0x00;
    bus.start(0xC000);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.A, 0x80);
    bus.cpu.stepState();
    EXPECT_EQ(bus.cpu.A, 0x00);
    EXPECT_EQ(bus.cpu.P & 0x02, 0x02);
}

}  // namespace
