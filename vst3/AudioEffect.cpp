#include "vst3/AudioEffect.h"

namespace Steinberg::Vst {

AudioEffect::AudioEffect()
{
    processSetup.maxSamplesPerBlock = 1024;
    processSetup.processMode = kRealtime;
    processSetup.sampleRate = 44100.0;
    processSetup.symbolicSampleSize = kSample32;
}

AudioBus* AudioEffect::addAudioInput(const TChar* name, SpeakerArrangement arr, BusType busType, int32 flags)
{
    auto* bus = new AudioBus(name, busType, flags, arr);
    audioInputs.push_back(IPtr<Bus>(bus, false));
    return bus;
}

AudioBus* AudioEffect::addAudioOutput(const TChar* name, SpeakerArrangement arr, BusType busType, int32 flags)
{
    auto* bus = new AudioBus(name, busType, flags, arr);
    audioOutputs.push_back(IPtr<Bus>(bus, false));
    return bus;
}

EventBus* AudioEffect::addEventInput(const TChar* name, int32 channels, BusType busType, int32 flags)
{
    auto* bus = new EventBus(name, busType, flags, channels);
    eventInputs.push_back(IPtr<Bus>(bus, false));
    return bus;
}

AudioBus* AudioEffect::getAudioInput(int32 index)
{
    return index >= 0 && size_t(index) < audioInputs.size() ? FCast<AudioBus>(audioInputs[size_t(index)].get())
                                                             : nullptr;
}

AudioBus* AudioEffect::getAudioOutput(int32 index)
{
    return index >= 0 && size_t(index) < audioOutputs.size() ? FCast<AudioBus>(audioOutputs[size_t(index)].get())
                                                              : nullptr;
}

EventBus* AudioEffect::getEventInput(int32 index)
{
    return index >= 0 && size_t(index) < eventInputs.size() ? FCast<EventBus>(eventInputs[size_t(index)].get())
                                                             : nullptr;
}

tresult PLUGIN_API AudioEffect::setBusArrangements(SpeakerArrangement* inputs, int32 numIns,
                                                   SpeakerArrangement* outputs, int32 numOuts)
{
    if (numIns < 0 || numOuts < 0)
        return kInvalidArgument;
    if (size_t(numIns) > audioInputs.size() || size_t(numOuts) > audioOutputs.size())
        return kResultFalse;
    if ((numIns > 0 && !inputs) || (numOuts > 0 && !outputs))
        return kInvalidArgument;
    for (int32 i = 0; i < numIns; ++i)
        if (auto* bus = getAudioInput(i))
            bus->setArrangement(inputs[i]);
    for (int32 i = 0; i < numOuts; ++i)
        if (auto* bus = getAudioOutput(i))
            bus->setArrangement(outputs[i]);
    return kResultTrue;
}

tresult PLUGIN_API AudioEffect::getBusArrangement(BusDirection dir, int32 index, SpeakerArrangement& arr)
{
    AudioBus* bus = dir == kInput ? getAudioInput(index) : getAudioOutput(index);
    if (!bus)
        return kInvalidArgument;
    arr = bus->getArrangement();
    return kResultTrue;
}

tresult PLUGIN_API AudioEffect::canProcessSampleSize(int32 symbolicSampleSize)
{
    return symbolicSampleSize == kSample32 ? kResultTrue : kResultFalse;
}

tresult PLUGIN_API AudioEffect::setupProcessing(ProcessSetup& setup)
{
    if (canProcessSampleSize(setup.symbolicSampleSize) != kResultTrue)
        return kResultFalse;
    processSetup = setup;
    return kResultOk;
}

}  // namespace Steinberg::Vst
