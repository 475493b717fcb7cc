#include "platform/ParameterInfo.h"
#include "synth/AutomSlot.h"
#include "synth/Modulator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <vector>

using namespace ZRS;

namespace {

struct Change
{
    uint8_t slot;
    uint16_t setting;
    uint8_t modulated;
    float value;
    bool operator==(const Change&) const = default;
};

class RecordingSlotListener : public AutomSlotListener
{
public:
    void automSlotChanged(uint8_t slot, uint16_t setting, uint8_t modulated, float value) override
    {
        changes.push_back({slot, setting, modulated, value});
    }
    std::vector<Change> changes;
};

std::string labelOf(const ParameterInfo& p)
{
    const char* text = p.label;
    return text ? text : "";
}

// All 18 slots, initialised in slot order as the synth core does.
struct Slots
{
    Slots()
    {
        for (size_t s = 0; s < AutomSlot::kSlots; ++s)
            slots[s].initParameters(s, &listener);
    }
    RecordingSlotListener listener;
    AutomSlot slots[AutomSlot::kSlots];
};

}  // namespace

TEST(AutomSlot, InitialisedZonesHoldTheDefaults)
{
    Slots all;
    const AutomSlot& step = all.slots[0];
    for (size_t g = 0; g < AutomSlot::kGroups; ++g) {
        const AutomSlotZone& z = step.zone(g);
        EXPECT_EQ(z.stepLength(), 0.0625f);
        for (uint64_t v = 0; v < AutomSlotZone::kVoices; ++v) {
            EXPECT_EQ(z.speed(v), 1.0f);
            EXPECT_EQ(z.stepFraction(v), 0.0625f);
            EXPECT_EQ(z.frame(v), 0u);
        }
        EXPECT_EQ(z.loopIn(), 0u);
        EXPECT_EQ(z.loopOut(), 31u);
        EXPECT_EQ(z.rampIncrement(), 1.0f);
        EXPECT_EQ(z.delay(), 0);
        EXPECT_EQ(z.slotIndex(), 0u);
    }
    EXPECT_EQ(step.timeBase(), 0);
    EXPECT_EQ(step.stepCount(), 32u);

    const AutomSlot& envelope = all.slots[15];
    EXPECT_EQ(envelope.timeBase(), 1);
    EXPECT_EQ(envelope.zone(2).loopOut(), 0u);
    EXPECT_EQ(envelope.zone(2).slotIndex(), 15u);
    EXPECT_TRUE(all.listener.changes.empty());
}

TEST(AutomSlot, PublishedDescriptions)
{
    Slots all;
    std::vector<ParameterInfo> infos;
    all.slots[0].collectParameterInfos(infos);
    struct
    {
        const char* label;
        uint16_t index;
        uint32_t type;
        float min, max, def;
        uint8_t flags, math;
        uint16_t modulation;
    } const kStep0[] = {
        {"Step0 Frame", 1, ParameterInfo::Integer, 0, 128, 0, 0x13, 3, 0x401},
        {"Step0 Speed", 6, ParameterInfo::Continuous, 0.25f, 8, 1, 0x13, 2, 0x401},
        {"Step0 LoopIn", 9, ParameterInfo::Integer, 0, 31, 0, 0x03, 3, 0x001},
        {"Step0 LoopOut", 10, ParameterInfo::Integer, 0, 31, 31, 0x03, 3, 0x001},
        {"Step0 Delay", 11, ParameterInfo::Integer, 0, 255, 0, 0x03, 3, 0x401},
        {"Step0 Ramp", 13, ParameterInfo::Integer, 0, 1023, 0, 0x03, 3, 0x401},
    };
    ASSERT_EQ(infos.size(), std::size(kStep0));
    for (size_t i = 0; i < infos.size(); ++i) {
        const ParameterInfo& p = infos[i];
        const auto& want = kStep0[i];
        EXPECT_EQ(labelOf(p), want.label);
        EXPECT_EQ(p.index, want.index) << want.label;
        EXPECT_EQ(p.type, want.type) << want.label;
        EXPECT_EQ(p.minValue, want.min) << want.label;
        EXPECT_EQ(p.maxValue, want.max) << want.label;
        EXPECT_EQ(p.defaultValue, want.def) << want.label;
        EXPECT_EQ(p.flags, want.flags) << want.label;
        EXPECT_EQ(p.mathFlags, want.math) << want.label;
        EXPECT_EQ(p.modFlags, want.modulation) << want.label;
    }

    infos.clear();
    all.slots[15].collectParameterInfos(infos);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(labelOf(infos[0]), "EG0 Speed");
    EXPECT_EQ(infos[0].index, 246);
    EXPECT_EQ(labelOf(infos[1]), "EG0 Delay");
    EXPECT_EQ(infos[1].index, 251);
    // Envelope loop points keep the empty description.
    EXPECT_TRUE(all.slots[15].description(AutomSlot::kLoopOut).label == nullptr);
    EXPECT_EQ(all.slots[15].description(AutomSlot::kLoopOut).maxValue, 1.0f);

    infos.clear();
    for (const AutomSlot& s : all.slots)
        s.collectParameterInfos(infos);
    EXPECT_EQ(infos.size(), 96u);
    EXPECT_EQ(labelOf(infos[95]), "EG2 Delay");
    EXPECT_EQ(labelOf(infos.at(14 * 6 + 5)), "Step14 Ramp");
}

TEST(AutomSlot, Settings)
{
    Slots all;
    AutomSlot& s = all.slots[2];

    s.setParameter(AutomSlot::kStepCount, 16.0f);
    EXPECT_EQ(s.description(AutomSlot::kLoopIn).maxValue, 15.0f);
    EXPECT_EQ(s.description(AutomSlot::kLoopOut).maxValue, 15.0f);
    EXPECT_EQ(s.zone(0).loopOut(), 31u);  // applied loop points stay
    s.setParameter(AutomSlot::kLoopOut, 20.0f);
    EXPECT_EQ(s.zone(3).loopOut(), 15u);  // the next write is clamped

    s.setParameter(AutomSlot::kNumerator, 0.4f);
    EXPECT_EQ(s.getParameter(AutomSlot::kNumerator), 1.0f);
    s.setParameter(AutomSlot::kSpeed, 2.0f);
    s.setParameter(AutomSlot::kDenominator, 3.0f);
    for (size_t g = 0; g < AutomSlot::kGroups; ++g) {
        EXPECT_EQ(s.zone(g).stepLength(), 1.0f / 3.0f);
        EXPECT_EQ(s.zone(g).stepFraction(7), (1.0f / 3.0f) / 2.0f);
    }

    s.setParameter(AutomSlot::kSpeed, 10.0f);
    EXPECT_EQ(s.getParameter(AutomSlot::kSpeed), 10.0f);
    EXPECT_EQ(s.zone(1).speed(0), 8.0f);

    s.setParameter(AutomSlot::kSwing, 50.0f);
    EXPECT_EQ(s.getParameter(AutomSlot::kSwing), 0.5f);
    EXPECT_EQ(s.swing(), 0.5f);

    s.setParameter(AutomSlot::kFrame, 3.7f);
    EXPECT_EQ(s.getParameter(AutomSlot::kFrame), 3.7f);
    EXPECT_EQ(s.zone(0).frame(11), 3u);

    s.setParameter(AutomSlot::kDelay, 2.0f);
    EXPECT_EQ(s.zone(2).delay(), 2);
    s.setParameter(AutomSlot::kRamp, 4.0f);
    EXPECT_EQ(s.zone(2).rampIncrement(), 0.25f);
    s.setParameter(AutomSlot::kLoopMode, 2.9f);
    EXPECT_EQ(s.loopMode(), 2);
    s.setParameter(AutomSlot::kTriggerMode, 3.0f);
    EXPECT_EQ(s.getParameter(AutomSlot::kTriggerMode), 3.0f);

    // Switching on belongs to the synth core; 3 and above 14 are no settings.
    s.setParameter(AutomSlot::kOn, 1.0f);
    EXPECT_EQ(s.getParameter(AutomSlot::kOn), 0.0f);
    s.setActive(1);
    EXPECT_EQ(s.getParameter(AutomSlot::kOn), 1.0f);
    s.setParameter(3, 5.0f);
    s.setParameter(15, 5.0f);
    EXPECT_EQ(s.getParameter(3), 0.0f);
    EXPECT_EQ(s.getParameter(15), 0.0f);
    EXPECT_TRUE(all.listener.changes.empty());
}

TEST(AutomSlot, RampIncrementFromTheZone)
{
    Slots all;
    AutomSlotZone& z = all.slots[0].zone(0);
    const struct
    {
        float value, increment;
    } kCases[] = {{0.0f, 1.0f}, {-1.0f, 1.0f}, {4.0f, 0.25f}, {1.0f, 1.0f}};
    for (const auto& c : kCases) {
        z.applyParameterAction(0, AutomSlot::kRamp, c.value, false);
        EXPECT_EQ(z.rampIncrement(), c.increment) << c.value;
    }
}

TEST(AutomSlot, FindZoneActions)
{
    Slots all;
    EXPECT_EQ(all.slots[3].findZoneActions(2, "STEP3 LOOPIN"), &all.slots[3].zone(2).loopInAction);
    EXPECT_EQ(all.slots[3].findZoneActions(0, "STEP3 SPEED"), &all.slots[3].zone(0).speedActions);
    EXPECT_EQ(all.slots[3].findZoneActions(1, "STEP3 FRAME"), &all.slots[3].zone(1).frameActions);
    EXPECT_EQ(all.slots[3].findZoneActions(3, "STEP3 RAMP"), &all.slots[3].zone(3).rampAction);
    EXPECT_EQ(all.slots[17].findZoneActions(1, "EG2 DELAY"), &all.slots[17].zone(1).delayAction);
    EXPECT_TRUE(all.slots[16].findZoneActions(0, "EG1 LOOPIN") == nullptr);
    EXPECT_TRUE(all.slots[3].findZoneActions(0, "STEP3 LOOPI") == nullptr);
    EXPECT_TRUE(all.slots[3].findZoneActions(0, "Step3 LoopIn") == nullptr);  // upper case only
    EXPECT_TRUE(all.slots[3].findZoneActions(4, "STEP3 LOOPIN") == nullptr);
    EXPECT_TRUE(all.slots[4].findZoneActions(0, "STEP3 LOOPIN") == nullptr);
}

TEST(AutomSlot, ModulatedValuesAreReportedAndBindingsClear)
{
    Slots all;
    AutomSlot& s = all.slots[5];
    MIDI7Modulator source;
    ModRoute route;
    route.source = &source;
    s.zone(1).speedActions[4].addRoute(route);
    source.writeMidi(127);  // 1.0 + 1.0 x 8 clamps to 8
    ASSERT_EQ(all.listener.changes.size(), 1u);
    EXPECT_EQ(all.listener.changes[0], (Change{5, AutomSlot::kSpeed, 1, 8.0f}));
    EXPECT_EQ(s.zone(1).speed(4), 8.0f);
    EXPECT_EQ(s.zone(1).stepFraction(4), 0.0625f / 8.0f);

    s.clearActionBindings();
    EXPECT_TRUE(source.listeners().empty());
    EXPECT_EQ(s.zone(1).speed(4), 1.0f);
}

TEST(AutomSlot, BadValuesStayInRange)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    Slots all;
    AutomSlot& s = all.slots[1];
    struct
    {
        uint32_t setting;
        float value;
        float readBack;
    } const kCases[] = {
        {AutomSlot::kLoopMode, nan, 0.0f},
        {AutomSlot::kTimeBase, -inf, float(std::numeric_limits<int32_t>::min())},
        {AutomSlot::kStepCount, -1.0f, 0.0f},
        {AutomSlot::kStepCount, nan, 0.0f},
        {AutomSlot::kStepCount, 1e30f, float(std::numeric_limits<uint64_t>::max())},
        {AutomSlot::kNumerator, nan, 1.0f},
        {AutomSlot::kNumerator, -5.0f, 1.0f},
        {AutomSlot::kDenominator, 1e30f, float(std::numeric_limits<int32_t>::max())},
        {AutomSlot::kDelay, -3.0f, -3.0f},
        {AutomSlot::kTriggerMode, nan, 0.0f},
        {AutomSlot::kRamp, 1e12f, float(std::numeric_limits<int32_t>::max())},
        {AutomSlot::kSwing, nan, 0.0f},
        {AutomSlot::kSwing, inf, 0.0f},
        {AutomSlot::kSpeed, nan, 1.0f},
    };
    for (const auto& c : kCases) {
        s.setParameter(c.setting, c.value);
        EXPECT_EQ(s.getParameter(c.setting), c.readBack) << c.setting << " " << c.value;
    }
    const AutomSlotZone& z = s.zone(0);
    EXPECT_EQ(z.delay(), 0);
    EXPECT_EQ(z.rampIncrement(), 1.0f / 1023.0f);
    EXPECT_GT(z.stepLength(), 0.0f);
    EXPECT_EQ(z.speed(0), 1.0f);
    s.setParameter(AutomSlot::kDelay, 1e9f);
    EXPECT_EQ(z.delay(), 255);
    s.setParameter(AutomSlot::kFrame, -7.0f);
    EXPECT_EQ(z.frame(0), 0u);
    s.setParameter(AutomSlot::kFrame, nan);
    EXPECT_EQ(z.frame(0), 0u);
    EXPECT_EQ(s.getParameter(AutomSlot::kFrame), -7.0f);
}
