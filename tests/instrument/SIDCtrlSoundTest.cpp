// The controller on real chips: what the chips are told at init, and what a note sounds like.
#include "SIDCtrlDoubles.h"

#include "fixtures/DacFixtures.h"
#include "fixtures/Spectrum.h"
#include "sid/SIDEmu.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {

using namespace sidctrl_test;

constexpr double kPalClock = 985248.0;

class SIDCtrlSoundTest : public ::testing::Test
{
protected:
    SIDCtrlSoundTest() : sids(real.sids), chips(real.chips)
    {
        ctrl = std::make_unique<TestCtrl>(&chips, &listener);
        ctrl->init(nullptr, 1006);
        ctrl->setRate(0, kPalClock, kPalClock);
        ctrl->setPolyphony(12);
    }

    std::vector<double> render(size_t ticks) { return renderTicks(*ctrl, ticks); }

    RealChips real;
    std::vector<SIDEmu>& sids;
    std::vector<ChipEmu*>& chips;
    RecordingListener listener;
    std::unique_ptr<TestCtrl> ctrl;
};

TEST_F(SIDCtrlSoundTest, SynthChipsGetTheExtensions)
{
    for (size_t c = 0; c < 16; ++c) {
        EXPECT_EQ(sids[c].extensionsEnabled, c < 12 ? 1 : 0) << c;
        EXPECT_EQ(ctrl->isChipEnabled(c), c < 12) << c;
    }
}

TEST_F(SIDCtrlSoundTest, NoteSixtyNineIs440Hz)
{
    ctrl->processMidiMessage(0x90, 69, 127);
    const std::vector<double> out = render(size_t(kPalClock));
    const fixtures::Spectrum spectrum(out, kPalClock);
    EXPECT_NEAR(spectrum.peakFrequency(300.0, 600.0), 440.0, 1.0);
    EXPECT_GT(spectrum.amplitudeAt(440.0), 1000.0);
}

TEST_F(SIDCtrlSoundTest, SampleLayerPlaysThroughTheVolumeRegister)
{
    fixtures::DacSampleBuilder sample;
    sample.sine(8000, 8000, 500.0);
    ctrl->setNoteTable(sample.get());
    ctrl->setParameter(138, 3.0f);  // the whole sample, key-tracked
    ZRS::LayerManager& layers = ctrl->layerManager();
    layers.setLayerParameter(0, ZRS::LayerManager::kActive, 0.0f);
    layers.setLayerParameter(3, ZRS::LayerManager::kActive, 1.0f);
    ctrl->processMidiMessage(0x90, 60, 127);  // middle C: the sample's own rate
    const std::vector<double> out = render(size_t(kPalClock / 2));
    const fixtures::Spectrum spectrum(out, kPalClock);
    EXPECT_NEAR(spectrum.peakFrequency(100.0, 2000.0), 500.0, 2.0);
}

TEST_F(SIDCtrlSoundTest, ChannelActivityFollowsTheEnvelope)
{
    EXPECT_FALSE(ctrl->isChannelActive(0, 0, 3));
    ctrl->processMidiMessage(0x90, 60, 127);
    render(2000);
    EXPECT_TRUE(ctrl->isChannelActive(0, 0, 3));
    EXPECT_FALSE(ctrl->isChannelActive(1, 0, 3));
    EXPECT_FALSE(ctrl->isChannelActive(3, 0, 3));
    EXPECT_FALSE(ctrl->isChannelActive(0, 12, 3));
    ctrl->processMidiMessage(0x80, 60, 0);
    render(100000);  // release 0: about 6 ms
    EXPECT_FALSE(ctrl->isChannelActive(0, 0, 3));
}

}  // namespace
