#include "cpu/M6502.h"

#include <cassert>

namespace M6502CPP {

namespace detail {

// Working copies of the registers kept by the run executor.
struct WorkRegs {
    uint8_t A;
    uint8_t X;
    uint8_t Y;
    uint8_t P;
    uint8_t SP;
    uint16_t PC;
};

enum Mode { IMM, ZP, ZPX, ZPY, ABS, ABX, ABY, IZX, IZY };

// Counter arithmetic that wraps instead of overflowing.
inline int64_t minus(int64_t counter, uint64_t n) { return int64_t(uint64_t(counter) - n); }

// The opcode bodies, shared by both executors: Regs is the CPU object itself (step executor)
// or a set of working copies (run executor). Everything else lives in the object, because
// the listener and the state handlers change it while an instruction runs.
template <class Regs>
class Exec {
public:
    Exec(M6502& cpu, Regs& regs) : cpu(cpu), r(regs), bus(cpu.listener), ram(cpu.ram) {}

    // Cycles of every instruction executed through this object.
    uint64_t cycles = 0;

    void instruction();

private:
    static constexpr uint8_t C = M6502::FLAG_C;
    static constexpr uint8_t Z = M6502::FLAG_Z;
    static constexpr uint8_t I = M6502::FLAG_I;
    static constexpr uint8_t D = M6502::FLAG_D;
    static constexpr uint8_t B = M6502::FLAG_B;
    static constexpr uint8_t V = M6502::FLAG_V;
    static constexpr uint8_t N = M6502::FLAG_N;

    M6502& cpu;
    Regs& r;
    Listener* const bus;
    uint8_t* const ram;

    // --- bus, ticks and the poll ---

    uint8_t rd(uint16_t address) { return uint8_t(bus->readMemory(address)); }
    void wr(uint16_t address, uint8_t value) { bus->writeMemory(address, value); }
    uint8_t fetch() {
        const uint16_t pc = r.PC;
        r.PC = uint16_t(pc + 1);
        return rd(pc);
    }

    void T(uint64_t n = 1) {
        bus->tick(n);
        cycles += n;
        cpu.irqCounter = minus(cpu.irqCounter, n);
        cpu.nmiCounter = minus(cpu.nmiCounter, n);
    }

    // A tick that leaves the interrupt counters alone (BRK, jam, $F2).
    void tickOnly(uint64_t n) {
        bus->tick(n);
        cycles += n;
    }

    void TP() {
        bus->tick(1);
        cycles += 1;
        const int64_t n = cpu.nmiCounter;
        cpu.nmiCounter = minus(n, 1);
        if (n <= 0) [[unlikely]] {
            cpu.nmiCounter = M6502::NEVER;
            cpu.dispatch(M6502::REQUEST_NMI);
            return;
        }
        const int64_t q = cpu.irqCounter;
        cpu.irqCounter = minus(q, 1);
        if (q <= 0) [[unlikely]]
            cpu.dispatch(M6502::REQUEST_IRQ);
    }

    void push(uint8_t value) {
        ram[0x100 + r.SP] = value;
        r.SP = uint8_t(r.SP - 1);
    }
    uint8_t pull() {
        r.SP = uint8_t(r.SP + 1);
        return ram[0x100 + r.SP];
    }

    // --- addressing modes ---

    template <Mode M>
    uint8_t index() const {
        if constexpr (M == ZPX || M == ABX || M == IZX)
            return r.X;
        else
            return r.Y;
    }

    // Read instructions: the whole sequence, returning the operand.
    template <Mode M>
    uint8_t load() {
        if constexpr (M == IMM) {
            const uint16_t at = r.PC;
            r.PC = uint16_t(at + 1);
            TP();
            const uint8_t m = rd(at);
            T();
            return m;
        } else if constexpr (M == ZP) {
            T();
            const uint8_t zp = fetch();
            TP();
            const uint8_t m = rd(zp);
            T();
            return m;
        } else if constexpr (M == ZPX || M == ZPY) {
            T();
            const uint8_t zp = fetch();
            T();
            const uint8_t ea = uint8_t(zp + index<M>());
            rd(ea);
            TP();
            const uint8_t m = rd(ea);
            T();
            return m;
        } else if constexpr (M == ABS) {
            T();
            const uint8_t lo = fetch();
            T();
            const uint8_t hi = fetch();
            TP();
            const uint8_t m = rd(uint16_t(hi << 8 | lo));
            T();
            return m;
        } else if constexpr (M == ABX || M == ABY) {
            T();
            const uint8_t lo = fetch();
            T();
            const uint8_t hi = fetch();
            return indexedRead(lo, hi, index<M>());
        } else if constexpr (M == IZX) {
            T();
            const uint8_t zp = fetch();
            T();
            const uint8_t ptr = uint8_t(zp + r.X);
            const uint8_t lo = rd(ptr);
            T();
            const uint8_t hi = rd(uint8_t(ptr + 1));
            T();
            TP();
            const uint8_t m = rd(uint16_t(hi << 8 | lo));
            T();
            return m;
        } else {
            static_assert(M == IZY);
            T();
            const uint8_t zp = fetch();
            T();
            const uint8_t lo = rd(zp);
            T();
            const uint8_t hi = rd(uint8_t(zp + 1));
            return indexedRead(lo, hi, r.Y);
        }
    }

    // Tail of the indexed reads: the unfixed read only on a page crossing, then poll and read.
    uint8_t indexedRead(uint8_t lo, uint8_t hi, uint8_t idx) {
        const unsigned sum = unsigned(lo) + idx;
        if (sum > 0xFF) {
            rd(uint16_t(hi << 8 | (sum & 0xFF)));
            T();
        }
        TP();
        const uint8_t m = rd(uint16_t((hi << 8) + sum));
        T();
        return m;
    }

    // Address phase of writes (ends with the poll tick) and of read-modify-writes (ends with
    // a plain tick).
    template <Mode M, bool Poll>
    uint16_t address() {
        uint16_t ea;
        if constexpr (M == ZP) {
            T();
            ea = fetch();
        } else if constexpr (M == ZPX || M == ZPY) {
            T();
            const uint8_t zp = fetch();
            T();
            ea = uint8_t(zp + index<M>());
            rd(ea);
        } else if constexpr (M == ABS) {
            T();
            const uint8_t lo = fetch();
            T();
            const uint8_t hi = fetch();
            ea = uint16_t(hi << 8 | lo);
        } else if constexpr (M == ABX || M == ABY) {
            T();
            const uint8_t lo = fetch();
            T();
            const uint8_t hi = fetch();
            T();
            const uint8_t idx = index<M>();
            rd(uint16_t(hi << 8 | uint8_t(lo + idx)));
            ea = uint16_t((hi << 8 | lo) + idx);
        } else if constexpr (M == IZX) {
            T();
            const uint8_t zp = fetch();
            T();
            const uint8_t ptr = uint8_t(zp + r.X);
            const uint8_t lo = rd(ptr);
            T();
            const uint8_t hi = rd(uint8_t(ptr + 1));
            T();
            ea = uint16_t(hi << 8 | lo);
        } else {
            static_assert(M == IZY);
            T();
            const uint8_t zp = fetch();
            T();
            const uint8_t lo = rd(zp);
            T();
            const uint8_t hi = rd(uint8_t(zp + 1));
            T();
            rd(uint16_t(hi << 8 | uint8_t(lo + r.Y)));
            ea = uint16_t((hi << 8 | lo) + r.Y);
        }
        if constexpr (Poll)
            TP();
        else
            T();
        return ea;
    }

    template <Mode M>
    void store(uint8_t value) {
        const uint16_t ea = address<M, true>();
        wr(ea, value);
        T();
    }

    // Read-modify-write: the old byte is written back before the result.
    template <Mode M, class Op>
    void rmw(Op op) {
        const uint16_t ea = address<M, false>();
        const uint8_t m = rd(ea);
        T();
        wr(ea, m);
        TP();
        wr(ea, op(m));
        T();
    }

    // SHA, SHX, SHY, TAS: value AND (high byte of base + index, plus one); on a page
    // crossing that value also replaces the high byte of the target address.
    template <Mode M>
    void storeHigh(uint8_t value) {
        uint8_t lo;
        uint8_t hi;
        const uint8_t idx = index<M>();
        T();
        if constexpr (M == IZY) {
            const uint8_t zp = fetch();
            T();
            lo = rd(zp);
            T();
            hi = rd(uint8_t(zp + 1));
        } else {
            lo = fetch();
            T();
            hi = fetch();
        }
        T();
        rd(uint16_t(hi << 8 | uint8_t(lo + idx)));
        TP();
        const uint32_t e = (uint32_t(hi) << 8 | lo) + idx;
        const uint32_t h = e >> 8;
        const uint8_t v = uint8_t(value & (h + 1));
        const uint16_t target = h == hi ? uint16_t(e) : uint16_t(v << 8 | (e & 0xFF));
        wr(target, v);
        T();
    }

    // --- flags and operations ---

    void setNZ(uint8_t v) { r.P = uint8_t((r.P & ~(N | Z)) | (v & N) | (v ? 0 : Z)); }

    void lda(uint8_t m) { setNZ(r.A = m); }
    void ldx(uint8_t m) { setNZ(r.X = m); }
    void ldy(uint8_t m) { setNZ(r.Y = m); }
    void lax(uint8_t m) { setNZ(r.A = r.X = m); }
    void ora(uint8_t m) { setNZ(r.A |= m); }
    void anda(uint8_t m) { setNZ(r.A &= m); }
    void eor(uint8_t m) { setNZ(r.A ^= m); }

    void compare(uint8_t reg, uint8_t m) {
        r.P = uint8_t((r.P & ~(N | Z | C)) | (reg >= m ? C : 0));
        setNZ(uint8_t(reg - m));
    }

    void bit(uint8_t m) {
        r.P = uint8_t((r.P & ~(N | V | Z)) | (m & (N | V)) | ((r.A & m) ? 0 : Z));
    }

    void adc(uint8_t m) {
        const unsigned a = r.A;
        const unsigned c = r.P & C;
        uint8_t p = uint8_t(r.P & ~(N | V | Z | C));
        if (r.P & D) {
            int lo = int(a & 0x0F) + int(m & 0x0F) + int(c);
            if (lo >= 10)
                lo += 6;
            int hi = int(a >> 4) + int(m >> 4) + (lo > 0x0F ? 1 : 0);
            if (((a + m + c) & 0xFF) == 0)
                p |= Z;
            else if (hi & 0x08)
                p |= N;
            if (((unsigned(hi) << 4 ^ a) & ~(a ^ m)) & 0x80)
                p |= V;
            if (hi >= 10)
                hi += 6;
            if (hi > 0x0F)
                p |= C;
            r.A = uint8_t((lo & 0x0F) | ((unsigned(hi) << 4) & 0xFF));
        } else {
            const unsigned sum = a + m + c;
            if (sum > 0xFF)
                p |= C;
            if (~(a ^ m) & (a ^ sum) & 0x80)
                p |= V;
            r.A = uint8_t(sum);
            p |= uint8_t((r.A & N) | (r.A ? 0 : Z));
        }
        r.P = p;
    }

    void sbc(uint8_t m) {
        if (!(r.P & D)) {
            adc(uint8_t(m ^ 0xFF));
            return;
        }
        const int a = r.A;
        const int b = 1 - (r.P & C);
        uint8_t p = uint8_t(r.P & ~(N | V | Z | C));
        const int bin = a - int(m) - b;
        int lo = (a & 0x0F) - int(m & 0x0F) - b;
        if (lo < 0)
            lo -= 6;
        const int hi = (a >> 4) - int(m >> 4) - (lo < 0 ? 1 : 0);
        if ((bin & 0xFF) == 0)
            p |= Z;
        else if (bin & 0x80)
            p |= N;
        if ((bin ^ a) & (int(m) ^ a) & 0x80)
            p |= V;
        if ((bin & 0xFF00) == 0)
            p |= C;
        const int high = int((unsigned(hi) << 4) & 0xFF) - (hi < 0 ? 0x60 : 0);
        r.A = uint8_t((lo & 0x0F) | (high & 0xFF));
        r.P = p;
    }

    uint8_t asl(uint8_t m) {
        r.P = uint8_t((r.P & ~C) | (m >> 7));
        const uint8_t v = uint8_t(m << 1);
        setNZ(v);
        return v;
    }
    uint8_t lsr(uint8_t m) {
        r.P = uint8_t((r.P & ~C) | (m & 1));
        const uint8_t v = uint8_t(m >> 1);
        setNZ(v);
        return v;
    }
    uint8_t rol(uint8_t m) {
        const uint8_t v = uint8_t(m << 1 | (r.P & C));
        r.P = uint8_t((r.P & ~C) | (m >> 7));
        setNZ(v);
        return v;
    }
    uint8_t ror(uint8_t m) {
        const uint8_t v = uint8_t((r.P & C) << 7 | m >> 1);
        r.P = uint8_t((r.P & ~C) | (m & 1));
        setNZ(v);
        return v;
    }
    uint8_t inc(uint8_t m) {
        const uint8_t v = uint8_t(m + 1);
        setNZ(v);
        return v;
    }
    uint8_t dec(uint8_t m) {
        const uint8_t v = uint8_t(m - 1);
        setNZ(v);
        return v;
    }

    uint8_t slo(uint8_t m) {
        const uint8_t v = asl(m);
        ora(v);
        return v;
    }
    uint8_t rla(uint8_t m) {
        const uint8_t v = rol(m);
        anda(v);
        return v;
    }
    uint8_t sre(uint8_t m) {
        const uint8_t v = lsr(m);
        eor(v);
        return v;
    }
    uint8_t rra(uint8_t m) {
        const uint8_t v = uint8_t((r.P & C) << 7 | m >> 1);
        r.P = uint8_t((r.P & ~C) | (m & 1));
        adc(v);
        return v;
    }
    uint8_t dcp(uint8_t m) {
        const uint8_t v = uint8_t(m - 1);
        compare(r.A, v);
        return v;
    }
    uint8_t isc(uint8_t m) {
        const uint8_t v = uint8_t(m + 1);
        sbc(v);
        return v;
    }

    void anc(uint8_t m) {
        anda(m);
        r.P = uint8_t((r.P & ~C) | (r.A >> 7));
    }
    void alr(uint8_t m) {
        const uint8_t t = uint8_t(r.A & m);
        r.A = uint8_t(t >> 1);
        r.P = uint8_t((r.P & ~(N | Z | C)) | (t & 1) | (r.A ? 0 : Z));
    }
    void arr(uint8_t m) {
        const unsigned t = r.A & m;
        unsigned v = unsigned(r.P & C) << 7 | t >> 1;
        uint8_t p = uint8_t(r.P & ~(N | V | Z | C));
        if (v == 0)
            p |= Z;
        p |= uint8_t(v & N);
        if (!(r.P & D)) {
            if (v & 0x40)
                p |= C;
            if ((v >> 6 ^ v >> 5) & 1)
                p |= V;
        } else {
            if ((v ^ t) & 0x40)
                p |= V;
            if ((t & 0x0F) >= 5)
                v = (v & 0xF0) | ((v + 6) & 0x0F);
            if (t >= 0x50) {
                v = (v + 0x60) & 0xFF;
                p |= C;
            }
        }
        r.A = uint8_t(v);
        r.P = p;
    }
    void sbx(uint8_t m) {
        const uint8_t t = uint8_t(r.A & r.X);
        r.X = uint8_t(t - m);
        r.P = uint8_t((r.P & ~C) | (t >= m ? C : 0));
        setNZ(r.X);
    }
    void ane(uint8_t m) { setNZ(r.A = uint8_t((r.A | 0xEE) & r.X & m)); }
    void lxa(uint8_t m) { setNZ(r.A = r.X = uint8_t((r.A | 0xEE) & m)); }
    void las(uint8_t m) { setNZ(r.A = r.X = r.SP = uint8_t(m & r.SP)); }

    // --- instruction shapes ---

    // Implied and accumulator: poll tick, then one more.
    void implied() {
        TP();
        T();
    }

    template <class Op>
    void accumulator(Op op) {
        implied();
        r.A = op(r.A);
    }

    void branch(uint8_t mask, bool whenSet) {
        const int8_t offset = int8_t(fetch());
        TP();
        const bool taken = ((r.P & mask) != 0) == whenSet;
        T();
        if (!taken)
            return;
        const uint16_t from = r.PC;
        const uint16_t to = uint16_t(from + offset);
        r.PC = to;
        if ((from ^ to) & 0xFF00)
            TP();
        T();
    }

    // CLI, SEI: the poll still sees the old I.
    void setI(bool on) {
        implied();
        cpu.latchedI = uint8_t(r.P >> 2 & 1);
        r.P = uint8_t(on ? r.P | I : r.P & ~I);
    }

    void brk() {
        const uint16_t ret = uint16_t(r.PC + 1);
        push(uint8_t(ret >> 8));
        push(uint8_t(ret));
        r.P = uint8_t(r.P | B);
        push(uint8_t(r.P | 0x30));
        r.P = uint8_t(r.P | I);
        cpu.latchedI = 1;
        tickOnly(5);
        const uint8_t lo = rd(0xFFFE);
        const uint8_t hi = rd(0xFFFF);
        tickOnly(2);
        r.PC = uint16_t(hi << 8 | lo);
        bus->cpuEvent(&cpu, uint16_t(r.PC - 1), M6502::BRK, 0, 0);
    }

    void jsr() {
        const uint16_t last = uint16_t(r.PC + 1);  // address of the JSR's last byte
        push(uint8_t(last >> 8));
        push(uint8_t(last));
        T(4);
        const uint8_t lo = rd(r.PC);
        TP();
        const uint8_t hi = rd(uint16_t(r.PC + 1));
        T();
        r.PC = uint16_t(hi << 8 | lo);
    }

    void rts() {
        T();
        fetch();
        const uint8_t lo = pull();
        const uint8_t hi = pull();
        r.PC = uint16_t((hi << 8 | lo) + 1);
        T(3);
        TP();
        T();
    }

    void rti() {
        T();
        fetch();
        r.P = pull();
        cpu.latchedI = uint8_t(r.P >> 2 & 1);
        const uint8_t lo = pull();
        const uint8_t hi = pull();
        r.PC = uint16_t(hi << 8 | lo);
        T(3);
        TP();
        T();
    }

    void jmpAbsolute() {
        T();
        const uint8_t lo = fetch();
        TP();
        const uint8_t hi = rd(r.PC);
        T();
        r.PC = uint16_t(hi << 8 | lo);
    }

    // The pointer's high byte comes from the start of the same page when it ends a page.
    void jmpIndirect() {
        T();
        const uint8_t lo = fetch();
        T();
        const uint8_t hi = fetch();
        T();
        const uint16_t ptr = uint16_t(hi << 8 | lo);
        const uint8_t tlo = rd(ptr);
        TP();
        const uint8_t thi = rd(lo != 0xFF ? uint16_t(ptr + 1) : uint16_t(hi << 8));
        T();
        r.PC = uint16_t(thi << 8 | tlo);
    }

    void pha(uint8_t value) {
        T();
        TP();
        push(value);
        T();
    }

    void pla() {
        T();
        rd(r.PC);
        T();
        TP();
        setNZ(r.A = pull());
        T();
    }

    void plp() {
        T(2);
        TP();
        cpu.latchedI = uint8_t(r.P >> 2 & 1);
        r.P = pull();
        T();
    }

    // NOP forms: no register or flag changes.
    void nopImmediate() {
        r.PC = uint16_t(r.PC + 1);
        implied();
    }
    void nopZeroPage() {
        T();
        fetch();
        TP();
        T();
    }
    void nopZeroPageX() {
        T();
        const uint8_t zp = fetch();
        T();
        rd(uint8_t(zp + r.X));
        TP();
        T();
    }
    void nopAbsolute() {
        T();
        fetch();
        T();
        fetch();
        TP();
        T();
    }
    void nopAbsoluteX() {
        T();
        const uint8_t lo = fetch();
        T();
        const uint8_t hi = fetch();
        const unsigned sum = unsigned(lo) + r.X;
        if (sum > 0xFF) {
            rd(uint16_t(hi << 8 | (sum & 0xFF)));
            T();
        }
        TP();
        T();
    }

    void jam() {
        bus->cpuEvent(&cpu, r.PC, M6502::JAM, 0, 0);
        cpu.stateIndex = M6502::STATE_JAMMED;
        tickOnly(7);
    }

    void userOpcode() {
        bus->cpuEvent(&cpu, r.PC, M6502::USER_OPCODE, 0, 0);
        tickOnly(2);
    }
};

template <class Regs>
void Exec<Regs>::instruction() {
    cpu.latchedI = uint8_t(r.P >> 2 & 1);
    const uint8_t opcode = fetch();
    auto ASL = [this](uint8_t m) { return asl(m); };
    auto LSR = [this](uint8_t m) { return lsr(m); };
    auto ROL = [this](uint8_t m) { return rol(m); };
    auto ROR = [this](uint8_t m) { return ror(m); };
    auto INC = [this](uint8_t m) { return inc(m); };
    auto DEC = [this](uint8_t m) { return dec(m); };
    auto SLO = [this](uint8_t m) { return slo(m); };
    auto RLA = [this](uint8_t m) { return rla(m); };
    auto SRE = [this](uint8_t m) { return sre(m); };
    auto RRA = [this](uint8_t m) { return rra(m); };
    auto DCP = [this](uint8_t m) { return dcp(m); };
    auto ISC = [this](uint8_t m) { return isc(m); };

    switch (opcode) {
    // ORA
    case 0x01: ora(load<IZX>()); break;
    case 0x05: ora(load<ZP>()); break;
    case 0x09: ora(load<IMM>()); break;
    case 0x0D: ora(load<ABS>()); break;
    case 0x11: ora(load<IZY>()); break;
    case 0x15: ora(load<ZPX>()); break;
    case 0x19: ora(load<ABY>()); break;
    case 0x1D: ora(load<ABX>()); break;
    // AND
    case 0x21: anda(load<IZX>()); break;
    case 0x25: anda(load<ZP>()); break;
    case 0x29: anda(load<IMM>()); break;
    case 0x2D: anda(load<ABS>()); break;
    case 0x31: anda(load<IZY>()); break;
    case 0x35: anda(load<ZPX>()); break;
    case 0x39: anda(load<ABY>()); break;
    case 0x3D: anda(load<ABX>()); break;
    // EOR
    case 0x41: eor(load<IZX>()); break;
    case 0x45: eor(load<ZP>()); break;
    case 0x49: eor(load<IMM>()); break;
    case 0x4D: eor(load<ABS>()); break;
    case 0x51: eor(load<IZY>()); break;
    case 0x55: eor(load<ZPX>()); break;
    case 0x59: eor(load<ABY>()); break;
    case 0x5D: eor(load<ABX>()); break;
    // ADC
    case 0x61: adc(load<IZX>()); break;
    case 0x65: adc(load<ZP>()); break;
    case 0x69: adc(load<IMM>()); break;
    case 0x6D: adc(load<ABS>()); break;
    case 0x71: adc(load<IZY>()); break;
    case 0x75: adc(load<ZPX>()); break;
    case 0x79: adc(load<ABY>()); break;
    case 0x7D: adc(load<ABX>()); break;
    // STA
    case 0x81: store<IZX>(r.A); break;
    case 0x85: store<ZP>(r.A); break;
    case 0x8D: store<ABS>(r.A); break;
    case 0x91: store<IZY>(r.A); break;
    case 0x95: store<ZPX>(r.A); break;
    case 0x99: store<ABY>(r.A); break;
    case 0x9D: store<ABX>(r.A); break;
    // LDA
    case 0xA1: lda(load<IZX>()); break;
    case 0xA5: lda(load<ZP>()); break;
    case 0xA9: lda(load<IMM>()); break;
    case 0xAD: lda(load<ABS>()); break;
    case 0xB1: lda(load<IZY>()); break;
    case 0xB5: lda(load<ZPX>()); break;
    case 0xB9: lda(load<ABY>()); break;
    case 0xBD: lda(load<ABX>()); break;
    // CMP
    case 0xC1: compare(r.A, load<IZX>()); break;
    case 0xC5: compare(r.A, load<ZP>()); break;
    case 0xC9: compare(r.A, load<IMM>()); break;
    case 0xCD: compare(r.A, load<ABS>()); break;
    case 0xD1: compare(r.A, load<IZY>()); break;
    case 0xD5: compare(r.A, load<ZPX>()); break;
    case 0xD9: compare(r.A, load<ABY>()); break;
    case 0xDD: compare(r.A, load<ABX>()); break;
    // SBC ($EB is the same as $E9)
    case 0xE1: sbc(load<IZX>()); break;
    case 0xE5: sbc(load<ZP>()); break;
    case 0xE9: sbc(load<IMM>()); break;
    case 0xEB: sbc(load<IMM>()); break;
    case 0xED: sbc(load<ABS>()); break;
    case 0xF1: sbc(load<IZY>()); break;
    case 0xF5: sbc(load<ZPX>()); break;
    case 0xF9: sbc(load<ABY>()); break;
    case 0xFD: sbc(load<ABX>()); break;
    // shifts and rotates
    case 0x06: rmw<ZP>(ASL); break;
    case 0x0A: accumulator(ASL); break;
    case 0x0E: rmw<ABS>(ASL); break;
    case 0x16: rmw<ZPX>(ASL); break;
    case 0x1E: rmw<ABX>(ASL); break;
    case 0x26: rmw<ZP>(ROL); break;
    case 0x2A: accumulator(ROL); break;
    case 0x2E: rmw<ABS>(ROL); break;
    case 0x36: rmw<ZPX>(ROL); break;
    case 0x3E: rmw<ABX>(ROL); break;
    case 0x46: rmw<ZP>(LSR); break;
    case 0x4A: accumulator(LSR); break;
    case 0x4E: rmw<ABS>(LSR); break;
    case 0x56: rmw<ZPX>(LSR); break;
    case 0x5E: rmw<ABX>(LSR); break;
    case 0x66: rmw<ZP>(ROR); break;
    case 0x6A: accumulator(ROR); break;
    case 0x6E: rmw<ABS>(ROR); break;
    case 0x76: rmw<ZPX>(ROR); break;
    case 0x7E: rmw<ABX>(ROR); break;
    // INC, DEC
    case 0xC6: rmw<ZP>(DEC); break;
    case 0xCE: rmw<ABS>(DEC); break;
    case 0xD6: rmw<ZPX>(DEC); break;
    case 0xDE: rmw<ABX>(DEC); break;
    case 0xE6: rmw<ZP>(INC); break;
    case 0xEE: rmw<ABS>(INC); break;
    case 0xF6: rmw<ZPX>(INC); break;
    case 0xFE: rmw<ABX>(INC); break;
    // X and Y loads, stores, compares
    case 0xA2: ldx(load<IMM>()); break;
    case 0xA6: ldx(load<ZP>()); break;
    case 0xAE: ldx(load<ABS>()); break;
    case 0xB6: ldx(load<ZPY>()); break;
    case 0xBE: ldx(load<ABY>()); break;
    case 0xA0: ldy(load<IMM>()); break;
    case 0xA4: ldy(load<ZP>()); break;
    case 0xAC: ldy(load<ABS>()); break;
    case 0xB4: ldy(load<ZPX>()); break;
    case 0xBC: ldy(load<ABX>()); break;
    case 0x86: store<ZP>(r.X); break;
    case 0x8E: store<ABS>(r.X); break;
    case 0x96: store<ZPY>(r.X); break;
    case 0x84: store<ZP>(r.Y); break;
    case 0x8C: store<ABS>(r.Y); break;
    case 0x94: store<ZPX>(r.Y); break;
    case 0xE0: compare(r.X, load<IMM>()); break;
    case 0xE4: compare(r.X, load<ZP>()); break;
    case 0xEC: compare(r.X, load<ABS>()); break;
    case 0xC0: compare(r.Y, load<IMM>()); break;
    case 0xC4: compare(r.Y, load<ZP>()); break;
    case 0xCC: compare(r.Y, load<ABS>()); break;
    // BIT
    case 0x24: bit(load<ZP>()); break;
    case 0x2C: bit(load<ABS>()); break;
    // flags
    case 0x18: implied(); r.P = uint8_t(r.P & ~C); break;
    case 0x38: implied(); r.P = uint8_t(r.P | C); break;
    case 0x58: setI(false); break;
    case 0x78: setI(true); break;
    case 0xB8: implied(); r.P = uint8_t(r.P & ~V); break;
    case 0xD8: implied(); r.P = uint8_t(r.P & ~D); break;
    case 0xF8: implied(); r.P = uint8_t(r.P | D); break;
    // register transfers, increments, decrements
    case 0x88: implied(); setNZ(--r.Y); break;
    case 0xC8: implied(); setNZ(++r.Y); break;
    case 0xCA: implied(); setNZ(--r.X); break;
    case 0xE8: implied(); setNZ(++r.X); break;
    case 0x8A: implied(); setNZ(r.A = r.X); break;
    case 0x98: implied(); setNZ(r.A = r.Y); break;
    case 0xA8: implied(); setNZ(r.Y = r.A); break;
    case 0xAA: implied(); setNZ(r.X = r.A); break;
    case 0xBA: implied(); setNZ(r.X = r.SP); break;
    case 0x9A: implied(); r.SP = r.X; break;
    // stack
    case 0x08: pha(uint8_t(r.P | 0x30)); break;
    case 0x48: pha(r.A); break;
    case 0x28: plp(); break;
    case 0x68: pla(); break;
    // flow
    case 0x00: brk(); break;
    case 0x20: jsr(); break;
    case 0x40: rti(); break;
    case 0x60: rts(); break;
    case 0x4C: jmpAbsolute(); break;
    case 0x6C: jmpIndirect(); break;
    case 0x10: branch(N, false); break;
    case 0x30: branch(N, true); break;
    case 0x50: branch(V, false); break;
    case 0x70: branch(V, true); break;
    case 0x90: branch(C, false); break;
    case 0xB0: branch(C, true); break;
    case 0xD0: branch(Z, false); break;
    case 0xF0: branch(Z, true); break;
    // undocumented read-modify-writes
    case 0x07: rmw<ZP>(SLO); break;
    case 0x17: rmw<ZPX>(SLO); break;
    case 0x0F: rmw<ABS>(SLO); break;
    case 0x1F: rmw<ABX>(SLO); break;
    case 0x1B: rmw<ABY>(SLO); break;
    case 0x03: rmw<IZX>(SLO); break;
    case 0x13: rmw<IZY>(SLO); break;
    case 0x27: rmw<ZP>(RLA); break;
    case 0x37: rmw<ZPX>(RLA); break;
    case 0x2F: rmw<ABS>(RLA); break;
    case 0x3F: rmw<ABX>(RLA); break;
    case 0x3B: rmw<ABY>(RLA); break;
    case 0x23: rmw<IZX>(RLA); break;
    case 0x33: rmw<IZY>(RLA); break;
    case 0x47: rmw<ZP>(SRE); break;
    case 0x57: rmw<ZPX>(SRE); break;
    case 0x4F: rmw<ABS>(SRE); break;
    case 0x5F: rmw<ABX>(SRE); break;
    case 0x5B: rmw<ABY>(SRE); break;
    case 0x43: rmw<IZX>(SRE); break;
    case 0x53: rmw<IZY>(SRE); break;
    case 0x67: rmw<ZP>(RRA); break;
    case 0x77: rmw<ZPX>(RRA); break;
    case 0x6F: rmw<ABS>(RRA); break;
    case 0x7F: rmw<ABX>(RRA); break;
    case 0x7B: rmw<ABY>(RRA); break;
    case 0x63: rmw<IZX>(RRA); break;
    case 0x73: rmw<IZY>(RRA); break;
    case 0xC7: rmw<ZP>(DCP); break;
    case 0xD7: rmw<ZPX>(DCP); break;
    case 0xCF: rmw<ABS>(DCP); break;
    case 0xDF: rmw<ABX>(DCP); break;
    case 0xDB: rmw<ABY>(DCP); break;
    case 0xC3: rmw<IZX>(DCP); break;
    case 0xD3: rmw<IZY>(DCP); break;
    case 0xE7: rmw<ZP>(ISC); break;
    case 0xF7: rmw<ZPX>(ISC); break;
    case 0xEF: rmw<ABS>(ISC); break;
    case 0xFF: rmw<ABX>(ISC); break;
    case 0xFB: rmw<ABY>(ISC); break;
    case 0xE3: rmw<IZX>(ISC); break;
    case 0xF3: rmw<IZY>(ISC); break;
    // undocumented loads and stores
    case 0x87: store<ZP>(uint8_t(r.A & r.X)); break;
    case 0x97: store<ZPY>(uint8_t(r.A & r.X)); break;
    case 0x8F: store<ABS>(uint8_t(r.A & r.X)); break;
    case 0x83: store<IZX>(uint8_t(r.A & r.X)); break;
    case 0xA7: lax(load<ZP>()); break;
    case 0xB7: lax(load<ZPY>()); break;
    case 0xAF: lax(load<ABS>()); break;
    case 0xBF: lax(load<ABY>()); break;
    case 0xA3: lax(load<IZX>()); break;
    case 0xB3: lax(load<IZY>()); break;
    case 0xBB: las(load<ABY>()); break;
    case 0x9F: storeHigh<ABY>(uint8_t(r.A & r.X)); break;
    case 0x93: storeHigh<IZY>(uint8_t(r.A & r.X)); break;
    case 0x9E: storeHigh<ABY>(r.X); break;
    case 0x9C: storeHigh<ABX>(r.Y); break;
    case 0x9B:
        r.SP = uint8_t(r.A & r.X);
        storeHigh<ABY>(r.SP);
        break;
    // undocumented immediates
    case 0x0B:
    case 0x2B: anc(load<IMM>()); break;
    case 0x4B: alr(load<IMM>()); break;
    case 0x6B: arr(load<IMM>()); break;
    case 0xCB: sbx(load<IMM>()); break;
    case 0x8B: ane(load<IMM>()); break;
    case 0xAB: lxa(load<IMM>()); break;
    // NOP forms
    case 0xEA:
    case 0x1A:
    case 0x3A:
    case 0x5A:
    case 0x7A:
    case 0xDA:
    case 0xFA: implied(); break;
    case 0x80:
    case 0x82:
    case 0x89:
    case 0xC2:
    case 0xE2: nopImmediate(); break;
    case 0x04:
    case 0x44:
    case 0x64: nopZeroPage(); break;
    case 0x14:
    case 0x34:
    case 0x54:
    case 0x74:
    case 0xD4:
    case 0xF4: nopZeroPageX(); break;
    case 0x0C: nopAbsolute(); break;
    case 0x1C:
    case 0x3C:
    case 0x5C:
    case 0x7C:
    case 0xDC:
    case 0xFC: nopAbsoluteX(); break;
    // jam opcodes and the user opcode
    case 0x02:
    case 0x12:
    case 0x22:
    case 0x32:
    case 0x42:
    case 0x52:
    case 0x62:
    case 0x72:
    case 0x92:
    case 0xB2:
    case 0xD2: jam(); break;
    case 0xF2: userOpcode(); break;
    }
}

}  // namespace detail

const M6502::Handler M6502::kStateHandlers[STATE_COUNT] = {
    &M6502::setRunState, &M6502::stateReset,  &M6502::stateIrq,    &M6502::stateNmi,
    &M6502::stateUser,   &M6502::stateRun,    &M6502::stateJammed, &M6502::stateStopped,
};

M6502::M6502(uint8_t* ramPointer, Listener* busListener) : ram(ramPointer), listener(busListener) {
    assert(ram && listener);
    for (int i = 0; i < STATE_COUNT; ++i)
        handlers[i] = kStateHandlers[i];
}

M6502::~M6502() = default;

uint64_t M6502::setRunState(int32_t request) {
    stateIndex = request == REQUEST_RESET ? STATE_RESET : STATE_STOPPED;
    return 1;
}

uint64_t M6502::stepState() { return dispatch(REQUEST_STEP); }

uint64_t M6502::requestReset() { return dispatch(REQUEST_RESET); }

uint16_t M6502::readVector(uint16_t address) {
    const uint8_t lo = uint8_t(listener->readMemory(address));
    const uint8_t hi = uint8_t(listener->readMemory(uint16_t(address + 1)));
    return uint16_t(hi << 8 | lo);
}

uint64_t M6502::powerOnReset() {
    A = X = Y = 0;
    P = FLAG_I;
    SP = 0xFD;
    latchedI = 1;
    PC = readVector(0xFFFC);
    listener->cpuEvent(this, PC, RESET, 0, 0);
    stateIndex = STATE_RUN;
    listener->tick(7);
    return 7;
}

uint64_t M6502::stateReset(int32_t) {
    SP = uint8_t(SP - 3);
    P = uint8_t((P & ~(FLAG_D | FLAG_I)) | FLAG_I);
    latchedI = 1;
    PC = readVector(0xFFFC);
    listener->cpuEvent(this, PC, RESET, 0, 0);
    stateIndex = STATE_RUN;
    listener->tick(7);
    return 7;
}

uint64_t M6502::stateIrq(int32_t request) {
    switch (request) {
    case REQUEST_STEP: {
        push(uint8_t(PC >> 8));
        push(uint8_t(PC));
        P = uint8_t(P & ~FLAG_B);
        push(P);
        listener->tick(5);
        P = uint8_t(P | FLAG_I);
        latchedI = 1;
        PC = readVector(0xFFFE);
        listener->tick(2);
        listener->cpuEvent(this, PC, IRQ, 0, 0);
        stateIndex = STATE_RUN;
        return 7;
    }
    case REQUEST_RESET: stateIndex = STATE_RESET; return 0;
    case REQUEST_NMI: stateIndex = STATE_NMI; return 0;
    default: return 0;
    }
}

uint64_t M6502::stateNmi(int32_t request) {
    switch (request) {
    case REQUEST_STEP: {
        push(uint8_t(PC >> 8));
        push(uint8_t(PC));
        push(P);
        P = uint8_t((P & ~(FLAG_B | FLAG_I)) | FLAG_I);
        latchedI = 1;
        listener->tick(5);
        PC = readVector(0xFFFA);
        listener->tick(2);
        listener->cpuEvent(this, PC, NMI, 0, 0);
        stateIndex = STATE_RUN;
        return 7;
    }
    case REQUEST_RESET: stateIndex = STATE_RESET; return 0;
    default: return 0;
    }
}

uint64_t M6502::stateUser(int32_t) { return listener->handleUserState(this); }

uint64_t M6502::stateRun(int32_t request) {
    switch (request) {
    case REQUEST_STEP: return stepInstruction();
    case REQUEST_RESET: stateIndex = STATE_RESET; return 0;
    case REQUEST_IRQ:
        if (latchedI == 0)
            stateIndex = STATE_IRQ;
        return 0;
    case REQUEST_NMI: stateIndex = STATE_NMI; return 0;
    default: return 0;
    }
}

uint64_t M6502::stateJammed(int32_t) {
    listener->tick(7);
    return 7;
}

uint64_t M6502::stateStopped(int32_t) {
    listener->tick(7);
    return 7;
}

uint64_t M6502::stepInstruction() {
    detail::Exec<M6502> exec(*this, *this);
    exec.instruction();
    return exec.cycles;
}

uint64_t M6502::runCycles(int64_t& budget) {
    detail::WorkRegs regs{A, X, Y, P, SP, PC};
    latchedI = uint8_t(P >> 2 & 1);
    detail::Exec<detail::WorkRegs> exec(*this, regs);
    for (;;) {
        const int64_t n = budget;
        if (n <= 0) {
            budget = n == INT64_MIN ? n : n - 1;
            break;
        }
        budget = n - 1;
        exec.instruction();
    }
    A = regs.A;
    X = regs.X;
    Y = regs.Y;
    P = regs.P;
    SP = regs.SP;
    PC = regs.PC;
    return exec.cycles;
}

void M6502::clearInterrupts() {
    irqLineLevel = 0;
    nmiLineLevel = 0;
    irqCounter = NEVER;
    nmiCounter = NEVER;
    // A request not yet entered goes too; a source that still asserts its line is polled anew.
    if (stateIndex == STATE_IRQ || stateIndex == STATE_NMI)
        stateIndex = STATE_RUN;
}

// The byte kept as a line level; a non-zero level never truncates to "released".
static uint8_t lineLevel(int level) {
    if (level == 0)
        return 0;
    return (level & 0xFF) ? uint8_t(level) : 1;
}

void M6502::setIrqLine(int level) {
    if (level == 0)
        irqCounter = NEVER;
    else if (irqLineLevel == 0)
        irqCounter = 0;
    irqLineLevel = lineLevel(level);
}

void M6502::setNmiLine(int level) {
    if (level != 0 && nmiLineLevel == 0)
        nmiCounter = 0;
    nmiLineLevel = lineLevel(level);
}

void M6502::push(uint8_t value) {
    ram[0x100 + SP] = value;
    SP = uint8_t(SP - 1);
}

const char* M6502::cpuEventName(int32_t id) {
    static constexpr const char* kNames[EVENT_COUNT] = {
        "RESET", "IRQ", "NMI", "BRK", "USER_OPCODE", "POP_FAULT", "PUSH_FAULT", "JAM", "ERROR",
    };
    if (id < 0 || id >= EVENT_COUNT)
        return "UNKNOWN";
    return kNames[id];
}

}  // namespace M6502CPP
