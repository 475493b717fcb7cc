// CIA stepping speed in steps (cycles) per second. The machine steps two CIAs every cycle, so a
// CIA must be far faster than the machine's own cycle rate. Configuration as a tune player sets
// it: timer A continuous, timer B counting timer A underflows, both enabled in the ICR mask
// (nobody reads the ICR, so the line stays asserted). The argument is timer A's latch: 0x4CC7,
// the PAL frame period, or 0, an underflow every cycle, where run() has nothing to skip.
#include "machine/CIA6526.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace {

constexpr uint64_t kStepsPerIteration = 1'048'576;

class IrqCounter : public CIAListener {
public:
    uint64_t irqs = 0;
    uint8_t readCiaPort(mos6526_new*, int) override { return 0xFF; }
    void writeCiaPort(mos6526_new*, int, uint8_t) override {}
    uint8_t readCiaPortB(mos6526_new*, int) override { return 0xFF; }
    void ciaIrq(mos6526_new*, bool asserted) override { irqs += asserted; }
};

void configure(mos6526_new& cia, uint16_t latchA)
{
    cia.writeRegister(4, uint8_t(latchA));
    cia.writeRegister(5, uint8_t(latchA >> 8));
    cia.writeRegister(6, 0xFF);
    cia.writeRegister(7, 0xFF);
    cia.writeRegister(13, 0x83);
    cia.writeRegister(15, 0x51);  // LOAD, START, count timer A underflows
    cia.writeRegister(14, 0x11);  // LOAD, START, continuous
}

// Runs body(cia) per iteration, which takes kStepsPerIteration steps, and reports steps/s.
template <class Body>
void measure(benchmark::State& state, Body body)
{
    IrqCounter listener;
    mos6526_new cia(&listener, "CIA1");
    configure(cia, uint16_t(state.range(0)));
    uint64_t steps = 0;
    for (auto _ : state) {
        body(cia);
        steps += kStepsPerIteration;
    }
    benchmark::DoNotOptimize(listener.irqs);
    state.counters["steps/s"] = benchmark::Counter(double(steps), benchmark::Counter::kIsRate);
}

// run() over long stretches.
void BM_CiaRun(benchmark::State& state)
{
    measure(state, [](mos6526_new& cia) { cia.run(kStepsPerIteration); });
}
BENCHMARK(BM_CiaRun)->Arg(0x4CC7)->Arg(0);

// run() in the slices the machine uses: the cycles of one CPU instruction at a time.
void BM_CiaRunInstructionSlices(benchmark::State& state)
{
    static constexpr uint64_t kSlices[8] = {2, 3, 4, 6, 2, 5, 7, 3};  // 32 cycles
    static_assert(kStepsPerIteration % 32 == 0);
    measure(state, [](mos6526_new& cia) {
        for (uint64_t i = 0; i < kStepsPerIteration / 32; ++i)
            for (const uint64_t k : kSlices)
                cia.run(k);
    });
}
BENCHMARK(BM_CiaRunInstructionSlices)->Arg(0x4CC7)->Arg(0);

// step() one cycle at a time: the full per-cycle work, nothing skipped.
void BM_CiaStep(benchmark::State& state)
{
    measure(state, [](mos6526_new& cia) {
        for (uint64_t i = 0; i < kStepsPerIteration; ++i)
            cia.step();
    });
}
BENCHMARK(BM_CiaStep)->Arg(0x4CC7)->Arg(0);

// Reference for the machine's load in the same run: a loop doing nothing but counting.
void BM_TrivialLoop(benchmark::State& state)
{
    uint64_t steps = 0;
    for (auto _ : state) {
        for (uint64_t i = 0; i < kStepsPerIteration; ++i) {
            uint64_t x = i;
            benchmark::DoNotOptimize(x);
        }
        steps += kStepsPerIteration;
    }
    state.counters["steps/s"] = benchmark::Counter(double(steps), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TrivialLoop);

}  // namespace
