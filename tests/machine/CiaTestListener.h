// A CIA on a recording listener: port reads come from settable pin levels, every output and
// line call is logged with the number of the step it came in (0 before the first step).
#pragma once

#include "machine/CIA6526.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace ciatest {

struct CiaCall {
    enum Kind : uint8_t { PortA, PortB, Irq, Pc, Cnt, Sp };
    Kind kind;
    uint64_t step;
    int value;

    bool operator==(const CiaCall&) const = default;
};

// "irq1@8", "pa0F@0".
inline std::string toString(const CiaCall& c)
{
    static const char* const kNames[] = {"pa", "pb", "irq", "pc", "cnt", "sp"};
    char text[40];
    if (c.kind == CiaCall::PortA || c.kind == CiaCall::PortB)
        std::snprintf(text, sizeof text, "%s%02X@%llu", kNames[c.kind], unsigned(c.value),
                      static_cast<unsigned long long>(c.step));
    else
        std::snprintf(text, sizeof text, "%s%d@%llu", kNames[c.kind], c.value, static_cast<unsigned long long>(c.step));
    return text;
}

inline std::string toString(const std::vector<CiaCall>& calls)
{
    std::string s;
    for (const CiaCall& c : calls)
        s += (s.empty() ? "" : " ") + toString(c);
    return s;
}

class RecordingCiaListener : public CIAListener {
public:
    uint8_t pinsA = 0xFF;
    uint8_t pinsB = 0xFF;
    uint64_t stepNo = 0;
    std::vector<CiaCall> calls;

    uint8_t readCiaPort(mos6526_new*, int) override { return pinsA; }
    void writeCiaPort(mos6526_new*, int, uint8_t value) override { log(CiaCall::PortA, value); }
    uint8_t readCiaPortB(mos6526_new*, int) override { return pinsB; }
    void ciaHook5(mos6526_new*, int, uint8_t value) override { log(CiaCall::PortB, value); }
    void ciaIrq(mos6526_new*, bool asserted) override { log(CiaCall::Irq, asserted); }
    void ciaHook7(mos6526_new*, bool level) override { log(CiaCall::Pc, level); }
    void ciaHook8(mos6526_new*, bool level) override { log(CiaCall::Cnt, level); }
    void ciaHook9(mos6526_new*, bool level) override { log(CiaCall::Sp, level); }

    std::vector<CiaCall> only(CiaCall::Kind kind) const
    {
        std::vector<CiaCall> out;
        for (const CiaCall& c : calls)
            if (c.kind == kind)
                out.push_back(c);
        return out;
    }

private:
    void log(CiaCall::Kind kind, int value) { calls.push_back({kind, stepNo, value}); }
};

// The listener and its CIA; steps are numbered from the last restartCount().
struct CiaRig {
    RecordingCiaListener bus;
    mos6526_new cia{&bus, "CIA1"};

    void step(uint64_t n = 1)
    {
        for (uint64_t i = 0; i < n; ++i) {
            ++bus.stepNo;
            cia.step();
        }
    }
    void restartCount() { bus.stepNo = 0; }
    void write(uint32_t reg, uint8_t value) { cia.writeRegister(reg, value); }
    uint8_t read(uint32_t reg) { return cia.readRegister(reg); }
    void writeLatchA(uint16_t n)
    {
        write(4, uint8_t(n));
        write(5, uint8_t(n >> 8));
    }
    void writeLatchB(uint16_t n)
    {
        write(6, uint8_t(n));
        write(7, uint8_t(n >> 8));
    }
    // Latch loaded while stopped (one step), then CRA written; steps count from that write.
    void startTimerA(uint16_t latch, uint8_t cra)
    {
        writeLatchA(latch);
        step();
        write(14, cra);
        restartCount();
    }
    uint16_t counterA() { return uint16_t(read(4) | read(5) << 8); }
    uint16_t counterB() { return uint16_t(read(6) | read(7) << 8); }

    // Steps n times, reading the ICR after each; the steps whose read had all of bits set.
    std::vector<uint64_t> icrSteps(uint64_t n, uint8_t bits)
    {
        std::vector<uint64_t> at;
        for (uint64_t i = 0; i < n; ++i) {
            step();
            if ((read(13) & bits) == bits)
                at.push_back(bus.stepNo);
        }
        return at;
    }
};

}  // namespace ciatest
