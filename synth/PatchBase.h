#pragma once
// A patch: a name and up to 16 owned layers, of which the layer manager plays the first four.

#include <cstddef>
#include <cstdint>

namespace ZRS {

// One layer's settings as the layer manager reads and writes them. Instruments derive their
// layers from it and add their own sound data.
class LayerBase
{
public:
    static constexpr uint8_t kFlagIndependent = 0x01;  // ignores the group's updates and legato
    static constexpr uint8_t kFlagGatedAmplitude = 0x02;

    LayerBase() = default;
    LayerBase(const LayerBase&) = default;
    LayerBase& operator=(const LayerBase&) = default;
    virtual ~LayerBase() = default;

    uint8_t active = 0;
    uint8_t fixedFrequency = 0;
    uint8_t monoRetrigger = 0;
    float delayStart = 0.0f;   // hundredths of a second
    float glideAmount = 0.0f;  // 0..100, 0 = none
    int64_t glideMode = 0;     // 0 exponential, 1 linear, others freeze
    float auxValue = 0.0f;
    float amp = 1.0f;
    uint8_t ampSteps = 127;
    uint8_t ampStepsMax = 127;  // 15 selects the 4-bit description
    uint8_t lowKey = 0;
    uint8_t highKey = 127;
    uint8_t voiceCount = 12;
    int8_t transpose = 0;  // semitones
    int8_t detune = 0;     // cents
    uint64_t voiceGroup = 0;
    uint8_t flags = 0;
};

class PatchBase
{
public:
    static constexpr size_t kLayers = 16;
    static constexpr size_t kNameSize = 32;  // zero-terminated

    PatchBase() = default;
    PatchBase(const PatchBase&) = delete;
    PatchBase& operator=(const PatchBase&) = delete;
    virtual ~PatchBase() { releaseLayers(); }

    // Deletes every layer, slot 15 first, and clears the slots.
    void releaseLayers();
    // Copies at most kNameSize - 1 characters and terminates the name.
    void setName(const char* text);

    LayerBase* layer(size_t i) const { return i < kLayers ? layers[i] : nullptr; }

    char name[kNameSize] = {};
    LayerBase* layers[kLayers] = {};  // owned
};

}  // namespace ZRS
