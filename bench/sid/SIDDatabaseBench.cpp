// Start-up load of a chip database: 40 synthetic chips with every chunk at full size (about 15 MB),
// read through stdio as the chip does. Reports milliseconds per load and MB/s.
#include "sid/SIDDatabase.h"

#include "fixtures/ChipDatabaseWriter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

namespace {

struct DatabaseFile {
    std::string path;
    size_t bytes = 0;

    DatabaseFile()
    {
        std::vector<fixtures::ChipDescription> chips;
        for (uint32_t i = 0; i < 40; ++i)
            chips.push_back(fixtures::syntheticChip("bench chip " + std::to_string(i), i, i % 4 == 3));
        const fixtures::Bytes data = fixtures::writeChipDatabase(chips, fixtures::DatabaseForm::Riff);
        const std::string name = "vantor_sid_bench_" + std::to_string(getpid()) + ".sdb";
        path = (std::filesystem::temp_directory_path() / name).string();
        if (FILE* f = std::fopen(path.c_str(), "wb")) {
            bytes = std::fwrite(data.data(), 1, data.size(), f);
            std::fclose(f);
        }
    }
    ~DatabaseFile() { std::remove(path.c_str()); }
};

void BM_LoadDatabase40Chips(benchmark::State& state)
{
    static const DatabaseFile file;
    size_t chips = 0;
    for (auto _ : state) {
        const auto db = std::make_unique<SIDDatabase>(file.path);
        chips = db->chipCount();
        benchmark::DoNotOptimize(db.get());
    }
    if (chips != 40)
        state.SkipWithError("the database did not load");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(file.bytes));
    state.counters["MB"] = double(file.bytes) / 1e6;
}
BENCHMARK(BM_LoadDatabase40Chips)->Unit(benchmark::kMillisecond);

}  // namespace
