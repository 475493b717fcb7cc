// Scheduler-driven costs of the synth framework: the 240 Hz layer timer and the step and
// envelope action voices. Items are timer firings, so the rate reads as firings per second.
#include "support/QuantumManager.h"
#include "synth/AutomSlot.h"
#include "synth/AutomTables.h"
#include "synth/LayerManager.h"
#include "synth/ModAction.h"
#include "synth/SyncProvider.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

using namespace ZRS;

namespace {

class QuietListener : public LayerListener
{
public:
    void voicePitchChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceParametersChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceStart(uint64_t, uint64_t, uint8_t) override { ++calls; }
    void voiceRelease(uint64_t, uint64_t) override { ++calls; }
    void voiceAmplitudeChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceRetrigger(uint64_t, uint64_t, uint8_t) override { ++calls; }
    uint64_t calls = 0;
};

class FixedSync : public SyncProvider
{
public:
    float getTempo() override { return 125.0f; }
    float getSyncValueA() override { return 120.0f; }
    float getSyncValueB() override { return 0.0f; }
    float getSyncValueC() override { return 0.0f; }
};

class FourLayers : public PatchBase
{
public:
    FourLayers()
    {
        for (size_t i = 0; i < 4; ++i) {
            layers[i] = new LayerBase;
            layers[i]->active = 1;
            layers[i]->glideMode = 0;
        }
    }
};

// Renders `seconds` of scheduler time in 256-tick blocks; returns the firings.
uint64_t render(vantor::QuantumManager& qm, double rate, int seconds)
{
    uint64_t firings = 0;
    for (int s = 0; s < seconds; ++s) {
        uint64_t total = uint64_t(rate);
        while (total > 0) {
            uint64_t left = total < 256 ? total : 256;
            total -= left;
            while (left > 0) {
                const uint64_t n = qm.advance(left);
                left -= n;
                firings += qm.isFrontFired();
            }
        }
    }
    return firings;
}

}  // namespace

// The layer timer with every layer voice gliding: one second of scheduler time per iteration.
static void BM_LayerTimer(benchmark::State& state)
{
    const double rate = double(state.range(0));
    QuietListener listener;
    LayerManager lm;
    lm.setPatch(new FourLayers);
    lm.setupLayers(&listener, 0);
    for (uint64_t l = 0; l < 4; ++l)
        lm.setLayerParameter(l, LayerManager::kGlideAmount, 100.0f);
    for (uint64_t v = 0; v < 12; ++v) {
        lm.startLayerVoices(0, v, 20, 100, 20);
        lm.retriggerLayerVoices(0, v, 100, 100, 1, 1, 1);  // 8000 cents away: glides all along
    }
    vantor::QuantumManager qm;
    qm.setRate(rate);
    qm.addTimer(&lm, LayerManager::kTimerCookie);
    uint64_t firings = 0;
    for (auto _ : state)
        firings += render(qm, rate, 1);
    state.SetItemsProcessed(int64_t(firings));
    benchmark::DoNotOptimize(listener.calls);
}
BENCHMARK(BM_LayerTimer)->Arg(44100)->Arg(96000);

// Action voices, half step sequencers and half envelopes, in groups of 12 per action, on
// one scheduler: one second of scheduler time per iteration.
static void BM_ActionVoices(benchmark::State& state)
{
    const size_t voices = size_t(state.range(0));
    const double rate = double(state.range(1));
    std::vector<uint8_t> steps(kStepTableSize), envelope(kEnvelopeSize);
    writeDefaultStepTable(steps.data(), steps.size());
    writeDefaultEnvelope(envelope.data(), envelope.size());
    for (size_t i = 0; i < kStepTableSteps; ++i)
        steps[kStepTableStepsOffset + i] = uint8_t(i * 7);

    auto slots = std::make_unique<AutomSlot[]>(AutomSlot::kSlots);
    for (size_t s = 0; s < AutomSlot::kSlots; ++s) {
        slots[s].initParameters(s, nullptr);
        slots[s].setParameter(AutomSlot::kLoopMode, 2.0f);
    }
    FixedSync sync;
    std::vector<std::unique_ptr<ModAction>> actions;
    vantor::QuantumManager qm(voices + 8);
    qm.setRate(rate);
    for (size_t a = 0; a * 12 < voices; ++a) {
        const size_t group = (a / AutomSlot::kSlots) % 4;
        const size_t slot = a % AutomSlot::kSlots;
        const bool curve = a % 2 == 1;
        const size_t slotIndex = curve ? 15 + slot % 3 : slot % 15;
        const std::vector<uint8_t>& table = curve ? envelope : steps;
        const size_t count = voices - a * 12 < 12 ? voices - a * 12 : 12;
        actions.push_back(std::make_unique<ModAction>(
            count, TableRecord{table.data(), table.size()}, 1));
        ModAction& action = *actions.back();
        action.bind(int64_t(group), &slots[slotIndex], &slots[slotIndex].zone(group), &sync,
                    nullptr);
        action.setAllVoicesActive(1);
        for (size_t v = 0; v < count; ++v) {
            action.setVoiceGate(v, 1);
            qm.addTimer(action.voiceAt(v), (group << 8) | slotIndex);
        }
    }
    uint64_t firings = 0;
    for (auto _ : state)
        firings += render(qm, rate, 1);
    state.SetItemsProcessed(int64_t(firings));
}
BENCHMARK(BM_ActionVoices)
    ->Args({32, 44100})
    ->Args({128, 44100})
    ->Args({864, 44100})
    ->Args({32, 96000})
    ->Args({128, 96000})
    ->Args({864, 96000});
