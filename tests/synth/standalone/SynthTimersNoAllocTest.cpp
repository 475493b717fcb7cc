// Counts every operator new of the process, so it runs alone.
#include "support/QuantumManager.h"
#include "synth/AutomSlot.h"
#include "synth/AutomTables.h"
#include "synth/LayerManager.h"
#include "synth/ModAction.h"
#include "synth/SyncProvider.h"
#include "synth/support/LayerTestSupport.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

using namespace ZRS;

class CountingListener : public LayerListener
{
public:
    void voicePitchChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceParametersChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceStart(uint64_t, uint64_t, uint8_t) override { ++calls; }
    void voiceRelease(uint64_t, uint64_t) override { ++calls; }
    void voiceAmplitudeChanged(uint64_t, uint64_t) override { ++calls; }
    void voiceRetrigger(uint64_t, uint64_t, uint8_t) override { ++calls; }
    uint32_t layerParameterMask(uint64_t l) override { return l == 3 ? 19u : 31u; }
    long calls = 0;
};

class Sync : public SyncProvider
{
public:
    float getTempo() override { return 125.0f; }
    float getSyncValueA() override { return 120.0f; }
    float getSyncValueB() override { return 9.25f; }
    float getSyncValueC() override { return 8.0f; }
};

TEST(SynthTimers, RunningNeverAllocates)
{
    CountingListener listener;
    LayerManager lm;
    lm.setPatch(new test::TestPatch);
    for (size_t l = 0; l < 4; ++l)
        lm.patch()->layers[l]->active = 1;
    lm.setupLayers(&listener, 0);
    lm.setLayerParameter(0, LayerManager::kGlideMode, 1.0f);
    lm.setLayerParameter(0, LayerManager::kGlideAmount, 50.0f);
    lm.setLayerParameter(1, LayerManager::kDelayStart, 10.0f);

    std::vector<uint8_t> steps(kStepTableSize), envelope(kEnvelopeSize);
    writeDefaultStepTable(steps.data(), steps.size());
    writeDefaultEnvelope(envelope.data(), envelope.size());
    auto slots = std::make_unique<AutomSlot[]>(AutomSlot::kSlots);
    for (size_t s = 0; s < AutomSlot::kSlots; ++s)
        slots[s].initParameters(s, nullptr);
    Sync sync;
    ModAction stepAction(12, TableRecord{steps.data(), steps.size()}, 0);
    ModAction curveAction(12, TableRecord{envelope.data(), envelope.size()}, 1);
    stepAction.bind(0, &slots[0], &slots[0].zone(0), &sync, nullptr);
    curveAction.bind(0, &slots[15], &slots[15].zone(0), &sync, nullptr);

    ModRoute route;
    route.source = stepAction.voiceAt(0);
    (*lm.actions(0, LayerManager::kDetune))[0].addRoute(route);
    route.source = curveAction.voiceAt(0);
    (*lm.actions(0, LayerManager::kAmp))[0].addRoute(route);

    vantor::QuantumManager qm(64);
    qm.setRate(44100.0);
    stepAction.setAllVoicesActive(1);
    curveAction.setAllVoicesActive(1);
    for (size_t v = 0; v < 12; ++v) {
        qm.addTimer(stepAction.voiceAt(v), 0);
        qm.addTimer(curveAction.voiceAt(v), 15);
    }
    qm.addTimer(&lm, LayerManager::kTimerCookie);

    const long before = fixtures::allocationCount();
    uint64_t rendered = 0;
    uint8_t note = 40;
    while (rendered < 2 * 44100) {
        const uint64_t voice = note % 12;
        lm.startLayerVoices(0, voice, note, 100, 60);
        stepAction.setVoiceGate(voice, 1);
        curveAction.restartVoice(voice);
        qm.reschedule(curveAction.voiceAt(voice), 0);
        lm.retriggerLayerVoices(0, voice, uint8_t(note + 2), 100, 1, 1, 1);
        slots[0].setParameter(AutomSlot::kSpeed, float(1 + note % 3));
        lm.setLayerParameter(2, LayerManager::kTranspose, float(note % 5));
        qm.rescheduleCookie(0, stepAction.startVoiceAtTransport(voice, 44100.0));
        for (int block = 0; block < 8; ++block) {
            uint64_t left = 256;
            while (left > 0) {
                const uint64_t n = qm.advance(left);
                left -= n;
                rendered += n;
            }
        }
        lm.stopLayerVoices(0, voice);
        stepAction.setVoiceGate(voice, 0);
        lm.endLayerVoices(0, voice);
        note = uint8_t(40 + (note + 7) % 48);
    }
    EXPECT_EQ(fixtures::allocationCount(), before);
    EXPECT_GT(listener.calls, 0);
    EXPECT_EQ(qm.getEntries().size(), 25u);
    (*lm.actions(0, LayerManager::kDetune))[0].clearRoutes();
    (*lm.actions(0, LayerManager::kAmp))[0].clearRoutes();
}

}  // namespace
