// Loads the assembled test programs and runs them to their trap opcode.
#pragma once

#include "TestBus.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace cputest {

constexpr uint16_t kResultAddress = 0x0200;
constexpr uint64_t kCycleCap = 5'000'000;

struct ProgramRun {
    bool finished = false;  // reached the trap opcode
    unsigned result = 0xFFFF;
    uint64_t cycles = 0;  // after the power-on reset, the trap's 2 included
    uint64_t steps = 0;
};

inline std::string programPath(const std::string& name) {
    return std::string(CPU_TEST_PROGRAM_DIR) + "/" + name + ".bin";
}

// Fills the bus RAM with the program image; false when it is missing or not 64 KiB.
inline bool loadProgram(TestBus& bus, const std::string& name) {
    std::ifstream in(programPath(name), std::ios::binary);
    if (!in)
        return false;
    std::vector<uint8_t> image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (image.size() != bus.ram.size())
        return false;
    bus.ram = image;
    bus.ram[kResultAddress] = 0xFF;
    bus.ram[kResultAddress + 1] = 0xFF;
    return true;
}

inline void powerOn(TestBus& bus) {
    bus.cpu.clearInterrupts();
    bus.cpu.powerOnReset();
    bus.clear();
}

inline ProgramRun finish(TestBus& bus, ProgramRun run) {
    run.finished = bus.userEvents > 0 && bus.jamEvents == 0;
    run.result = bus.ram[kResultAddress] | bus.ram[kResultAddress + 1] << 8;
    return run;
}

// The machine's play loop: stepState over and over.
inline ProgramRun runStepping(TestBus& bus) {
    ProgramRun run;
    powerOn(bus);
    while (bus.userEvents == 0 && bus.jamEvents == 0 && run.cycles < kCycleCap) {
        run.cycles += bus.cpu.stepState();
        ++run.steps;
    }
    return finish(bus, run);
}

// The machine's set-up loop: runCycles with a budget of one instruction, ended by the trap
// through the budget; interrupt entries run through stepState between the runs.
inline ProgramRun runBudgeted(TestBus& bus, int64_t perRun = 1) {
    ProgramRun run;
    powerOn(bus);
    int64_t budget = 0;
    bus.budget = &budget;
    while (bus.userEvents == 0 && bus.jamEvents == 0 && run.cycles < kCycleCap) {
        if (bus.cpu.getStateIndex() == M6502CPP::M6502::STATE_RUN) {
            budget = perRun;
            run.cycles += bus.cpu.runCycles(budget);
        } else {
            run.cycles += bus.cpu.stepState();
        }
        ++run.steps;
    }
    bus.budget = nullptr;
    return finish(bus, run);
}

}  // namespace cputest
