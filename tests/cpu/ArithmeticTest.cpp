// ADC/SBC in both modes, the decimal steps of RRA, ISC and ARR swept over every input,
// and the undocumented operations with fixed results.
#include "TestBus.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

using M6502CPP::M6502;
using cputest::FlatBus;
using cputest::TestBus;

namespace {

constexpr uint8_t C = 0x01, Z = 0x02, D = 0x08, V = 0x40, N = 0x80;

struct AP {
    uint8_t a;
    uint8_t p;
    bool operator==(const AP&) const = default;
};

std::string show(AP r) {
    char text[32];
    std::snprintf(text, sizeof text, "A=%02X P=%02X", r.a, r.p);
    return text;
}

// --- references: binary from signed/unsigned arithmetic, decimal as the formulas read ---

uint8_t keep(uint8_t p) { return uint8_t(p & ~(N | V | Z | C)); }

AP adcBinary(uint8_t a, uint8_t m, uint8_t p) {
    const int c = p & C;
    const int sum = a + m + c;
    const int signedSum = int(int8_t(a)) + int(int8_t(m)) + c;
    const uint8_t r = uint8_t(sum);
    return {r, uint8_t(keep(p) | (r & N) | (r == 0 ? Z : 0) | (signedSum < -128 || signedSum > 127 ? V : 0) |
                       (sum > 255 ? C : 0))};
}

AP sbcBinary(uint8_t a, uint8_t m, uint8_t p) {
    const int borrow = 1 - (p & C);
    const int diff = a - m - borrow;
    const int signedDiff = int(int8_t(a)) - int(int8_t(m)) - borrow;
    const uint8_t r = uint8_t(diff);
    return {r, uint8_t(keep(p) | (r & N) | (r == 0 ? Z : 0) | (signedDiff < -128 || signedDiff > 127 ? V : 0) |
                       (diff >= 0 ? C : 0))};
}

AP adcDecimal(uint8_t a, uint8_t m, uint8_t p) {
    const int c = p & C;
    int lo = (a & 15) + (m & 15) + c;
    if (lo > 9)
        lo += 6;
    int hi = (a >> 4) + (m >> 4) + (lo > 15 ? 1 : 0);
    const bool z = ((a + m + c) & 255) == 0;
    const bool n = !z && (hi & 8);
    const bool v = ((((hi << 4) ^ a) & ~(a ^ m)) & 0x80) != 0;
    if (hi > 9)
        hi += 6;
    const bool carry = hi > 15;
    return {uint8_t((lo & 15) | ((hi << 4) & 255)),
            uint8_t(keep(p) | (n ? N : 0) | (v ? V : 0) | (z ? Z : 0) | (carry ? C : 0))};
}

AP sbcDecimal(uint8_t a, uint8_t m, uint8_t p) {
    const int b = 1 - (p & C);
    const int bin = a - m - b;
    int lo = (a & 15) - (m & 15) - b;
    if (lo < 0)
        lo -= 6;
    const int hi = (a >> 4) - (m >> 4) - (lo < 0 ? 1 : 0);
    const bool z = (bin & 255) == 0;
    const bool n = !z && (bin & 0x80);
    const bool v = (((bin ^ a) & (m ^ a)) & 0x80) != 0;
    const bool carry = (bin & 0xFF00) == 0;
    const int high = (hi * 16) & 255;
    return {uint8_t((lo & 15) | ((high - (hi < 0 ? 0x60 : 0)) & 255)),
            uint8_t(keep(p) | (n ? N : 0) | (v ? V : 0) | (z ? Z : 0) | (carry ? C : 0))};
}

AP adc(uint8_t a, uint8_t m, uint8_t p) { return (p & D) ? adcDecimal(a, m, p) : adcBinary(a, m, p); }
AP sbc(uint8_t a, uint8_t m, uint8_t p) { return (p & D) ? sbcDecimal(a, m, p) : sbcBinary(a, m, p); }

AP arr(uint8_t a, uint8_t m, uint8_t p) {
    const int t = a & m;
    int r = ((p & C) << 7) | (t >> 1);
    const bool z = r == 0;
    const bool n = (r & 0x80) != 0;
    if (!(p & D)) {
        const bool b6 = (r >> 6) & 1, b5 = (r >> 5) & 1;
        return {uint8_t(r), uint8_t(keep(p) | (n ? N : 0) | (z ? Z : 0) | (b6 ? C : 0) | (b6 != b5 ? V : 0))};
    }
    const bool v = ((r ^ t) & 0x40) != 0;
    if ((t & 15) >= 5)
        r = (r & 0xF0) | ((r + 6) & 15);
    bool carry = false;
    if (t >= 0x50) {
        r = (r + 0x60) & 255;
        carry = true;
    }
    return {uint8_t(r), uint8_t(keep(p) | (n ? N : 0) | (z ? Z : 0) | (v ? V : 0) | (carry ? C : 0))};
}

// Runs one instruction at $0200 with A and P given; returns A and P after it.
AP run(FlatBus& bus, const uint8_t* code, size_t size, uint8_t a, uint8_t p) {
    for (size_t i = 0; i < size; ++i)
        bus.ram[0x0200 + i] = code[i];
    bus.cpu.PC = 0x0200;
    bus.cpu.A = a;
    bus.cpu.P = p;
    bus.cpu.stepInstruction();
    return {bus.cpu.A, bus.cpu.P};
}

AP run(FlatBus& bus, std::initializer_list<uint8_t> code, uint8_t a, uint8_t p) {
    return run(bus, code.begin(), code.size(), a, p);
}

// Every A, m and carry in one decimal setting, with N, V and Z set in a pattern so that
// clearing them is checked too.
template <class Check>
void sweep(bool decimal, Check check) {
    for (int a = 0; a < 256; ++a)
        for (int m = 0; m < 256; ++m)
            for (int c = 0; c < 2; ++c) {
                const uint8_t p = uint8_t(0x24 | (decimal ? D : 0) | c | ((a ^ m) & (N | V | Z)));
                check(uint8_t(a), uint8_t(m), p);
            }
}

class Arithmetic : public ::testing::TestWithParam<bool> {};

TEST_P(Arithmetic, AdcSbcSweep) {
    FlatBus bus;
    int failures = 0;
    sweep(GetParam(), [&](uint8_t a, uint8_t m, uint8_t p) {
        if (failures > 10)
            return;
        for (uint8_t op : {uint8_t(0x69), uint8_t(0xE9), uint8_t(0xEB)}) {
            const AP want = op == 0x69 ? adc(a, m, p) : sbc(a, m, p);
            const AP got = run(bus, {op, m}, a, p);
            if (got != want) {
                ++failures;
                ADD_FAILURE() << "op " << int(op) << " A=" << int(a) << " m=" << int(m) << " P=" << int(p)
                              << ": " << show(got) << ", want " << show(want);
            }
        }
    });
}

TEST_P(Arithmetic, RraIscArrSweep) {
    FlatBus bus;
    int failures = 0;
    sweep(GetParam(), [&](uint8_t a, uint8_t m, uint8_t p) {
        if (failures > 10)
            return;
        auto expect = [&](const char* what, AP got, AP want, uint8_t mem, uint8_t wantMem) {
            if (got != want || mem != wantMem) {
                ++failures;
                ADD_FAILURE() << what << " A=" << int(a) << " m=" << int(m) << " P=" << int(p) << ": " << show(got)
                              << " mem " << int(mem) << ", want " << show(want) << " mem " << int(wantMem);
            }
        };
        // RRA $10: rotate right through C, then ADC with the bit shifted out as carry.
        bus.ram[0x10] = m;
        const uint8_t rotated = uint8_t(((p & C) << 7) | (m >> 1));
        const AP rra = run(bus, {0x67, 0x10}, a, p);
        expect("RRA", rra, adc(a, rotated, uint8_t((p & ~C) | (m & 1))), bus.ram[0x10], rotated);
        // ISC $10: increment, then SBC.
        bus.ram[0x10] = m;
        const AP isc = run(bus, {0xE7, 0x10}, a, p);
        expect("ISC", isc, sbc(a, uint8_t(m + 1), p), bus.ram[0x10], uint8_t(m + 1));
        expect("ARR", run(bus, {0x6B, m}, a, p), arr(a, m, p), 0, 0);
    });
}

TEST_P(Arithmetic, SbxIgnoresDecimalMode) {
    FlatBus bus;
    int failures = 0;
    for (int t = 0; t < 256 && failures < 10; ++t)
        for (int m = 0; m < 256; ++m) {
            const uint8_t p = uint8_t(0x24 | (GetParam() ? D : 0) | V | (m & C));
            bus.cpu.X = uint8_t(t | 0x0F);  // A AND X = t
            run(bus, {0xCB, uint8_t(m)}, uint8_t(t), p);
            const uint8_t x = uint8_t(t - m);
            const uint8_t want = uint8_t((p & ~(N | Z | C)) | (x & N) | (x ? 0 : Z) | (t >= m ? C : 0));
            if (bus.cpu.X != x || bus.cpu.P != want || bus.cpu.A != t) {
                ++failures;
                ADD_FAILURE() << "t=" << t << " m=" << m << ": X=" << int(bus.cpu.X) << " P=" << int(bus.cpu.P);
            }
        }
}

INSTANTIATE_TEST_SUITE_P(Cpu, Arithmetic, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Decimal" : "Binary"; });

struct FixedCase {
    const char* name;
    std::vector<uint8_t> code;
    uint8_t a, x, p;
    uint8_t wantA, wantX, wantP;
};

TEST(M6502Arithmetic, FixedResults) {
    const FixedCase cases[] = {
        {"ADC $99+$01 decimal", {0x69, 0x01}, 0x99, 0, 0x28, 0x00, 0, 0x28 | N | C},
        {"SBC $00-$01 decimal", {0xE9, 0x01}, 0x00, 0, 0x28 | C, 0x99, 0, 0x28 | N},
        {"ADC $58+$46+1 decimal", {0x69, 0x46}, 0x58, 0, 0x28 | C, 0x05, 0, 0x28 | N | V | C},
        {"ANE", {0x8B, 0xFF}, 0x00, 0xFF, 0x20, 0xEE, 0xFF, 0x20 | N},
        {"ANE masks with X", {0x8B, 0xFE}, 0x11, 0x0F, 0x20 | Z, 0x0E, 0x0F, 0x20},
        {"LXA", {0xAB, 0xFF}, 0x00, 0x12, 0x20, 0xEE, 0xEE, 0x20 | N},
        {"ARR binary", {0x6B, 0xFF}, 0xFF, 0, 0x20 | C, 0xFF, 0, 0x20 | N | C},
        {"ARR binary, V from bits 6 and 5", {0x6B, 0xFF}, 0x80, 0, 0x20, 0x40, 0, 0x20 | V | C},
        {"SBX", {0xCB, 0x10}, 0xFF, 0x0F, 0x20 | C, 0xFF, 0xFF, 0x20 | N},
        {"ANC", {0x0B, 0x81}, 0xF0, 0, 0x20, 0x80, 0, 0x20 | N | C},
        {"ANC $2B", {0x2B, 0xF0}, 0x0F, 0, 0x20 | C | N, 0x00, 0, 0x20 | Z},
        {"ALR", {0x4B, 0x03}, 0xFF, 0, 0x20 | N, 0x01, 0, 0x20 | C},
        {"LAS", {0xBB, 0x00, 0x30}, 0x00, 0x00, 0x20, 0xC0, 0xC0, 0x20 | N},
    };
    for (const FixedCase& c : cases) {
        SCOPED_TRACE(c.name);
        FlatBus bus;
        bus.ram[0x3000] = 0xC7;
        bus.cpu.SP = 0xF0;
        bus.cpu.X = c.x;
        const AP got = run(bus, c.code.data(), c.code.size(), c.a, c.p);
        EXPECT_EQ(show(got), show({c.wantA, c.wantP}));
        EXPECT_EQ(bus.cpu.X, c.wantX);
    }
}

// SHA, SHX, SHY and TAS: value AND (H + 1); on a page crossing the value replaces the
// target's high byte. The read at the unfixed address always comes first.
TEST(M6502Arithmetic, HighByteStoreTargets) {
    struct Case {
        const char* name;
        std::vector<uint8_t> code;
        uint8_t a, x, y;
        const char* tail;  // the last read and the write
    };
    const Case cases[] = {
        {"SHX crossed", {0x9E, 0xF0, 0x12}, 0x00, 0xFF, 0x20, "r1210 t1 w1410:14"},
        {"SHX same page", {0x9E, 0xF0, 0x12}, 0x00, 0xFF, 0x05, "r12F5 t1 w12F5:13"},
        {"SHX at the top of memory", {0x9E, 0xF0, 0xFF}, 0x00, 0xFF, 0x20, "rFF10 t1 w0110:01"},
        {"SHY crossed", {0x9C, 0xF0, 0x12}, 0x00, 0x20, 0xFF, "r1210 t1 w1410:14"},
        {"SHY same page", {0x9C, 0xF0, 0x12}, 0x00, 0x05, 0xFF, "r12F5 t1 w12F5:13"},
        {"SHA abs,Y crossed", {0x9F, 0xF0, 0x12}, 0x0F, 0xFF, 0x20, "r1210 t1 w0410:04"},
        {"SHA abs,Y same page", {0x9F, 0xF0, 0x12}, 0x0F, 0xFF, 0x05, "r12F5 t1 w12F5:03"},
        {"SHA (zp),Y crossed", {0x93, 0x40}, 0x0F, 0xFF, 0x20, "r1210 t1 w0410:04"},
        {"SHA (zp),Y same page", {0x93, 0x40}, 0x0F, 0xFF, 0x05, "r12F5 t1 w12F5:03"},
        {"TAS crossed", {0x9B, 0xF0, 0x12}, 0xFF, 0x1F, 0x20, "r1210 t1 w1410:14"},
        {"TAS same page", {0x9B, 0xF0, 0x12}, 0xFF, 0x1F, 0x05, "r12F5 t1 w12F5:13"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestBus bus;
        for (size_t i = 0; i < c.code.size(); ++i)
            bus.ram[0xC000 + i] = c.code[i];
        bus.poke16(0x40, 0x12F0);
        bus.start(0xC000);
        bus.cpu.A = c.a;
        bus.cpu.X = c.x;
        bus.cpu.Y = c.y;
        bus.cpu.stepState();
        const std::string trace = bus.trace();
        const std::string tail = std::string(c.tail) + " t1";
        EXPECT_EQ(trace.substr(trace.size() - std::min(trace.size(), tail.size())), tail) << trace;
        if (c.code[0] == 0x9B) {
            EXPECT_EQ(bus.cpu.SP, uint8_t(c.a & c.x));
        }
    }
}

// Every undocumented read-modify-write writes the old byte back before the result.
TEST(M6502Arithmetic, UndocumentedReadModifyWriteWritesTwice) {
    struct Kind {
        const char* name;
        uint8_t opcodes[7];
        uint8_t result;  // of $81 with C clear
    };
    const Kind kinds[] = {
        {"SLO", {0x07, 0x17, 0x0F, 0x1F, 0x1B, 0x03, 0x13}, 0x02},
        {"RLA", {0x27, 0x37, 0x2F, 0x3F, 0x3B, 0x23, 0x33}, 0x02},
        {"SRE", {0x47, 0x57, 0x4F, 0x5F, 0x5B, 0x43, 0x53}, 0x40},
        {"RRA", {0x67, 0x77, 0x6F, 0x7F, 0x7B, 0x63, 0x73}, 0x40},
        {"DCP", {0xC7, 0xD7, 0xCF, 0xDF, 0xDB, 0xC3, 0xD3}, 0x80},
        {"ISC", {0xE7, 0xF7, 0xEF, 0xFF, 0xFB, 0xE3, 0xF3}, 0x82},
    };
    for (const Kind& k : kinds)
        for (uint8_t op : k.opcodes) {
            SCOPED_TRACE(testing::Message() << k.name << " $" << std::hex << int(op));
            TestBus bus;
            std::fill(bus.ram.begin(), bus.ram.end(), 0x81);  // every operand and pointer byte
            bus.load(0xC000, {op, 0x10, 0x12});
            bus.start(0xC000);
            bus.cpu.X = 3;
            bus.cpu.Y = 5;
            bus.cpu.P = 0x24;
            bus.cpu.stepState();
            std::vector<cputest::BusCall> writes;
            for (const auto& call : bus.calls)
                if (call.kind == cputest::BusCall::Write)
                    writes.push_back(call);
            ASSERT_EQ(writes.size(), 2u);
            EXPECT_EQ(writes[0].address, writes[1].address);
            EXPECT_EQ(writes[0].value, 0x81u);
            EXPECT_EQ(writes[1].value, k.result);
        }
}

}  // namespace
