// 12 held notes (default patch) at 48000 Hz in 256-frame blocks, as seconds of audio per CPU
// second (x real time): through the plug-in's wrapper, the engine bundle's opcode 42 and the
// module, and through vantor::engine::Instance driving the same module file directly. Compare
// the two figures of one run.

#include "shims/engine/Engine.h"
#include "vst3/SamplerPluginConfig.h"
#include "vst3/TarnWrapper.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr double kRate = 48000.0;
constexpr uint32_t kBlock = 256;
constexpr int kNotes = 12;
constexpr int kWarmUpBlocks = 20;

vantor::HDMIDIEvent noteOn(int32_t pitch, int32_t noteId)
{
    vantor::HDMIDIEvent e;
    e.kind = vantor::kEventNoteOn;
    e.index = pitch;
    e.value = 0.8f;
    e.noteId = noteId;
    return e;
}

// A home of its own whose preferences name the built engine bundle.
void prepareHome()
{
    static const bool done = [] {
        std::string folder = (std::filesystem::temp_directory_path() / "vantor-bench-XXXXXX").string();
        if (!mkdtemp(folder.data()))
            return false;
        setenv("HOME", folder.c_str(), 1);
        unsetenv("XDG_DATA_HOME");
        const std::string preferences = folder + "/Library/Preferences";
        std::filesystem::create_directories(preferences);
        const auto write = [&](const std::string& domain, const std::string& key, const std::string& value) {
            std::ofstream(preferences + "/" + domain + ".plist")
                << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>" << key
                << "</key><string>" << value << "</string></dict></plist>\n";
        };
        write("com.vantor.caddis", "path", ENGINE_BUNDLE_PATH);
        write("com.Vantor Works.orbella C64", "base_dir", folder);
        return true;
    }();
    (void)done;
}

void reportRealTime(benchmark::State& state)
{
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * kBlock / kRate, benchmark::Counter::kIsRate);
}

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
    reportRealTime(state);
}
BENCHMARK(BM_WrapperEngineModule)->Unit(benchmark::kMillisecond);

void BM_InstanceDirect(benchmark::State& state)
{
    std::string error;
    const auto module = vantor::engine::ModuleLibrary::open(C64MODULE_PATH, error);
    if (!module) {
        state.SkipWithError(error.c_str());
        return;
    }
    vantor::engine::EngineConfig config;
    config.sampleRate = kRate;
    config.blockSize = kBlock;
    vantor::engine::Instance instance(*module, config);
    if (!instance.create(module->identifier(0), error) || !instance.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<vantor::HDMIDIEvent> notes;
    for (int v = 0; v < kNotes; ++v)
        notes.push_back(noteOn(48 + 3 * v, v + 1));
    instance.process(kBlock, notes);
    for (int b = 0; b < kWarmUpBlocks; ++b)
        instance.process(kBlock, {});
    for (auto _ : state) {
        instance.process(kBlock, {});
        benchmark::DoNotOptimize(instance.channel(0));
    }
    reportRealTime(state);
}
BENCHMARK(BM_InstanceDirect)->Unit(benchmark::kMillisecond);

}  // namespace
