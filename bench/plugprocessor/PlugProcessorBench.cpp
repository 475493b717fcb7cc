// 12 held notes (default patch) at 48000 Hz in 512-frame blocks, as seconds of audio per CPU
// second (x real time): through IAudioProcessor::process of a PlugProcessor on the engine bundle
// and the module, and through vantor::engine::Instance driving the same module file directly.
// Then, with the stand-in's rendering off, the processor's own cost per block for 0, 64 and 2048
// note events (ns per block). Compare figures of one run.

#include "bench/engine_bridge/EngineBench.h"
#include "shims/engine/CaddisTestHook.h"
#include "tests/vst3/ProcessDoubles.h"
#include "vst3/plugprocessor.h"

#include <pluginterfaces/base/smartpointer.h>
#include <public.sdk/source/vst/hosting/hostclasses.h>

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <vector>

namespace {

using namespace enginebench;
using namespace processdoubles;

constexpr int32 kBlock = 512;

// The stand-in's test hook, for switching the module's rendering.
void setRender(bool on)
{
    static void* handle = dlopen(ENGINE_FILE_PATH, RTLD_NOW | RTLD_LOCAL);
    static auto hook = handle ? reinterpret_cast<vantor::engine::CaddisTestHookFunction>(
                                    dlsym(handle, vantor::engine::kTestHookName))
                              : nullptr;
    if (hook)
        hook(vantor::engine::kHookSetRender, nullptr, on ? 1 : 0, 0);
}

struct Plugin
{
    HostApplication host;
    IPtr<PlugProcessor> processor{new PlugProcessor, false};
    std::vector<float> left = std::vector<float>(kBlock), right = std::vector<float>(kBlock);
    float* channels[2] = {left.data(), right.data()};
    AudioBusBuffers bus;

    bool start()
    {
        prepareHome();
        if (processor->initialize(&host) != kResultOk)
            return false;
        ProcessSetup setup{kRealtime, kSample32, kBlock, kRate};
        bus.numChannels = 2;
        bus.channelBuffers32 = channels;
        return processor->setupProcessing(setup) == kResultOk;
    }
    void block(IEventList* events)
    {
        ProcessData data;
        data.numSamples = kBlock;
        data.numOutputs = 1;
        data.outputs = &bus;
        data.inputEvents = events;
        processor->process(data);
    }
};

void BM_ProcessorEngineModule(benchmark::State& state)
{
    setRender(true);
    Plugin plugin;
    if (!plugin.start()) {
        state.SkipWithError("the engine did not start");
        return;
    }
    std::vector<Event> notes;
    for (int v = 0; v < kNotes; ++v)
        notes.push_back(noteOn(int16(48 + 3 * v), 0, 0.8f, v + 1));
    Events held(notes);
    plugin.block(&held);
    for (int b = 0; b < kWarmUpBlocks; ++b)
        plugin.block(nullptr);
    for (auto _ : state) {
        plugin.block(nullptr);
        benchmark::DoNotOptimize(plugin.left.data());
    }
    reportRealTime(state, kBlock);
}
BENCHMARK(BM_ProcessorEngineModule)->Unit(benchmark::kMillisecond);

void BM_InstanceDirect(benchmark::State& state) { instanceDirect(state, kBlock); }
BENCHMARK(BM_InstanceDirect)->Unit(benchmark::kMillisecond);

// Note-ons and note-offs at scattered offsets (the sort has work), with and without note ids.
void BM_ProcessorEvents(benchmark::State& state)
{
    Plugin plugin;
    if (!plugin.start()) {
        state.SkipWithError("the engine did not start");
        return;
    }
    setRender(false);
    std::vector<Event> list;
    for (int i = 0; i < int(state.range(0)); ++i) {
        const int32 offset = int32((i * 7919) % kBlock);
        list.push_back(i % 2 ? noteOff(int16(36 + i % 60), 0, 0.5f, i % 3 ? i - 1 : -1, offset)
                             : noteOn(int16(36 + i % 60), 0, 0.8f, i % 3 ? i : -1, offset));
    }
    Events events(list);
    for (int b = 0; b < kWarmUpBlocks; ++b)
        plugin.block(&events);
    for (auto _ : state)
        plugin.block(&events);
    state.counters["events_per_s"] =
        benchmark::Counter(double(state.iterations()) * double(state.range(0)), benchmark::Counter::kIsRate);
    setRender(true);
}
BENCHMARK(BM_ProcessorEvents)->Arg(0)->Arg(64)->Arg(2048)->Unit(benchmark::kNanosecond);

}  // namespace
