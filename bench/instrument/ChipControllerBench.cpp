// The controller's block render: 12 enabled chips that only touch their output, blocks of 5800
// ticks (about 256 host frames at 44.1 kHz), cut by timers every `period` ticks.
// Reports chip ticks per second and the pieces rendered per second.

#include "fixtures/StubChip.h"
#include "instrument/ChipController.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

class TouchChip : public fixtures::StubChip
{
public:
    void render(int32_t* const* outputs, uint64_t cycles) override
    {
        outputs[0][cycles - 1] += 1;
        ++pieces;
    }
    uint64_t pieces = 0;
};

class Periodic : public vantor::QuantumTimer
{
public:
    explicit Periodic(uint64_t ticks) : period(ticks) {}
    uint64_t quantumElapsed(vantor::QuantumTimer*, uint64_t, double) override { return period; }
    uint64_t period;
};

class Controller : public ChipController
{
public:
    using ChipController::ChipController;
    bool init(const char*, uint32_t) override { return true; }
};

void BM_ControllerRender(benchmark::State& state)
{
    constexpr int32_t kBlock = 5800;
    std::vector<TouchChip> chipObjects(ChipController::kChips);
    std::vector<ChipEmu*> chips;
    for (TouchChip& c : chipObjects)
        chips.push_back(&c);
    Controller controller(&chips, nullptr);
    for (size_t i = 0; i < 12; ++i)
        controller.setChipEnabled(i, true);
    Periodic timer(uint64_t(state.range(0)));
    if (state.range(0) > 0)
        controller.addTimer(&timer, 0);
    std::vector<int32_t> left(kBlock), right(kBlock);

    for (auto _ : state) {
        int32_t* channels[2] = {left.data(), right.data()};
        controller.render(channels, 2, kBlock);
        benchmark::DoNotOptimize(left.data());
    }
    state.counters["ticks/s"] =
        benchmark::Counter(double(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
    state.counters["pieces/s"] =
        benchmark::Counter(double(chipObjects[0].pieces), benchmark::Counter::kIsRate);
}
// 0: no timer; 4105: a 240 Hz timer at 985248 Hz; 64: a dense modulation timer.
BENCHMARK(BM_ControllerRender)->Arg(0)->Arg(4105)->Arg(64);

}  // namespace
