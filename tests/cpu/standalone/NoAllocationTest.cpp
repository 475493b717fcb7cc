// Neither executor allocates: global operator new is counted around runs and steps.
#include "../TestBus.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(M6502NoAllocation, RunAndStep) {
    cputest::FlatBus bus;
    // A loop with loads, stores, JSR/RTS, BRK/RTI, an IRQ entry and the trap opcode.
    const uint8_t code[] = {0xA9, 0x01, 0x8D, 0x00, 0x03, 0x20, 0x20, 0xC0, 0x00, 0xEA,
                            0xF2, 0x58, 0xEA, 0x78, 0x4C, 0x00, 0xC0};
    for (size_t i = 0; i < sizeof code; ++i)
        bus.ram[0xC000 + i] = code[i];
    bus.ram[0xC020] = 0x60;  // RTS
    bus.ram[0xE000] = 0x40;  // RTI
    bus.ram[0xFFFC] = 0x00;
    bus.ram[0xFFFD] = 0xC0;
    bus.ram[0xFFFE] = 0x00;
    bus.ram[0xFFFF] = 0xE0;

    const uint64_t before = fixtures::allocationCount();
    bus.cpu.clearInterrupts();
    bus.cpu.powerOnReset();
    bus.cpu.setIrqLine(1);
    int64_t budget = 10000;
    bus.cpu.runCycles(budget);
    for (int i = 0; i < 10000; ++i)
        bus.cpu.stepState();
    const uint64_t after = fixtures::allocationCount();
    EXPECT_EQ(after, before);
    EXPECT_GT(bus.cycles, 50000u);
}

}  // namespace
