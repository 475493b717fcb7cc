// Player signature matching: 2,000 players of 3 signatures of 16 tokens (bytes, "??" and gaps)
// that never match, against 60 KB of tune data: the time of one whole search (every signature
// tried), and the same database read from its text lines.
#include "machine/SidId.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kPlayers = 2000;
constexpr int kSignatures = 3;
constexpr int kTokens = 16;
constexpr size_t kDataBytes = 60 * 1024;

std::vector<std::string> signatureLines()
{
    std::mt19937 rng(1234);
    std::vector<std::string> lines;
    char token[16];
    for (int p = 0; p < kPlayers; ++p) {
        std::snprintf(token, sizeof token, "P%05d", p);
        lines.push_back(token);
        for (int s = 0; s < kSignatures; ++s) {
            std::string line;
            for (int t = 0; t < kTokens; ++t) {
                const uint32_t r = rng() % 16;
                if (t > 0 && t < kTokens - 1 && r == 0)
                    line += "AND ";
                else if (t > 0 && r == 1)
                    line += "?? ";
                else {
                    std::snprintf(token, sizeof token, "%02X ", unsigned(rng() & 0xFF));
                    line += token;
                }
            }
            // The last byte never occurs in the data: no signature matches.
            lines.push_back(line + "FF END");
        }
        lines.push_back("");
    }
    return lines;
}

std::vector<uint8_t> tuneData()
{
    std::mt19937 rng(99);
    std::vector<uint8_t> data(kDataBytes);
    for (uint8_t& b : data)
        b = uint8_t(rng() % 255);  // never $FF
    return data;
}

void BM_SidIdFindNoMatch(benchmark::State& state)
{
    SidIdDatabase db;
    loadSidIdDatabase(db, signatureLines(), {});
    const std::vector<uint8_t> data = tuneData();
    for (auto _ : state)
        benchmark::DoNotOptimize(findSidIdPlayer(db, data.data(), data.size()));
    state.counters["players"] = double(db.players.size());
}
BENCHMARK(BM_SidIdFindNoMatch)->Unit(benchmark::kMillisecond);

void BM_SidIdLoad(benchmark::State& state)
{
    const std::vector<std::string> lines = signatureLines();
    for (auto _ : state) {
        SidIdDatabase db;
        loadSidIdDatabase(db, lines, {});
        benchmark::DoNotOptimize(db.players.size());
    }
}
BENCHMARK(BM_SidIdLoad)->Unit(benchmark::kMillisecond);

}  // namespace
