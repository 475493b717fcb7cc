#include "synth/VoiceManager.h"

#include "platform/SaturatingCast.h"
#include "synth/GenericParam.h"

#include <cmath>

namespace ZRS {

namespace {

constexpr uint8_t kControllerSustain = 64;
constexpr uint8_t kControllerSostenuto = 66;
constexpr uint8_t kControllerAllSoundOff = 120;
constexpr uint8_t kControllerAllNotesOff = 123;
constexpr uint8_t kDescriptorFlagsOfManager = 0x03;

// A host velocity 0..1 as 7 bits; NaN and huge values give a defined result.
uint8_t hostVelocity7(float v)
{
    return uint8_t(vantor::saturatingCast<int32_t>(std::floor(v * 127.0f + 0.5f)) & 127);
}

}  // namespace

VoiceManager::VoiceManager()
{
    for (size_t n = 0; n < kKeys; ++n)
        equalTempered[n] = float(440.0 * std::pow(2.0, (double(n) - 69.0) / 12.0));
}

// ---------------------------------------------------------------------------------------------
// Key input

void VoiceManager::setKeyVelocity(KeyRecord& k, uint8_t velocity)
{
    // heldKeys counts the keys whose velocity is not 0, whatever velocity a note-on brings.
    if (k.velocity == 0 && velocity != 0)
        ++heldKeys;
    else if (k.velocity != 0 && velocity == 0)
        --heldKeys;
    k.velocity = velocity;
}

void VoiceManager::startVoice(size_t v, uint8_t note, uint8_t velocity, int64_t noteId,
                              int32_t idMode)
{
    VoiceRecord& r = voices[v];
    if (idMode != kPlainMidi) {
        if (idMode == kPerChannel)
            channels[noteId & 15].voice = int64_t(v);
        r.noteId = noteId;
        r.voiceBendCents = 0.0f;
        r.expressionGain = 1.0f;
    }
    r.baseFrequency = noteFrequency(note);
    r.note = note & 127;
    r.velocity = velocity & 127;
    r.stamp = keyDownSerial;
    if (r.released == 1)
        ++heldVoices;
    r.released = 0;
    recomputeFrequency(r);
    lastStarted = int64_t(v);
}

void VoiceManager::noteOn(uint8_t note, uint8_t velocity, int64_t noteId, int32_t idMode)
{
    note &= 127;
    velocity &= 127;
    KeyRecord& k = keys[note];
    k.pedal.handleEvent(KeyPedalState::kKeyDown);
    setKeyVelocity(k, velocity);
    ++keyDownSerial;
    k.downSerial = keyDownSerial;

    const size_t count = size_t(activeVoices);
    if (idMode == kHostIds && noteId != -1) {
        for (size_t v = 0; v < count; ++v) {
            if (voices[v].noteId == noteId) {
                startVoice(v, note, velocity, noteId, idMode);
                if (listener)
                    listener->voiceStarted(layerIndex, int64_t(v), note, velocity);
                return;
            }
        }
    }

    if (count > 0) {
        // A free voice: the one released longest ago, ties to the lowest index.
        int64_t free = -1;
        for (size_t v = 0; v < count; ++v) {
            if (voices[v].released == 1 && (free < 0 || voices[v].stamp < voices[free].stamp))
                free = int64_t(v);
        }
        if (free >= 0) {
            startVoice(size_t(free), note, velocity, noteId, idMode);
            if (listener)
                listener->voiceStarted(layerIndex, free, note, velocity);
            return;
        }
    }

    if (count == 1) {
        voices[0].marked = 0;
    } else {
        for (size_t v = 0; v < count; ++v) {
            if (voices[v].note == note) {
                startVoice(v, note, velocity, noteId, idMode);
                if (listener)
                    listener->voiceRetriggered(layerIndex, int64_t(v), note, velocity, 1);
                return;
            }
        }
        if (!markStealCandidate())
            return;
    }

    const int64_t chosen = selectVoice();
    if (chosen < 0)
        return;
    if (idMode == kPerChannel) {
        const int64_t oldChannel = voices[chosen].noteId;
        if (oldChannel >= 0 && oldChannel < int64_t(kChannels))
            channels[oldChannel] = ChannelSlot{};
    }
    startVoice(size_t(chosen), note, velocity, noteId, idMode);
    if (listener)
        listener->voiceRetriggered(layerIndex, chosen, note, velocity, 1);
}

// False when the mode drops the note.
bool VoiceManager::markStealCandidate()
{
    const size_t count = size_t(activeVoices);
    if (stealMarkMode == 1)
        return false;
    if (stealMarkMode > 3)
        return true;
    for (size_t v = 0; v < count; ++v)
        voices[v].marked = 0;
    if (stealMarkMode == 0)
        return true;
    int64_t pick = -1;
    for (size_t v = 0; v < count; ++v) {
        if (pick < 0 || (stealMarkMode == 2 ? voices[v].note < voices[pick].note
                                            : voices[v].note > voices[pick].note))
            pick = int64_t(v);
    }
    if (pick >= 0)
        voices[pick].marked = 1;
    return true;
}

int64_t VoiceManager::selectVoice() const
{
    const size_t count = size_t(activeVoices);
    int64_t pick = -1;
    for (size_t v = 0; v < count; ++v) {
        const VoiceRecord& r = voices[v];
        if (r.marked)
            continue;
        switch (voiceSelectMode) {
        case 0:
            return int64_t(v);
        case 2:
            if (pick < 0 || r.stamp < voices[pick].stamp)
                pick = int64_t(v);
            break;
        case 3:
            if (r.stamp > 0 && (pick < 0 || r.stamp > voices[pick].stamp))
                pick = int64_t(v);
            break;
        default:
            return -1;
        }
    }
    return pick;
}

void VoiceManager::noteOff(uint32_t note, uint32_t velocity, int64_t noteId, int32_t idMode)
{
    if (keys[note & 127].pedal.handleEvent(KeyPedalState::kKeyUp) == KeyPedalState::kRelease)
        releaseKey(uint8_t(note & 127), uint8_t(velocity & 255), noteId, idMode);
}

void VoiceManager::noteOnWithId(uint32_t note, int64_t noteId, float velocity)
{
    noteOn(uint8_t(note & 127), hostVelocity7(velocity), noteId, kHostIds);
}

void VoiceManager::noteOffWithId(uint32_t note, int64_t noteId, float velocity)
{
    if (keys[note & 127].pedal.handleEvent(KeyPedalState::kKeyUp) == KeyPedalState::kRelease)
        releaseKey(uint8_t(note & 127), hostVelocity7(velocity), noteId, kHostIds);
}

void VoiceManager::releaseKey(uint8_t note, uint8_t velocity, int64_t noteId, int32_t idMode)
{
    note &= 127;
    setKeyVelocity(keys[note], 0);
    ++keyUpSerial;

    // Mono: return to the most recently pressed key still held.
    if (activeVoices == 1 && heldKeys > 0) {
        int back = -1;
        for (int n = int(kKeys) - 1; n >= 0; --n) {
            if (keys[n].velocity != 0 && (back < 0 || keys[n].downSerial > keys[back].downSerial))
                back = n;
        }
        if (back >= 0) {
            const uint8_t backVelocity = keys[back].velocity;
            startVoice(0, uint8_t(back), backVelocity, noteId, idMode);
            if (listener)
                listener->voiceRetriggered(layerIndex, 0, uint8_t(back), backVelocity, 0);
            return;
        }
    }

    // The listener frees the voice from voiceEnded and may change the count: re-read it.
    for (size_t v = 0; v < activeVoices; ++v) {
        VoiceRecord& r = voices[v];
        if (r.note != note)
            continue;
        if (r.released == 0) {
            --heldVoices;
            r.released = 1;
        }
        r.stamp = keyUpSerial;
        if (listener)
            listener->voiceEnded(layerIndex, int64_t(v), note, velocity);
    }
    if (heldVoices == 0 && listener)
        listener->unusedVoiceHook8(layerIndex);
}

void VoiceManager::controlChange(uint8_t controller, uint8_t value)
{
    switch (controller) {
    case kControllerSustain:
        setSustain(value != 0);
        break;
    case kControllerSostenuto:
        setSostenuto(value != 0);
        break;
    case kControllerAllSoundOff:
    case kControllerAllNotesOff:
        stopAllVoices();
        break;
    default:
        break;
    }
}

void VoiceManager::setSustain(bool down)
{
    const int32_t event = down ? KeyPedalState::kSustainDown : KeyPedalState::kSustainUp;
    for (size_t n = 0; n < kKeys; ++n) {
        if (keys[n].pedal.handleEvent(event) == KeyPedalState::kRelease)
            releaseKey(uint8_t(n), 0, -1, kPlainMidi);
    }
}

void VoiceManager::setSostenuto(bool down)
{
    const int32_t event = down ? KeyPedalState::kSostenutoDown : KeyPedalState::kSostenutoUp;
    for (size_t n = 0; n < kKeys; ++n) {
        if (keys[n].pedal.handleEvent(event) == KeyPedalState::kRelease)
            releaseKey(uint8_t(n), 0, -1, kPlainMidi);
    }
}

int64_t VoiceManager::setNoteExpression(int32_t kind, int64_t noteId, float value)
{
    const int64_t v = findVoiceByNoteId(noteId);
    if (v < 0)
        return -1;
    VoiceRecord& r = voices[v];
    switch (kind) {
    case 0:
        r.expressionGain = value;
        if (listener)
            listener->voiceUpdated(layerIndex, v);
        break;
    case 1:
        if (listener)
            listener->unusedVoiceHook9(layerIndex, v, 1);
        break;
    case 2:
        r.voiceBendCents = value;
        recomputeFrequency(r);
        if (listener)
            listener->voicePitchChanged(layerIndex, v);
        break;
    default:
        break;
    }
    return v;
}

// ---------------------------------------------------------------------------------------------
// Pitch

// An offset of exactly 0 cents keeps the base frequency bit for bit.
void VoiceManager::recomputeFrequency(VoiceRecord& r) const
{
    r.frequency = r.baseFrequency;
    const float offsets = ((masterTune + bendCents) + r.voiceBendCents) + r.detuneCents;
    const float total = 100.0f * r.transposeSemitones + offsets;
    if (total != 0.0f)
        r.frequency = r.baseFrequency * std::exp2(total * 0.00083333335f);
}

void VoiceManager::retuneAll()
{
    for (size_t v = 0; v < activeVoices; ++v)
        recomputeFrequency(voices[v]);
    for (size_t v = 0; v < activeVoices && listener; ++v)
        listener->voicePitchChanged(layerIndex, int64_t(v));
}

void VoiceManager::setPitchBend(float normalised)
{
    const float cents = normalised * pitchBendRange;
    if (cents == bendCents)
        return;
    bendCents = cents;
    retuneAll();
}

void VoiceManager::setPitchBend14(uint8_t lsb, uint8_t msb)
{
    const int32_t b = int32_t(msb & 127) * 128 + int32_t(lsb & 127);
    setPitchBend(float(b - 8192) / 8192.0f);
}

void VoiceManager::setChannelPitchBend(uint32_t channel, float normalised)
{
    ChannelSlot& slot = channels[channel & 15];
    slot.bend = normalised;
    const int64_t v = slot.voice;
    if (!isVoiceIndex(v))
        return;
    const float cents = normalised * channelBendRange;
    VoiceRecord& r = voices[v];
    if (cents == r.voiceBendCents)
        return;
    r.voiceBendCents = cents;
    recomputeFrequency(r);
    if (listener)
        listener->voicePitchChanged(layerIndex, v);
}

void VoiceManager::setMasterTune(float cents)
{
    masterTune = cents;
    retuneAll();
}

float VoiceManager::noteFrequency(uint8_t note) const
{
    if (tuningSource)
        return float(tuningSource->noteFrequency(note & 127));
    return equalTempered[note & 127];
}

// ---------------------------------------------------------------------------------------------
// Queries

float VoiceManager::voiceFrequency(int64_t v) const
{
    return isVoiceIndex(v) ? voices[v].frequency : 0.0f;
}

float VoiceManager::voiceAmplitude(int64_t v) const
{
    return isVoiceIndex(v) ? voices[v].amplitudeFactor * voices[v].expressionGain : 0.0f;
}

float VoiceManager::voicePitchCents(int64_t v) const
{
    if (!isVoiceIndex(v))
        return 0.0f;
    const VoiceRecord& r = voices[v];
    const float offsets = ((masterTune + bendCents) + r.voiceBendCents) + r.detuneCents;
    return 100.0f * r.transposeSemitones + offsets;
}

float VoiceManager::velocityGain(int64_t v) const
{
    const uint8_t velocity = isVoiceIndex(v) ? voices[v].velocity : 0;
    const float scaled = float(double(velocity & 127) / 127.0);
    return scaled * velocitySensitivity + (1.0f - velocitySensitivity);
}

int64_t VoiceManager::findVoiceByNote(uint8_t note) const
{
    for (size_t v = 0; v < activeVoices; ++v)
        if (voices[v].note == note)
            return int64_t(v);
    return -1;
}

int64_t VoiceManager::findVoiceByNoteId(int64_t id) const
{
    if (id == -1)
        return -1;
    for (size_t v = 0; v < activeVoices; ++v)
        if (voices[v].noteId == id)
            return int64_t(v);
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Housekeeping

void VoiceManager::clearVoice(int64_t v)
{
    if (!isVoiceIndex(v))
        return;
    VoiceRecord& r = voices[v];
    r.note = kNoNote;
    r.marked = 0;
    r.released = 1;
}

// Channel slots lose their voice (which may play any note next) but keep bend, timbre and
// pressure for the channel's next note.
void VoiceManager::stopAllVoices()
{
    for (size_t v = 0; v < kVoices; ++v) {
        if (listener)
            listener->voiceStopped(layerIndex, int64_t(v), voices[v].note);
        clearVoice(int64_t(v));
    }
    for (KeyRecord& k : keys) {
        k.pedal.init(false, false);
        k.velocity = 0;
    }
    for (ChannelSlot& c : channels)
        c.voice = -1;
    heldVoices = 0;
    lastStarted = -1;
    heldKeys = 0;
}

void VoiceManager::resetVoices()
{
    stopAllVoices();
    for (VoiceRecord& r : voices)
        r = VoiceRecord{};
}

void VoiceManager::setVoiceCount(uint64_t n)
{
    if (n > kVoices || n == activeVoices)
        return;
    resetVoices();
    activeVoices = n;
}

// ---------------------------------------------------------------------------------------------
// Voice parameters

void VoiceManager::createVoiceParameters(VoiceListener* voiceListener, int32_t kind)
{
    const GenericParam& generic = GenericParam::instance();
    const bool fourBit = kind == 4;
    const ParameterInfo& amp =
        generic.record(fourBit ? GenericParam::kAmplitude4Bit : GenericParam::kAmplitude7Bit);
    const ParameterInfo& detune = generic.record(GenericParam::kDetune);
    const ParameterInfo& transpose = generic.record(GenericParam::kTranspose);
    const uint16_t ampCode = fourBit ? kAmplitude4Bit : kAmplitude7Bit;

    const size_t count = size_t(activeVoices);
    amplitudeActions.resize(count);
    detuneActions.resize(count);
    transposeActions.resize(count);
    for (size_t i = 0; i < count; ++i) {
        amplitudeActions[i].configure(i, ampCode, &amp, this);
        detuneActions[i].configure(i, kDetune, &detune, this);
        transposeActions[i].configure(i, kTranspose, &transpose, this);
        if (i == 0) {
            amplitudeInfo = amp;
            amplitudeInfo.flags |= kDescriptorFlagsOfManager;
            amplitudeInfo.setLabel("Voice Amplitude");
            detuneInfo = detune;
            detuneInfo.flags |= kDescriptorFlagsOfManager;
            detuneInfo.setLabel("Voice Detune");
            transposeInfo = transpose;
            transposeInfo.flags |= kDescriptorFlagsOfManager;
            transposeInfo.setLabel("Voice Transpose");
        }
    }
    listener = voiceListener;
    stopAllVoices();
}

void VoiceManager::applyParameterAction(uint64_t voice, uint16_t code, float value,
                                        bool /*modulated*/)
{
    if (voice >= kVoices)
        return;
    VoiceRecord& r = voices[voice];
    switch (code) {
    case kAmplitude7Bit:
    case kAmplitude4Bit:
        r.amplitudeFactor = value * (code == kAmplitude7Bit ? 0.007874016f : 0.06666667f);
        if (listener)
            listener->voiceUpdated(layerIndex, int64_t(voice));
        break;
    case kDetune:
    case kTranspose:
        if (code == kDetune)
            r.detuneCents = value;
        else
            r.transposeSemitones = value;
        recomputeFrequency(r);
        if (listener)
            listener->voicePitchChanged(layerIndex, int64_t(voice));
        break;
    default:
        break;
    }
}

ParameterActionVector* VoiceManager::findVoiceParameterActions(std::string_view name)
{
    if (name == "VOICE AMPLITUDE")
        return &amplitudeActions;
    if (name == "VOICE DETUNE")
        return &detuneActions;
    if (name == "VOICE TRANSPOSE")
        return &transposeActions;
    return nullptr;
}

void VoiceManager::collectParameterInfos(std::vector<ParameterInfo>& out) const
{
    out.push_back(amplitudeInfo);
    out.push_back(detuneInfo);
    out.push_back(transposeInfo);
}

void VoiceManager::clearVoiceParameterRoutes()
{
    clearActionRoutes(amplitudeActions);
    clearActionRoutes(detuneActions);
    clearActionRoutes(transposeActions);
}

}  // namespace ZRS
