// The synth controller's core: message routing by layer mode, sources written by MIDI, host
// notes, read-back, reset, and the voice events that drive sources, actions and layers.
#include "synth/AutomSlot.h"
#include "synth/SynthController.h"
#include "synth/support/SynthTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace ZRS;
using ZRS::test::TestSynth;

namespace {

using Calls = std::vector<std::string>;

const Calls kRelease0 = {"release 0 0", "release 0 1", "release 0 2", "release 0 3"};

size_t held(TestSynth& s, size_t g)
{
    return size_t(s.voiceManager(g).heldVoiceCount());
}

std::vector<std::string> hooksStarting(const TestSynth& s, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& h : s.hooks)
        if (h.rfind(prefix, 0) == 0)
            out.push_back(h);
    return out;
}

StepActionVoice& stepVoice(ModAction& a, size_t v)
{
    return static_cast<StepActionVoice&>(*a.voiceAt(v));
}

// Oracle: 440 x 2^((60 - 69) / 12) as a float.
constexpr float kMiddleC = 261.62558f;

}  // namespace

TEST(SynthController, FreshControllerPlaysMidiOnAnyChannelThroughLayerZero)
{
    for (uint8_t channel : {0, 5, 15}) {
        TestSynth s;
        EXPECT_EQ(s.getLayerMode(), 1u);
        s.processMidiMessage(uint8_t(0x90 | channel), 60, 100);
        EXPECT_EQ(s.layerListener.take(),
                  (Calls{"trigger 0 0 60", "pitch 0 0", "params 0 0", "start 0 0 60"}))
            << "channel " << int(channel);
        float f = 0.0f;
        EXPECT_TRUE(s.computeVoiceFrequency(0, 0, f));
        EXPECT_FLOAT_EQ(f, kMiddleC);
        float again = 0.0f;
        EXPECT_FALSE(s.computeVoiceFrequency(0, 0, again));
        float amp = 0.5f;
        EXPECT_EQ(s.applyVoiceAmplitude(0, 0, amp), 1);
        EXPECT_FLOAT_EQ(amp, 0.5f);

        s.processMidiMessage(uint8_t(0x80 | channel), 60, 0);
        EXPECT_EQ(s.layerListener.take(), kRelease0);
        EXPECT_EQ(held(s, 0), 0u);
        EXPECT_EQ(s.voiceManager(0).voice(0).note, VoiceManager::kNoNote);
    }
}

TEST(SynthController, VelocityZeroIsNoteOffAndLowStatusBytesAreDropped)
{
    TestSynth s;
    s.processMidiMessage(0x90, 60, 100);
    s.layerListener.take();
    s.processMidiMessage(0x90, 60, 0);
    EXPECT_EQ(s.layerListener.take(), kRelease0);

    s.processMidiMessage(0x7F, 60, 100);
    s.processMidiMessage(0x10, 60, 100);
    EXPECT_TRUE(s.layerListener.take().empty());
    EXPECT_EQ(held(s, 0), 0u);
}

TEST(SynthController, LayerModesRouteMidiAndHostNotes)
{
    TestSynth s;
    s.setLayerMode(0);
    s.processMidiMessage(0x90, 60, 100);
    EXPECT_EQ(held(s, 0), 0u);
    s.noteOn(2, 1, 60, 0.8f, 0.0f);
    EXPECT_EQ(held(s, 0), 1u);

    s.setLayerMode(3);
    for (uint8_t ch = 0; ch < 5; ++ch)
        s.processMidiMessage(uint8_t(0x90 | ch), 60, 100);
    for (size_t g = 0; g < 4; ++g)
        EXPECT_EQ(held(s, g), 1u) << "group " << g;
    s.processMidiMessage(0x84, 60, 0);  // channel 5 is not routed
    EXPECT_EQ(held(s, 0) + held(s, 1) + held(s, 2) + held(s, 3), 4u);
    EXPECT_EQ(s.noteOn(2, 9, 70, 1.0f, 0.0f), 1);  // group 2's second voice
    EXPECT_EQ(held(s, 2), 2u);
    EXPECT_EQ(s.noteOn(7, 9, 70, 1.0f, 0.0f), -1);  // no group 7
    s.setNoteExpression(7, 9, 0, 0.5f);
    s.noteOff(7, 9, 70);
    EXPECT_EQ(held(s, 2), 2u);

    s.setLayerMode(4);
    s.processMidiMessage(0x92, 60, 100);
    EXPECT_EQ(held(s, 2), 1u);
    s.noteOn(2, 3, 62, 1.0f, 0.0f);
    EXPECT_EQ(held(s, 0), 1u);
    EXPECT_EQ(held(s, 2), 1u);

    s.setLayerMode(9);
    s.processMidiMessage(0x90, 61, 100);
    EXPECT_EQ(held(s, 0), 0u);
}

TEST(SynthController, SystemMessagesFollowTheChannelRoutesOnlyInPerChannelModes)
{
    TestSynth s;
    s.processMidiMessage(0xF8, 1, 0);
    s.setLayerMode(2);
    s.processMidiMessage(0xFE, 0, 0);
    EXPECT_EQ(hooksStarting(s, "system"), (Calls{"system 248 1", "system 254 0"}));

    s.clearRecords();
    s.setLayerMode(3);
    s.processMidiMessage(0xF8, 0, 0);  // route 8 not set
    s.processMidiMessage(0xF1, 7, 0);  // route 1: group 1
    EXPECT_EQ(hooksStarting(s, "system"), (Calls{"system 241 7"}));
    // An MPE configuration on channel 1 gives routes 1-8 to group 0.
    for (auto [c, v] : {std::pair{101, 0}, {100, 6}, {6, 8}, {38, 0}})
        s.processMidiMessage(0xB0, uint8_t(c), uint8_t(v));
    s.clearRecords();
    s.processMidiMessage(0xF8, 0, 0);
    EXPECT_EQ(hooksStarting(s, "system"), (Calls{"system 248 0"}));
}

TEST(SynthController, PitchBendWritesTheThreeBendSources)
{
    const struct
    {
        uint8_t lsb, msb;
        float bend, up, down;
    } kCases[] = {
        {0x00, 0x40, 0.0f, 0.0f, 0.0f},
        {0x7F, 0x7F, 8191.0f / 8192.0f, 8191.0f / 8192.0f, 0.0f},
        {0x00, 0x00, -1.0f, 0.0f, 1.0f},
    };
    for (const auto& c : kCases) {
        TestSynth s;
        s.processMidiMessage(0xE3, c.lsb, c.msb);
        LayerModSources& b = s.modSources(0);
        EXPECT_EQ(b.bend.getValue(), c.bend);
        EXPECT_EQ(b.bendUp.getValue(), c.up);
        EXPECT_EQ(b.bendDown.getValue(), c.down);
        EXPECT_TRUE(b.bend.isActive() && b.bendUp.isActive() && b.bendDown.isActive());
        EXPECT_EQ(s.voiceManager(0).pitchBendCents(), c.bend * 1200.0f);
    }
}

TEST(SynthController, ProgramPressureAndControllersReachSourcesAndHooks)
{
    TestSynth s;
    s.processMidiMessage(0xC0, 5, 0);
    EXPECT_EQ(s.modSources(0).program.getValue(), 5.0f);
    EXPECT_EQ(hooksStarting(s, "program"), (Calls{"program 0 5"}));

    s.processMidiMessage(0xD0, 127, 0);
    EXPECT_EQ(s.modSources(0).channelPressure.getValue(), 1.0f);

    // No controller source for 101 or 64: the hook, the decoder and the voice manager see them.
    s.processMidiMessage(0xB0, 101, 0);
    EXPECT_EQ(s.xrpnDecoder().channel(0).state, XrpnChannelState::kRpnMsbHeld);
    s.processMidiMessage(0x90, 60, 100);
    s.processMidiMessage(0xB0, 64, 127);
    s.processMidiMessage(0x80, 60, 0);
    EXPECT_EQ(held(s, 0), 1u);  // sustained
    EXPECT_EQ(hooksStarting(s, "cc"), (Calls{"cc 0 101 0", "cc 0 64 127"}));
    EXPECT_EQ(s.modSources(0).controller(64), nullptr);
}

TEST(SynthController, HostTuningRetunesTheNewVoiceWithOnePitchReport)
{
    TestSynth s;
    const int64_t v = s.noteOn(0, 7, 60, 0.5f, 0.0f);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(s.pitchReports, 0);
    EXPECT_EQ(s.voiceFrequency(0, v), kMiddleC);

    const int64_t w = s.noteOn(0, 8, 60, 0.5f, 50.0f);
    EXPECT_EQ(w, 1);
    EXPECT_EQ(s.pitchReports, 1);
    EXPECT_EQ(s.voiceFrequency(0, w), kMiddleC * std::exp2(50.0f * 0.00083333335f));
    EXPECT_EQ(s.voiceManager(0).voice(size_t(w)).velocity, 64);  // floor(0.5 x 127 + 0.5)

    s.noteOff(0, 8, 60);
    EXPECT_EQ(held(s, 0), 0u);  // both voices held the key; one release ends both
}

TEST(SynthController, FindParameterIndexComparesUpperCasedLabels)
{
    TestSynth s;
    uint16_t index = 0;
    EXPECT_EQ(s.findParameterIndex("FILTER", 6, index), &s.parameters[0]);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(s.findParameterIndex("Filter", 6, index), nullptr);
    EXPECT_EQ(index, 0xFFFF);
    EXPECT_EQ(s.findParameterIndex("FILTE", 5, index), nullptr);
    EXPECT_EQ(s.findParameterIndex("CUTOFFX", 6, index), &s.parameters[1]);
    EXPECT_EQ(s.findParameterIndex("", 0, index), nullptr);  // labels are never empty
}

TEST(SynthController, ResetKeepsVoicesAndAlternationAndDropsActionsWithTheirTimers)
{
    TestSynth s;
    s.setAutomSlotActive(0, true);
    s.setModRoutingText("source=STEP0;destination=Filter\nsource=CC1;destination=Cutoff", 0);
    ASSERT_NE(s.modSources(0).actions[0], nullptr);
    ModAction* action = s.modSources(0).actions[0].get();
    const vantor::QuantumTimer* timer = action->voiceAt(0);
    EXPECT_EQ(s.entriesOf(timer), 1u);
    s.processMidiMessage(0x90, 60, 100);
    s.processMidiMessage(0xB0, 1, 64);
    LayerModSources& b = s.modSources(0);
    const float alt = b.alternation.getValue();
    const float voiceAlt = b.voiceAlternation[0].getValue();

    s.reset();
    EXPECT_EQ(held(s, 0), 1u);
    EXPECT_EQ(s.voiceManager(0).voice(0).note, 60);
    EXPECT_EQ(b.alternation.getValue(), alt);
    EXPECT_EQ(b.voiceAlternation[0].getValue(), voiceAlt);
    EXPECT_TRUE(b.alternation.isActive());
    EXPECT_TRUE(b.voiceAlternation[0].isActive());
    EXPECT_FALSE(b.velocity.isActive());
    EXPECT_FALSE(b.voiceNote[0].isActive());
    EXPECT_FALSE(b.controller(1)->isActive());
    EXPECT_EQ(b.controller(1)->getValue(), 64.0f / 127.0f);
    EXPECT_EQ(b.actions[0], nullptr);
    EXPECT_EQ(s.entriesOf(timer), 0u);
    EXPECT_EQ(s.entriesTagged(0), 0u);
    EXPECT_EQ(s.entriesTagged(SynthBase::kLayerTimerCookie), 1u);
    EXPECT_TRUE((*s.parameterActions(test::kCutoff))[0].routes().empty());
    EXPECT_EQ(s.stepTableEntries()[0].inUse, 0);
}

TEST(SynthController, AutomSlotActivationQueuesAndCancelsEachGroupsTimers)
{
    TestSynth s;
    s.setLayerMode(3);
    s.setModRoutingText("source=STEP3;destination=Zoned", 0);
    for (uint64_t g = 0; g < 4; ++g)
        ASSERT_NE(s.modSources(g).actions[3], nullptr) << g;
    EXPECT_EQ(s.entriesTagged(3), 0u);

    s.setAutomSlotActive(3, true);
    for (uint64_t g = 0; g < 4; ++g) {
        EXPECT_EQ(s.entriesTagged((g << 8) + 3), 1u) << g;
        EXPECT_TRUE(s.modSources(g).actions[3]->voiceAt(0)->isActive());
    }
    EXPECT_EQ(s.getAutomSlotParameter(3, AutomSlot::kOn), 1.0f);
    const size_t entries = s.qm.getEntries().size();
    s.setAutomSlotActive(3, true);
    EXPECT_EQ(s.qm.getEntries().size(), entries);

    s.setAutomSlotParameter(3, AutomSlot::kOn, 0.0f);
    for (uint64_t g = 0; g < 4; ++g)
        EXPECT_EQ(s.entriesTagged((g << 8) + 3), 0u) << g;
    EXPECT_EQ(s.getAutomSlotParameter(3, AutomSlot::kOn), 0.0f);
    s.setAutomSlotActive(3, false);
    s.setAutomSlotActive(18, true);  // no such slot
    s.setAutomSlotParameter(40, AutomSlot::kSpeed, 2.0f);
    EXPECT_EQ(s.qm.getEntries().size(), entries - 4);
    EXPECT_EQ(s.getAutomSlotParameter(18, AutomSlot::kSpeed), 0.0f);
}

TEST(SynthController, SlotParameterSettersNotifyOnlyWhenAsked)
{
    TestSynth s;
    s.setAutomSlotParameter(2, AutomSlot::kSpeed, 2.0f);
    EXPECT_EQ(s.getAutomSlotParameter(2, AutomSlot::kSpeed), 2.0f);
    EXPECT_TRUE(hooksStarting(s, "slot").empty());
    s.setAutomSlotParameterAndNotify(2, AutomSlot::kSpeed, 4.0f);
    EXPECT_EQ(hooksStarting(s, "slot"), (Calls{"slot 2 6 0 4.000000"}));
    std::vector<ParameterInfo> infos;
    s.collectAutomSlotParameterInfos(infos);
    EXPECT_FALSE(infos.empty());
    std::vector<ParameterInfo> voices;
    s.collectVoiceParameterInfos(voices);
    ASSERT_EQ(voices.size(), 3u);
    EXPECT_STREQ(static_cast<const char*>(voices[1].label), "Voice Detune");
}

// ---------------------------------------------------------------------------------------------
// Voice events

TEST(SynthControllerVoices, NoteStartsAlternateAndWriteTheNoteSources)
{
    TestSynth s;
    LayerModSources& b = s.modSources(0);
    s.processMidiMessage(0x90, 60, 127);
    EXPECT_EQ(b.voiceAlternation[0].getValue(), 1.0f);
    EXPECT_EQ(b.alternation.getValue(), 1.0f);
    s.processMidiMessage(0x90, 72, 0x40);
    EXPECT_EQ(b.voiceAlternation[1].getValue(), 0.0f);
    EXPECT_EQ(b.alternation.getValue(), 0.0f);
    EXPECT_EQ(b.voiceKeyTrack[1].getValue(), 12.0f);  // centre note 60
    EXPECT_EQ(b.voiceVelocity[0].getValue(), 1.0f);
    EXPECT_EQ(b.voiceNote[1].getValue(), 72.0f);
    EXPECT_EQ(b.note.getValue(), 72.0f);
    EXPECT_EQ(b.velocity.getValue(), 64.0f / 127.0f);
    EXPECT_TRUE(b.voiceRandom[1].isActive() && b.random.isActive());
    EXPECT_EQ(s.lastNote(0).lastVoice, 1u);
    EXPECT_EQ(s.lastNote(0).lastNote, 72);
}

TEST(SynthControllerVoices, GlideOriginIsTheGroupsPreviousNoteAndAStartDoesNotBend)
{
    TestSynth s;
    s.layerManager().setLayerParameter(0, LayerManager::kGlideAmount, 50.0f);
    s.processMidiMessage(0x90, 60, 100);
    EXPECT_EQ(s.layerManager().glideState(0, 0).originNote, 60);
    s.processMidiMessage(0x90, 64, 100);
    EXPECT_EQ(s.layerManager().glideState(0, 1).originNote, 60);
    EXPECT_EQ(s.layerManager().glideState(0, 1).offset, 0.0f);
    EXPECT_EQ(s.layerManager().layerPitchCents(0, 1), 0.0f);
    // After silence the next start is its own origin again.
    s.processMidiMessage(0x80, 60, 0);
    s.processMidiMessage(0x80, 64, 0);
    s.processMidiMessage(0x90, 67, 100);
    EXPECT_EQ(s.layerManager().glideState(0, 2).originNote, 67);
}

TEST(SynthControllerVoices, MonophonicActionStaysGatedUntilTheLastVoiceEnds)
{
    TestSynth s;
    s.setAutomSlotActive(0, true);
    s.setModRoutingText("source=STEP0;destination=Filter", 0);
    ModAction& action = *s.modSources(0).actions[0];
    ASSERT_EQ(action.voiceCount(), 1u);
    s.processMidiMessage(0x90, 60, 100);
    s.processMidiMessage(0x90, 64, 100);
    EXPECT_EQ(action.voiceAt(0)->gateValue(), 1);
    s.processMidiMessage(0x80, 60, 0);
    EXPECT_EQ(action.voiceAt(0)->gateValue(), 1);
    s.processMidiMessage(0x80, 64, 0);
    EXPECT_EQ(action.voiceAt(0)->gateValue(), 0);
}

TEST(SynthControllerVoices, PolyphonicActionClosesEachVoicesGate)
{
    TestSynth s;
    s.setAutomSlotActive(0, true);
    s.setModRoutingText("source=STEP0;destination=Cutoff", 0);
    ModAction& action = *s.modSources(0).actions[0];
    ASSERT_EQ(action.voiceCount(), 12u);
    s.processMidiMessage(0x90, 60, 100);
    s.processMidiMessage(0x90, 64, 100);
    s.processMidiMessage(0x80, 60, 0);
    EXPECT_EQ(action.voiceAt(0)->gateValue(), 0);
    EXPECT_EQ(action.voiceAt(1)->gateValue(), 1);
}

TEST(SynthControllerVoices, SetUpOptionBitZeroKeepsActionsRunningOnRetrigger)
{
    for (uint32_t option : {0u, 1u}) {
        TestSynth s(15, 3, option);
        s.setPolyphony(1);
        s.setMonoRetrigger(1);
        s.setAutomSlotActive(0, true);
        s.setModRoutingText("source=STEP0;destination=Filter", 0);
        ModAction& action = *s.modSources(0).actions[0];
        s.processMidiMessage(0x90, 60, 100);
        s.advance(20000);  // a step is 5512.5 ticks at 120 beats per minute
        const uint64_t counter = stepVoice(action, 0).stepCounter();
        ASSERT_GE(counter, 3u);
        s.processMidiMessage(0x90, 62, 90);  // mono: retriggers voice 0
        EXPECT_EQ(s.modSources(0).voiceNote[0].getValue(), 62.0f) << option;
        EXPECT_EQ(s.modSources(0).voiceVelocity[0].getValue(), 90.0f / 127.0f) << option;
        EXPECT_EQ(stepVoice(action, 0).stepCounter(), option ? counter : 0u) << option;
    }
}

TEST(SynthControllerVoices, TriggerModesRestartAndReschedule)
{
    // Mode 3 oracle: beat 9.25 in a bar from beat 8 is 5 steps of a quarter beat in; the next
    // step is a whole step of 0.125 s away: floor(0.125 x 44100 + 0.5) ticks.
    const uint64_t kTransportTicks = 5513;
    for (int mode = 0; mode < 4; ++mode) {
        TestSynth s;
        s.setAutomSlotParameter(0, AutomSlot::kTriggerMode, float(mode));
        s.setAutomSlotActive(0, true);
        s.setModRoutingText("source=STEP0;destination=Cutoff", 0);
        ModAction& action = *s.modSources(0).actions[0];
        s.advance(8000);
        const uint64_t now = s.qm.getNow();
        s.processMidiMessage(0x90, 60, 100);  // voice 0, the only key down
        EXPECT_EQ(action.voiceAt(0)->gateValue(), 1) << mode;
        const bool all = mode == 1 || mode == 2;
        for (size_t v = 0; v < 12; ++v) {
            const int64_t due = s.dueOf(action.voiceAt(v));
            const uint64_t counter = stepVoice(action, v).stepCounter();
            if (mode == 3) {
                EXPECT_EQ(due, int64_t(now + kTransportTicks)) << v;
            } else if (all || v == 0) {
                EXPECT_EQ(due, int64_t(now)) << mode << " " << v;
                EXPECT_EQ(counter, 0u) << mode << " " << v;
            } else {
                EXPECT_GT(due, int64_t(now)) << mode << " " << v;
                EXPECT_GT(counter, 0u) << mode << " " << v;
            }
        }
        // A second key: mode 1 restarts nothing more, mode 2 everything again.
        s.advance(100);
        const uint64_t later = s.qm.getNow();
        s.processMidiMessage(0x90, 64, 100);  // voice 1
        EXPECT_EQ(action.voiceAt(1)->gateValue(), 1) << mode;
        const int64_t due2 = s.dueOf(action.voiceAt(2));
        if (mode == 2) {
            EXPECT_EQ(due2, int64_t(later));
        } else if (mode != 3) {
            EXPECT_GT(due2, int64_t(later)) << mode;
        }
    }
}

TEST(SynthControllerVoices, NoteExpressionsWriteTheirSourceGroups)
{
    TestSynth s;
    const int64_t v = s.noteOn(0, 42, 60, 1.0f, 0.0f);
    ASSERT_EQ(v, 0);
    s.setNoteExpression(0, 42, 2, 100.0f);
    EXPECT_EQ(s.voiceFrequency(0, v), kMiddleC * std::exp2(100.0f * 0.00083333335f));
    EXPECT_NEAR(s.voiceFrequency(0, v), 277.1826f, 0.001f);  // C#4
    LayerModSources& b = s.modSources(0);
    EXPECT_EQ(b.voiceExpression[2][0].getValue(), 100.0f);
    EXPECT_TRUE(b.voiceExpression[2][0].isActive());

    s.setNoteExpression(0, 42, 7, 0.25f);
    EXPECT_EQ(b.voiceExpression[7][0].getValue(), 0.25f);
    s.setNoteExpression(0, 42, 8, 0.5f);
    s.setNoteExpression(0, 42, -1, 0.5f);
    s.setNoteExpression(0, 43, 3, 0.5f);  // no voice holds id 43
    EXPECT_FALSE(b.voiceExpression[3][0].isActive());

    s.setNoteExpression(0, 42, 0, 0.5f);  // volume: the voice's gain
    float amp = 1.0f;
    s.applyVoiceAmplitude(0, 0, amp);
    EXPECT_FLOAT_EQ(amp, 0.5f);
}

TEST(SynthControllerVoices, EveryHostNoteIdIsOneIdAndMinusOneIsNone)
{
    for (const uint32_t id : {42u, uint32_t(-5), 0x80000000u}) {
        TestSynth s;
        const int64_t v = s.noteOn(0, id, 60, 1.0f, std::numeric_limits<float>::infinity());
        ASSERT_EQ(v, 0) << id;
        EXPECT_EQ(s.voiceFrequency(0, v), kMiddleC) << id;  // no tuning
        EXPECT_EQ(s.pitchReports, 0) << id;
        s.setNoteExpression(0, id, 2, 100.0f);
        EXPECT_NEAR(s.voiceFrequency(0, v), 277.1826f, 0.001f) << id;
        s.setNoteExpression(0, id, 2, std::numeric_limits<float>::quiet_NaN());  // ignored
        EXPECT_NEAR(s.voiceFrequency(0, v), 277.1826f, 0.001f) << id;
        s.noteOff(0, id, 60);
        EXPECT_EQ(held(s, 0), 0u) << id;
    }

    // Voices started without an id hold -1, which never names one of them.
    TestSynth s;
    s.processMidiMessage(0x90, 60, 100);
    EXPECT_EQ(s.noteOn(0, 0xFFFFFFFFu, 62, 1.0f, 50.0f), -1);
    s.setNoteExpression(0, 0xFFFFFFFFu, 2, 100.0f);
    EXPECT_EQ(s.voiceFrequency(0, 0), kMiddleC);
    EXPECT_EQ(s.pitchReports, 0);
}

TEST(SynthControllerVoices, PolyPressureReachesOnlyAVoiceOfThatNote)
{
    TestSynth s;
    s.processMidiMessage(0x90, 60, 100);
    s.processMidiMessage(0xA0, 60, 127);
    LayerModSources& b = s.modSources(0);
    EXPECT_EQ(b.voicePressure[0].getValue(), 1.0f);
    s.processMidiMessage(0xA0, 61, 64);
    for (size_t v = 1; v < 12; ++v)
        EXPECT_FALSE(b.voicePressure[v].isActive()) << v;
    EXPECT_EQ(b.voicePressure[0].getValue(), 1.0f);
    s.polyPressure(4, 60, 10);  // no group 4
    s.polyPressure(0, 60, 254);
    EXPECT_EQ(b.voicePressure[0].getValue(), 2.0f);
}

TEST(SynthControllerVoices, FixedFrequencyLayersTakeTheReferenceNote)
{
    TestSynth s;
    s.layerManager().setLayerParameter(0, LayerManager::kFixedFrequency, 1.0f);
    s.processMidiMessage(0x90, 80, 100);
    float f = 0.0f;
    ASSERT_TRUE(s.computeVoiceFrequency(0, 0, f));
    EXPECT_FLOAT_EQ(f, 65.406395f);  // note 36
    s.setFixedPitchNote(48);
    ASSERT_TRUE(s.computeVoiceFrequency(0, 0, f));
    EXPECT_FLOAT_EQ(f, 130.81279f);
    EXPECT_FALSE(s.computeVoiceFrequency(12, 0, f));
    EXPECT_FALSE(s.computeVoiceFrequency(0, 4, f));
    float silent = 0.0f;
    EXPECT_FALSE(s.computeVoiceFrequency(5, 1, silent));  // voice 5 never sounded: 0 Hz
}
