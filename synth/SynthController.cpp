#include "synth/SynthController.h"

#include "platform/PMIDI.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace ZRS {

namespace {

constexpr float kMidi7 = 1.0f / 127.0f;
constexpr uint16_t kRpnBendRange = 0;
constexpr uint16_t kRpnMpeConfiguration = 6;
constexpr uint8_t kControllerTimbre = 74;
constexpr uint8_t kMasterLower = 0;
constexpr uint8_t kMasterUpper = 15;

}  // namespace

SynthController::SynthController() : decoder(*this) {}

SynthController::~SynthController() = default;

// ---------------------------------------------------------------------------------------------
// MIDI

void SynthController::processMidiMessage(uint8_t status, uint8_t data1, uint8_t data2)
{
    switch (layerMode) {
    case 1:
    case 2:
        dispatchToGroup(0, status, data1, data2);
        break;
    case 3:
    case 4: {
        const int64_t g = routes[status & 15].group;
        if (g >= 0 && g < int64_t(kGroups))
            dispatchToGroup(uint64_t(g), status, data1, data2);
        break;
    }
    case 5:
        dispatchMpe(status, data1, data2);
        break;
    default:
        break;
    }
}

void SynthController::handleXrpnController(uint8_t channel, uint8_t controller, uint8_t value)
{
    decoder.handleController(channel, controller, value);
}

void SynthController::dispatchToGroup(uint64_t group, uint8_t status, uint8_t data1,
                                      uint8_t data2)
{
    data1 &= 127;
    data2 &= 127;
    if (status < 0x80 || group >= kGroups)
        return;
    VoiceManager& vm = voiceManagers[group];
    LayerModSources& b = sources[group];
    switch (status & 0xF0) {
    case 0x80:
        vm.noteOff(data1, data2, -1, VoiceManager::kPlainMidi);
        break;
    case 0x90:
        if (data2 == 0)
            vm.noteOff(data1, 0, -1, VoiceManager::kPlainMidi);
        else
            vm.noteOn(data1, data2, -1, VoiceManager::kPlainMidi);
        break;
    case 0xA0:
        polyPressure(group, data1, data2);
        break;
    case 0xB0:
        controllerHook(group, data1, data2);
        handleXrpnController(status & 15, data1, data2);
        if (Modulator* c = b.controller(data1))
            c->writeValue(float(data2) * kMidi7);
        vm.controlChange(data1, data2);
        break;
    case 0xC0:
        b.program.writeMidi(data1);
        programChange(group, data1);
        break;
    case 0xD0:
        b.channelPressure.writeMidi(data1);
        break;
    case 0xE0: {
        const float bend = normalisedBend(PMIDICombineBytes(data1, data2));
        writeBend(b.bend, b.bendUp, b.bendDown, bend);
        vm.setPitchBend(bend);
        break;
    }
    default:
        systemMessage(status, data1);
        break;
    }
}

// Zone z plays on group z. A member channel's bend, timbre and pressure wait in its slot for
// its next note while it has no voice, and go to that voice's sources while it has one.
void SynthController::dispatchMpe(uint8_t status, uint8_t data1, uint8_t data2)
{
    data1 &= 127;
    data2 &= 127;
    const uint8_t channel = status & 15;
    if ((status & 0xF0) == 0xB0)
        handleXrpnController(channel, data1, data2);
    const ChannelRoute route = routes[channel];
    if (status < 0x80 || route.group < 0 || route.group >= int64_t(kGroups))
        return;
    const uint64_t g = uint64_t(route.group);
    const bool master = route.isMaster != 0;
    const bool member = route.member >= 0 && !master;
    const uint32_t slot = uint32_t(route.member) & 15;
    VoiceManager& vm = voiceManagers[g];
    LayerModSources& b = sources[g];
    auto memberVoice = [&]() -> int64_t {
        const int64_t v = member ? vm.channel(slot).voice : -1;
        return v >= 0 && v < int64_t(kMpeVoices) ? v : -1;
    };
    const bool zone = g < kMpeZones;

    switch (status & 0xF0) {
    case 0x90:
        if (data2 > 0) {
            if (!member)
                return;
            vm.noteOn(data1, data2, route.member, VoiceManager::kPerChannel);
            const VoiceManager::ChannelSlot stored = vm.channel(slot);
            vm.setChannelPitchBend(slot, stored.bend);
            const int64_t v = memberVoice();
            if (v >= 0 && zone) {
                mpeTimbre[g][v].writeValue(float(stored.timbre) * kMidi7);
                mpePressure[g][v].writeValue(float(stored.pressure) * kMidi7);
                mpeBend[g][v].writeValue(stored.bend);
            }
            return;
        }
        [[fallthrough]];
    case 0x80:
        if (member) {
            vm.noteOff(data1, data2, route.member, VoiceManager::kPerChannel);
            vm.releaseChannelVoice(slot);
        }
        return;
    case 0xA0:
        return;
    case 0xB0:
        controllerHook(g, data1, data2);
        if (master) {
            if (Modulator* c = b.controller(data1))
                c->writeValue(float(data2) * kMidi7);
            vm.controlChange(data1, data2);
        } else if (member && data1 == kControllerTimbre) {
            const int64_t v = memberVoice();
            if (v < 0)
                vm.storeChannelTimbre(slot, data2);
            else if (zone)
                mpeTimbre[g][v].writeMidi(data2);
        }
        return;
    case 0xC0:
        if (master) {
            b.program.writeMidi(data1);
            programChange(g, data1);
        }
        return;
    case 0xD0:
        if (master) {
            b.channelPressure.writeMidi(data1);
        } else if (member) {
            const int64_t v = memberVoice();
            if (v < 0)
                vm.storeChannelPressure(slot, data1);
            else if (zone)
                mpePressure[g][v].writeMidi(data1);
        }
        return;
    case 0xE0: {
        const float bend = normalisedBend(PMIDICombineBytes(data1, data2));
        if (master) {
            writeBend(b.bend, b.bendUp, b.bendDown, bend);
            vm.setPitchBend(bend);
        } else if (member) {
            vm.setChannelPitchBend(slot, bend);
            const int64_t v = memberVoice();
            if (v >= 0 && zone)
                mpeBend[g][v].writeValue(bend);
        }
        return;
    }
    default:
        systemMessage(status, data1);
        return;
    }
}

// ---------------------------------------------------------------------------------------------
// RPN and MPE zones

void SynthController::rpnReceived(uint8_t channel, uint16_t parameter, uint8_t dataMsb,
                                  uint8_t /*dataLsb*/)
{
    if (parameter == kRpnMpeConfiguration) {
        if (channel == kMasterLower)
            setLowerZoneMembers(dataMsb);
        else if (channel == kMasterUpper)
            setUpperZoneMembers(dataMsb);
    } else if (parameter == kRpnBendRange) {
        if (activeLower == 0 && activeUpper == 0)
            return;
        const float cents = float(dataMsb) * 100.0f;
        if (channel == kMasterLower)
            voiceManagers[0].setChannelBendRange(cents);
        else if (channel == kMasterUpper)
            voiceManagers[1].setChannelBendRange(cents);
    }
}

// Counts above 15 would need more than the 16 routes: clamped. The zones do not exclude each
// other: the later configuration overwrites the routes it covers.
void SynthController::setZoneMembers(size_t zone, uint64_t count)
{
    count = std::min(count, kMaxZoneMembers);
    if (zone == 0) {
        const uint64_t old = activeLower;
        activeLower = configuredLower = count;
        if (count > 0)
            routes[0].group = 0;
        routes[0].isMaster = count > 0;
        for (uint64_t r = 1; r <= old; ++r) {
            routes[r].group = -1;
            routes[r].member = -1;
        }
        for (uint64_t k = 0; k < count; ++k) {
            routes[k + 1].group = 0;
            routes[k + 1].member = int64_t(k);
        }
    } else {
        const uint64_t old = activeUpper;
        activeUpper = configuredUpper = count;
        if (count > 0)
            routes[15].group = 1;
        routes[15].isMaster = count > 0;
        for (uint64_t r = 0; r < old; ++r) {
            routes[14 - r].group = -1;
            routes[14 - r].member = -1;
        }
        for (uint64_t k = 0; k < count; ++k) {
            routes[14 - k].group = 1;
            routes[14 - k].member = int64_t(k);
        }
    }
}

void SynthController::setLowerZoneMembers(uint64_t count)
{
    setZoneMembers(0, count);
}

void SynthController::setUpperZoneMembers(uint64_t count)
{
    setZoneMembers(1, count);
}

void SynthController::setMpeZoneSize(uint64_t zone, uint64_t count)
{
    if (zone > 1)
        return;
    (zone == 0 ? configuredLower : configuredUpper) = std::min(count, kMaxZoneMembers);
}

void SynthController::setLayerVoiceGroup(uint64_t layer, uint64_t group)
{
    if (layer < kLayers && group < kGroups)
        layerVoiceGroups[layer] = group;
}

// ---------------------------------------------------------------------------------------------
// Host notes

namespace {

// Host note ids are signed 32-bit values: 0xFFFFFFFF is -1, an event without an id.
int64_t hostNoteId(uint32_t id)
{
    return int64_t(int32_t(id));
}

}  // namespace

int64_t SynthController::hostEventGroup(uint64_t group) const
{
    if (layerMode != 3)
        return 0;
    return group < kGroups ? int64_t(group) : -1;
}

int64_t SynthController::noteOn(uint64_t group, uint32_t noteId, uint16_t note, float velocity,
                                float tuning)
{
    const int64_t g = hostEventGroup(group);
    if (g < 0)
        return -1;
    VoiceManager& vm = voiceManagers[g];
    const int64_t id = hostNoteId(noteId);
    vm.noteOnWithId(note & 127, id, velocity);
    // 0 and anything not finite (the host's "none" is +infinity) leave the key's own pitch.
    if (tuning == 0.0f || !std::isfinite(tuning))
        return vm.findVoiceByNoteId(id);
    // The voice's per-note offset, its frequency and one pitch report, as a tuning expression.
    return vm.setNoteExpression(2, id, tuning);
}

void SynthController::noteOff(uint64_t group, uint32_t noteId, uint16_t note)
{
    const int64_t g = hostEventGroup(group);
    if (g >= 0)
        voiceManagers[g].noteOffWithId(note & 127, hostNoteId(noteId), 0.0f);
}

void SynthController::noteAux(uint64_t group, uint32_t noteId, uint16_t index, float value)
{
    const int64_t g = hostEventGroup(group);
    if (g >= 0)
        voiceManagers[g].noteAux(hostNoteId(noteId), index, value);
}

void SynthController::setNoteExpression(uint64_t group, uint32_t noteId, int32_t type,
                                        float value)
{
    const int64_t g = hostEventGroup(group);
    if (g < 0 || !std::isfinite(value))
        return;
    const int64_t v = voiceManagers[g].setNoteExpression(type, hostNoteId(noteId), value);
    if (v < 0 || v >= int64_t(kVoices) || type < 0 ||
        type >= int32_t(LayerModSources::kExpressionTypes))
        return;
    sources[g].voiceExpression[type][v].writeValue(value);
}

void SynthController::polyPressure(uint64_t group, uint8_t note, uint32_t pressure)
{
    if (group >= kGroups)
        return;
    const int64_t v = voiceManagers[group].findVoiceByNote(note & 127);
    if (v < 0 || v >= int64_t(kVoices))
        return;
    sources[group].voicePressure[v].writeValue(float(pressure & 255) * kMidi7);
}

// ---------------------------------------------------------------------------------------------
// Master settings

void SynthController::setPitchBendRange(float cents)
{
    for (VoiceManager& vm : voiceManagers)
        vm.setPitchBendRange(cents);
}

void SynthController::setMasterTune(float cents)
{
    for (VoiceManager& vm : voiceManagers)
        vm.setMasterTune(cents);
}

void SynthController::setMonoRetrigger(uint8_t flag)
{
    for (VoiceManager& vm : voiceManagers)
        vm.setMonoRetrigger(flag);
}

void SynthController::setMonoLayerFlag(uint8_t flag)
{
    for (VoiceManager& vm : voiceManagers)
        vm.setMonoLayerFlag(flag);
}

void SynthController::setVelocitySensitivity(float sensitivity)
{
    for (VoiceManager& vm : voiceManagers)
        vm.setVelocitySensitivity(sensitivity);
}

void SynthController::setNoteTuningSource(NoteTuningSource* source)
{
    for (VoiceManager& vm : voiceManagers)
        vm.setTuningSource(source);
}

void SynthController::setPolyphony(uint64_t voices)
{
    for (uint64_t g = 0; g < kGroups; ++g)
        setGroupPolyphony(g, voices);
}

// A changed count re-queues the first min(count, action voices) timers of each enabled action.
void SynthController::setGroupPolyphony(uint64_t group, uint64_t voices)
{
    VoiceManager& vm = voiceManagers[group];
    const uint64_t old = vm.voiceCount();
    vm.setVoiceCount(voices);
    layerVoicesReset(group);
    const uint64_t now = vm.voiceCount();
    if (now == old || !scheduler)
        return;
    for (size_t k = 0; k < kSlots; ++k) {
        ModAction* action = sources[group].actions[k].get();
        if (!action || !slots[k].isActive())
            continue;
        cancelActionTimers(*action);
        queueActionTimers(group, k, size_t(std::min<uint64_t>(now, action->voiceCount())));
    }
}

void SynthController::setLayerMode(uint32_t mode)
{
    const bool changed = mode != layerMode;
    layerMode = mode;
    rebuildLayerRouting(changed);
}

bool SynthController::resetVoiceGroups()
{
    for (VoiceManager& vm : voiceManagers)
        vm.stopAllVoices();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Set-up and routing

void SynthController::createVoiceParameters(int32_t kind)
{
    for (VoiceManager& vm : voiceManagers)
        vm.createVoiceParameters(this, kind);
}

// Running it again first detaches every route (the lists are resized), and replaces the layer
// manager's timer rather than adding a second one.
bool SynthController::setupParameters(ParameterActionListener* actionListener,
                                      LayerListener* layerListener,
                                      AutomSlotListener* slotListener, uint32_t option)
{
    reset();
    options = option;
    rebuildParameterActions(actionListener, slotListener);
    layers.setupLayers(layerListener, option);
    rebuildLayerRouting(false);
    if (scheduler) {
        cancelAllEntries(&layers);
        scheduler->addTimer(&layers, kLayerTimerCookie);
    }
    return true;
}

void SynthController::rebuildLayerRouting(bool reparse)
{
    for (VoiceManager& vm : voiceManagers)
        vm.resetVoices();
    for (LastNoteRecord& r : lastNotes)
        r = LastNoteRecord{};
    for (ChannelRoute& r : routes)
        r = ChannelRoute{};
    PatchBase* patch = layers.patch();
    auto bindLayer = [patch](size_t layer, uint64_t group) {
        if (LayerBase* p = patch ? patch->layer(layer) : nullptr)
            p->voiceGroup = group;
    };
    switch (layerMode) {
    case 1:
    case 2:
        for (size_t i = 0; i < kGroups; ++i) {
            bindLayer(i, 0);
            sources[i].voiceGroup = 0;
            voiceManagers[i].setLayerIndex(0);
        }
        break;
    case 3:
    case 4:
        for (size_t i = 0; i < kGroups; ++i) {
            bindLayer(i, i);
            routes[i].group = int64_t(i);
            sources[i].voiceGroup = i;
            voiceManagers[i].setLayerIndex(i);
        }
        break;
    case 5:
        for (size_t g = 0; g < kMpeZones; ++g) {
            sources[g].voiceGroup = g;
            voiceManagers[g].setLayerIndex(g);
        }
        for (size_t l = 0; l < kLayers; ++l)
            bindLayer(l, layerVoiceGroups[l]);
        applyMpeZoneRoutes();
        break;
    default:
        break;
    }
    if (reparse)
        parseModRouting();
}

void SynthController::applyMpeZoneRoutes()
{
    setZoneMembers(0, configuredLower);
    setZoneMembers(1, configuredUpper);
}

void SynthController::reset()
{
    layers.reset();
    for (VoiceManager& vm : voiceManagers)
        vm.clearVoiceParameterRoutes();
    SynthBase::reset();
}

uint8_t SynthController::setParameterByAddress(const ModRouteRow& row)
{
    if (SynthBase::setParameterByAddress(row) == 1)
        return 1;
    const std::string& d = row.destination;
    if (d.compare(0, 5, "VOICE") != 0) {
        uint64_t layer = 0;
        ParameterActionVector* list = layers.findLayerActions(d, layer);
        if (!list || list->empty())
            return 0;
        forwardAddressedEvent(3, layer, (*list)[0].code());
        switch (layerMode) {
        case 1:
        case 2:
            applyRouteToGroup(0, *list, row);
            break;
        case 3:
        case 4:
            applyRouteToGroup(layer, *list, row);
            break;
        case 5:
            applyRouteToGroup(layerVoiceGroups[layer], *list, row);
            break;
        default:
            break;
        }
        return 1;
    }
    const size_t managers = layerMode == 1 || layerMode == 2 ? 1 : kGroups;
    for (size_t g = 0; g < managers; ++g) {
        VoiceManager& vm = voiceManagers[g];
        ParameterActionVector* list = vm.findVoiceParameterActions(d);
        if (list && !list->empty())
            applyRouteToGroup(vm.getLayerIndex(), *list, row);
    }
    return 1;
}

void SynthController::collectVoiceParameterInfos(std::vector<ParameterInfo>& out) const
{
    voiceManagers[0].collectParameterInfos(out);
}

uint64_t SynthController::getLayerHeldNoteCount(uint64_t group)
{
    if (group >= kGroups)
        return 0;
    const int32_t held = voiceManagers[group].heldKeyCount();
    return held > 0 ? uint64_t(held) : 0;
}

uint64_t SynthController::getLayerPolyphony(uint64_t group)
{
    return group < kGroups ? voiceManagers[group].voiceCount() : 0;
}

uint64_t SynthController::getLayerActiveVoices(uint64_t group)
{
    return group < kGroups ? voiceManagers[group].heldVoiceCount() : 0;
}

}  // namespace ZRS
