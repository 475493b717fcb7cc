#pragma once
// What the engine benchmarks share: a home whose preferences name the built engine bundle, the
// x-real-time figure, and 12 held notes through vantor::engine::Instance driving the module
// file directly (the reference the plug-in's roads are compared with, in one run).

#include "shims/engine/Engine.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace enginebench {

constexpr double kRate = 48000.0;
constexpr int kNotes = 12;
constexpr int kWarmUpBlocks = 20;

inline vantor::HDMIDIEvent noteOn(int32_t pitch, int32_t noteId)
{
    vantor::HDMIDIEvent e;
    e.kind = vantor::kEventNoteOn;
    e.index = pitch;
    e.value = 0.8f;
    e.noteId = noteId;
    return e;
}

// Once per process: HOME becomes a temporary folder with the two preferences.
inline void prepareHome()
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

inline void reportRealTime(benchmark::State& state, uint32_t block)
{
    state.counters["x_realtime"] =
        benchmark::Counter(double(state.iterations()) * block / kRate, benchmark::Counter::kIsRate);
}

// kNotes held notes rendered in blocks of `block` frames by an Instance on the module file.
inline void instanceDirect(benchmark::State& state, uint32_t block)
{
    std::string error;
    const auto module = vantor::engine::ModuleLibrary::open(C64MODULE_PATH, error);
    if (!module) {
        state.SkipWithError(error.c_str());
        return;
    }
    vantor::engine::EngineConfig config;
    config.sampleRate = kRate;
    config.blockSize = block;
    vantor::engine::Instance instance(*module, config);
    if (!instance.create(module->identifier(0), error) || !instance.start(error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    std::vector<vantor::HDMIDIEvent> notes;
    for (int v = 0; v < kNotes; ++v)
        notes.push_back(noteOn(48 + 3 * v, v + 1));
    instance.process(block, notes);
    for (int b = 0; b < kWarmUpBlocks; ++b)
        instance.process(block, {});
    for (auto _ : state) {
        instance.process(block, {});
        benchmark::DoNotOptimize(instance.channel(0));
    }
    reportRealTime(state, block);
}

}  // namespace enginebench
