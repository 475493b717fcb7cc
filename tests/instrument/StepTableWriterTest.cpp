// The step-table writers on the controller's own synth: loop points, clamping, step counts and
// the slot parameters they set.
#include "SIDCtrlDoubles.h"

#include "instrument/StepTableWriter.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace sidctrl_test;
constexpr uint64_t kNone = StepTableWriters::kNoLoopPoint;

// The slot parameters reported for `slot`, as (parameter, value) in order.
std::vector<std::pair<uint32_t, float>> slotReports(const RecordingListener& listener, uint64_t slot)
{
    std::vector<std::pair<uint32_t, float>> out;
    for (const Report& r : listener.reports)
        if (r.what == "slot" && r.a == slot)
            out.emplace_back(r.n, r.value);
    return out;
}

float reported(const RecordingListener& listener, uint64_t slot, uint32_t parameter)
{
    float value = -1.0f;
    for (auto [p, v] : slotReports(listener, slot))
        if (p == parameter)
            value = v;
    return value;
}

class StepTableWriter : public ::testing::Test
{
protected:
    StepTableRig rig;
    ZRS::SynthBase& synth() { return *rig.ctrl; }
};

TEST_F(StepTableWriter, FoundLoopEndsTheStoredSteps)
{
    writeStepTableUnsigned(synth(), 3, {5, 5, 1, 2, 1, 2, 1, 2}, false, 0, 255, 7, 2, kNone, kNone, 1.0f);
    EXPECT_EQ(rig.steps(3, 6), (std::vector<int>{5, 5, 1, 2, 0, 0}));
    EXPECT_EQ(reported(rig.listener, 3, 9), 2.0f);
    EXPECT_EQ(reported(rig.listener, 3, 10), 3.0f);
    EXPECT_EQ(reported(rig.listener, 3, 5), 4.0f);
    EXPECT_EQ(reported(rig.listener, 3, 2), 2.0f);
    EXPECT_EQ(rig.highestStep(3), 3);
    EXPECT_EQ(rig.usedSize(3), 65u + 3u);
    EXPECT_EQ(rig.flags(3) & 8, 8u);
}

TEST_F(StepTableWriter, TrackWithoutLoopPlaysOnceOnlyWhenAsked)
{
    for (bool once : {false, true}) {
        rig.listener.reports.clear();
        writeStepTableSigned(synth(), 0, {1, 2, 3, 4, 5}, once, -128, 127, 4, 1, kNone, kNone, 1.0f);
        EXPECT_EQ(reported(rig.listener, 0, 2), once ? 0.0f : 2.0f);
        EXPECT_EQ(reported(rig.listener, 0, 9), 4.0f);
        EXPECT_EQ(reported(rig.listener, 0, 10), 4.0f);
        EXPECT_EQ(rig.steps(0, 6), (std::vector<int>{1, 2, 3, 4, 5, 0}));
    }
}

TEST_F(StepTableWriter, SlotsAbove14AreIgnored)
{
    rig.listener.reports.clear();
    writeStepTableBits(synth(), 15, {true, false, true}, false, 0, 1, 2, 2, kNone, kNone, 1.0f);
    writeStepTableInt32(synth(), 17, {1, 2, 3}, false, 0, 1, 2, 2, kNone, kNone, 1.0f);
    for (const Report& r : rig.listener.reports)
        EXPECT_NE(r.what, "slot") << r.a << " " << r.n;
    writeStepTableBits(synth(), 14, {true, false, true}, false, 0, 1, 2, 2, kNone, kNone, 1.0f);
    EXPECT_EQ(slotReports(rig.listener, 14).size(), 13u);
}

TEST_F(StepTableWriter, ValuesAreClampedToTheirRange)
{
    writeStepTableInt16(synth(), 1, {300, -300, 5}, false, -128, 127, 2, 2, kNone, kNone, 1.0f);
    EXPECT_EQ(rig.steps(1, 3), (std::vector<int>{127, 0x80, 5}));
    writeStepTableInt32(synth(), 2, {-5, 70000, 3}, false, 0, 100, 2, 2, kNone, kNone, 1.0f);
    EXPECT_EQ(rig.steps(2, 3), (std::vector<int>{0, 100, 3}));
    // A rewrite clears what the slot held before.
    writeStepTableInt32(synth(), 2, {9}, false, 0, 100, 0, 2, kNone, kNone, 1.0f);
    EXPECT_EQ(rig.steps(2, 3), (std::vector<int>{9, 0, 0}));
    EXPECT_EQ(rig.usedSize(2), 65u);
}

TEST_F(StepTableWriter, StepCountIsAPowerOfTwoOfAtLeastFour)
{
    struct Case
    {
        uint32_t mode;
        uint64_t last, in, out;
        float steps;
    };
    // Mode 1 stores lastIndex steps, the others up to the loop's end.
    const Case cases[] = {{1, 0, 0, 0, 4}, {2, 0, 0, 0, 4}, {2, 9, 0, 4, 8}, {2, 20, 0, 15, 16},
                          {1, 17, 0, 3, 32}};
    const std::vector<uint8_t> values(30, 1);
    for (const Case& c : cases) {
        rig.listener.reports.clear();
        writeStepTableUnsigned(synth(), 4, values, false, 0, 255, c.last, c.mode, c.in, c.out, 1.0f);
        EXPECT_EQ(reported(rig.listener, 4, 5), c.steps) << c.last << " " << c.out;
        EXPECT_EQ(reported(rig.listener, 4, 2), float(c.mode));
    }
}

TEST_F(StepTableWriter, ParametersInTheirOrder)
{
    writeStepTableInt16(synth(), 6, {1, 2, 3, 1, 2, 3, 1, 2, 3}, false, -128, 127, 8, 2, kNone, kNone, 0.25f);
    const std::vector<std::pair<uint32_t, float>> want = {
        {0, 1.0f}, {1, 0.0f}, {2, 2.0f}, {4, 1.0f}, {5, 4.0f}, {6, 0.25f}, {7, 1.0f},
        {8, 96.0f}, {9, 0.0f}, {10, 2.0f}, {11, 0.0f}, {12, 0.0f}, {13, 0.0f}};
    EXPECT_EQ(slotReports(rig.listener, 6), want);
    EXPECT_EQ(rig.usedSize(6), 65u + 2u);
}

}  // namespace
