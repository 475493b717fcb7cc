#pragma once
// The synth core: takes MIDI short messages and host note events, picks one of four voice groups
// by the layer mode (one group, one group per MIDI channel, or two MPE zones), hands notes to the
// group's voice manager, writes the group's MIDI-driven sources, and turns the voice managers'
// reports into per-voice automation and layer voices. An instrument derives from it, sets the
// scheduler, supplies the parameter setter and the layer listener, and overrides the hooks.

#include "synth/LayerListener.h"
#include "synth/LayerManager.h"
#include "synth/SynthBase.h"
#include "synth/VoiceListener.h"
#include "synth/VoiceManager.h"
#include "synth/XrpnDecoder.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ZRS {

struct ChannelRoute
{
    int64_t group = -1;   // -1: the channel is not routed
    int64_t member = -1;  // MPE member index 0-14, -1 none
    uint8_t isMaster = 0;
};

struct LastNoteRecord
{
    static constexpr uint8_t kNoNote = 128;
    uint64_t lastVoice = 0;
    uint8_t lastNote = kNoNote;
};

class SynthController : public SynthBase, public VoiceListener, public XRPNListener
{
public:
    static constexpr size_t kChannels = 16;
    static constexpr size_t kLayers = LayerManager::kLayers;
    static constexpr uint64_t kMaxZoneMembers = 15;
    static constexpr uint32_t kOptionKeepActionsOnRetrigger = 1;

    SynthController();
    ~SynthController() override;

    // MIDI and host notes. Host events name a group in mode 3 (the event's channel); groups
    // above 3 are dropped there. Note ids are the host's signed 32-bit ids (0xFFFFFFFF is -1,
    // no id); a tuning of 0 or one that is not finite leaves the key's pitch.
    void processMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) override;
    virtual int64_t noteOn(uint64_t group, uint32_t noteId, uint16_t note, float velocity,
                           float tuning);
    virtual void noteOff(uint64_t group, uint32_t noteId, uint16_t note);
    virtual void noteAux(uint64_t group, uint32_t noteId, uint16_t index, float value);
    // Types 0 volume ... 7 extra; other types change no source; values not finite are ignored.
    virtual void setNoteExpression(uint64_t group, uint32_t noteId, int32_t type, float value);
    virtual void polyPressure(uint64_t group, uint8_t note, uint32_t pressure);

    // Master settings, applied to all four voice managers.
    void setPitchBendRange(float cents) override;
    void setMasterTune(float cents) override;
    // Voice count per group; 13 or more is ignored by the voice managers.
    void setPolyphony(uint64_t voices) override;
    void setMonoRetrigger(uint8_t flag) override;
    void setVelocitySensitivity(float sensitivity) override;
    void setNoteTuningSource(NoteTuningSource* source) override;
    // Rebuilds the groups and channel routes; re-parses the routing text when the mode changed.
    void setLayerMode(uint32_t mode) override;
    void setFixedPitchNote(uint8_t note) override { fixedPitchNote = note; }
    void setMonoLayerFlag(uint8_t flag) override;
    virtual void setNoteTable(const void* /*record*/) {}

    // Set-up, outside rendering.
    void createVoiceParameters(int32_t kind);
    bool setupParameters(ParameterActionListener* actionListener, LayerListener* layerListener,
                         AutomSlotListener* slotListener, uint32_t option);
    // Layer 0-3 plays group 0-3 in mode 5; other values are ignored.
    void setLayerVoiceGroup(uint64_t layer, uint64_t group);
    // Member count (clamped to 15) of zone 0 (lower) or 1 (upper), applied on entering mode 5.
    void setMpeZoneSize(uint64_t zone, uint64_t count);
    // The same as the MPE configuration message on channel 1 and 16.
    void setLowerZoneMembers(uint64_t count);
    void setUpperZoneMembers(uint64_t count);
    // Ends every voice of the four groups and clears their key states.
    bool resetVoiceGroups();
    bool acceptEngineCommand(int32_t /*opcode*/, int64_t /*argument*/) { return true; }

    // Modulation state back to rest, routes detached; voices keep sounding.
    void reset() override;
    uint8_t setParameterByAddress(const ModRouteRow& row) override;
    void collectVoiceParameterInfos(std::vector<ParameterInfo>& out) const;

    uint64_t getLayerHeldNoteCount(uint64_t group) override;
    uint64_t getLayerPolyphony(uint64_t group) override;
    uint64_t getLayerActiveVoices(uint64_t group) override;

    // Read-back for the instrument. computeVoiceFrequency is true only when the frequency of
    // the layer voice is above 0 and differs from the one reported before.
    float voiceFrequency(uint64_t group, int64_t voice) override;
    bool computeVoiceFrequency(uint64_t voice, uint64_t layer, float& out);
    int applyVoiceAmplitude(uint64_t voice, uint64_t layer, float& amplitude);

    // Voice reports of the voice managers.
    uint8_t voiceStarted(uint64_t group, int64_t voice, uint8_t note, uint8_t velocity) override;
    void voiceRetriggered(uint64_t group, int64_t voice, uint8_t note, uint8_t velocity,
                          uint8_t retrigger) override;
    void voiceEnded(uint64_t group, int64_t voice, uint8_t note, uint8_t velocity) override;
    void voiceStopped(uint64_t group, int64_t voice, uint8_t note) override;
    void voicePitchChanged(uint64_t group, int64_t voice) override;
    void voiceUpdated(uint64_t group, int64_t voice) override;

    void rpnReceived(uint8_t channel, uint16_t parameter, uint8_t dataMsb,
                     uint8_t dataLsb) override;

    // Hooks for the instrument.
    virtual void layerVoicesReset(uint64_t /*group*/) {}
    virtual void programChange(uint64_t /*group*/, uint8_t /*program*/) {}
    virtual void systemMessage(uint8_t /*status*/, uint8_t /*data1*/) {}
    virtual void controllerHook(uint64_t /*group*/, uint8_t /*controller*/, uint8_t /*value*/) {}

    // Inspection.
    VoiceManager& voiceManager(size_t group) { return voiceManagers[group % kGroups]; }
    LayerManager& layerManager() { return layers; }
    const ChannelRoute& channelRoute(size_t channel) const { return routes[channel % kChannels]; }
    const LastNoteRecord& lastNote(size_t group) const { return lastNotes[group % kChannels]; }
    uint64_t activeZoneMembers(size_t zone) const { return zone == 0 ? activeLower : activeUpper; }
    uint64_t configuredZoneMembers(size_t zone) const
    {
        return zone == 0 ? configuredLower : configuredUpper;
    }
    const XrpnDecoder& xrpnDecoder() const { return decoder; }
    uint8_t getFixedPitchNote() const { return fixedPitchNote; }
    uint32_t setupOptions() const { return options; }

protected:
    void dispatchToGroup(uint64_t group, uint8_t status, uint8_t data1, uint8_t data2);
    void dispatchMpe(uint8_t status, uint8_t data1, uint8_t data2);
    void handleXrpnController(uint8_t channel, uint8_t controller, uint8_t value);
    void rebuildLayerRouting(bool reparse);
    void applyMpeZoneRoutes();
    void setZoneMembers(size_t zone, uint64_t count);
    void setGroupPolyphony(uint64_t group, uint64_t voices);
    void startVoiceActions(uint64_t group, int64_t voice);
    void setVoiceSources(LayerModSources& block, int64_t voice, uint8_t note, uint8_t velocity);
    // The group host events of `group` play on in the current mode; -1 to drop them.
    int64_t hostEventGroup(uint64_t group) const;
    // The voice group a layer is bound to (0 when the layer does not exist).
    uint64_t layerGroup(uint64_t layer) const;

    ChannelRoute routes[kChannels];
    LastNoteRecord lastNotes[kChannels];
    VoiceManager voiceManagers[kGroups];
    LayerManager layers;
    uint8_t fixedPitchNote = 36;
    float frequencyCache[kVoices][kLayers] = {};
    uint64_t activeLower = 0;
    uint64_t activeUpper = 0;
    uint64_t configuredLower = 15;
    uint64_t configuredUpper = 0;
    XrpnDecoder decoder;
    uint32_t options = 0;
};

}  // namespace ZRS
