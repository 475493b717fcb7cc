// Cartridge set-up and window reads: creating and loading a 1 MB type-32 image (64 banks of
// 16 KB), and ROML reads per second.
#include "machine/CBMMapper.h"

#include "tests/fixtures/c64/CrtBuilder.h"

#include <benchmark/benchmark.h>

namespace {

const fixtures::Bytes& easyFlashImage()
{
    static const fixtures::Bytes image = [] {
        fixtures::CrtBuilder builder(32);
        for (uint16_t bank = 0; bank < 64; ++bank)
            builder.chip(bank, 0x8000, 0x4000);
        return builder.bytes();
    }();
    return image;
}

}  // namespace

static void BM_CreateAndLoad1MBEasyFlash(benchmark::State& state)
{
    const fixtures::Bytes& image = easyFlashImage();
    for (auto _ : state) {
        auto mapper = createC64Cartridge(image.data(), image.size(), nullptr);
        if (!mapper || !mapper->load()) {
            state.SkipWithError("image refused");
            break;
        }
        benchmark::DoNotOptimize(mapper.get());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(image.size()));
}
BENCHMARK(BM_CreateAndLoad1MBEasyFlash)->Unit(benchmark::kMillisecond);

static void BM_RomlReads(benchmark::State& state)
{
    const fixtures::Bytes& image = easyFlashImage();
    auto mapper = createC64Cartridge(image.data(), image.size(), nullptr);
    if (!mapper || !mapper->load()) {
        state.SkipWithError("image refused");
        return;
    }
    mapper->writeIO1(0, 17);
    unsigned sum = 0;
    for (auto _ : state) {
        for (uint16_t offset = 0; offset < 0x2000; ++offset)
            sum += mapper->readRomL(offset);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(state.iterations() * 0x2000);
}
BENCHMARK(BM_RomlReads);
