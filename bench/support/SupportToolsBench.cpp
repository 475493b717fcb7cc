#include "support/SupportTools.h"
#include "support/VirtualFile.h"

#include <benchmark/benchmark.h>

#include <vector>

static void BM_SwapBytes16(benchmark::State& state)
{
    std::vector<uint16_t> samples(size_t(state.range(0)), 0x1234);
    for (auto _ : state) {
        swapBytes16InPlace(samples.data(), samples.size());
        benchmark::DoNotOptimize(samples.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(samples.size() * 2));  // bytes per second
}
BENCHMARK(BM_SwapBytes16)->Arg(4096);

static void BM_SwapBytes32(benchmark::State& state)
{
    std::vector<uint32_t> words(size_t(state.range(0)), 0x12345678);
    for (auto _ : state) {
        swapBytes32InPlace(words.data(), words.size());
        benchmark::DoNotOptimize(words.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(words.size() * 4));
}
BENCHMARK(BM_SwapBytes32)->Arg(4096);

// Chunk readers walk headers with typed reads.
static void BM_RAMFileReadU32(benchmark::State& state)
{
    std::vector<uint8_t> data(64 * 1024, 0x5A);
    for (auto _ : state) {
        vantor::VirtualRAMFile f(data.data(), data.size());
        uint32_t sum = 0;
        for (size_t i = 0; i < data.size() / 4; ++i)
            sum += f.readU32();
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(data.size()));
}
BENCHMARK(BM_RAMFileReadU32);
