// The CPU on a minimal flat-RAM bus running a mixed loop: loads and stores, ALU, branches,
// JSR/RTS and read-modify-write. Reports instructions/s, emulated cycles/s and x real time
// of a 985248 Hz machine.
#include "cpu/M6502.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr double kMachineHz = 985248.0;
constexpr int64_t kInstructionsPerIteration = 1'000'000;

class FlatRam : public M6502CPP::Listener {
public:
    std::vector<uint8_t> ram = std::vector<uint8_t>(0x10000, 0);
    uint64_t cycles = 0;

    uint64_t handleUserState(M6502CPP::M6502*) override { return 0; }
    uint32_t readMemory(uint16_t address) override { return ram[address]; }
    void writeMemory(uint16_t address, uint8_t value) override { ram[address] = value; }
    int64_t cpuEvent(M6502CPP::M6502*, uint16_t, int32_t, int64_t a, int64_t) override { return a; }
    void traceLine(const char*) override {}
    void tick(uint64_t n) override { cycles += n; }
};

void loadMixedLoop(std::vector<uint8_t>& ram) {
    const uint8_t code[] = {
        0xA2, 0x00,        // C000 LDX #$00
        0xBD, 0x00, 0x02,  // C002 loop: LDA $0200,X
        0x69, 0x03,        // C005 ADC #$03
        0x9D, 0x00, 0x03,  // C007 STA $0300,X
        0xE6, 0x10,        // C00A INC $10
        0x20, 0x20, 0xC0,  // C00C JSR $C020
        0xE8,              // C00F INX
        0xD0, 0xF0,        // C010 BNE loop
        0x4C, 0x00, 0xC0,  // C012 JMP $C000
    };
    const uint8_t sub[] = {
        0xB1, 0x20,  // C020 LDA ($20),Y
        0x45, 0x11,  // C022 EOR $11
        0x0A,        // C024 ASL A
        0x85, 0x11,  // C025 STA $11
        0x60,        // C027 RTS
    };
    for (size_t i = 0; i < sizeof code; ++i)
        ram[0xC000 + i] = code[i];
    for (size_t i = 0; i < sizeof sub; ++i)
        ram[0xC020 + i] = sub[i];
    ram[0x20] = 0x00;
    ram[0x21] = 0x04;
    ram[0xFFFC] = 0x00;
    ram[0xFFFD] = 0xC0;
}

void report(benchmark::State& state, uint64_t instructions, uint64_t cycles) {
    using benchmark::Counter;
    state.counters["instructions/s"] = Counter(double(instructions), Counter::kIsRate);
    state.counters["cycles/s"] = Counter(double(cycles), Counter::kIsRate);
    state.counters["x_realtime"] = Counter(double(cycles) / kMachineHz, Counter::kIsRate);
}

void BM_RunCycles(benchmark::State& state) {
    FlatRam bus;
    loadMixedLoop(bus.ram);
    M6502CPP::M6502 cpu(bus.ram.data(), &bus);
    cpu.clearInterrupts();
    cpu.powerOnReset();
    uint64_t cycles = 0;
    uint64_t instructions = 0;
    for (auto _ : state) {
        int64_t budget = kInstructionsPerIteration;
        cycles += cpu.runCycles(budget);
        instructions += uint64_t(kInstructionsPerIteration);
    }
    benchmark::DoNotOptimize(bus.ram.data());
    report(state, instructions, cycles);
}
BENCHMARK(BM_RunCycles)->Unit(benchmark::kMillisecond);

void BM_StepState(benchmark::State& state) {
    FlatRam bus;
    loadMixedLoop(bus.ram);
    M6502CPP::M6502 cpu(bus.ram.data(), &bus);
    cpu.clearInterrupts();
    cpu.powerOnReset();
    uint64_t cycles = 0;
    uint64_t instructions = 0;
    for (auto _ : state) {
        for (int64_t i = 0; i < kInstructionsPerIteration; ++i)
            cycles += cpu.stepState();
        instructions += uint64_t(kInstructionsPerIteration);
    }
    benchmark::DoNotOptimize(bus.ram.data());
    report(state, instructions, cycles);
}
BENCHMARK(BM_StepState)->Unit(benchmark::kMillisecond);

}  // namespace
