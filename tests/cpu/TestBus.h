// Flat 64 KiB RAM bus for the CPU tests: records every listener call, can drive the
// interrupt lines inside a chosen tick or from writes to a feedback address.
#pragma once

#include "cpu/M6502.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace cputest {

struct BusCall {
    enum Kind : uint8_t { Read, Write, Tick, Event, User };
    Kind kind;
    uint16_t address;  // Read, Write, Event
    uint64_t value;    // written byte, tick count or event id

    bool operator==(const BusCall&) const = default;
};

// "rC000", "w0010:05", "t1", "e7@C001", "u".
inline std::string toString(const BusCall& c) {
    char text[32];
    switch (c.kind) {
    case BusCall::Read: std::snprintf(text, sizeof text, "r%04X", c.address); break;
    case BusCall::Write: std::snprintf(text, sizeof text, "w%04X:%02X", c.address, unsigned(c.value)); break;
    case BusCall::Tick: std::snprintf(text, sizeof text, "t%llu", static_cast<unsigned long long>(c.value)); break;
    case BusCall::Event:
        std::snprintf(text, sizeof text, "e%llu@%04X", static_cast<unsigned long long>(c.value), c.address);
        break;
    case BusCall::User: std::snprintf(text, sizeof text, "u"); break;
    }
    return text;
}

inline std::string toString(const std::vector<BusCall>& calls) {
    std::string s;
    for (const BusCall& c : calls) {
        if (!s.empty())
            s += ' ';
        s += toString(c);
    }
    return s;
}

class TestBus : public M6502CPP::Listener {
public:
    // Written to feedbackAddress: bit 0 drives the IRQ line, bit 1 the NMI line.
    static constexpr uint16_t kFeedbackAddress = 0xDF00;

    // Sets a line inside the tickCall-th tick call (1-based, counted since clear()).
    struct LineAction {
        uint64_t tickCall;
        int irq;  // -1 leaves the line alone
        int nmi;
    };

    std::vector<uint8_t> ram = std::vector<uint8_t>(0x10000, 0);
    M6502CPP::M6502 cpu{ram.data(), this};

    std::vector<BusCall> calls;
    bool recording = true;
    uint64_t tickCalls = 0;
    uint64_t cycles = 0;
    std::vector<LineAction> lineActions;
    bool feedback = true;
    int64_t* budget = nullptr;  // set to 0 on USER_OPCODE when given
    uint64_t userResult = 0;
    int userEvents = 0;
    int jamEvents = 0;

    void load(uint16_t address, std::initializer_list<uint8_t> bytes) {
        for (uint8_t b : bytes)
            ram[address++] = b;
    }
    void poke16(uint16_t address, uint16_t value) {
        ram[address] = uint8_t(value);
        ram[uint16_t(address + 1)] = uint8_t(value >> 8);
    }

    // Interrupts cleared as the machine does, then the power-on reset to pc; log cleared.
    void start(uint16_t pc) {
        poke16(0xFFFC, pc);
        cpu.clearInterrupts();
        cpu.powerOnReset();
        clear();
    }

    void clear() {
        calls.clear();
        tickCalls = 0;
        cycles = 0;
    }

    std::string trace() const { return toString(calls); }

    uint64_t handleUserState(M6502CPP::M6502*) override {
        log({BusCall::User, 0, 0});
        return userResult;
    }
    uint32_t readMemory(uint16_t address) override {
        log({BusCall::Read, address, 0});
        return ram[address];
    }
    void writeMemory(uint16_t address, uint8_t value) override {
        log({BusCall::Write, address, value});
        ram[address] = value;
        if (feedback && address == kFeedbackAddress) {
            cpu.setIrqLine(value & 1);
            cpu.setNmiLine(value >> 1 & 1);
        }
    }
    int64_t cpuEvent(M6502CPP::M6502*, uint16_t address, int32_t id, int64_t a, int64_t) override {
        log({BusCall::Event, address, uint64_t(id)});
        if (id == M6502CPP::M6502::USER_OPCODE) {
            ++userEvents;
            if (budget)
                *budget = 0;
        }
        if (id == M6502CPP::M6502::JAM)
            ++jamEvents;
        return a;
    }
    void traceLine(const char*) override {}
    void tick(uint64_t n) override {
        log({BusCall::Tick, 0, n});
        ++tickCalls;
        cycles += n;
        for (const LineAction& action : lineActions) {
            if (action.tickCall != tickCalls)
                continue;
            if (action.irq >= 0)
                cpu.setIrqLine(action.irq);
            if (action.nmi >= 0)
                cpu.setNmiLine(action.nmi);
        }
    }

private:
    void log(const BusCall& c) {
        if (recording)
            calls.push_back(c);
    }
};

// Plain flat RAM, no log: for sweeps that run many instructions.
class FlatBus : public M6502CPP::Listener {
public:
    std::vector<uint8_t> ram = std::vector<uint8_t>(0x10000, 0);
    M6502CPP::M6502 cpu{ram.data(), this};
    uint64_t cycles = 0;

    uint64_t handleUserState(M6502CPP::M6502*) override { return 0; }
    uint32_t readMemory(uint16_t address) override { return ram[address]; }
    void writeMemory(uint16_t address, uint8_t value) override { ram[address] = value; }
    int64_t cpuEvent(M6502CPP::M6502*, uint16_t, int32_t, int64_t a, int64_t) override { return a; }
    void traceLine(const char*) override {}
    void tick(uint64_t n) override { cycles += n; }
};

}  // namespace cputest
