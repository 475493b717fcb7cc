// Control-rate costs of the synth framework: note events, pedal sweeps and modulator fan-out.
#include "platform/ParameterInfo.h"
#include "synth/ParameterAction.h"
#include "synth/VoiceManager.h"

#include <benchmark/benchmark.h>

#include <cstdint>

using namespace ZRS;

namespace {

class FreeingListener : public VoiceListener
{
public:
    explicit FreeingListener(VoiceManager& vm) : vm(vm) {}
    uint8_t voiceStarted(uint64_t, int64_t, uint8_t note, uint8_t) override { return note; }
    void voiceRetriggered(uint64_t, int64_t, uint8_t, uint8_t, uint8_t) override {}
    void voiceEnded(uint64_t, int64_t v, uint8_t, uint8_t) override { vm.clearVoice(v); }
    void voiceStopped(uint64_t, int64_t, uint8_t) override {}
    void voicePitchChanged(uint64_t, int64_t) override {}
    void voiceUpdated(uint64_t, int64_t) override {}
    VoiceManager& vm;
};

class SinkListener : public ParameterActionListener
{
public:
    void applyParameterAction(uint64_t, uint16_t, float value, bool) override { sum += value; }
    float sum = 0.0f;
};

}  // namespace

// 24 overlapping notes on 12 voices: frees, steals and releases. Items are note events.
static void BM_VoiceManagerNotes(benchmark::State& state)
{
    VoiceManager vm;
    FreeingListener listener(vm);
    vm.createVoiceParameters(&listener, 7);
    uint32_t n = 0;
    for (auto _ : state) {
        const uint8_t note = uint8_t(40 + (n % 24));
        vm.noteOn(note, 100, -1, VoiceManager::kPlainMidi);
        vm.noteOff(uint8_t(40 + ((n + 12) % 24)), 64, -1, VoiceManager::kPlainMidi);
        ++n;
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 2);
}
BENCHMARK(BM_VoiceManagerNotes);

// Sustain down and up over 128 keys with eight notes held. Items are pedal events.
static void BM_VoiceManagerSustain(benchmark::State& state)
{
    VoiceManager vm;
    FreeingListener listener(vm);
    vm.createVoiceParameters(&listener, 7);
    for (auto _ : state) {
        for (uint8_t k = 60; k < 68; ++k)
            vm.noteOn(k, 100, -1, VoiceManager::kPlainMidi);
        vm.controlChange(64, 127);
        for (uint8_t k = 60; k < 68; ++k)
            vm.noteOff(k, 0, -1, VoiceManager::kPlainMidi);
        vm.controlChange(64, 0);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 2);
}
BENCHMARK(BM_VoiceManagerSustain);

// One modulator write reaching N offset-mode actions. Items are writes.
static void BM_ModulatorFanOut(benchmark::State& state)
{
    const ParameterInfo info("Bench", ParameterInfo::Continuous, 0.0f, 127.0f, 64.0f, 15, 0);
    SinkListener sink;
    MIDI7Modulator source;
    ParameterActionVector actions;
    actions.resize(size_t(state.range(0)));
    for (size_t i = 0; i < actions.size(); ++i) {
        actions[i].configure(i, 1, &info, &sink);
        ModRoute r;
        r.source = &source;
        r.amount = 0.5f;
        actions[i].addRoute(r);
    }
    uint8_t v = 0;
    for (auto _ : state) {
        source.writeMidi(v++);
        benchmark::DoNotOptimize(sink.sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()));
}
BENCHMARK(BM_ModulatorFanOut)->Arg(1)->Arg(12)->Arg(48);
