#pragma once
// What the layer manager asks of the instrument for each layer voice (voice, layer).

#include <cstdint>

namespace ZRS {

class LayerListener
{
public:
    static constexpr uint32_t kAllKinds = 0xFFFFFFFFu;

    virtual ~LayerListener() = default;
    virtual void voicePitchChanged(uint64_t voice, uint64_t layer) = 0;
    virtual void voiceParametersChanged(uint64_t voice, uint64_t layer) = 0;
    virtual void voiceStart(uint64_t voice, uint64_t layer, uint8_t note) = 0;
    virtual void voiceRelease(uint64_t voice, uint64_t layer) = 0;
    virtual void voiceAmplitudeChanged(uint64_t voice, uint64_t layer) = 0;
    virtual void voiceRetrigger(uint64_t voice, uint64_t layer, uint8_t note) = 0;
    // keyMap holds 128 entries, 1 where some active layer plays the note.
    virtual void layerInfoChanged(const uint8_t* /*keyMap*/) {}
    virtual void triggerLayerVoice(uint64_t voice, uint64_t layer, uint8_t note)
    {
        voicePitchChanged(voice, layer);
        voiceParametersChanged(voice, layer);
        voiceStart(voice, layer, note);
    }
    virtual void layerActiveChanged(uint64_t /*layer*/, uint8_t /*active*/) {}
    // The per-voice parameter kinds the layer supports: 1 detune, 2 transpose, 4 amp, 8 amp
    // steps, 16 fixed frequency.
    virtual uint32_t layerParameterMask(uint64_t /*layer*/) { return kAllKinds; }
    virtual void layerParameterChanged(uint64_t /*layer*/, uint16_t /*id*/, uint8_t /*modulated*/,
                                       float /*value*/)
    {
    }
};

}  // namespace ZRS
