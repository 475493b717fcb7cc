#include "platform/ZRGSConv.h"

#include <benchmark/benchmark.h>

#include <string>

// Tag and path texts pass through detection and conversion on every load.
static void BM_DetectAndConvertLatin(benchmark::State& state)
{
    std::string text;
    for (int i = 0; i < 16; ++i)
        text += "Caf\xE9 M\xFCller \x80 tune title ";
    for (auto _ : state) {
        uint32_t mark = 0;
        const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
        const auto encoding = getCharEncodingFromData(bytes, text.size(), mark, nullptr);
        benchmark::DoNotOptimize(ZRGSConv(text, encoding));
    }
    state.SetBytesProcessed(state.iterations() * int64_t(text.size()));  // bytes per second
}
BENCHMARK(BM_DetectAndConvertLatin);

static void BM_CrudeUTF16(benchmark::State& state)
{
    std::u16string text;
    for (int i = 0; i < 32; ++i)
        text += u"Name \u00E9\u20AC \U0001F600 ";
    for (auto _ : state)
        benchmark::DoNotOptimize(ZRGSConvCrudeUTF16_TO_UTF8(text));
    state.SetBytesProcessed(state.iterations() * int64_t(text.size() * 2));
}
BENCHMARK(BM_CrudeUTF16);
