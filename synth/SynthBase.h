#pragma once
// The part of the synth core that needs no voice manager: the parameter table with one list of
// parameter actions per parameter, the four voice groups' source blocks, the 18 automation slots,
// the MPE per-voice sources, the step-table and envelope records, and the routing text that
// connects sources to parameters.

#include "platform/ParameterInfo.h"
#include "support/QuantumManager.h"
#include "synth/AutomSlot.h"
#include "synth/LayerModSources.h"
#include "synth/MasterSettingsListener.h"
#include "synth/ModRouting.h"
#include "synth/Modulator.h"
#include "synth/ParameterAction.h"
#include "synth/PitchProvider.h"
#include "synth/SynthParams.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ZRS {

class SyncProvider;

// A shared step-table or envelope record handed in by the instrument. Not owned.
struct TableEntry
{
    uint8_t* record = nullptr;
    size_t size = 0;     // bytes the owner vouches for
    uint64_t value = 0;  // the owner's own
    uint8_t inUse = 0;   // a routing row plays it
};

class SynthBase : public SynthParams, public PitchProvider, public MasterSettingsListener
{
public:
    static constexpr size_t kGroups = 4;
    static constexpr size_t kVoices = 12;
    static constexpr size_t kSlots = AutomSlot::kSlots;
    static constexpr size_t kStepSlots = AutomSlot::kStepSlots;       // "STEP0".."STEP14"
    static constexpr size_t kEnvelopeSlots = kSlots - kStepSlots;    // "EG0".."EG2"
    static constexpr size_t kMpeZones = 2;
    static constexpr size_t kMpeVoices = 16;
    static constexpr uint64_t kLayerTimerCookie = 31310;

    // ParameterInfo::flags bits read here.
    static constexpr uint8_t kFlagPerVoice = 0x10;
    static constexpr uint8_t kFlagRawScale = 0x20;
    static constexpr uint8_t kFlagZoned = 0x40;
    // ParameterInfo::mathFlags bit: routed by the controller's hook instead of its actions.
    static constexpr uint8_t kMathHooked = 0x80;

    SynthBase();
    ~SynthBase() override;

    virtual void processMidiMessage(uint8_t status, uint8_t data1, uint8_t data2) = 0;
    // Told the new text before it is stored.
    virtual void willSetModRouting(const char* /*text*/, uint32_t /*tag*/) {}
    // A destination matched: kind 0 table parameter (0, index), 1 automation-slot parameter
    // (slot, index), 3 layer parameter (layer, id).
    virtual void forwardAddressedEvent(uint32_t /*kind*/, uint64_t /*index*/, uint64_t /*value*/)
    {
    }
    // Rows for parameters whose math flags carry kMathHooked; 1 when taken.
    virtual uint8_t setHookedParameterByAddress(const ModRouteRow& /*row*/, uint16_t /*index*/)
    {
        return 0;
    }
    // Resolves the row's destination and adds its route; 1 when the destination was taken.
    virtual uint8_t setParameterByAddress(const ModRouteRow& row);
    // Detaches every route and resets the sources, the slots' bindings, the tables' in-use
    // marks and the automation actions (destroyed, their timers cancelled). Voices keep sounding.
    virtual void reset();
    virtual uint64_t getLayerHeldNoteCount(uint64_t group) = 0;
    virtual uint64_t getLayerPolyphony(uint64_t group) = 0;
    virtual uint64_t getLayerActiveVoices(uint64_t group) = 0;

    // Routing text (NUL-terminated, or null): replaces every route, then resets the step tables
    // and envelopes that no row plays.
    void setModRoutingText(const char* text, uint32_t tag);
    const std::string& modRoutingText() const { return routingText; }
    uint32_t modRoutingTag() const { return routingTag; }

    // Shared records, appended by the instrument and never removed.
    void addStepTableBlock(uint8_t* block, size_t size, uint64_t value);
    void addCurveBlock(uint8_t* block, size_t size, uint64_t value);
    const std::vector<TableEntry>& stepTableEntries() const { return stepTables; }
    const std::vector<TableEntry>& curveEntries() const { return envelopes; }

    // Automation slots; slots above 17 are ignored. Setting 0 switches the slot on (above 0.0)
    // or off; the others go to the slot.
    void setAutomSlotActive(uint64_t slot, bool on);
    void setAutomSlotParameter(uint64_t slot, uint32_t parameter, float value);
    void setAutomSlotParameterAndNotify(uint64_t slot, uint32_t parameter, float value);
    float getAutomSlotParameter(uint64_t slot, uint16_t parameter) const;
    void collectAutomSlotParameterInfos(std::vector<ParameterInfo>& out) const;

    // Not owned; while no scheduler is set nothing is scheduled or cancelled.
    void setScheduler(vantor::QuantumManager* manager) { scheduler = manager; }
    vantor::QuantumManager* getScheduler() const { return scheduler; }
    void setSyncProvider(SyncProvider* provider) { syncProvider = provider; }

    uint32_t getLayerMode() const { return layerMode; }

    // Inspection.
    LayerModSources& modSources(size_t group) { return sources[group % kGroups]; }
    AutomSlot& automSlot(size_t slot) { return slots[slot % kSlots]; }
    ParameterActionVector* parameterActions(size_t index)
    {
        return index < actionLists.size() ? &actionLists[index] : nullptr;
    }
    PitchBendModulator& mpeBendSource(size_t zone, size_t voice)
    {
        return mpeBend[zone % kMpeZones][voice % kMpeVoices];
    }
    MIDI7Modulator& mpePressureSource(size_t zone, size_t voice)
    {
        return mpePressure[zone % kMpeZones][voice % kMpeVoices];
    }
    MIDI7Modulator& mpeTimbreSource(size_t zone, size_t voice)
    {
        return mpeTimbre[zone % kMpeZones][voice % kMpeVoices];
    }
    uint64_t layerVoiceGroup(size_t layer) const { return layerVoiceGroups[layer % 4]; }

protected:
    // The rebuild cycle: reset, the rows of the text, then the enabled slots' timers queued.
    void parseModRouting();
    void resetUnusedTables();
    void rebuildParameterActions(ParameterActionListener* actionListener,
                                 AutomSlotListener* slotListener);
    // Adds the row's route to the actions of `list` for voice group `group`.
    void applyRouteToGroup(uint64_t group, ParameterActionVector& list, const ModRouteRow& row);
    bool createSourceModulator(LayerModSources& block, const std::string& keyword,
                               Modulator* (&out)[kVoices], bool perVoice);
    void bindMpeSource(uint64_t group, const std::string& keyword, Modulator* (&out)[kVoices]);
    // Removes every scheduler entry of the timer.
    void cancelAllEntries(vantor::QuantumTimer* timer);
    void queueActionTimers(uint64_t group, size_t slot, size_t count);
    void cancelActionTimers(ModAction& action);

    LayerModSources sources[kGroups];
    // Declared before the slots, whose actions may listen to them: destroyed after the slots.
    PitchBendModulator mpeBend[kMpeZones][kMpeVoices];
    MIDI7Modulator mpePressure[kMpeZones][kMpeVoices];
    MIDI7Modulator mpeTimbre[kMpeZones][kMpeVoices];
    AutomSlot slots[kSlots];
    uint64_t layerVoiceGroups[4] = {};
    std::vector<TableEntry> stepTables;
    std::vector<TableEntry> envelopes;
    std::vector<ParameterActionVector> actionLists;
    SyncProvider* syncProvider = nullptr;
    vantor::QuantumManager* scheduler = nullptr;
    uint32_t layerMode = 1;
    std::string routingText;
    AutomSlotListener* automSlotListener = nullptr;
    uint32_t routingTag = 0;
};

}  // namespace ZRS
