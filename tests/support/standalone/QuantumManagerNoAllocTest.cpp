// Counts every operator new of the process, so it runs alone.
#include "support/QuantumManager.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct Periodic : vantor::QuantumTimer
{
    explicit Periodic(uint64_t p) : period(p) {}
    uint64_t quantumElapsed(QuantumTimer*, uint64_t, double) override { return period; }
    uint64_t period;
};

TEST(QuantumManager, AdvanceNeverAllocates)
{
    std::vector<Periodic> timers;
    for (uint64_t i = 0; i < 32; ++i)
        timers.emplace_back(1 + (i * 37) % 300);
    vantor::QuantumManager m(32);
    for (auto& t : timers)
        m.addTimer(&t, 0);

    const long before = fixtures::allocationCount();
    uint64_t rendered = 0;
    while (rendered < 100000)
        rendered += m.advance(256);
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_EQ(m.getEntries().size(), 32u);
}

}  // namespace
