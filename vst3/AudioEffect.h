#pragma once
// The audio-effect base of a VST3 processor on the SDK's Component: buses of both media,
// arrangements, the processing setup, no latency and no tail. Processing itself is the
// subclass's.

#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <public.sdk/source/vst/vstbus.h>
#include <public.sdk/source/vst/vstcomponent.h>

namespace Steinberg::Vst {

class AudioEffect : public Component, public IAudioProcessor
{
public:
    AudioEffect();

    AudioBus* addAudioInput(const TChar* name, SpeakerArrangement arr, BusType busType = kMain,
                            int32 flags = BusInfo::kDefaultActive);
    AudioBus* addAudioOutput(const TChar* name, SpeakerArrangement arr, BusType busType = kMain,
                             int32 flags = BusInfo::kDefaultActive);
    EventBus* addEventInput(const TChar* name, int32 channels = 16, BusType busType = kMain,
                            int32 flags = BusInfo::kDefaultActive);
    AudioBus* getAudioInput(int32 index);
    AudioBus* getAudioOutput(int32 index);
    EventBus* getEventInput(int32 index);

    // Negative counts: kInvalidArgument; more arrangements than buses: kResultFalse; else every
    // bus takes its arrangement and the result is kResultTrue.
    tresult PLUGIN_API setBusArrangements(SpeakerArrangement* inputs, int32 numIns, SpeakerArrangement* outputs,
                                          int32 numOuts) SMTG_OVERRIDE;
    tresult PLUGIN_API getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr) SMTG_OVERRIDE;
    // 32-bit samples only.
    tresult PLUGIN_API canProcessSampleSize(int32 symbolicSampleSize) SMTG_OVERRIDE;
    uint32 PLUGIN_API getLatencySamples() SMTG_OVERRIDE { return 0; }
    // Stores the setup; kResultFalse for a sample size that cannot be processed.
    tresult PLUGIN_API setupProcessing(ProcessSetup& setup) SMTG_OVERRIDE;
    tresult PLUGIN_API setProcessing(TBool) SMTG_OVERRIDE { return kNotImplemented; }
    tresult PLUGIN_API process(ProcessData&) SMTG_OVERRIDE { return kNotImplemented; }
    uint32 PLUGIN_API getTailSamples() SMTG_OVERRIDE { return kNoTail; }

    OBJ_METHODS(AudioEffect, Component)
    DEFINE_INTERFACES
        DEF_INTERFACE(IAudioProcessor)
    END_DEFINE_INTERFACES(Component)
    REFCOUNT_METHODS(Component)

protected:
    ProcessSetup processSetup;
};

}  // namespace Steinberg::Vst
