#include "support/QuantumManager.h"
#include "synth/AutomSlot.h"
#include "synth/AutomTables.h"
#include "synth/ModAction.h"
#include "synth/ParameterAction.h"
#include "synth/PitchProvider.h"
#include "synth/SyncProvider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <vector>

using namespace ZRS;

namespace {

constexpr double kRate = 44100.0;
constexpr uint64_t kBig = uint64_t(1) << 40;
constexpr uint64_t kStepSlot = 0;
constexpr uint64_t kEnvelopeSlot = 15;

class FakeSync : public SyncProvider
{
public:
    float getTempo() override { return tempo; }
    float getSyncValueA() override { return hostTempo; }
    float getSyncValueB() override { return position; }
    float getSyncValueC() override { return barStart; }
    float tempo = 125.0f;
    float hostTempo = 120.0f;
    float position = 0.0f;
    float barStart = 0.0f;
};

class FakePitch : public PitchProvider
{
public:
    float voiceFrequency(uint64_t, int64_t) override { return hz; }
    float hz = 440.0f;
};

// Records the value the modulator holds whenever it tells its listeners.
class ValueRecorder : public ModListener
{
public:
    void modulatorValueChanged(Modulator* source, bool reset) override
    {
        values.push_back(source->getValue());
        resets.push_back(reset);
    }
    void modulatorActiveChanged(Modulator*, uint8_t active, uint8_t extra) override
    {
        activity.push_back(active * 10 + extra);
    }
    std::vector<float> values;
    std::vector<bool> resets;
    std::vector<int> activity;
};

// Step table whose step i holds i & 127, bounds 0..127.
std::vector<uint8_t> stepTable()
{
    std::vector<uint8_t> r(kStepTableSize);
    writeDefaultStepTable(r.data(), r.size());
    for (size_t i = 0; i < kStepTableSteps; ++i)
        r[kStepTableStepsOffset + i] = uint8_t(i & 127);
    return r;
}

std::vector<uint8_t> defaultEnvelope()
{
    std::vector<uint8_t> r(kEnvelopeSize);
    writeDefaultEnvelope(r.data(), r.size());
    return r;
}

std::vector<uint8_t> envelope(std::initializer_list<EnvelopeStage> stages)
{
    std::vector<uint8_t> r = defaultEnvelope();
    const uint32_t n = uint32_t(stages.size());
    std::memcpy(&r[kEnvelopeCountOffset], &n, 4);
    size_t at = kEnvelopeStagesOffset;
    for (const EnvelopeStage& s : stages) {
        std::memcpy(&r[at], &s.time, 4);
        std::memcpy(&r[at + 4], &s.level, 4);
        std::memcpy(&r[at + 8], &s.curve, 4);
        r[at + 12] = s.shape;
        at += kEnvelopeStageSize;
    }
    return r;
}

TableRecord recordOf(const std::vector<uint8_t>& bytes)
{
    return TableRecord{bytes.data(), bytes.size()};
}

// One action of one slot on a scheduler at 44100, voice 0 recorded.
class ActionFixture : public ::testing::Test
{
protected:
    void make(const std::vector<uint8_t>& table, uint64_t slotIndex, size_t voices = 12,
              uint8_t polarity = 0)
    {
        while (!qm.getEntries().empty())
            qm.cancel(qm.getEntries().front().timer);
        recorder = ValueRecorder();
        slot.initParameters(slotIndex, nullptr);
        action.reset();
        bytes = table;  // the record outlives the action
        action = std::make_unique<ModAction>(voices, recordOf(bytes), polarity);
        action->bind(0, &slot, &slot.zone(0), &sync, &pitch);
        qm.setRate(kRate);
    }

    ModActionVoice& voice(uint64_t i = 0) { return *action->voiceAt(i); }

    // Switches the voices on (which starts them) and schedules voice 0.
    void start()
    {
        voice().addListener(&recorder);
        action->setAllVoicesActive(1);
        qm.addTimer(&voice(), (0 << 8) | slot.zone(0).slotIndex());
    }

    // Fires the next n timer calls; returns the tick of each.
    std::vector<uint64_t> fire(size_t n)
    {
        std::vector<uint64_t> ticks;
        while (ticks.size() < n) {
            if (qm.isFrontFired())
                ticks.push_back(qm.getNow());
            qm.advance(kBig);
        }
        return ticks;
    }

    FakeSync sync;
    FakePitch pitch;
    ValueRecorder recorder;
    AutomSlot slot;
    std::vector<uint8_t> bytes;
    std::unique_ptr<ModAction> action;
    vantor::QuantumManager qm;
};

std::vector<float> range(int from, int to)
{
    std::vector<float> out;
    for (int i = from; i <= to; ++i)
        out.push_back(float(i));
    return out;
}

std::vector<uint64_t> differences(const std::vector<uint64_t>& ticks)
{
    std::vector<uint64_t> out;
    for (size_t i = 1; i < ticks.size(); ++i)
        out.push_back(ticks[i] - ticks[i - 1]);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Construction and the action's own operations

TEST(ModAction, VoicesFollowTheRecordKind)
{
    const std::vector<uint8_t> steps = stepTable();
    const std::vector<uint8_t> curve = defaultEnvelope();
    std::vector<uint8_t> other(64, 0);
    ModAction a(3, recordOf(steps), 1), b(2, recordOf(curve), 1), c(4, recordOf(other), 0),
        d(40, recordOf(steps), 0), e(5, TableRecord{}, 0);
    EXPECT_EQ(a.voiceCount(), 3u);
    EXPECT_EQ(a.voiceAt(0)->getRangeKind(), kRawScale);
    EXPECT_EQ(b.voiceAt(1)->getRangeKind(), kBipolar);
    EXPECT_EQ(b.voiceAt(1)->getVoiceRangeKind(), kBipolar);
    EXPECT_EQ(c.voiceCount(), 0u);
    EXPECT_TRUE(c.voiceAt(0) == nullptr);
    EXPECT_EQ(d.voiceCount(), ModAction::kMaxVoices);
    EXPECT_EQ(e.voiceCount(), 0u);
    EXPECT_EQ(a.voiceAt(7), a.voiceAt(0));
    EXPECT_EQ(a.voiceAt(2)->voiceIndex(), 2u);
    EXPECT_EQ(&a.voiceAt(2)->owner(), &a);
    EXPECT_EQ(a.voiceGroup(), -1);
    // Operations on an action without voices do nothing.
    c.restartAllVoices();
    c.restartVoice(3);
    c.setVoiceGate(0, 1);
    c.setAllVoicesActive(1);
    EXPECT_EQ(c.startVoiceAtTransport(0, kRate), 0u);
}

TEST_F(ActionFixture, StepLengthsByTimeBase)
{
    make(stepTable(), kStepSlot);
    // 1/16 at speed 1: host tempo 120 -> 0.125 s.
    EXPECT_EQ(action->evaluateVoice(0), 0.0625f * 240.0f / 120.0f);
    slot.setParameter(AutomSlot::kTimeBase, 1.0f);
    EXPECT_EQ(action->evaluateVoice(0), 0.0625f * 240.0f / 125.0f);
    slot.setParameter(AutomSlot::kTimeBase, 2.0f);
    EXPECT_EQ(action->evaluateVoice(0), 0.0625f * 128.0f / 440.0f);
    pitch.hz = 0.5f;  // below 1 Hz counts as 1
    EXPECT_EQ(action->evaluateVoice(0), 0.0625f * 128.0f);
    pitch.hz = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(action->evaluateVoice(0), 0.0625f * 128.0f);

    // A host without a usable tempo falls back to the internal one, and that to 125.
    slot.setParameter(AutomSlot::kTimeBase, 0.0f);
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const struct
    {
        float host, internal, expected;
    } kCases[] = {
        {0.0f, 125.0f, 0.12f},  {-60.0f, 100.0f, 0.15f}, {nan, 125.0f, 0.12f},
        {inf, 125.0f, 0.12f},   {0.0f, 0.0f, 0.12f},     {0.0f, nan, 0.12f},
        {240.0f, 0.0f, 0.0625f},
    };
    for (const auto& c : kCases) {
        sync.hostTempo = c.host;
        sync.tempo = c.internal;
        EXPECT_FLOAT_EQ(action->evaluateVoice(0), c.expected) << c.host << " " << c.internal;
    }
}

TEST_F(ActionFixture, TransportStart)
{
    make(stepTable(), kStepSlot);
    start();
    sync.position = 6.5f;
    sync.barStart = 4.0f;
    recorder.values.clear();
    // 2.5 quarter notes in, 0.25 per step: step 10, then a full step of 0.125 s.
    EXPECT_EQ(action->startVoiceAtTransport(0, kRate), 5513u);
    EXPECT_EQ(recorder.values, (std::vector<float>{10.0f}));
    EXPECT_EQ(voice().position(), 11u);

    // Before the bar start: nothing is touched, fire now.
    recorder.values.clear();
    sync.position = 3.0f;
    EXPECT_EQ(action->startVoiceAtTransport(0, kRate), 0u);
    sync.position = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(action->startVoiceAtTransport(0, kRate), 0u);
    EXPECT_TRUE(recorder.values.empty());
    EXPECT_EQ(voice().position(), 11u);

    // A step of no length fires now and touches no voice either.
    sync.position = 6.5f;
    slot.zone(0).setStepLength(0.0f);
    EXPECT_EQ(action->startVoiceAtTransport(0, kRate), 0u);
    EXPECT_TRUE(recorder.values.empty());

    // Host tempo 0 uses the internal tempo for the step duration.
    slot.zone(0).setStepLength(0.0625f);
    sync.hostTempo = 0.0f;
    EXPECT_EQ(action->startVoiceAtTransport(0, kRate), 5292u);  // 0.12 s
}

TEST_F(ActionFixture, GatesAndActivity)
{
    make(stepTable(), kStepSlot, 3);
    voice(2).addListener(&recorder);
    action->setVoiceGate(2, 1);
    action->setVoiceGate(9, 1);  // beyond: voice 0
    EXPECT_EQ(voice(2).gateValue(), 1);
    EXPECT_EQ(voice(0).gateValue(), 1);
    EXPECT_EQ(voice(1).gateValue(), 0);
    action->setAllVoicesActive(1);
    EXPECT_EQ(recorder.activity, (std::vector<int>{11}));  // active 1, from an action
    EXPECT_EQ(recorder.resets, (std::vector<bool>{true}));  // then started
    EXPECT_EQ(voice(2).isActive(), 1);
    voice(2).setActive(0);
    EXPECT_EQ(recorder.activity, (std::vector<int>{11, 1}));
}

// ---------------------------------------------------------------------------------------------
// Step voices

TEST_F(ActionFixture, StepVoicePlaysItsFrameOnce)
{
    make(stepTable(), kStepSlot);
    slot.setParameter(AutomSlot::kStepCount, 16.0f);
    slot.setParameter(AutomSlot::kFrame, 2.0f);
    start();
    fire(20);
    std::vector<float> expected = {0.0f};  // the start
    for (float v : range(32, 47))
        expected.push_back(v);
    expected.resize(expected.size() + 5, 47.0f);
    EXPECT_EQ(recorder.values, expected);
}

TEST_F(ActionFixture, StepVoiceLoops)
{
    make(stepTable(), kStepSlot);
    slot.setParameter(AutomSlot::kStepCount, 16.0f);
    slot.setParameter(AutomSlot::kFrame, 2.0f);
    slot.setParameter(AutomSlot::kLoopMode, 2.0f);
    slot.setParameter(AutomSlot::kLoopIn, 4.0f);
    slot.setParameter(AutomSlot::kLoopOut, 15.0f);
    start();
    recorder.values.clear();
    fire(29);
    std::vector<float> expected = range(33, 47);
    for (float v : range(36, 47))
        expected.push_back(v);
    expected.push_back(36.0f);
    expected.push_back(37.0f);
    EXPECT_EQ(recorder.values, expected);
}

TEST_F(ActionFixture, StepVoiceLeavesTheLoopAfterRelease)
{
    make(stepTable(), kStepSlot);
    slot.setParameter(AutomSlot::kStepCount, 16.0f);
    slot.setParameter(AutomSlot::kLoopMode, 1.0f);
    slot.setParameter(AutomSlot::kLoopIn, 2.0f);
    slot.setParameter(AutomSlot::kLoopOut, 4.0f);
    action->setVoiceGate(0, 1);
    start();
    recorder.values.clear();
    fire(7);
    EXPECT_EQ(recorder.values, (std::vector<float>{1, 2, 3, 4, 2, 3, 4}));
    action->setVoiceGate(0, 0);
    recorder.values.clear();
    fire(4);
    EXPECT_EQ(recorder.values, (std::vector<float>{2, 5, 6, 7}));
}

TEST_F(ActionFixture, StepDelayAndRamp)
{
    std::vector<uint8_t> table = stepTable();
    for (size_t i = 0; i < 4; ++i)
        table[kStepTableStepsOffset + i] = 100;
    make(table, kStepSlot);
    slot.setParameter(AutomSlot::kDelay, 3.0f);
    slot.setParameter(AutomSlot::kRamp, 4.0f);
    start();
    std::vector<float> ramps{voice().rampLevel()};
    for (int i = 0; i < 6; ++i) {
        fire(1);
        ramps.push_back(voice().rampLevel());
    }
    // Step 0 four times (delay + 1) at a quarter, the ramp growing only once the delay is over.
    EXPECT_EQ(recorder.values,
              (std::vector<float>{0.0f, 25.0f, 25.0f, 25.0f, 25.0f, 50.0f, 75.0f, 100.0f}));
    EXPECT_EQ(ramps, (std::vector<float>{0.25f, 0.25f, 0.25f, 0.5f, 0.75f, 1.0f, 1.0f}));
}

TEST_F(ActionFixture, StepIntervals)
{
    make(stepTable(), kStepSlot);
    start();
    std::vector<uint64_t> ticks{0};
    for (uint64_t t : fire(6))
        ticks.push_back(t);
    // 1/16 at host tempo 120: 5512.5 ticks.
    EXPECT_EQ(differences(ticks), (std::vector<uint64_t>{5513, 5512, 5513, 5512, 5513, 5512}));

    // Swing: the even counter first gets 0.75 of the period, the odd one 1.25.
    make(stepTable(), kStepSlot);
    slot.setParameter(AutomSlot::kSwing, 25.0f);
    action->setAllVoicesActive(1);
    std::vector<uint64_t> swung;
    for (int i = 0; i < 4; ++i)
        swung.push_back(voice().quantumElapsed(&voice(), 0, kRate));
    EXPECT_EQ(swung, (std::vector<uint64_t>{4134, 6891, 4134, 6891}));  // 4134.375, 6890.625

    // An interval that rounds to 0 ticks becomes 1.
    EXPECT_EQ(voice().quantumElapsed(&voice(), 0, 1.0), 1u);
    slot.setParameter(AutomSlot::kSwing, 500.0f);  // even steps get a negative share
    const uint64_t a = voice().quantumElapsed(&voice(), 0, kRate);
    const uint64_t b = voice().quantumElapsed(&voice(), 0, kRate);
    EXPECT_EQ(std::min(a, b), 1u);
}

TEST_F(ActionFixture, StepRangeFromTheTable)
{
    std::vector<uint8_t> table = stepTable();
    const int16_t low = -8, high = 24;
    std::memcpy(&table[kStepTableLowOffset], &low, 2);
    std::memcpy(&table[kStepTableHighOffset], &high, 2);
    make(table, kStepSlot);
    EXPECT_EQ(voice().getMinValue(), -8.0f);
    EXPECT_EQ(voice().getMaxValue(), 24.0f);

    // Equal bounds: a raw-range route still gives finite values.
    std::memcpy(&bytes[kStepTableHighOffset], &low, 2);
    ASSERT_EQ(voice().getMaxValue(), -8.0f);
    ParameterInfo info("Target", ParameterInfo::Continuous, 0.0f, 10.0f, 0.0f, 15, 0);
    struct Sink : ParameterActionListener
    {
        void applyParameterAction(uint64_t, uint16_t, float v, bool) override { last = v; }
        float last = -1.0f;
    } sink;
    ParameterAction target;
    target.configure(0, 1, &info, &sink);
    ModRoute route;
    route.source = &voice();
    route.rawRange = 1;
    target.addRoute(route);
    action->setAllVoicesActive(1);
    voice().quantumElapsed(&voice(), 0, kRate);
    EXPECT_TRUE(std::isfinite(sink.last));
    target.clearRoutes();
}

// ---------------------------------------------------------------------------------------------
// Curve voices

TEST_F(ActionFixture, DefaultEnvelope)
{
    const std::vector<uint8_t> table = defaultEnvelope();
    for (uint8_t polarity : {0, 1}) {
        make(table, kEnvelopeSlot, 12, polarity);
        recorder.values.clear();
        start();
        EXPECT_EQ(recorder.values.front(), polarity ? -1.0f : 0.0f);
    }

    // Unipolar from here: follow the value over time.
    make(table, kEnvelopeSlot, 12, 0);
    start();
    const std::vector<uint64_t> ticks = fire(600);
    const std::vector<float> values(recorder.values.begin() + 2, recorder.values.end());
    ASSERT_EQ(values.size(), ticks.size());
    // The attack runs from the firing that loaded it to the one that hears 1.0: 0.4 s.
    size_t attackStart = 0, top = 0;
    while (values[attackStart + 1] == 0.0f)
        ++attackStart;
    while (values[top] < 1.0f)
        ++top;
    EXPECT_EQ(ticks[top] - ticks[attackStart], 17640u);
    for (size_t i = attackStart + 1; i + 1 < top; ++i) {
        const uint64_t gap = ticks[i + 1] - ticks[i];
        EXPECT_TRUE(gap == 183 || gap == 184) << i << " " << gap;
    }
    // Decay to 0.6 over 0.3 s, then held for 0.3 s.
    const uint64_t settled = ticks[top] + uint64_t(0.3 * kRate) + 200;
    for (size_t i = 0; i < ticks.size(); ++i)
        if (ticks[i] > settled && ticks[i] < settled + 10000) {
            EXPECT_NEAR(values[i], 0.6f, 1e-5) << i;
        }
}

TEST_F(ActionFixture, CurveSegmentEndsAreFiredOn)
{
    make(envelope({{0.0f, 0.0f, 0.0f, kShapeHold}, {0.01f, 1.0f, 0.0f, kShapeLinear},
                   {1.0f, 1.0f, 0.0f, kShapeHold}}),
         kEnvelopeSlot);
    action->setAllVoicesActive(1);
    std::vector<uint64_t> intervals;
    for (int i = 0; i < 5; ++i)
        intervals.push_back(voice().quantumElapsed(&voice(), 0, kRate));
    // 184: stage 0 had no length; 441 ticks of attack: 184, 183, then the 74 it still had.
    EXPECT_EQ(intervals, (std::vector<uint64_t>{184, 184, 183, 74, 184}));
    EXPECT_EQ(voice().getValue(), 1.0f);
    EXPECT_EQ(voice().position(), 2u);
}

TEST_F(ActionFixture, CurveStageForms)
{
    // Level above 1 ramps to 1.0; a move below 0.001 holds; a flat exponential runs linear.
    make(envelope({{0.0f, 0.0f, 0.0f, kShapeHold},
                   {0.1f, 1.5f, 0.0f, kShapeLinear},
                   {0.1f, 1.0005f, 0.0f, kShapeLinear},
                   {0.1f, 0.0f, 0.00005f, kShapeExponential}}),
         kEnvelopeSlot);
    start();
    const auto& curve = static_cast<const CurveActionVoice&>(voice());
    std::vector<uint64_t> ticks;
    std::vector<uint8_t> shapes;
    while (ticks.size() < 100) {
        ticks.push_back(fire(1).front());
        shapes.push_back(curve.segment().shape);
    }
    const std::vector<float> values(recorder.values.begin() + 2, recorder.values.end());
    ASSERT_EQ(values.size(), ticks.size());
    size_t top = 0;
    while (values[top] < 1.0f)
        ++top;
    EXPECT_EQ(ticks[top] - ticks[0], 4410u);
    EXPECT_EQ(shapes[top], kShapeHold);  // the 1.0005 stage
    for (size_t i = 0; i < values.size(); ++i)
        EXPECT_LE(values[i], 1.0f) << i;
    size_t fall = top;
    while (values[fall] == 1.0f)
        ++fall;
    EXPECT_EQ(ticks[fall - 1] - ticks[top], 4410u);
    EXPECT_EQ(shapes[fall], kShapeLinear);  // curve 0.00005 on shape 10
    for (size_t i = fall; i < fall + 10; ++i) {
        const double slope = (values[i] - values[i + 1]) / double(ticks[i + 1] - ticks[i]);
        EXPECT_NEAR(slope, 1.0 / 4410.0, 1e-7) << i;
    }
}

TEST_F(ActionFixture, CurveLoopModeOneCyclesWhileHeld)
{
    make(envelope({{0.01f, 0.2f, 0.0f, kShapeLinear},
                   {0.01f, 0.8f, 0.0f, kShapeLinear},
                   {0.01f, 0.5f, 0.0f, kShapeLinear},
                   {0.01f, 0.1f, 0.0f, kShapeLinear}}),
         kEnvelopeSlot);
    slot.setParameter(AutomSlot::kLoopMode, 1.0f);
    slot.setParameter(AutomSlot::kLoopOut, 1.0f);
    action->setVoiceGate(0, 1);
    start();
    std::vector<uint64_t> positions;
    auto record = [&](int firings) {
        for (int i = 0; i < firings; ++i) {
            fire(1);
            if (positions.empty() || positions.back() != voice().position())
                positions.push_back(voice().position());
        }
    };
    record(40);
    ASSERT_GE(positions.size(), 10u);
    for (size_t i = 0; i < positions.size(); ++i)
        EXPECT_EQ(positions[i], i % 2 == 0 ? 1u : 0u) << i;
    // Released: on past loop out to the last stage.
    action->setVoiceGate(0, 0);
    positions.clear();
    record(20);
    ASSERT_EQ(positions.size(), 3u);
    EXPECT_LE(positions[0], 1u);
    EXPECT_EQ(positions[1], 2u);
    EXPECT_EQ(positions[2], 3u);
}

TEST_F(ActionFixture, CurveDelayUsesTheStepLength)
{
    make(defaultEnvelope(), kEnvelopeSlot);
    slot.setParameter(AutomSlot::kDelay, 2.0f);
    action->setAllVoicesActive(1);
    EXPECT_EQ(voice().delayCounter(), 2);
    // 0.12 s truncated: 0.12f x 44100 is 5291.9999.
    EXPECT_EQ(voice().quantumElapsed(&voice(), 0, kRate), 5291u);
    EXPECT_EQ(voice().quantumElapsed(&voice(), 0, kRate), 5291u);
    EXPECT_EQ(voice().quantumElapsed(&voice(), 0, kRate), 184u);
}

// ---------------------------------------------------------------------------------------------
// Outside records and values

TEST(AutomTables, ViewsStayInsideTheRecord)
{
    std::vector<uint8_t> env = defaultEnvelope();
    const struct
    {
        uint32_t stored, counted;
    } kCounts[] = {{0, 0}, {1, 1}, {256, 256}, {257, 256}, {0xFFFFFFFFu, 256}};
    for (const auto& c : kCounts) {
        std::memcpy(&env[kEnvelopeCountOffset], &c.stored, 4);
        EXPECT_EQ(EnvelopeView(recordOf(env)).stageCount(), c.counted) << c.stored;
    }
    // A short record holds fewer stages than it claims.
    EXPECT_EQ(EnvelopeView(TableRecord{env.data(), kEnvelopeStagesOffset + 3 * 16 + 5})
                  .stageCount(),
              3u);
    EXPECT_EQ(EnvelopeView(TableRecord{env.data(), 30}).stageCount(), 0u);
    EXPECT_EQ(EnvelopeView(TableRecord{env.data(), 3}).stageCount(), 0u);
    EXPECT_EQ((TableRecord{env.data(), 3}.kind()), 0u);

    const float nan = std::numeric_limits<float>::quiet_NaN();
    std::memcpy(&env[kEnvelopeStagesOffset + 4], &nan, 4);
    EXPECT_EQ(EnvelopeView(recordOf(env)).stage(0).level, 0.0f);
    EXPECT_EQ(EnvelopeView(recordOf(env)).stage(300).shape, kShapeHold);

    std::vector<uint8_t> steps = stepTable();
    const StepTableView full(recordOf(steps));
    EXPECT_EQ(full.low(), 0);
    EXPECT_EQ(full.high(), 127);
    EXPECT_EQ(full.step(16384 + 5), 5);
    const StepTableView shortView(TableRecord{steps.data(), 100});
    EXPECT_EQ(shortView.step(35), 35);
    EXPECT_EQ(shortView.step(36), 0);
    EXPECT_EQ(StepTableView(TableRecord{steps.data(), 34}).high(), 0);

    // Default writers refuse short records.
    std::vector<uint8_t> small(100, 0xAA);
    EXPECT_FALSE(writeDefaultStepTable(small.data(), small.size()));
    EXPECT_FALSE(writeDefaultEnvelope(small.data(), small.size()));
    EXPECT_EQ(small[0], 0xAA);
}

TEST(AutomTables, DefaultRecords)
{
    std::vector<uint8_t> env(kEnvelopeSize, 0xFF);
    ASSERT_TRUE(writeDefaultEnvelope(env.data(), env.size()));
    uint32_t word = 0;
    std::memcpy(&word, &env[12], 4);
    EXPECT_EQ(word, 0xFFFFFFFEu);  // bit 0 cleared, bit 4 set
    const EnvelopeView view(recordOf(env));
    EXPECT_EQ(recordOf(env).kind(), kEnvelopeKind);
    ASSERT_EQ(view.stageCount(), 5u);
    EXPECT_EQ(view.stage(2).curve, -10.3616f);
    EXPECT_EQ(view.stage(2).shape, kShapeExponential);
    EXPECT_EQ(view.stage(4).time, 1.0f);
    EXPECT_EQ(env[kEnvelopeSize - 1], 0);

    std::vector<uint8_t> steps(kStepTableSize, 0x11);
    ASSERT_TRUE(writeDefaultStepTable(steps.data(), steps.size()));
    std::memcpy(&word, &steps[32], 4);
    EXPECT_EQ(word, 0x007F0000u);
    EXPECT_EQ(steps[kStepTableSize - 1], 0);
    EXPECT_EQ(steps[20], 0x11);
}

TEST_F(ActionFixture, OutsideStageCountsAreRead)
{
    for (uint32_t count : {0u, 1u, 256u, 257u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> table = defaultEnvelope();
        std::memcpy(&table[kEnvelopeCountOffset], &count, 4);
        make(table, kEnvelopeSlot, 2, 1);
        action->setAllVoicesActive(1);
        for (int i = 0; i < 2000; ++i) {
            const uint64_t t = voice().quantumElapsed(&voice(), 0, kRate);
            ASSERT_GE(t, 1u);
            ASSERT_LE(t, 184u);
        }
        EXPECT_TRUE(std::isfinite(voice().getValue()));
        if (count == 0) {
            EXPECT_EQ(voice().getValue(), -1.0f);  // stays at its start
        }
    }
}

TEST_F(ActionFixture, OutsideSlotValuesKeepTheTimersFinite)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float v : {nan, -1.0f, 1e30f, -1e30f}) {
        make(stepTable(), kStepSlot);
        for (uint32_t setting = 1; setting <= 14; ++setting)
            slot.setParameter(setting, v);
        sync.hostTempo = v;
        sync.tempo = v;
        sync.position = v;
        action->setAllVoicesActive(1);
        action->startVoiceAtTransport(0, kRate);
        for (int i = 0; i < 50; ++i)
            EXPECT_GE(voice().quantumElapsed(&voice(), 0, kRate), 1u);
        EXPECT_TRUE(std::isfinite(voice().getValue()));
    }
}
