#include "support/QuantumManager.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

struct Periodic : vantor::QuantumTimer
{
    explicit Periodic(uint64_t p) : period(p) {}
    uint64_t quantumElapsed(QuantumTimer*, uint64_t, double) override
    {
        ++fired;
        return period;
    }
    uint64_t period;
    uint64_t fired = 0;
};

// 32 timers with periods from 7 to 4099 ticks, driven over 10^6 ticks in blocks of 256 frames:
// reports advance calls and timer firings per second.
void BM_QuantumManagerAdvance(benchmark::State& state)
{
    constexpr uint64_t kTicks = 1000000;
    std::vector<Periodic> timers;
    timers.reserve(32);
    for (uint64_t i = 0; i < 32; ++i)
        timers.emplace_back(7 + (i * i * 131 + i * 17) % 4093);
    uint64_t calls = 0, firings = 0;
    for (auto _ : state) {
        vantor::QuantumManager m(32);
        for (auto& t : timers)
            m.addTimer(&t, 0);
        for (auto& t : timers)
            t.fired = 0;
        uint64_t done = 0;
        while (done < kTicks) {
            uint64_t left = 256;
            while (left > 0) {
                const uint64_t n = m.advance(left);
                left -= n;
                ++calls;
            }
            done += 256;
        }
        for (auto& t : timers)
            firings += t.fired - 1;  // less the call made by addTimer
        benchmark::DoNotOptimize(m.getNow());
    }
    state.counters["advance/s"] = benchmark::Counter(double(calls), benchmark::Counter::kIsRate);
    state.counters["firings/s"] = benchmark::Counter(double(firings), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_QuantumManagerAdvance)->Unit(benchmark::kMillisecond);

}  // namespace
