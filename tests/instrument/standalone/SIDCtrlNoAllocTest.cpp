// Counts every allocation of the process, so it runs alone: once initialised, the SID controller
// plays notes on its SID voices and sample channels, takes parameter changes and renders without
// allocating.

#include "fixtures/DacFixtures.h"
#include "../SIDCtrlDoubles.h"
#include "instrument/SIDCtrl.h"
#include "sid/SIDEmu.h"

#define VANTOR_COUNT_MALLOC
#include "fixtures/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

// Counts the bytes sent to the host's MIDI output and keeps no reports.
class CountingListener : public sidctrl_test::RecordingListener
{
public:
    void callHostOpcode12(HostMidiOutRecord* record) override { bytes += record->size; }
    void notifyVoiceParameter(uint64_t, uint32_t, uint32_t, float) override {}
    void notifyLayerParameter(uint64_t, uint32_t, uint32_t, float) override {}
    void notifySynthParameter(uint32_t, uint32_t, float) override {}
    void notifyMediaParameter(uint32_t, uint32_t, float) override {}
    void notifyAutomationSlot(uint64_t, uint32_t, uint32_t, float) override {}
    uint64_t bytes = 0;
};

class Ctrl : public SIDCtrl
{
public:
    using SIDCtrl::SIDCtrl;
    // Takes ownership.
    void adoptReader(MediaReader* r) { replaceReader(r); }
};

// Sixteen real chips and an initialised controller reporting to a counting host.
struct Rig
{
    explicit Rig(int32_t block) : sids(ChipController::kChips)
    {
        for (SIDEmu& s : sids) {
            EXPECT_TRUE(s.init(uint64_t(block), nullptr, SIDEmu::kDefaultInitValue));
            chips.push_back(&s);
        }
        ctrl = std::make_unique<Ctrl>(&chips, &listener);
        ctrl->init("data/chips.db", 1006);
    }
    std::vector<SIDEmu> sids;
    std::vector<ChipEmu*> chips;
    CountingListener listener;
    std::unique_ptr<Ctrl> ctrl;
};

TEST(SIDCtrlNoAlloc, NotesParametersAndRender)
{
    constexpr double kClock = 985248.0;
    constexpr int32_t kBlock = 1024;
    Rig rig(kBlock);
    auto& ctrl = rig.ctrl;
    CountingListener& listener = rig.listener;
    ctrl->setRate(0, kClock, kClock);
    ctrl->setPolyphony(12);
    ctrl->setParameter(16 + 2, 2.0f);  // a second, sawtooth oscillator
    ctrl->setModRoutingText("source=CC1;destination=Filter Cutoff\n"
                            "source=POLYVEL;destination=Osc1 PW\n",
                            0);
    fixtures::DacSampleBuilder sample;
    sample.sine(4000, 16000, 700.0);
    ctrl->setNoteTable(sample.get());
    ctrl->setParameter(138, 3.0f);  // the sample layer plays the whole sample on every key
    ctrl->layerManager().setLayerParameter(3, ZRS::LayerManager::kActive, 1.0f);
    ctrl->mediaCommand(10, nullptr, 1.0);
    std::vector<int32_t> out(kBlock);
    int32_t* channels[2] = {out.data(), nullptr};

    auto play = [&](int block) {
        const uint8_t note = uint8_t(40 + (block * 7) % 40);
        if (block % 3 == 0)
            ctrl->processMidiMessage(0x90, note, uint8_t(1 + block % 127));
        if (block % 5 == 0)
            ctrl->processMidiMessage(0x80, uint8_t(40 + ((block - 15) * 7) % 40), 0);
        ctrl->processMidiMessage(0xB0, 1, uint8_t(block & 127));
        ctrl->processMidiMessage(0xE0, 0, uint8_t(block & 127));
        ctrl->setParameter(uint16_t(block % 48), float(block % 16));
        ctrl->setParameter(97, float((block * 13) % 2048));
        ctrl->setParameter(uint16_t(96 + block % 7), float(block % 2));
        ctrl->setParameter(uint16_t(134 + block % 3), float(block % 3));
        ctrl->noteOn(0, uint32_t(block), uint16_t(note + 1), 0.5f, 0.0f);
        ctrl->noteOff(0, uint32_t(block), uint16_t(note + 1));
        std::fill(out.begin(), out.end(), 0);
        ctrl->render(channels, 2, kBlock);
    };
    for (int block = 0; block < 50; ++block)
        play(block);

    const long before = fixtures::allocationCount();
    for (int block = 0; block < 1000; ++block)
        play(block);
    EXPECT_EQ(fixtures::allocationCount() - before, 0);
    EXPECT_GT(listener.bytes, 0u);
}

TEST(SIDCtrlNoAlloc, RegisterWritesWithAsidOutput)
{
    Rig rig(1024);
    auto& ctrl = rig.ctrl;
    CountingListener& listener = rig.listener;
    ctrl->mediaCommand(10, nullptr, 1.0);
    const uint64_t sent = listener.bytes;
    const long before = fixtures::allocationCount();
    for (int i = 0; i < 10000; ++i)
        ctrl->writeRegister(0, uint8_t(i % 25), uint8_t(i));
    EXPECT_EQ(fixtures::allocationCount() - before, 0);
    EXPECT_EQ(listener.bytes - sent, 10000u * 13u);
}

TEST(SIDCtrlNoAlloc, CaptureOfAWholeCaptureList)
{
    Rig rig(1024);
    auto& ctrl = rig.ctrl;
    ctrl->adoptReader(new sidctrl_test::TickReader(ctrl.get()));
    const long before = fixtures::allocationCount();
    for (uint64_t frame = 1; frame <= SIDCtrl::kMaxCaptureFrames; ++frame) {
        ctrl->writeRegister(12, 0, uint8_t(frame));
        ctrl->captureRegisters(frame * 19656);
    }
    EXPECT_EQ(fixtures::allocationCount() - before, 0);
    EXPECT_EQ(ctrl->getCaptureFrames().size(), SIDCtrl::kMaxCaptureFrames);
}

}  // namespace
