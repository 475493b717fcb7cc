#include "synth/SynthBase.h"

#include "platform/PlatformTools.h"
#include "synth/AutomTables.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

namespace ZRS {

namespace {

constexpr uint32_t kEnvelopeResettable = 0x01;

bool startsWith(const std::string& text, std::string_view prefix)
{
    return std::string_view(text).substr(0, prefix.size()) == prefix;
}

// Every entry the voice's own modulator, or the group-wide one for a one-action parameter.
template <typename Voices, typename Mono>
void fillSources(Modulator* (&out)[SynthBase::kVoices], bool perVoice, Voices& voices, Mono& mono)
{
    for (size_t i = 0; i < SynthBase::kVoices; ++i)
        out[i] = perVoice ? static_cast<Modulator*>(&voices[i]) : static_cast<Modulator*>(&mono);
}

void fillShared(Modulator* (&out)[SynthBase::kVoices], Modulator& m)
{
    for (Modulator*& entry : out)
        entry = &m;
}

// Sources go quiet with their values kept; listeners are not told.
void resetLayerModSources(LayerModSources& b)
{
    for (std::unique_ptr<Modulator>& c : b.controllers)
        if (c)
            c->setActive(0);
    for (size_t v = 0; v < LayerModSources::kVoices; ++v) {
        b.voiceKeyTrack[v].setActive(0);
        b.voiceNote[v].setActive(0);
        b.voiceVelocity[v].setActive(0);
        b.voiceRandom[v].setActive(0);
        b.voicePressure[v].setActive(0);
        for (auto& type : b.voiceExpression)
            type[v].setActive(0);
    }
    b.keyTrack.setActive(0);
    b.note.setActive(0);
    b.velocity.setActive(0);
    b.random.setActive(0);
    b.channelPressure.setActive(0);
    b.program.setActive(0);
    b.bend.setActive(0);
    b.bendUp.setActive(0);
    b.bendDown.setActive(0);
}

}  // namespace

SynthBase::SynthBase() = default;

SynthBase::~SynthBase() = default;

// ---------------------------------------------------------------------------------------------
// Tables

void SynthBase::addStepTableBlock(uint8_t* block, size_t size, uint64_t value)
{
    stepTables.push_back(TableEntry{block, size, value, 0});
}

void SynthBase::addCurveBlock(uint8_t* block, size_t size, uint64_t value)
{
    envelopes.push_back(TableEntry{block, size, value, 0});
}

void SynthBase::resetUnusedTables()
{
    for (TableEntry& e : stepTables)
        if (!e.inUse)
            writeDefaultStepTable(e.record, e.size);
    for (TableEntry& e : envelopes) {
        if (e.inUse || !e.record || e.size < 16)
            continue;
        uint32_t flags = 0;
        std::memcpy(&flags, e.record + 12, sizeof flags);
        if (flags & kEnvelopeResettable)
            writeDefaultEnvelope(e.record, e.size);
    }
}

// ---------------------------------------------------------------------------------------------
// Scheduler

void SynthBase::cancelAllEntries(vantor::QuantumTimer* timer)
{
    if (!scheduler || !timer)
        return;
    for (;;) {
        const std::vector<vantor::QuantumEntry>& entries = scheduler->getEntries();
        const bool listed = std::any_of(entries.begin(), entries.end(),
                                        [timer](const vantor::QuantumEntry& e) {
                                            return e.timer == timer;
                                        });
        if (!listed)
            return;
        scheduler->cancel(timer);
    }
}

void SynthBase::cancelActionTimers(ModAction& action)
{
    for (size_t i = 0; i < action.voiceCount(); ++i)
        cancelAllEntries(action.voiceAt(i));
}

// The first `count` action voices of the group's action for the slot, tagged slot + 256 x group.
void SynthBase::queueActionTimers(uint64_t group, size_t slot, size_t count)
{
    ModAction* action = sources[group].actions[slot].get();
    if (!scheduler || !action)
        return;
    count = std::min(count, action->voiceCount());
    for (size_t i = 0; i < count; ++i)
        scheduler->addTimer(action->voiceAt(i), uint64_t(slot) + 256 * group);
}

// ---------------------------------------------------------------------------------------------
// Reset and rebuild

void SynthBase::reset()
{
    clearActionRoutes(actionLists);
    for (LayerModSources& b : sources)
        resetLayerModSources(b);
    for (AutomSlot& s : slots)
        s.clearActionBindings();
    for (TableEntry& e : stepTables)
        e.inUse = 0;
    for (TableEntry& e : envelopes)
        e.inUse = 0;
    for (LayerModSources& b : sources) {
        for (std::unique_ptr<ModAction>& action : b.actions) {
            if (!action)
                continue;
            cancelActionTimers(*action);
            action.reset();
        }
    }
    for (size_t z = 0; z < kMpeZones; ++z) {
        for (size_t v = 0; v < kMpeVoices; ++v) {
            mpeBend[z][v].setActive(0);
            mpePressure[z][v].setActive(0);
            mpeTimbre[z][v].setActive(0);
        }
    }
}

void SynthBase::setModRoutingText(const char* text, uint32_t tag)
{
    // A copy first: the text may be the stored one.
    std::string incoming = text ? text : "";
    routingText.clear();
    willSetModRouting(text ? incoming.c_str() : nullptr, tag);
    if (!incoming.empty()) {
        routingText.swap(incoming);
        routingTag = tag;
    }
    parseModRouting();
    resetUnusedTables();
}

void SynthBase::parseModRouting()
{
    reset();
    if (!routingText.empty()) {
        std::vector<std::string> lines;
        textInternalizeRAM(routingText, lines, true);
        ModRouteRow row;
        for (const std::string& line : lines)
            if (parseRouteRow(line, row))
                setParameterByAddress(row);
    }
    for (uint64_t g = 0; g < kGroups; ++g) {
        for (size_t k = 0; k < kSlots; ++k) {
            ModAction* action = sources[g].actions[k].get();
            if (!action || !slots[k].isActive())
                continue;
            action->setAllVoicesActive(1);
            queueActionTimers(g, k, action->voiceCount());
        }
    }
}

void SynthBase::rebuildParameterActions(ParameterActionListener* actionListener,
                                        AutomSlotListener* slotListener)
{
    const size_t count = std::min<size_t>(parameters.size(), kNoParameter);
    actionLists.resize(count);
    for (size_t i = 0; i < count; ++i) {
        const ParameterInfo& info = parameters[i];
        const uint16_t index = info.index;
        if (index == kNoParameter) {
            actionLists[i].clear();
            continue;
        }
        const size_t n = (info.flags & kFlagPerVoice) ? kVoices : 1;
        ParameterActionVector& list = actionLists[i];
        list.resize(n);
        for (size_t j = 0; j < n; ++j)
            list[j].configure(j, uint16_t(i), &info, actionListener);
    }
    for (size_t k = 0; k < kSlots; ++k)
        slots[k].initParameters(k, slotListener);
    automSlotListener = slotListener;
}

// ---------------------------------------------------------------------------------------------
// Automation slots

void SynthBase::setAutomSlotActive(uint64_t slot, bool on)
{
    if (slot >= kSlots)
        return;
    const uint8_t flag = on ? 1 : 0;
    if (slots[slot].isActive() == flag)
        return;
    if (scheduler) {
        for (uint64_t g = 0; g < kGroups; ++g) {
            ModAction* action = sources[g].actions[slot].get();
            if (!action)
                continue;
            action->setAllVoicesActive(flag);
            if (on)
                queueActionTimers(g, size_t(slot), action->voiceCount());
            else
                cancelActionTimers(*action);
        }
    }
    slots[slot].setActive(flag);
}

void SynthBase::setAutomSlotParameter(uint64_t slot, uint32_t parameter, float value)
{
    if (slot >= kSlots)
        return;
    if (parameter == AutomSlot::kOn)
        setAutomSlotActive(slot, value > 0.0f);
    else
        slots[slot].setParameter(parameter, value);
}

void SynthBase::setAutomSlotParameterAndNotify(uint64_t slot, uint32_t parameter, float value)
{
    if (slot >= kSlots)
        return;
    setAutomSlotParameter(slot, parameter, value);
    if (automSlotListener)
        automSlotListener->automSlotChanged(uint8_t(slot), uint16_t(parameter), 0, value);
}

float SynthBase::getAutomSlotParameter(uint64_t slot, uint16_t parameter) const
{
    return slot < kSlots ? slots[slot].getParameter(parameter) : 0.0f;
}

void SynthBase::collectAutomSlotParameterInfos(std::vector<ParameterInfo>& out) const
{
    for (const AutomSlot& s : slots)
        s.collectParameterInfos(out);
}

// ---------------------------------------------------------------------------------------------
// Routes

bool SynthBase::createSourceModulator(LayerModSources& b, const std::string& keyword,
                                      Modulator* (&out)[kVoices], bool perVoice)
{
    if (perVoice) {
        const int32_t type = expressionSourceType(keyword);
        if (type >= 0) {
            for (size_t i = 0; i < kVoices; ++i)
                out[i] = &b.voiceExpression[type][i];
            return true;
        }
    }
    if (keyword == "PB") {
        fillShared(out, b.bend);
    } else if (keyword == "PB_POS") {
        fillShared(out, b.bendUp);
    } else if (keyword == "PB_NEG") {
        fillShared(out, b.bendDown);
    } else if (keyword == "CP") {
        fillShared(out, b.channelPressure);
    } else if (keyword == "PC") {
        fillShared(out, b.program);
    } else if (keyword == "POLYAFT") {
        fillSources(out, perVoice, b.voicePressure, b.voicePressure[0]);
    } else if (keyword == "POLYALT") {
        fillSources(out, perVoice, b.voiceAlternation, b.alternation);
    } else if (keyword == "POLYKT") {
        fillSources(out, perVoice, b.voiceKeyTrack, b.keyTrack);
    } else if (keyword == "POLYKEY") {
        fillSources(out, perVoice, b.voiceNote, b.note);
    } else if (keyword == "POLYVEL") {
        fillSources(out, perVoice, b.voiceVelocity, b.velocity);
    } else if (keyword == "POLYRAND") {
        fillSources(out, perVoice, b.voiceRandom, b.random);
    } else if (keyword == "MONOALT") {
        fillShared(out, b.alternation);
    } else if (keyword == "MONOKT") {
        fillShared(out, b.keyTrack);
    } else if (keyword == "MONOKEY") {
        fillShared(out, b.note);
    } else if (keyword == "MONOVEL") {
        fillShared(out, b.velocity);
    } else if (keyword == "MONORAND") {
        fillShared(out, b.random);
    } else if (keyword.size() > 2 && startsWith(keyword, "CC")) {
        int32_t n = 0;
        readDecimalInt(std::string_view(keyword).substr(2), n);
        const uint32_t number = uint32_t(n) & 127;
        Modulator* c = b.controller(number);
        if (!c) {
            c = &b.ensureController(number);
            c->setActive(0);
        } else if (c->getValue() != 0.0f) {
            c->setActive(1);
        }
        fillShared(out, *c);
    } else {
        return false;
    }
    return true;
}

void SynthBase::bindMpeSource(uint64_t group, const std::string& keyword,
                              Modulator* (&out)[kVoices])
{
    if (group >= kMpeZones)
        return;
    for (size_t i = 0; i < kVoices; ++i) {
        if (keyword == "MPE_PB")
            out[i] = &mpeBend[group][i];
        else if (keyword == "MPE_CP")
            out[i] = &mpePressure[group][i];
        else if (keyword == "MPE_CC74")
            out[i] = &mpeTimbre[group][i];
    }
}

void SynthBase::applyRouteToGroup(uint64_t group, ParameterActionVector& list,
                                  const ModRouteRow& row)
{
    if (group >= kGroups || list.empty())
        return;
    const ParameterInfo* info = list[0].descriptor();
    const uint8_t flags = info ? info->flags : 0;
    const bool perVoice = list.size() >= 2 && (flags & kFlagPerVoice);
    const size_t served = perVoice ? std::min(list.size(), kVoices) : 1;

    LayerModSources& block = sources[group];
    Modulator* s[kVoices] = {};
    Modulator* k[kVoices] = {};
    if (!createSourceModulator(block, row.source, s, perVoice))
        bindMpeSource(group, row.source, s);
    if (!row.control.empty() && !createSourceModulator(block, row.control, k, perVoice))
        bindMpeSource(group, row.control, k);

    auto route = [&](Modulator* source, Modulator* control, uint8_t rawRange) {
        ModRoute r;
        r.source = source;
        r.control = control;
        r.offset = row.offset;
        r.amount = row.amount;
        r.min = row.minimum;
        r.max = row.maximum;
        r.sourceFunction = row.sourceFunction;
        r.controlFunction = row.controlFunction;
        r.voiceGroup = group;
        r.rawRange = rawRange;
        return r;
    };

    if (s[0]) {
        for (size_t i = 0; i < served; ++i) {
            list[i].setMathMode(row.combine);
            list[i].addRoute(route(s[i], k[i], 0));
        }
        return;
    }

    // A step table or an envelope, played by the group's action of its automation slot.
    const std::string& name = row.source;
    uint64_t number = 0;
    TableEntry* entry = nullptr;
    size_t slot = 0;
    if (name.size() >= 5 && startsWith(name, "STEP") &&
        readDecimalSize(std::string_view(name).substr(4), number) && number < stepTables.size() &&
        number < kStepSlots) {
        entry = &stepTables[number];
        slot = size_t(number);
    } else if (name.size() >= 3 && startsWith(name, "EG") &&
               readDecimalSize(std::string_view(name).substr(2), number) &&
               number < envelopes.size() && number < kEnvelopeSlots) {
        entry = &envelopes[number];
        slot = kStepSlots + size_t(number);
    } else {
        return;
    }
    entry->inUse = 1;

    std::unique_ptr<ModAction>& action = block.actions[slot];
    if (!action) {
        const bool bipolar = info && info->minValue < 0.0f;
        action = std::make_unique<ModAction>(served, TableRecord{entry->record, entry->size},
                                             bipolar ? 1 : 0);
        action->bind(int64_t(group), &slots[slot], &slots[slot].zone(group), syncProvider, this);
    }
    for (size_t i = 0; i < served; ++i) {
        ModActionVoice* voice = action->voiceAt(i);
        if (!voice)
            break;
        const bool raw = (flags & kFlagRawScale) && voice->getVoiceRangeKind() == kRawScale &&
                         row.combine != kMathAccum;
        list[i].setMathMode(row.combine);
        list[i].addRoute(route(voice, k[i], raw ? 1 : 0));
    }
}

uint8_t SynthBase::setParameterByAddress(const ModRouteRow& row)
{
    const std::string& d = row.destination;
    uint16_t index = kNoParameter;
    if (const ParameterInfo* p = findParameterIndex(d.data(), d.size(), index)) {
        if (p->mathFlags & kMathHooked)
            return setHookedParameterByAddress(row, index);
        forwardAddressedEvent(0, 0, index);
        if (index >= actionLists.size())
            return 1;
        ParameterActionVector& list = actionLists[index];
        uint16_t zones = p->layerMask;
        if (p->flags & kFlagZoned)
            zones &= row.zoneMask;
        switch (layerMode) {
        case 1:
        case 2:
            applyRouteToGroup(0, list, row);
            break;
        case 3:
        case 4:
            for (uint64_t g = 0; g < kGroups; ++g)
                if (zones & (1u << g))
                    applyRouteToGroup(g, list, row);
            break;
        case 5:
            for (size_t l = 0; l < 4; ++l)
                if (zones & (1u << l))
                    applyRouteToGroup(layerVoiceGroups[l], list, row);
            break;
        default:
            break;
        }
        return 1;
    }
    if (startsWith(d, "STEP")) {
        for (size_t slot = 0; slot < kSlots; ++slot) {
            ParameterActionVector* first = slots[slot].findZoneActions(0, d);
            if (!first)
                continue;
            const ParameterInfo* info = first->empty() ? nullptr : (*first)[0].descriptor();
            forwardAddressedEvent(1, slot, info ? info->index : kNoParameter);
            for (uint64_t g = 0; g < kGroups; ++g)
                if (ParameterActionVector* list = slots[slot].findZoneActions(g, d))
                    applyRouteToGroup(g, *list, row);
        }
        return 1;
    }
    return 0;
}

}  // namespace ZRS
