// Voice and layer events: the synth core's layer voices become calls on the chips' voice
// controllers; notes and MIDI also reach a loaded tune; layer and slot changes reach the host.
#include "instrument/ChipControllerListener.h"
#include "instrument/SIDCtrl.h"
#include "instrument/SID_sub.h"
#include "media/MediaReader.h"
#include "platform/SaturatingCast.h"

#include <cmath>

namespace {

constexpr uint64_t kSampleLayer = 3;
constexpr float kOctavesPerCent = 0.00083333335f;
constexpr float kMiddleC = 261.62558f;  // Hz

}  // namespace

void SIDCtrl::voiceStart(uint64_t voice, uint64_t layer, uint8_t note)
{
    if (voice >= kSynthChips || layer >= kSynthLayers)
        return;
    gateActive[kSynthLayers * voice + layer] = 1;
    if (layer == kSampleLayer) {
        dacSubs[voice]->noteOn(note, 1.0f);
        return;
    }
    if (SID_sub* sub = sidVoice(voice, layer))
        sub->noteOn(note, layerVoiceManager(layer).velocityGain(int64_t(voice)));
}

void SIDCtrl::voiceRetrigger(uint64_t voice, uint64_t layer, uint8_t note)
{
    if (voice >= kSynthChips || layer >= kSynthLayers)
        return;
    gateActive[kSynthLayers * voice + layer] = 1;
    if (layer == kSampleLayer) {
        dacSubs[voice]->retrigger(note);
        return;
    }
    if (SID_sub* sub = sidVoice(voice, layer))
        sub->retrigger(note);
}

void SIDCtrl::voiceRelease(uint64_t voice, uint64_t layer)
{
    if (voice >= kSynthChips || layer >= kSynthLayers)
        return;
    gateActive[kSynthLayers * voice + layer] = 0;
    if (layer == kSampleLayer) {
        dacSubs[voice]->noteOff();
        return;
    }
    if (SID_sub* sub = sidVoice(voice, layer))
        sub->noteOff();
}

void SIDCtrl::voicePitchChanged(uint64_t voice, uint64_t layer)
{
    if (voice >= kSynthChips || layer >= kSynthLayers)
        return;
    float frequency = 0.0f;
    if (layer != kSampleLayer) {
        if (computeVoiceFrequency(voice, layer, frequency))
            if (SID_sub* sub = sidVoice(voice, layer))
                sub->setPitch(frequency);
        return;
    }
    // The sample channel is tuned in sample rate: its own rate at 0 cents, and with key tracking
    // its own rate at middle C.
    SID_DAC_sub& dac = *dacSubs[voice];
    const float cents = layerManager().layerPitchCents(layer, voice) +
                        layerVoiceManager(layer).voicePitchCents(int64_t(voice));
    const float base = dac.getSampleRate();
    dac.setPitch(cents == 0.0f ? base : base * std::exp2(cents * kOctavesPerCent));
    if (computeVoiceFrequency(voice, layer, frequency))
        dac.setKeyPitch(frequency * base / kMiddleC);
}

void SIDCtrl::voiceParametersChanged(uint64_t voice, uint64_t layer)
{
    if (voice >= kSynthChips || layer >= kSIDVoices)
        return;
    float level = layerManager().layerAmplitude(layer, voice);
    applyVoiceAmplitude(voice, layer, level);
    if (SID_sub* sub = sidVoice(voice, layer))
        sub->updateVoiceParameters(level);
}

void SIDCtrl::voiceAmplitudeChanged(uint64_t voice, uint64_t layer)
{
    if (voice >= kSynthChips || layer >= kSIDVoices)
        return;
    if (SID_sub* sub = sidVoice(voice, layer))
        sub->setAmplitude(layerVoiceManager(layer).velocityGain(int64_t(voice)));
}

uint32_t SIDCtrl::layerParameterMask(uint64_t layer)
{
    // The sample layer has no amplitude and no amplitude steps.
    using KindBit = ZRS::LayerManager::KindBit;
    constexpr uint32_t kAll = KindBit::kBitDetune | KindBit::kBitTranspose | KindBit::kBitAmp |
                              KindBit::kBitAmpSteps | KindBit::kBitFixedFrequency;
    return layer == kSampleLayer ? kAll & ~uint32_t(KindBit::kBitAmp | KindBit::kBitAmpSteps)
                                 : kAll;
}

void SIDCtrl::layerParameterChanged(uint64_t layer, uint16_t id, uint8_t kind, float value)
{
    if (listener)
        listener->notifyLayerParameter(layer, id, kind, value);
}

void SIDCtrl::automSlotChanged(uint8_t slot, uint16_t setting, uint8_t kind, float value)
{
    if (listener)
        listener->notifyAutomationSlot(slot, setting, kind, value);
}

void SIDCtrl::layerInfoChanged(const uint8_t* keyMap)
{
    if (listener)
        listener->setDisplayInfo(keyMap);
}

void SIDCtrl::processMidiMessage(uint8_t status, uint8_t data1, uint8_t data2)
{
    if (reader)
        reader->sendMidiInput(status, data1, data2);
    ZRS::SynthController::processMidiMessage(status, data1, data2);
}

int64_t SIDCtrl::noteOn(uint64_t group, uint32_t noteId, uint16_t note, float velocity,
                        float tuning)
{
    if (reader && note <= 127) {
        const int32_t v = vantor::saturatingCast<int32_t>(std::floor(velocity * 127.0 + 0.5));
        reader->sendMidiInput(0x90, uint8_t(note), uint8_t(v & 127));
    }
    return ZRS::SynthController::noteOn(group, noteId, note, velocity, tuning);
}

void SIDCtrl::noteOff(uint64_t group, uint32_t noteId, uint16_t note)
{
    if (reader && note <= 127)
        reader->sendMidiInput(0x80, uint8_t(note), 0);
    ZRS::SynthController::noteOff(group, noteId, note);
}

void SIDCtrl::previewNote(uint64_t /*layer*/, uint8_t note)
{
    if (!patchBank)
        return;
    loadBankSlot(note & 127, *currentPatch);
    applyPatch(currentPatch, 0, 0);
}
