// Counts every operator new of the process, so it runs alone.

#include "fixtures/StubChip.h"
#include "instrument/ChipController.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

namespace {

class CountingChip : public fixtures::StubChip
{
public:
    void render(int32_t* const* outputs, uint64_t cycles) override
    {
        ++calls;
        ticks += cycles;
        outputs[0][cycles - 1] += 1;
    }

    uint64_t calls = 0;
    uint64_t ticks = 0;
};

class Periodic : public vantor::QuantumTimer
{
public:
    explicit Periodic(uint64_t ticks) : period(ticks) {}
    uint64_t quantumElapsed(vantor::QuantumTimer*, uint64_t, double) override
    {
        ++fired;
        return period;
    }
    uint64_t period;
    uint64_t fired = 0;
};

class Controller : public ChipController
{
public:
    using ChipController::ChipController;
    bool init(const char*, uint32_t) override { return true; }
};

TEST(ChipControllerRender, AllocatesNothing)
{
    std::vector<CountingChip> chipObjects(ChipController::kChips);
    std::vector<ChipEmu*> chips;
    for (CountingChip& c : chipObjects)
        chips.push_back(&c);
    Controller controller(&chips, nullptr);
    for (size_t i = 0; i < 12; ++i)
        controller.setChipEnabled(i, true);
    Periodic fast(37), slow(1000);
    controller.addTimer(&fast, 0);
    controller.addTimer(&slow, 1);
    std::vector<int32_t> left(4096), right(4096);

    const long before = fixtures::allocationCount();
    for (int block = 0; block < 200; ++block) {
        int32_t* channels[2] = {left.data(), right.data()};
        controller.render(channels, 2, 4096);
    }
    EXPECT_EQ(fixtures::allocationCount(), before);

    EXPECT_EQ(chipObjects[0].ticks, 200u * 4096u);
    EXPECT_EQ(chipObjects[12].calls, 0u);
    // One call per enabled chip per piece: a piece ends at each firing.
    EXPECT_GE(chipObjects[0].calls, fast.fired - 1);
    EXPECT_LE(chipObjects[0].calls, fast.fired + slow.fired + 200);
}

}  // namespace
