// VGMX text loading speed, in bytes of text per second: from a file (4096-byte tokens) and from
// a stream in memory (64-byte tokens).
#include "media/VGMX.h"

#include "support/VirtualFile.h"
#include "tests/fixtures/ChipLogWriters.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

constexpr uint32_t kEventsPerChip = 100000;

const std::string& document()
{
    static const std::string text = [] {
        fixtures::VgmxDocument doc;
        for (const char* type : {"6581", "YM2612", "AY8910"}) {
            doc.chip(type, 1000000);
            for (uint32_t i = 0; i < kEventsPerChip; ++i)
                doc.write(uint8_t(i % 25), uint8_t(i), i % 7, uint8_t(i & 1));
        }
        return doc.text();
    }();
    return text;
}

void vgmx_text_file(benchmark::State& state)
{
    const char* tmp = getenv("TMPDIR");
    std::string file = std::string(tmp && *tmp ? tmp : "/tmp") + "/vantor-bench-XXXXXX.vgmx";
    const int fd = mkstemps(file.data(), 5);
    if (fd < 0) {
        state.SkipWithError("no temporary file");
        return;
    }
    close(fd);
    std::ofstream(file, std::ios::binary) << document();
    for (auto _ : state) {
        VGM::VGMX log;
        if (!log.loadXml(file)) {
            state.SkipWithError("not loaded");
            break;
        }
        benchmark::DoNotOptimize(log.song.chips.size());
    }
    std::remove(file.c_str());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(document().size()));
    state.counters["events/s"] = benchmark::Counter(double(3 * kEventsPerChip) * double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(vgmx_text_file)->Unit(benchmark::kMillisecond);

void vgmx_text_stream(benchmark::State& state)
{
    const std::string& text = document();
    for (auto _ : state) {
        vantor::VirtualRAMFile stream(reinterpret_cast<const uint8_t*>(text.data()), text.size());
        VGM::VGMX log;
        if (!log.loadXmlStream(&stream)) {
            state.SkipWithError("not loaded");
            break;
        }
        benchmark::DoNotOptimize(log.song.chips.size());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}
BENCHMARK(vgmx_text_stream)->Unit(benchmark::kMillisecond);

}  // namespace
