#pragma once
// Turns each voice of a voice group into up to four layer voices (voice, layer): key ranges,
// delayed starts, glides, per-layer-voice pitch and amplitude modulation targets, and the 64
// layer-parameter descriptions. Every effect goes out through a LayerListener.

#include "platform/ParameterInfo.h"
#include "support/QuantumManager.h"
#include "synth/LayerListener.h"
#include "synth/ParameterAction.h"
#include "synth/PatchBase.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

namespace ZRS {

class LayerManagerCommands
{
public:
    virtual ~LayerManagerCommands() = default;
    virtual void setLayerParameter(uint64_t layer, uint32_t id, float value) = 0;
    virtual float getLayerParameter(uint64_t layer, uint32_t id) const = 0;
    virtual void registerParameters(std::vector<ParameterInfo>& table) = 0;
};

struct GlideState
{
    static constexpr uint8_t kNoNote = 128;
    float offset = 0.0f;  // cents added to the pitch
    uint64_t mode = 0;
    uint8_t originNote = kNoNote;
};

struct DelayState
{
    float remaining = 0.0f;  // seconds
    uint8_t pending = 0;
    uint8_t note = 0;
};

class LayerManager : public LayerManagerCommands,
                     public vantor::QuantumTimer,
                     public ParameterActionListener
{
public:
    static constexpr size_t kLayers = 4;
    static constexpr size_t kKeys = 128;
    static constexpr size_t kRecords = 64;  // 16 per layer
    static constexpr uint64_t kTimerCookie = 31310;

    // Layer parameter ids; 9 has no field.
    enum Id : uint16_t {
        kActive = 0,
        kMonoRetrigger = 1,
        kLowKey = 2,
        kHighKey = 3,
        kDelayStart = 4,
        kTranspose = 5,
        kDetune = 6,
        kAmp = 7,
        kFixedFrequency = 8,
        kAuxValue = 10,
        kGlideAmount = 11,
        kGlideMode = 12,
        kVoiceCount = 13,
        kAmpSteps = 14,
    };

    // Parameter-mask bits of the five per-voice kinds.
    enum KindBit : uint32_t {
        kBitDetune = 1,
        kBitTranspose = 2,
        kBitAmp = 4,
        kBitAmpSteps = 8,
        kBitFixedFrequency = 16,
    };

    LayerManager();
    LayerManager(const LayerManager&) = delete;
    LayerManager& operator=(const LayerManager&) = delete;
    ~LayerManager() override;

    // Takes ownership of the patch and deletes the previous one. Run setupLayers afterwards.
    void setPatch(PatchBase* newPatch);
    PatchBase* patch() const { return currentPatch.get(); }

    // Sizes the per-layer-voice state from each layer's voice count and sets up its actions,
    // which already tell the listener their default values.
    void setupLayers(LayerListener* layerListener, uint32_t options);

    void setLayerParameter(uint64_t layer, uint32_t id, float value) override;
    float getLayerParameter(uint64_t layer, uint32_t id) const override;
    void registerParameters(std::vector<ParameterInfo>& table) override;
    void setLayerParameterAndNotify(uint64_t layer, uint32_t id, float value);

    // Upper-case address "Lnn NAME": the actions of one kind of layer nn - 1, or null.
    // `outLayer` is written once the number has been read.
    ParameterActionVector* findLayerActions(std::string_view address, uint64_t& outLayer);
    // Clears the amplitude markers and the routes of every action.
    void reset();

    void parameterActionActiveChanged(uint64_t index, uint16_t code, uint8_t active,
                                      uint8_t fromAction) override;
    void applyParameterAction(uint64_t index, uint16_t code, float value,
                              bool modulated) override;

    // Voice events of a voice group; the velocity is not used.
    void resetGlides(uint64_t group);
    void startLayerVoices(uint64_t group, uint64_t voice, uint8_t note, uint8_t velocity,
                          uint8_t originNote);
    void retriggerLayerVoices(uint64_t group, uint64_t voice, uint8_t note, uint8_t velocity,
                              uint8_t regate, uint8_t retrigger, uint8_t velocityUpdate);
    void stopLayerVoices(uint64_t group, uint64_t voice);
    void endLayerVoices(uint64_t group, uint64_t voice);
    void updateLayerVoices(uint64_t group, uint64_t voice);
    void updateLayerPitch(uint64_t group, uint64_t voice);

    // Read-back; a voice beyond the layer's voices reads voice 0.
    float layerPitchCents(uint64_t layer, uint64_t voice) const;
    float layerPitchRatio(uint64_t layer, uint64_t voice, float base) const;
    bool isFixedFrequency(uint64_t layer, uint64_t voice) const;
    float layerAmplitude(uint64_t layer, uint64_t voice) const;

    // The 240 Hz timer: delayed starts and glides.
    uint64_t quantumElapsed(vantor::QuantumTimer* timer, uint64_t argument, double rate) override;

    // Inspection.
    const uint8_t* keyMap() const { return keys; }
    uint32_t parameterMask() const { return mask; }
    uint32_t setupOptions() const { return options; }
    // Layer voices in use: the voice count, at most the length sized at setupLayers.
    size_t voiceCount(uint64_t layer) const;
    float gate(uint64_t layer, uint64_t voice) const;
    GlideState glideState(uint64_t layer, uint64_t voice) const;
    DelayState delayState(uint64_t layer, uint64_t voice) const;
    // The value last applied by an action of that kind (5, 6, 7, 8 or 14); 0 when none.
    float appliedValue(uint64_t layer, uint16_t kind, uint64_t voice) const;
    ParameterActionVector* actions(uint64_t layer, uint16_t kind);
    uint8_t actionMarker(uint64_t layer) const
    {
        return layer < kLayers ? actionMarkers[layer] : 0;
    }
    uint8_t modulatorMarker(uint64_t layer) const
    {
        return layer < kLayers ? modulatorMarkers[layer] : 0;
    }

private:
    // The five per-voice kinds in table order.
    enum Table : size_t { kTabDetune, kTabTranspose, kTabFixed, kTabAmp, kTabAmpSteps, kTables };

    static int tableOf(uint16_t kind);
    LayerBase* layerAt(uint64_t l) const;
    LayerListener& out() const;
    void applyLayerParameter(uint64_t l, LayerBase& layer, uint32_t id, float value);
    void setActions(uint64_t l, size_t table, float value);
    void rebuildKeyMap();
    void releaseLayer(uint64_t l, LayerBase& layer);
    void clearDelays(uint64_t l);
    void clearGlides(uint64_t l);
    size_t readIndex(uint64_t l, uint64_t voice) const;
    void tickLayer(uint64_t l, LayerBase& layer);

    uint8_t keys[kKeys] = {};
    uint8_t actionMarkers[kLayers] = {};
    uint8_t modulatorMarkers[kLayers] = {};
    std::vector<float> gates[kLayers];
    std::vector<GlideState> glides[kLayers];
    std::vector<DelayState> delays[kLayers];
    // Destroyed amp steps first, each layer 3 first, each from its last action.
    ParameterActionVector tables[kTables][kLayers];
    // Applied values per kind, kept apart from the actions' own sums so that the read-back sees
    // the applied value in every math mode.
    std::vector<float> applied[kTables][kLayers];
    size_t sized[kLayers] = {};  // per-voice lengths given at setupLayers
    std::unique_ptr<PatchBase> currentPatch;
    LayerListener* listener = nullptr;
    double tickRemainder = 0.0;
    uint32_t options = 0;
    uint32_t mask = 0;
};

}  // namespace ZRS
