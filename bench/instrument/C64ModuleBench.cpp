// The built C64Module through the stand-in engine (its four exports, dlopen), 48000 Hz in
// 256-frame blocks, no chip database: seconds of audio per CPU second (x real time) for an idle
// instance, 1 voice, 12 voices (default patch, 12 held notes), 12 voices with the sample layer
// (a 16 kHz sample) and 12 voices x 3 layers, each also with every chip rendering every cycle
// (exact), with the one-stage output chain, and with both; one voice while it plays and 10 s
// after its release; and controller-map events per second in blocks of 2048 events.

#include "abi/ModuleABI.h"
#include "fixtures/ModuleEventBuilders.h"
#include "shims/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;

using fixtures::moduleEvent;

struct Started
{
    Started()
    {
        std::string error;
        module = vantor::engine::ModuleLibrary::open(C64MODULE_PATH, error);
        if (!module)
            return;
        vantor::engine::EngineConfig config;
        config.sampleRate = kRate;
        config.blockSize = kBlock;
        instance = std::make_unique<vantor::engine::Instance>(*module, config);
        if (!instance->create(module->identifier(0), error) || !instance->start(error))
            instance.reset();
    }
    std::unique_ptr<vantor::engine::ModuleLibrary> module;
    std::unique_ptr<vantor::engine::Instance> instance;
};

// Empty blocks as the timed loop, counted in seconds of audio.
void renderBlocks(benchmark::State& state, const Started& s)
{
    for (auto _ : state) {
        s.instance->process(kBlock, {});
        benchmark::DoNotOptimize(s.instance->channel(0));
    }
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}

// A 16 kHz tone as long as the sample block holds, a note marker at its start.
vantor::engine::SampleData longTone()
{
    vantor::engine::SampleData s;
    s.rate = 16000;
    for (int i = 0; i < 261792; ++i)
        s.samples.push_back(int16_t(std::lround(16000.0 * std::sin(2.0 * M_PI * 440.0 * i / 16000.0))));
    s.markers.push_back({0, 5});
    return s;
}

// range(0) held notes, range(1) active layers (SID voices per chip), range(2) 1 adds the sample
// layer, range(3) bit 0 renders every chip cycle, bit 1 the one-stage output chain.
void BM_C64ModuleRender(benchmark::State& state)
{
    Started s;
    if (!s.instance) {
        state.SkipWithError("C64Module did not start");
        return;
    }
    std::vector<vantor::HDMIDIEvent> setup;
    setup.push_back(fixtures::itemEvent(kExactChipRenderItem, (state.range(3) & 1) ? 1.0f : 0.0f));
    setup.push_back(fixtures::itemEvent(kSingleStageChainItem, (state.range(3) & 2) ? 1.0f : 0.0f));
    for (int32_t layer = 1; layer < state.range(1); ++layer)
        setup.push_back(moduleEvent(0xB0, 512 + 16 * layer, 1.0f));  // layer active
    if (state.range(2)) {
        s.instance->handOverSample(longTone());
        setup.push_back(fixtures::itemEvent(560, 1.0f));  // the sample layer active
    }
    s.instance->process(kBlock, setup);
    std::vector<vantor::HDMIDIEvent> notes;
    for (int32_t v = 0; v < state.range(0); ++v)
        notes.push_back(moduleEvent(0x390, 48 + 3 * v, 0.8f));
    s.instance->process(kBlock, notes);
    for (int b = 0; b < 20; ++b)
        s.instance->process(kBlock, {});
    renderBlocks(state, s);
}
BENCHMARK(BM_C64ModuleRender)
    ->ArgNames({"notes", "layers", "sample", "mode"})
    ->ArgsProduct({{0}, {1}, {0}, {0, 1, 2, 3}})
    ->ArgsProduct({{1, 12}, {1}, {0}, {0, 1, 2, 3}})
    ->ArgsProduct({{12}, {1}, {1}, {0, 1, 2, 3}})
    ->ArgsProduct({{12}, {3}, {0}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMillisecond);

// range(0) 0: a held note plays; 1: 10 s after its release.
void BM_C64ModuleTail(benchmark::State& state)
{
    Started s;
    if (!s.instance) {
        state.SkipWithError("C64Module did not start");
        return;
    }
    s.instance->process(kBlock, {moduleEvent(0x390, 60, 0.8f)});
    const int blocksPerSecond = int(kRate) / int(kBlock);
    for (int b = 0; b < blocksPerSecond / 2; ++b)
        s.instance->process(kBlock, {});
    if (state.range(0) == 1) {
        s.instance->process(kBlock, {moduleEvent(0x480, 60, 0.0f)});
        for (int b = 0; b < 10 * blocksPerSecond; ++b)
            s.instance->process(kBlock, {});
    }
    renderBlocks(state, s);
}
BENCHMARK(BM_C64ModuleTail)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_C64ModuleEvents(benchmark::State& state)
{
    Started s;
    if (!s.instance) {
        state.SkipWithError("C64Module did not start");
        return;
    }
    s.instance->process(kBlock, {moduleEvent(0x390, 60, 0.8f)});
    const int32_t kItems[] = {128, 768 + 97, 768 + 98, 768 + 7};  // bend, cutoff, resonance, attack
    std::vector<vantor::HDMIDIEvent> events;
    for (uint32_t i = 0; i < 2048; ++i)
        events.push_back(fixtures::itemEvent(kItems[i % 4], float(i % 16) / 16.0f, i * kBlock / 2048));
    for (auto _ : state)
        s.instance->process(kBlock, events);
    state.counters["events/s"] =
        benchmark::Counter(double(state.iterations()) * 2048.0, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_C64ModuleEvents)->Unit(benchmark::kMillisecond);

}  // namespace
