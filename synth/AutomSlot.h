#pragma once
// The 18 automation slots: step sequencers 0 to 14 ("Step"), envelopes 15 to 17 ("EG"). A slot
// holds the host-automated settings and their descriptions, and one zone per voice group with
// the per-voice values that the running action voices read.

#include "platform/ParameterInfo.h"
#include "synth/Modulator.h"
#include "synth/ParameterAction.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ZRS {

class AutomSlotListener
{
public:
    virtual ~AutomSlotListener() = default;
    virtual void automSlotChanged(uint8_t /*slot*/, uint16_t /*setting*/, uint8_t /*modulated*/,
                                  float /*value*/)
    {
    }
};

class AutomSlotZone : public ParameterActionListener
{
public:
    static constexpr size_t kVoices = 12;

    AutomSlotZone();
    AutomSlotZone(const AutomSlotZone&) = delete;
    AutomSlotZone& operator=(const AutomSlotZone&) = delete;
    ~AutomSlotZone() override = default;

    // Sets up the actions from the slot's 16 descriptions; each applies its default at once.
    void bindActions(const ParameterInfo* descriptions, AutomSlotListener* slotListener,
                     uint64_t slot);
    void applyParameterAction(uint64_t index, uint16_t code, float value,
                              bool modulated) override;
    // Step length in notes; every voice's step fraction follows.
    void setStepLength(float length);
    void clearActionBindings();

    // Read by the action voices; a voice index beyond 11 reads voice 11.
    float speed(uint64_t voice) const { return speeds[clampVoice(voice)]; }
    float stepFraction(uint64_t voice) const { return stepFractions[clampVoice(voice)]; }
    uint64_t frame(uint64_t voice) const { return frames[clampVoice(voice)]; }
    uint64_t loopIn() const { return loopInPoint; }
    uint64_t loopOut() const { return loopOutPoint; }
    float rampIncrement() const { return rampStep; }
    float stepLength() const { return lengthInNotes; }
    uint16_t delay() const { return delaySteps; }
    uint64_t slotIndex() const { return slot; }

    ParameterActionVector speedActions;
    ParameterActionVector frameActions;
    ParameterActionVector loopInAction;
    ParameterActionVector loopOutAction;
    ParameterActionVector delayAction;
    ParameterActionVector rampAction;

private:
    static size_t clampVoice(uint64_t v) { return v < kVoices ? size_t(v) : kVoices - 1; }

    float speeds[kVoices];
    float stepFractions[kVoices];
    uint64_t frames[kVoices] = {};
    AutomSlotListener* listener = nullptr;
    uint64_t loopInPoint = 0;
    uint64_t loopOutPoint = 31;
    uint64_t slot = 0;
    float rampStep = 0.0f;
    float lengthInNotes = 0.0625f;
    uint16_t delaySteps = 0;
};

class AutomSlot : public Activatable
{
public:
    static constexpr size_t kSlots = 18;
    static constexpr size_t kStepSlots = 15;
    static constexpr size_t kGroups = 4;
    static constexpr size_t kSettings = 16;

    enum Setting : uint32_t {
        kOn = 0,
        kFrame = 1,
        kLoopMode = 2,
        kTimeBase = 4,
        kStepCount = 5,
        kSpeed = 6,
        kNumerator = 7,
        kDenominator = 8,
        kLoopIn = 9,
        kLoopOut = 10,
        kDelay = 11,
        kTriggerMode = 12,
        kRamp = 13,
        kSwing = 14,
    };

    AutomSlot() = default;
    AutomSlot(const AutomSlot&) = delete;
    AutomSlot& operator=(const AutomSlot&) = delete;
    ~AutomSlot() override = default;

    // Fills the descriptions for slot `index` and binds the four zones.
    void initParameters(uint64_t index, AutomSlotListener* slotListener);
    // Settings 1 to 14; others are ignored (the synth core switches the slot on and off).
    void setParameter(uint32_t setting, float value);
    float getParameter(uint32_t setting) const;
    // Appends a copy of every published description (flags bit 1), in record order.
    void collectParameterInfos(std::vector<ParameterInfo>& out) const;
    // The actions of `group`'s zone behind the description whose upper-case label is `name`.
    ParameterActionVector* findZoneActions(uint64_t group, std::string_view name);
    void clearActionBindings();

    AutomSlotZone& zone(size_t group) { return zones[group < kGroups ? group : 0]; }
    const AutomSlotZone& zone(size_t group) const { return zones[group < kGroups ? group : 0]; }
    const ParameterInfo& description(size_t n) const { return descriptions[n % kSettings]; }

    int32_t loopMode() const { return loop; }
    int32_t timeBase() const { return base; }
    int32_t triggerMode() const { return trigger; }
    uint64_t stepCount() const { return count; }
    float swing() const { return swingFraction; }

private:
    void setZoneActions(ParameterActionVector AutomSlotZone::*list, float value);

    AutomSlotZone zones[kGroups];
    int32_t loop = 0;
    int32_t base = 0;
    int32_t trigger = 0;
    uint64_t count = 32;
    float frameValue = 0.0f;
    float speedValue = 1.0f;
    float loopInValue = 0.0f;
    float loopOutValue = 31.0f;
    int32_t numerator = 1;
    int32_t denominator = 16;
    int32_t delayValue = 0;
    int32_t ramp = 0;
    float swingFraction = 0.0f;
    ParameterInfo descriptions[kSettings];
};

}  // namespace ZRS
