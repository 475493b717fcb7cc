#include "synth/AutomSlot.h"

#include "platform/SaturatingCast.h"

#include <cctype>
#include <cmath>
#include <cstdio>

namespace ZRS {

namespace {

// Codes carried by the zone's actions: the number of the setting they follow.
constexpr uint16_t kCodeFrame = AutomSlot::kFrame;
constexpr uint16_t kCodeSpeed = AutomSlot::kSpeed;
constexpr uint16_t kCodeLoopIn = AutomSlot::kLoopIn;
constexpr uint16_t kCodeLoopOut = AutomSlot::kLoopOut;
constexpr uint16_t kCodeDelay = AutomSlot::kDelay;
constexpr uint16_t kCodeRamp = AutomSlot::kRamp;

uint64_t truncatedNonNegative(float v)
{
    return vantor::saturatingCast<uint64_t>(v > 0.0f ? v : 0.0f);
}

// floor(v + 0.5), at least 1.
int32_t stepLengthTerm(float v)
{
    const int32_t n = vantor::saturatingCast<int32_t>(std::floor(double(v) + 0.5));
    return n < 1 ? 1 : n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Zone

AutomSlotZone::AutomSlotZone()
{
    for (size_t i = 0; i < kVoices; ++i) {
        speeds[i] = 1.0f;
        stepFractions[i] = 1.0f;
    }
    speedActions.resize(kVoices);
    frameActions.resize(kVoices);
    loopInAction.resize(1);
    loopOutAction.resize(1);
    delayAction.resize(1);
    rampAction.resize(1);
}

void AutomSlotZone::bindActions(const ParameterInfo* d, AutomSlotListener* slotListener,
                                uint64_t slotIndex)
{
    listener = slotListener;
    slot = slotIndex;
    for (size_t i = 0; i < kVoices; ++i) {
        speeds[i] = 1.0f;
        stepFractions[i] = 1.0f;
        speedActions[i].configure(i, kCodeSpeed, &d[AutomSlot::kSpeed], this);
        frames[i] = 0;
        frameActions[i].configure(i, kCodeFrame, &d[AutomSlot::kFrame], this);
    }
    loopInAction[0].configure(0, kCodeLoopIn, &d[AutomSlot::kLoopIn], this);
    loopOutAction[0].configure(0, kCodeLoopOut, &d[AutomSlot::kLoopOut], this);
    delayAction[0].configure(0, kCodeDelay, &d[AutomSlot::kDelay], this);
    rampAction[0].configure(0, kCodeRamp, &d[AutomSlot::kRamp], this);
}

void AutomSlotZone::applyParameterAction(uint64_t index, uint16_t code, float value,
                                         bool modulated)
{
    if (modulated && listener)
        listener->automSlotChanged(uint8_t(slot), code, 1, value);
    switch (code) {
    case kCodeFrame:
        if (index < kVoices)
            frames[index] = truncatedNonNegative(value);
        break;
    case kCodeSpeed:
        if (index < kVoices) {
            speeds[index] = value;
            stepFractions[index] = lengthInNotes / value;
        }
        break;
    case kCodeLoopIn:
        loopInPoint = truncatedNonNegative(value);
        break;
    case kCodeLoopOut:
        loopOutPoint = truncatedNonNegative(value);
        break;
    case kCodeDelay:
        delaySteps = vantor::saturatingCast<uint16_t>(value > 0.0f ? value : 0.0f);
        break;
    case kCodeRamp:
        rampStep = value > 0.0f ? 1.0f / value : 1.0f;
        break;
    default:
        break;
    }
}

void AutomSlotZone::setStepLength(float length)
{
    lengthInNotes = length;
    for (size_t i = 0; i < kVoices; ++i)
        stepFractions[i] = lengthInNotes / speeds[i];
}

void AutomSlotZone::clearActionBindings()
{
    clearActionRoutes(speedActions);
    clearActionRoutes(frameActions);
    clearActionRoutes(loopInAction);
    clearActionRoutes(loopOutAction);
    clearActionRoutes(delayAction);
    clearActionRoutes(rampAction);
}

// ---------------------------------------------------------------------------------------------
// Slot

void AutomSlot::initParameters(uint64_t index, AutomSlotListener* slotListener)
{
    const bool step = index < kStepSlots;
    const char* prefix = step ? "Step" : "EG";
    const int number = int(step ? index : index - kStepSlots);
    const float last = float(count - 1);

    struct Record
    {
        uint32_t n;
        const char* format;
        bool stepOnly;
        uint32_t type;
        float min, max, def;
        uint8_t flags, math;
        uint16_t modulation;
    };
    const Record records[] = {
        {kFrame, "%s%d Frame", true, ParameterInfo::Integer, 0.0f, 128.0f, 0.0f, 0x13, 3, 0x401},
        {kSpeed, "%s%d Speed", false, ParameterInfo::Continuous, 0.25f, 8.0f, 1.0f, 0x13, 2,
         0x401},
        {kLoopIn, "%s%d LoopIn", true, ParameterInfo::Integer, 0.0f, last, 0.0f, 0x03, 3, 0x001},
        {kLoopOut, "%s%d LoopOut", true, ParameterInfo::Integer, 0.0f, last, last, 0x03, 3,
         0x001},
        {kDelay, "%s%d Delay", false, ParameterInfo::Integer, 0.0f, 255.0f, 0.0f, 0x03, 3, 0x401},
        {kRamp, "%s%d Ramp", true, ParameterInfo::Integer, 0.0f, 1023.0f, 0.0f, 0x03, 3, 0x401},
    };
    for (const Record& r : records) {
        if (r.stepOnly && !step)
            continue;
        ParameterInfo& p = descriptions[r.n];
        char label[32];
        std::snprintf(label, sizeof label, r.format, prefix, number);
        p.setLabel(label);
        p.type = r.type;
        p.minValue = r.min;
        p.maxValue = r.max;
        p.defaultValue = r.def;
        p.flags |= r.flags;
        p.mathFlags |= r.math;
        p.modFlags |= r.modulation;
        p.index = uint16_t(index * kSettings + r.n);
    }
    if (!step)
        base = 1;
    for (AutomSlotZone& z : zones)
        z.bindActions(descriptions, slotListener, index);
}

void AutomSlot::setZoneActions(ParameterActionVector AutomSlotZone::*list, float value)
{
    for (AutomSlotZone& z : zones) {
        ParameterActionVector& actions = z.*list;
        for (size_t i = 0; i < actions.size(); ++i)
            actions[i].setValue(value);
    }
}

// Values that are not numbers leave a stored float as it was (the actions ignore them too).
void AutomSlot::setParameter(uint32_t setting, float value)
{
    const bool number = !std::isnan(value);
    switch (setting) {
    case kFrame:
        if (number)
            frameValue = value;
        setZoneActions(&AutomSlotZone::frameActions, value);
        break;
    case kLoopMode:
        loop = vantor::saturatingCast<int32_t>(value);
        break;
    case kTimeBase:
        base = vantor::saturatingCast<int32_t>(value);
        break;
    case kStepCount:
        count = vantor::saturatingCast<uint64_t>(value);
        if (count != 0) {
            descriptions[kLoopIn].maxValue = float(count - 1);
            descriptions[kLoopOut].maxValue = float(count - 1);
        }
        break;
    case kSpeed:
        if (number)
            speedValue = value;
        setZoneActions(&AutomSlotZone::speedActions, value);
        for (AutomSlotZone& z : zones)
            z.setStepLength(z.stepLength());
        break;
    case kNumerator:
    case kDenominator:
        (setting == kNumerator ? numerator : denominator) = stepLengthTerm(value);
        for (AutomSlotZone& z : zones)
            z.setStepLength(float(numerator) / float(denominator));
        break;
    case kLoopIn:
        if (number)
            loopInValue = value;
        setZoneActions(&AutomSlotZone::loopInAction, value);
        break;
    case kLoopOut:
        if (number)
            loopOutValue = value;
        setZoneActions(&AutomSlotZone::loopOutAction, value);
        break;
    case kDelay:
        delayValue = vantor::saturatingCast<int32_t>(value);
        setZoneActions(&AutomSlotZone::delayAction, value);
        break;
    case kTriggerMode:
        trigger = vantor::saturatingCast<int32_t>(value);
        break;
    case kRamp:
        ramp = vantor::saturatingCast<int32_t>(value);
        setZoneActions(&AutomSlotZone::rampAction, value);
        break;
    case kSwing:
        if (std::isfinite(value))  // an infinite swing would stretch a step without end
            swingFraction = value / 100.0f;
        break;
    default:  // 0 (on/off) belongs to the synth core; 3 and above 14 have no setting
        break;
    }
}

float AutomSlot::getParameter(uint32_t setting) const
{
    switch (setting) {
    case kOn: return active ? 1.0f : 0.0f;
    case kFrame: return frameValue;
    case kLoopMode: return float(loop);
    case kTimeBase: return float(base);
    case kStepCount: return float(count);
    case kSpeed: return speedValue;
    case kNumerator: return float(numerator);
    case kDenominator: return float(denominator);
    case kLoopIn: return loopInValue;
    case kLoopOut: return loopOutValue;
    case kDelay: return float(delayValue);
    case kTriggerMode: return float(trigger);
    case kRamp: return float(ramp);
    case kSwing: return swingFraction;
    default: return 0.0f;
    }
}

void AutomSlot::collectParameterInfos(std::vector<ParameterInfo>& out) const
{
    for (const ParameterInfo& p : descriptions)
        if (p.flags & 0x02)
            out.push_back(p);
}

ParameterActionVector* AutomSlot::findZoneActions(uint64_t group, std::string_view name)
{
    if (group >= kGroups)
        return nullptr;
    AutomSlotZone& z = zones[group];
    for (size_t n = 0; n < kSettings; ++n) {
        const char* label = descriptions[n].label;
        if (!label)
            continue;
        std::string_view text(label);
        if (text.size() != name.size())
            continue;
        bool same = true;
        for (size_t i = 0; i < text.size() && same; ++i)
            same = char(std::toupper(static_cast<unsigned char>(text[i]))) == name[i];
        if (!same)
            continue;
        switch (n) {
        case kSpeed: return &z.speedActions;
        case kFrame: return &z.frameActions;
        case kLoopIn: return &z.loopInAction;
        case kLoopOut: return &z.loopOutAction;
        case kDelay: return &z.delayAction;
        case kRamp: return &z.rampAction;
        default: return nullptr;
        }
    }
    return nullptr;
}

void AutomSlot::clearActionBindings()
{
    for (AutomSlotZone& z : zones)
        z.clearActionBindings();
}

}  // namespace ZRS
