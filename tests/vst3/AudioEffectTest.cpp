// The audio-effect base: bus arrangements by count, the sample sizes and the stored setup.

#include "vst3/AudioEffect.h"

#include <pluginterfaces/base/smartpointer.h>

#include <gtest/gtest.h>

namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;

class Effect : public AudioEffect
{
public:
    Effect()
    {
        addAudioInput(STR16("In"), SpeakerArr::kStereo);
        addAudioOutput(STR16("Out"), SpeakerArr::kStereo);
        addAudioOutput(STR16("Aux"), SpeakerArr::kMono, kAux, 0);
        addEventInput(STR16("Events"), 4);
    }
    const ProcessSetup& setup() const { return processSetup; }
};

TEST(AudioEffect, ArrangementsAreTakenByCount)
{
    IPtr<Effect> e(new Effect, false);
    SpeakerArrangement ins[2] = {SpeakerArr::kMono, SpeakerArr::kMono};
    SpeakerArrangement outs[3] = {SpeakerArr::k51, SpeakerArr::kStereo, SpeakerArr::kStereo};
    EXPECT_EQ(e->setBusArrangements(ins, -1, outs, 1), kInvalidArgument);
    EXPECT_EQ(e->setBusArrangements(ins, 1, outs, -1), kInvalidArgument);
    EXPECT_EQ(e->setBusArrangements(ins, 2, outs, 1), kResultFalse);  // one input bus
    EXPECT_EQ(e->setBusArrangements(ins, 1, outs, 3), kResultFalse);
    SpeakerArrangement a = 0;
    ASSERT_EQ(e->getBusArrangement(kInput, 0, a), kResultTrue);
    EXPECT_EQ(a, SpeakerArr::kStereo);  // refused calls changed nothing

    EXPECT_EQ(e->setBusArrangements(ins, 1, outs, 2), kResultTrue);
    ASSERT_EQ(e->getBusArrangement(kInput, 0, a), kResultTrue);
    EXPECT_EQ(a, SpeakerArr::kMono);
    ASSERT_EQ(e->getBusArrangement(kOutput, 0, a), kResultTrue);
    EXPECT_EQ(a, SpeakerArr::k51);
    ASSERT_EQ(e->getBusArrangement(kOutput, 1, a), kResultTrue);
    EXPECT_EQ(a, SpeakerArr::kStereo);
    EXPECT_EQ(e->getBusArrangement(kOutput, 2, a), kInvalidArgument);
    EXPECT_EQ(e->getBusArrangement(kInput, -1, a), kInvalidArgument);

    EXPECT_EQ(e->getBusCount(kEvent, kInput), 1);
    BusInfo info;
    ASSERT_EQ(e->getBusInfo(kAudio, kOutput, 1, info), kResultOk);
    EXPECT_EQ(info.busType, kAux);
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.channelCount, 2);  // its new arrangement
}

TEST(AudioEffect, SetupIsStoredFor32BitSamplesOnly)
{
    IPtr<Effect> e(new Effect, false);
    EXPECT_EQ(e->canProcessSampleSize(kSample32), kResultTrue);
    EXPECT_EQ(e->canProcessSampleSize(kSample64), kResultFalse);
    ProcessSetup wide{kOffline, kSample64, 64, 96000.0};
    EXPECT_EQ(e->setupProcessing(wide), kResultFalse);
    EXPECT_EQ(e->setup().sampleRate, 44100.0);
    ProcessSetup setup{kOffline, kSample32, 333, 96000.0};
    EXPECT_EQ(e->setupProcessing(setup), kResultOk);
    EXPECT_EQ(e->setup().sampleRate, 96000.0);
    EXPECT_EQ(e->setup().maxSamplesPerBlock, 333);
    EXPECT_EQ(e->setup().processMode, kOffline);
    EXPECT_EQ(e->getLatencySamples(), 0u);
    EXPECT_EQ(e->getTailSamples(), 0u);
}

}  // namespace
