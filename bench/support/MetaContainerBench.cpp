// Extraction speed of one 10 MB entry per archive format, from memory, in bytes per second.
#include "support/MetaContainer.h"

#include "tests/fixtures/ArchiveWriters.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

constexpr size_t kEntrySize = 10'000'000;

const std::string& entryData()
{
    static const std::string data = fixtures::sampleData(kEntrySize, 42);
    return data;
}

void extractOne(benchmark::State& state, const fixtures::Bytes& archive)
{
    vantor::MetaContainer container(archive.data(), archive.size());
    if (archive.empty() || !container.scan() || container.entries().empty()) {
        state.SkipWithError("archive not written or not listed");
        return;
    }
    const vantor::MetaContainerEntry& entry = container.entries()[0];
    std::vector<uint8_t> buffer(entry.size);
    for (auto _ : state) {
        if (!container.extractEntry(&entry, buffer.data())) {
            state.SkipWithError("extraction failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(state.iterations() * int64_t(entry.size));
    state.counters["ratio"] = double(entry.size) / double(archive.size());
}

}  // namespace

static void BM_ExtractGzip(benchmark::State& state)
{
    static const fixtures::Bytes archive = fixtures::makeGzip(entryData());
    extractOne(state, archive);
}
BENCHMARK(BM_ExtractGzip)->Unit(benchmark::kMillisecond);

static void BM_ExtractZipDeflated(benchmark::State& state)
{
    static const fixtures::Bytes archive = fixtures::makeZip({{"song.vgm", entryData()}});
    extractOne(state, archive);
}
BENCHMARK(BM_ExtractZipDeflated)->Unit(benchmark::kMillisecond);

static void BM_ExtractZipStored(benchmark::State& state)
{
    static const fixtures::Bytes archive = fixtures::makeZip({{"song.vgm", entryData(), false}});
    extractOne(state, archive);
}
BENCHMARK(BM_ExtractZipStored)->Unit(benchmark::kMillisecond);

// Each pass extracts the same entry again, so it opens a new reader every time.
static void BM_Extract7zLzma2(benchmark::State& state)
{
    static const fixtures::Bytes archive = fixtures::make7z({{"song.vgm", entryData()}}, "lzma2");
    extractOne(state, archive);
}
BENCHMARK(BM_Extract7zLzma2)->Unit(benchmark::kMillisecond);

static void BM_Extract7zLzma1(benchmark::State& state)
{
    static const fixtures::Bytes archive = fixtures::make7z({{"song.vgm", entryData()}}, "lzma1");
    extractOne(state, archive);
}
BENCHMARK(BM_Extract7zLzma1)->Unit(benchmark::kMillisecond);
