// Counts every operator new of the process, so it runs alone: once set up, the synth core
// handles MIDI, host notes and its timers without allocating.
#include "synth/AutomSlot.h"
#include "synth/SynthController.h"
#include "synth/support/SynthTestSupport.h"

#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

using namespace ZRS;
using ZRS::test::CountingLayerListener;
using ZRS::test::TestSynth;

constexpr const char* kRouting = "source=CC1;destination=Filter\n"
                                 "source=CC74;destination=Cutoff;control=POLYVEL\n"
                                 "source=POLYVEL;destination=L01 Amp\n"
                                 "source=MONOVEL;destination=Zoned;math=scale\n"
                                 "source=STEP0;destination=Cutoff\n"
                                 "source=STEP1;destination=L01 Transpose\n"
                                 "source=STEP2;destination=Filter;math=accum\n"
                                 "source=EG0;destination=Pan\n"
                                 "source=EG1;destination=L02 Detune\n"
                                 "source=MPE_PB;destination=Voice Detune\n"
                                 "source=MPE_CC74;destination=Cutoff\n"
                                 "source=EXP_VOLUME;destination=Cutoff\n"
                                 "source=POLYAFT;destination=Pan\n"
                                 "source=PB;destination=Step0 Speed\n";

void rpn(TestSynth& s, uint8_t channel, uint8_t msb, uint8_t lsb, uint8_t value)
{
    const uint8_t cc = uint8_t(0xB0 | channel);
    s.processMidiMessage(cc, 101, msb);
    s.processMidiMessage(cc, 100, lsb);
    s.processMidiMessage(cc, 6, value);
    s.processMidiMessage(cc, 38, 0);
}

// Two seconds of events on channels 1-3 with the scheduler advanced in between.
void playScript(TestSynth& s)
{
    float f = 0.0f;
    for (int step = 0; step < 160; ++step) {
        const uint8_t ch = uint8_t(step % 3);
        const uint8_t note = uint8_t(40 + (step * 7) % 48);
        s.processMidiMessage(uint8_t(0xE0 | ch), uint8_t(step & 127), uint8_t((step * 5) & 127));
        s.processMidiMessage(uint8_t(0xB0 | ch), 74, uint8_t(step & 127));
        s.processMidiMessage(uint8_t(0xD0 | ch), uint8_t(step & 127), 0);
        s.processMidiMessage(uint8_t(0x90 | ch), note, uint8_t(1 + step % 127));
        s.processMidiMessage(uint8_t(0xA0 | ch), note, 90);
        s.processMidiMessage(uint8_t(0xB0 | ch), 1, uint8_t(step & 127));
        s.processMidiMessage(uint8_t(0xB0 | ch), 20, 5);  // no source
        if (step % 5 == 0)
            s.processMidiMessage(uint8_t(0x90 | ch), uint8_t(note - 12), 0);
        if (step % 3 == 0)
            s.processMidiMessage(uint8_t(0x80 | ch), uint8_t(40 + ((step - 3) * 7) % 48), 10);
        if (step % 16 == 0) {
            s.processMidiMessage(0xB0, 64, 127);
            s.processMidiMessage(0xB0, 66, 127);
            rpn(s, 0, 0, 0, 12);
            rpn(s, 15, 0, 0, 2);
            s.processMidiMessage(0xB1, 99, 1);
            s.processMidiMessage(0xB1, 98, 2);
            s.processMidiMessage(0xB1, 6, 3);
            s.processMidiMessage(0xC0, uint8_t(step % 128), 0);
            s.processMidiMessage(0xF8, 0, 0);
        }
        if (step % 16 == 8) {
            s.processMidiMessage(0xB0, 64, 0);
            s.processMidiMessage(0xB0, 66, 0);
        }
        const uint32_t id = uint32_t(1000 + step);
        s.noteOn(uint64_t(step % 4), id, uint16_t(note + 1), 0.7f, step % 2 ? 25.0f : 0.0f);
        s.setNoteExpression(uint64_t(step % 4), id, step % 9, 0.5f);
        s.noteAux(0, id, 1, 0.5f);
        s.polyPressure(0, uint8_t(note + 1), 64);
        if (step % 2)
            s.noteOff(uint64_t((step - 1) % 4), id - 1, uint16_t(40 + ((step - 1) * 7) % 48 + 1));
        for (uint64_t v = 0; v < 12; ++v) {
            for (uint64_t l = 0; l < 4; ++l) {
                s.computeVoiceFrequency(v, l, f);
                float amp = 1.0f;
                s.applyVoiceAmplitude(v, l, amp);
            }
        }
        s.advance(551);  // 160 x 551 ticks: two seconds at 44100
        if (step % 40 == 39)
            s.processMidiMessage(0xB0, 123, 0);
    }
}

}  // namespace

TEST(SynthControllerNoAlloc, MidiNotesAndTimersAllocateNothing)
{
    TestSynth s;
    CountingLayerListener quiet;
    s.recording = false;
    s.setupParameters(&s, &quiet, &s, 0);
    s.setAutomSlotParameter(0, AutomSlot::kTriggerMode, 0.0f);
    s.setAutomSlotParameter(1, AutomSlot::kTriggerMode, 2.0f);
    s.setAutomSlotParameter(15, AutomSlot::kTriggerMode, 3.0f);
    s.setAutomSlotParameter(16, AutomSlot::kTriggerMode, 1.0f);
    s.setAutomSlotParameter(2, AutomSlot::kLoopMode, 2.0f);
    for (size_t slot : {0, 1, 2, 15, 16})
        s.setAutomSlotActive(slot, true);
    s.setModRoutingText(kRouting, 0);
    s.layerManager().setLayerParameter(0, LayerManager::kGlideAmount, 40.0f);
    s.layerManager().setLayerParameter(1, LayerManager::kActive, 1.0f);
    s.layerManager().setLayerParameter(1, LayerManager::kDelayStart, 5.0f);

    for (uint32_t mode : {1u, 3u, 5u}) {
        s.setLayerMode(mode);
        const long before = fixtures::allocationCount();
        playScript(s);
        EXPECT_EQ(fixtures::allocationCount() - before, 0) << "layer mode " << mode;
    }
    EXPECT_GT(quiet.calls, 1000);
    EXPECT_GT(s.modSources(0).actions[0]->voiceAt(0)->position(), 0u);
}
