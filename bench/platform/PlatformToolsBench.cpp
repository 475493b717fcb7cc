#include "platform/PlatformTools.h"

#include <benchmark/benchmark.h>

#include <string>

static void BM_PStrtod(benchmark::State& state)
{
    const char* const kTexts[] = {"3.14159", "-12", "1e-7", "44100", "0,5"};
    for (auto _ : state)
        for (const char* t : kTexts)
            benchmark::DoNotOptimize(PStrtod(t));
    state.SetItemsProcessed(state.iterations() * 5);  // values per second
}
BENCHMARK(BM_PStrtod);

static void BM_PDoubleToString(benchmark::State& state)
{
    const double kValues[] = {3.0, 3.14159, 1e-7, 1.5e12, 0.5};
    std::string out;
    for (auto _ : state)
        for (double v : kValues) {
            PDoubleToString(out, v, true);
            benchmark::DoNotOptimize(out.data());
        }
    state.SetItemsProcessed(state.iterations() * 5);
}
BENCHMARK(BM_PDoubleToString);
