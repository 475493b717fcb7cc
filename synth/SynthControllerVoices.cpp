// Voice reports of the voice managers: note sources, per-voice automation, layer voices, and
// the pitch and level read-back for the instrument.
#include "synth/SynthController.h"

namespace ZRS {

namespace {

bool isVoice(int64_t v)
{
    return v >= 0 && v < int64_t(SynthBase::kVoices);
}

}  // namespace

// Gates the voice of each enabled slot's action, then restarts by the slot's trigger mode:
// 0 the voice, 1 every voice when this is the only key down, 2 every voice, 3 the voice at the
// host position. Restarted timers are rescheduled.
void SynthController::startVoiceActions(uint64_t group, int64_t voice)
{
    if (!scheduler)
        return;
    const uint64_t v = uint64_t(voice);
    for (size_t k = 0; k < kSlots; ++k) {
        ModAction* action = sources[group].actions[k].get();
        if (!action || !slots[k].isActive())
            continue;
        action->setVoiceGate(v, 1);
        const uint64_t tag = (group << 8) | k;
        int32_t mode = slots[k].triggerMode();
        if (mode == 1)
            mode = getLayerHeldNoteCount(group) == 1 ? 2 : -1;
        switch (mode) {
        case 0:
            action->restartVoice(v);
            scheduler->reschedule(action->voiceAt(v), 0);
            break;
        case 2:
            action->restartAllVoices();
            scheduler->rescheduleCookie(tag, 0);
            break;
        case 3:
            scheduler->rescheduleCookie(tag,
                                        action->startVoiceAtTransport(v, scheduler->getRate()));
            break;
        default:
            break;
        }
    }
}

void SynthController::setVoiceSources(LayerModSources& b, int64_t voice, uint8_t note,
                                      uint8_t velocity)
{
    if (!isVoice(voice))
        return;
    const uint8_t old = b.alternationFlag;
    b.alternationFlag = old ^ 1;
    b.voiceAlternation[voice].writeValue(old == 0 ? 1.0f : 0.0f);
    b.voiceKeyTrack[voice].writeNote(note);
    b.voiceVelocity[voice].writeMidi(velocity);
    b.voiceNote[voice].writeMidi(note);
    b.voiceRandom[voice].draw();
    b.alternation.writeValue(b.alternationFlag ? 1.0f : 0.0f);
    b.keyTrack.writeNote(note);
    b.velocity.writeMidi(velocity);
    b.note.writeMidi(note);
    b.random.draw();
}

uint8_t SynthController::voiceStarted(uint64_t group, int64_t voice, uint8_t note,
                                      uint8_t velocity)
{
    if (group >= kGroups || !isVoice(voice))
        return note;
    LastNoteRecord& last = lastNotes[group];
    if (voiceManagers[group].heldVoiceCount() == 1) {
        layers.resetGlides(group);
        last.lastNote = note;
    }
    startVoiceActions(group, voice);
    setVoiceSources(sources[group], voice, note, velocity);
    last.lastVoice = uint64_t(voice);
    layers.startLayerVoices(group, uint64_t(voice), note, velocity, last.lastNote);
    last.lastNote = note;
    return note;
}

void SynthController::voiceRetriggered(uint64_t group, int64_t voice, uint8_t note,
                                       uint8_t velocity, uint8_t retrigger)
{
    if (group >= kGroups || !isVoice(voice))
        return;
    VoiceManager& vm = voiceManagers[group];
    const bool retriggerOn = vm.isRetriggerOn();
    if (!(options & kOptionKeepActionsOnRetrigger) && retrigger && retriggerOn)
        startVoiceActions(group, voice);
    setVoiceSources(sources[group], voice, note, velocity);
    layers.retriggerLayerVoices(group, uint64_t(voice), note, velocity, retriggerOn ? 1 : 0,
                                retrigger, vm.isMonoLayerFlagOn() ? 1 : 0);
}

// A polyphonic action closes the voice's gate; a monophonic one runs on while the group has a
// voice held.
void SynthController::voiceStopped(uint64_t group, int64_t voice, uint8_t /*note*/)
{
    if (group >= kGroups || !isVoice(voice))
        return;
    for (size_t k = 0; k < kSlots; ++k) {
        ModAction* action = sources[group].actions[k].get();
        if (!action || !slots[k].isActive())
            continue;
        if (action->voiceCount() > 1 || getLayerActiveVoices(group) == 0)
            action->setVoiceGate(uint64_t(voice), 0);
    }
    layers.stopLayerVoices(group, uint64_t(voice));
}

void SynthController::voiceEnded(uint64_t group, int64_t voice, uint8_t note, uint8_t /*velocity*/)
{
    if (group >= kGroups || !isVoice(voice))
        return;
    voiceStopped(group, voice, note);
    voiceManagers[group].clearVoice(voice);
    layers.endLayerVoices(group, uint64_t(voice));
}

void SynthController::voicePitchChanged(uint64_t group, int64_t voice)
{
    if (isVoice(voice))
        layers.updateLayerPitch(group, uint64_t(voice));
}

void SynthController::voiceUpdated(uint64_t group, int64_t voice)
{
    if (isVoice(voice))
        layers.updateLayerVoices(group, uint64_t(voice));
}

// ---------------------------------------------------------------------------------------------
// Read-back

float SynthController::voiceFrequency(uint64_t group, int64_t voice)
{
    return group < kGroups ? voiceManagers[group].voiceFrequency(voice) : 0.0f;
}

uint64_t SynthController::layerGroup(uint64_t layer) const
{
    const PatchBase* patch = layers.patch();
    const LayerBase* p = patch ? patch->layer(size_t(layer)) : nullptr;
    return p ? p->voiceGroup : 0;
}

bool SynthController::computeVoiceFrequency(uint64_t voice, uint64_t layer, float& out)
{
    if (voice >= kVoices || layer >= kLayers)
        return false;
    const uint64_t g = layerGroup(layer);
    if (g >= kGroups)
        return false;
    const VoiceManager& vm = voiceManagers[g];
    float f = vm.voiceFrequency(int64_t(voice));
    if (layers.isFixedFrequency(layer, voice))
        f = vm.noteFrequency(fixedPitchNote);
    if (!(f > 0.0f))
        return false;
    out = layers.layerPitchRatio(layer, voice, f);
    if (out == frequencyCache[voice][layer])
        return false;
    frequencyCache[voice][layer] = out;
    return true;
}

int SynthController::applyVoiceAmplitude(uint64_t voice, uint64_t layer, float& amplitude)
{
    const uint64_t g = layerGroup(layer);
    if (g < kGroups)
        amplitude *= voiceManagers[g].voiceAmplitude(int64_t(voice));
    return 1;
}

}  // namespace ZRS
