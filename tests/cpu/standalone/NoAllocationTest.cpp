// Neither executor allocates: global operator new is counted around runs and steps.
#include "../TestBus.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<uint64_t> allocations{0};
}

void* operator new(std::size_t size) {
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
// Out of line, so the compiler does not pair an inlined free with a new expression.
[[gnu::noinline]] void operator delete(void* p) noexcept { std::free(p); }
[[gnu::noinline]] void operator delete(void* p, std::size_t) noexcept { std::free(p); }

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

    const uint64_t before = allocations.load();
    bus.cpu.clearInterrupts();
    bus.cpu.powerOnReset();
    bus.cpu.setIrqLine(1);
    int64_t budget = 10000;
    bus.cpu.runCycles(budget);
    for (int i = 0; i < 10000; ++i)
        bus.cpu.stepState();
    const uint64_t after = allocations.load();
    EXPECT_EQ(after, before);
    EXPECT_GT(bus.cycles, 50000u);
}

}  // namespace
