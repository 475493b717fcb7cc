// 12 held notes (default patch) at 48000 Hz in 256-frame blocks, as seconds of audio per CPU
// second (x real time): through the plug-in's wrapper, the engine bundle's opcode 42 and the
// module, and through vantor::engine::Instance driving the same module file directly. Compare
// the two figures of one run.

#include "bench/engine_bridge/EngineBench.h"
#include "vst3/SamplerPluginConfig.h"
#include "vst3/TarnWrapper.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using namespace enginebench;

constexpr uint32_t kBlock = 256;

void BM_WrapperEngineModule(benchmark::State& state)
{
    prepareHome();
    vantor::TARNWrapper wrapper(kPluginFormatVST3, vantor::kEngineSdkVersion, kSamplerPluginConfig.automatableCount);
    if (!wrapper.init(uint64_t(kRate), kBlock, &kSamplerPluginConfig, false)) {
        state.SkipWithError("the engine did not start");
        return;
    }
    auto events = std::make_unique<vantor::MIDIEvents>();
    for (int v = 0; v < kNotes; ++v)
        events->events[events->count++] = noteOn(48 + 3 * v, v + 1);
    std::vector<float> left(kBlock), right(kBlock);
    float* outputs[2] = {left.data(), right.data()};
    vantor::SyncInfo transport;
    transport.setDefaults();
    transport.prepare(int32_t(kBlock), kRate, nullptr, nullptr, true);
    wrapper.process(events.get(), nullptr, outputs, &transport, kBlock);
    *events = vantor::MIDIEvents();
    for (int b = 0; b < kWarmUpBlocks; ++b)
        wrapper.process(events.get(), nullptr, outputs, &transport, kBlock);
    for (auto _ : state) {
        wrapper.process(events.get(), nullptr, outputs, &transport, kBlock);
        benchmark::DoNotOptimize(left.data());
    }
    reportRealTime(state, kBlock);
}
BENCHMARK(BM_WrapperEngineModule)->Unit(benchmark::kMillisecond);

void BM_InstanceDirect(benchmark::State& state) { instanceDirect(state, kBlock); }
BENCHMARK(BM_InstanceDirect)->Unit(benchmark::kMillisecond);

}  // namespace
