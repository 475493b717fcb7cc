#pragma once
// Voice allocation for one voice group: twelve voices, 128 keys with their pedal states, sixteen
// per-channel slots, and the three per-voice parameters amplitude, detune and transpose. Every
// start, retrigger, release, stop, pitch and level change goes to a VoiceListener.

#include "platform/ParameterInfo.h"
#include "synth/KeyPedalState.h"
#include "synth/NoteTuningSource.h"
#include "synth/ParameterAction.h"
#include "synth/VoiceListener.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ZRS {

class VoiceManager : public ParameterActionListener
{
public:
    static constexpr size_t kVoices = 12;
    static constexpr size_t kKeys = 128;
    static constexpr size_t kChannels = 16;
    static constexpr uint8_t kNoNote = 255;

    // How noteId is read: ignored, a MIDI channel (per-channel pitch bend), or a host note id.
    enum IdMode : int32_t { kPlainMidi = 0, kPerChannel = 1, kHostIds = 2 };

    // Parameter codes handed to applyParameterAction.
    enum ParameterCode : uint16_t {
        kAmplitude7Bit = 1,
        kAmplitude4Bit = 2,
        kDetune = 4,
        kTranspose = 8,
    };

    struct ChannelSlot
    {
        int64_t voice = -1;  // -1: none
        float bend = 0.0f;   // last normalised bend, -1..1
        uint8_t timbre = 0;  // stored for the channel's next note by the MPE code
        uint8_t pressure = 0;
    };

    struct KeyRecord
    {
        uint64_t downSerial = 0;
        uint8_t velocity = 0;  // 0: key up
        KeyPedalState pedal;
    };

    struct VoiceRecord
    {
        uint64_t stamp = 0;  // key-down serial at start, key-up serial at release
        int64_t noteId = -1;
        float voiceBendCents = 0.0f;
        float expressionGain = 1.0f;
        float detuneCents = 0.0f;
        float transposeSemitones = 0.0f;
        float baseFrequency = 0.0f;
        float frequency = 0.0f;
        float amplitudeFactor = 1.0f;
        uint8_t marked = 0;
        uint8_t released = 1;  // 1: free or released, 0: its key is held
        uint8_t note = kNoNote;
        uint8_t velocity = 255;
    };

    VoiceManager();
    VoiceManager(const VoiceManager&) = delete;
    VoiceManager& operator=(const VoiceManager&) = delete;
    ~VoiceManager() override = default;

    // Key input. Notes index the key table masked to 7 bits; velocities are kept as 7 bits.
    void noteOn(uint8_t note, uint8_t velocity, int64_t noteId, int32_t idMode);
    void noteOff(uint32_t note, uint32_t velocity, int64_t noteId, int32_t idMode);
    void noteOnWithId(uint32_t note, int64_t noteId, float velocity);
    void noteOffWithId(uint32_t note, int64_t noteId, float velocity);
    void noteAux(int64_t /*noteId*/, uint16_t /*subIndex*/, float /*value*/) {}
    void releaseKey(uint8_t note, uint8_t velocity, int64_t noteId, int32_t idMode);
    void controlChange(uint8_t controller, uint8_t value);
    void setSustain(bool down);
    void setSostenuto(bool down);
    // Kind 0 volume, 1 pan, 2 tuning in cents. Returns the voice of noteId, -1 when none; the
    // id is the host's signed id, as startVoice stores it, and -1 names no voice.
    int64_t setNoteExpression(int32_t kind, int64_t noteId, float value);

    // Pitch and tuning.
    void setPitchBend(float normalised);
    void setPitchBend14(uint8_t lsb, uint8_t msb);
    void setChannelPitchBend(uint32_t channel, float normalised);
    void setMasterTune(float cents);
    float noteFrequency(uint8_t note) const;

    void setTuningSource(NoteTuningSource* source) { tuningSource = source; }
    void setPitchBendRange(float cents) { pitchBendRange = cents; }
    void setChannelBendRange(float cents) { channelBendRange = cents; }
    // Per-channel values the MPE code keeps for a channel's next note, and the end of its note.
    void storeChannelTimbre(uint32_t channel, uint8_t v) { channels[channel & 15].timbre = v; }
    void storeChannelPressure(uint32_t channel, uint8_t v) { channels[channel & 15].pressure = v; }
    void releaseChannelVoice(uint32_t channel) { channels[channel & 15].voice = -1; }
    void setVelocitySensitivity(float s) { velocitySensitivity = s; }
    void setLayerIndex(uint64_t index) { layerIndex = index; }
    void setMonoRetrigger(uint8_t flag) { monoRetrigger = flag; }
    void setMonoLayerFlag(uint8_t flag) { monoLayerFlag = flag; }
    // 0 clear marks, 1 drop the note, 2 spare the lowest note, 3 spare the highest note.
    void setStealMarkMode(uint32_t mode) { stealMarkMode = mode; }
    // 0 lowest index, 2 oldest start, 3 newest start.
    void setVoiceSelectMode(uint32_t mode) { voiceSelectMode = mode; }

    // Queries; voice indices outside 0..11 read as an idle voice.
    float voiceFrequency(int64_t v) const;
    float voiceAmplitude(int64_t v) const;
    float voicePitchCents(int64_t v) const;
    float velocityGain(int64_t v) const;
    uint64_t heldVoiceCount() const { return heldVoices; }
    int32_t heldKeyCount() const { return heldKeys; }
    uint64_t voiceCount() const { return activeVoices; }
    int64_t lastVoice() const { return lastStarted; }
    uint64_t getLayerIndex() const { return layerIndex; }
    float pitchBendCents() const { return bendCents; }
    float pitchBendRangeCents() const { return pitchBendRange; }
    float channelBendRangeCents() const { return channelBendRange; }
    float velocitySensitivityValue() const { return velocitySensitivity; }
    uint8_t monoRetriggerFlag() const { return monoRetrigger; }
    uint8_t monoLayerFlagValue() const { return monoLayerFlag; }
    NoteTuningSource* noteTuningSource() const { return tuningSource; }
    float masterTuneCents() const { return masterTune; }
    bool isRetriggerOn() const { return activeVoices != 1 || monoRetrigger != 0; }
    bool isMonoLayerFlagOn() const { return activeVoices != 1 || monoLayerFlag != 0; }
    int64_t findVoiceByNote(uint8_t note) const;
    int64_t findVoiceByNoteId(int64_t id) const;

    const VoiceRecord& voice(size_t v) const { return voices[v]; }
    const KeyRecord& key(size_t k) const { return keys[k]; }
    const ChannelSlot& channel(size_t c) const { return channels[c]; }

    // Housekeeping. clearVoice is what the listener calls from voiceEnded to free the voice.
    void clearVoice(int64_t v);
    void stopAllVoices();
    void resetVoices();
    // Ignored for 13 or more and for the current count; otherwise stops and resets every voice.
    virtual void setVoiceCount(uint64_t n);

    // Voice parameters. kind 4 uses the 4-bit amplitude, every other kind the 7-bit one.
    void createVoiceParameters(VoiceListener* voiceListener, int32_t kind);
    void applyParameterAction(uint64_t voice, uint16_t code, float value, bool modulated) override;
    // "VOICE AMPLITUDE", "VOICE DETUNE" or "VOICE TRANSPOSE", matched exactly; else null.
    ParameterActionVector* findVoiceParameterActions(std::string_view name);
    void collectParameterInfos(std::vector<ParameterInfo>& out) const;
    void clearVoiceParameterRoutes();

    const ParameterInfo& amplitudeParameterInfo() const { return amplitudeInfo; }
    const ParameterInfo& detuneParameterInfo() const { return detuneInfo; }
    const ParameterInfo& transposeParameterInfo() const { return transposeInfo; }
    ParameterActionVector& amplitudeParameterActions() { return amplitudeActions; }
    ParameterActionVector& detuneParameterActions() { return detuneActions; }
    ParameterActionVector& transposeParameterActions() { return transposeActions; }

private:
    static bool isVoiceIndex(int64_t v) { return v >= 0 && v < int64_t(kVoices); }
    void setKeyVelocity(KeyRecord& k, uint8_t velocity);
    void startVoice(size_t v, uint8_t note, uint8_t velocity, int64_t noteId, int32_t idMode);
    void recomputeFrequency(VoiceRecord& r) const;
    bool markStealCandidate();
    int64_t selectVoice() const;
    void retuneAll();

    NoteTuningSource* tuningSource = nullptr;
    uint64_t activeVoices = kVoices;
    uint64_t heldVoices = 0;
    int64_t lastStarted = -1;
    uint64_t layerIndex = 0;
    uint64_t keyDownSerial = 0;
    uint64_t keyUpSerial = 0;
    int32_t heldKeys = 0;
    float bendCents = 0.0f;
    float pitchBendRange = 1200.0f;
    float channelBendRange = 4800.0f;
    float masterTune = 0.0f;
    float velocitySensitivity = 1.0f;
    uint8_t monoRetrigger = 0;
    uint8_t monoLayerFlag = 0;
    uint32_t stealMarkMode = 2;
    uint32_t voiceSelectMode = 2;
    VoiceListener* listener = nullptr;
    ChannelSlot channels[kChannels];
    KeyRecord keys[kKeys];
    ParameterInfo amplitudeInfo;
    ParameterInfo detuneInfo;
    ParameterInfo transposeInfo;
    VoiceRecord voices[kVoices];
    float equalTempered[kKeys];
    // Destroyed transpose first, each from its last action to its first.
    ParameterActionVector amplitudeActions;
    ParameterActionVector detuneActions;
    ParameterActionVector transposeActions;
};

}  // namespace ZRS
