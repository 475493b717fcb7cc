// The 6502 on random memory: 64 KiB filled from the input (vectors included), interrupt lines
// and reads of the I/O page driven by it, run in budgets and single steps.

#include "cpu/M6502.h"
#include "fuzz/FuzzSupport.h"

#include <cstring>
#include <memory>

void fuzzSeeds(fuzz::Seeds& seeds)
{
    // A loop at $0200 that stores, shifts, pushes and returns from subroutines; vectors to it.
    fuzz::Bytes program(0x10000, 0xEA);
    const uint8_t code[] = {0xA2, 0x10, 0xBD, 0x00, 0x03, 0x9D, 0x00, 0xD0, 0x48, 0x68, 0x20, 0x20, 0x02,
                            0xCA, 0xD0, 0xF2, 0x58, 0x4C, 0x00, 0x02};
    memcpy(program.data() + 0x200, code, sizeof code);
    program[0x220] = 0x60;  // RTS
    for (const uint16_t vector : {0xFFFA, 0xFFFC, 0xFFFE}) {
        program[vector] = 0x00;
        program[vector + 1] = 0x02;
    }
    seeds.add("program", program);
    seeds.add("jam", fuzz::Bytes{0x02, 0x12, 0x22});
}

namespace {

class Bus : public M6502CPP::Listener {
public:
    Bus(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint64_t handleUserState(M6502CPP::M6502*) override { return 1; }
    uint32_t readMemory(uint16_t address) override { return ram[address]; }
    void writeMemory(uint16_t address, uint8_t value) override { ram[address] = value; }
    int64_t cpuEvent(M6502CPP::M6502*, uint16_t, int32_t, int64_t, int64_t) override { return 0; }
    void traceLine(const char*) override {}
    // Each tick may change an interrupt line, as the input says.
    void tick(uint64_t cycles) override
    {
        elapsed += cycles;
        if (cpu && size_ && (elapsed & 63) == 0) {
            const uint8_t b = data_[(elapsed >> 6) % size_];
            cpu->setIrqLine(b & 1);
            cpu->setNmiLine((b >> 1) & 1);
        }
    }

    uint8_t ram[0x10000] = {};
    M6502CPP::M6502* cpu = nullptr;
    uint64_t elapsed = 0;

private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto bus = std::make_unique<Bus>(data, size);
    for (size_t i = 0; i < sizeof bus->ram && size; ++i)
        bus->ram[i] = data[i % size];
    M6502CPP::M6502 cpu(bus->ram, bus.get());
    bus->cpu = &cpu;
    cpu.powerOnReset();
    for (int round = 0; round < 4; ++round) {
        int64_t budget = 2000;
        cpu.runCycles(budget);
        for (int i = 0; i < 200; ++i)
            cpu.stepState();
        if (round == 2)
            cpu.requestReset();
    }
    return 0;
}
