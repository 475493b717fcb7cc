// Chip render throughput in blocks of 256 cycles, for 1 chip and for 16 chips that each have their
// own buffers and all add into one output buffer. Figures: chip cycles per second and x real time
// (cycles/s / 985248, or / (16 x 985248) for 16 chips). Configurations:
//   typical   three gated voices (triangle, saw, pulse), voice 1 through the linear low-pass;
//             chips 0-11 with extensions and "Lin DR", chips 12-15 cycle-exact
//   exact     the same with every chip cycle-exact
//   sync      two sync voices (the stepped-phase path)
//   noise     three noise voices
//   measured  the typical set-up on a measured-filter profile of a synthetic database
// The stage figures split one typical chip's block into oscillators, envelopes, mix, filter and
// output.

#include "sid/SIDDatabase.h"
#include "sid/SIDEmu.h"

#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/TempDir.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kBlock = 256;
constexpr double kClock = 985248.0;

enum Config { Typical, Exact, Sync, Noise, Measured };

const SIDDatabase& database()
{
    static const std::unique_ptr<SIDDatabase> db = [] {
        fixtures::TempDir dir;
        const std::vector<fixtures::ChipDescription> chips = {fixtures::syntheticChip("measured", 2, false)};
        const fixtures::Bytes bytes = fixtures::writeChipDatabase(chips, fixtures::DatabaseForm::Riff);
        const std::string path = dir.write("chips.sdb", std::string(bytes.begin(), bytes.end()));
        return std::make_unique<SIDDatabase>(path);
    }();
    return *db;
}

void write(SIDEmu& c, std::initializer_list<std::pair<uint16_t, uint8_t>> regs)
{
    for (const auto& [r, v] : regs)
        c.writeRegister(r, v);
}

std::unique_ptr<SIDEmu> makeChip(Config config, int index)
{
    auto c = std::make_unique<SIDEmu>();
    c->init(kBlock, nullptr, SIDEmu::kDefaultInitValue);
    c->reset();
    if (config == Measured) {
        c->useDatabase(database());
        c->setParameter(SIDParam::kModel, 0.0f);
    }
    if (config != Exact && index < 12) {
        c->extensionsEnabled = 1;
        c->setParameter(SIDParam::kAdsrBehavior, 0.0f);  // "Lin DR"
        c->applyAdsrBehavior();
    }
    // A chord that differs per chip; sustain at 0xA.
    const uint16_t f = uint16_t(0x1000 + 0x1D3 * index);
    write(*c, {{24, 0x1F}, {23, 0x41}, {21, 3}, {22, 60}, {2, 0x00}, {3, 0x08}, {9, 0x00}, {10, 0x08},
               {16, 0x00}, {17, 0x08}});
    for (uint16_t v = 0; v < 3; ++v) {
        const uint16_t fv = uint16_t(f + v * 0x531);
        write(*c, {{uint16_t(7 * v), uint8_t(fv)}, {uint16_t(7 * v + 1), uint8_t(fv >> 8)},
                   {uint16_t(7 * v + 5), 0x22}, {uint16_t(7 * v + 6), 0xA8}});
    }
    switch (config) {
    case Sync:
        write(*c, {{4, 0x23}, {11, 0x43}, {18, 0x11}});
        break;
    case Noise:
        write(*c, {{4, 0x81}, {11, 0x81}, {18, 0x81}});
        break;
    default:
        write(*c, {{4, 0x11}, {11, 0x21}, {18, 0x41}});
        break;
    }
    return c;
}

void Render(benchmark::State& state, Config config, int chipCount)
{
    std::vector<std::unique_ptr<SIDEmu>> chips;
    for (int i = 0; i < chipCount; ++i)
        chips.push_back(makeChip(config, chipCount == 1 ? 0 : i));
    std::vector<int32_t> out(kBlock, 0);
    int32_t* channels[1] = {out.data()};
    for (auto& c : chips)  // past the attacks
        for (int b = 0; b < 200; ++b)
            c->render(channels, kBlock);
    for (auto _ : state) {
        for (auto& c : chips)
            c->render(channels, kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double cycles = double(state.iterations()) * double(kBlock) * chipCount;
    state.counters["chip_cycles/s"] = benchmark::Counter(cycles, benchmark::Counter::kIsRate);
    const double realTime = cycles / (kClock * chipCount);
    state.counters["x_realtime"] = benchmark::Counter(realTime, benchmark::Counter::kIsRate);
}

const char* const kConfigNames[] = {"typical", "exact", "sync", "noise", "measured"};

void registerRender()
{
    for (int config = Typical; config <= Measured; ++config)
        for (int chips : {1, 16})
            benchmark::RegisterBenchmark(
                (std::string("SIDEmu/") + kConfigNames[config] + "/chips:" + std::to_string(chips)).c_str(),
                [config, chips](benchmark::State& s) { Render(s, Config(config), chips); });
}

// One stage of a typical chip's block, called over and over on the buffers a full render left:
// no stage's cost depends on what the buffers hold, apart from the filter's shortcut for constant
// input, which the routed voice keeps out of play.
enum Stage { Oscillators, Envelopes, Mix, Filter, Output };

void StageOf(benchmark::State& state, Stage stage)
{
    auto c = makeChip(Typical, 0);
    std::vector<int32_t> out(kBlock, 0);
    int32_t* channels[1] = {out.data()};
    for (int b = 0; b < 200; ++b)
        c->render(channels, kBlock);
    c->renderOscillators(kBlock);
    c->renderEnvelopes(kBlock);
    SIDEmu::ModeGains gains = c->mixVoices(kBlock);
    for (auto _ : state) {
        switch (stage) {
        case Oscillators: c->renderOscillators(kBlock); break;
        case Envelopes: c->renderEnvelopes(kBlock); break;
        case Mix: gains = c->mixVoices(kBlock); break;
        case Filter: c->runFilter(kBlock, gains); break;
        case Output: c->outputStage(out.data(), kBlock); break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    const double cycles = double(state.iterations()) * double(kBlock);
    state.counters["chip_cycles/s"] = benchmark::Counter(cycles, benchmark::Counter::kIsRate);
}

const char* const kStageNames[] = {"oscillators", "envelopes", "mix", "filter", "output"};

void registerStages()
{
    for (int stage = Oscillators; stage <= Output; ++stage)
        benchmark::RegisterBenchmark((std::string("SIDEmuStage/") + kStageNames[stage]).c_str(),
                                     [stage](benchmark::State& s) { StageOf(s, Stage(stage)); });
}

const bool kRegistered = (registerRender(), registerStages(), true);

}  // namespace
