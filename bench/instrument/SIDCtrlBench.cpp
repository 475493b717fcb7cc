// The SID controller: its register write path into a chip that only stores the value (writes
// per second), and the synth render of 12 real chips playing a chord of `range(0)` notes in
// blocks of 5800 ticks (about 256 host frames at 44.1 kHz), as x real time at the PAL clock;
// range(1) 1 adds the sample layer (a 16 kHz sample through the volume register) to every note.

#include "fixtures/StubChip.h"
#include "fixtures/DacFixtures.h"
#include "instrument/SIDCtrl.h"
#include "sid/SIDEmu.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

constexpr double kClock = 985248.0;

class StoreChip : public fixtures::StubChip
{
public:
    void writeRegister(uint16_t reg, uint8_t value, uint64_t) override { regs[reg & 31] = value; }
    uint8_t readRegister(uint16_t reg, uint64_t) override { return regs[reg & 31]; }
    uint8_t regs[32] = {};
};

void BM_WriteRegister(benchmark::State& state)
{
    std::vector<StoreChip> chipObjects(ChipController::kChips);
    std::vector<ChipEmu*> chips;
    for (StoreChip& c : chipObjects)
        chips.push_back(&c);
    SIDCtrl ctrl(&chips, nullptr);
    ctrl.init(nullptr, 1006);
    uint64_t n = 0;
    for (auto _ : state) {
        for (uint8_t r = 0; r < 25; ++r)
            ctrl.writeRegister(n % 12, r, uint8_t(n + r));
        ++n;
    }
    benchmark::DoNotOptimize(chipObjects[0].regs);
    state.counters["writes/s"] =
        benchmark::Counter(double(state.iterations()) * 25.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WriteRegister);

void BM_SynthRender(benchmark::State& state)
{
    constexpr int32_t kBlock = 5800;
    std::vector<SIDEmu> sids(ChipController::kChips);
    std::vector<ChipEmu*> chips;
    for (SIDEmu& s : sids) {
        s.init(kBlock, nullptr, SIDEmu::kDefaultInitValue);
        chips.push_back(&s);
    }
    SIDCtrl ctrl(&chips, nullptr);
    ctrl.init(nullptr, 1006);
    ctrl.setRate(0, kClock, kClock);
    ctrl.setPolyphony(12);
    fixtures::DacSampleBuilder sample;
    sample.sine(64000, 16000, 440.0);
    if (state.range(1)) {
        ctrl.setNoteTable(sample.get());
        ctrl.setParameter(138, 3.0f);  // the whole sample, key-tracked
        ctrl.layerManager().setLayerParameter(3, ZRS::LayerManager::kActive, 1.0f);
    }
    for (int64_t i = 0; i < state.range(0); ++i)
        ctrl.processMidiMessage(0x90, uint8_t(48 + 3 * i), 100);
    std::vector<int32_t> out(kBlock);
    for (auto _ : state) {
        int32_t* channels[1] = {out.data()};
        ctrl.render(channels, 1, kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["x realtime"] = benchmark::Counter(
        double(state.iterations()) * kBlock / kClock, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SynthRender)
    ->Args({1, 0})
    ->Args({12, 0})
    ->Args({12, 1})
    ->Unit(benchmark::kMillisecond);

}  // namespace
