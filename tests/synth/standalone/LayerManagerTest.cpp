// The layer manager builds its actions from the process-wide generic descriptions.
#include "platform/ParameterInfo.h"
#include "support/QuantumManager.h"
#include "synth/LayerManager.h"
#include "synth/Modulator.h"
#include "synth/support/LayerTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using namespace ZRS;
using ZRS::test::RecordingLayerListener;
using ZRS::test::TestPatch;

namespace {

constexpr double kRate = 44100.0;
constexpr uint64_t kBig = uint64_t(1) << 40;

class LayerManagerTest : public ::testing::Test
{
protected:
    LayerManagerTest() { lm.setPatch(new TestPatch); }

    void setUp(uint32_t options = 0)
    {
        lm.setupLayers(&listener, options);
        listener.take();
        listener.maskAsked.clear();
    }

    LayerBase& layer(size_t i) { return *lm.patch()->layers[i]; }

    std::vector<std::string> take() { return listener.take(); }

    // One period of the 240 Hz timer.
    void tick(int periods = 1)
    {
        for (int i = 0; i < periods; ++i)
            lm.quantumElapsed(&lm, LayerManager::kTimerCookie, kRate);
    }

    RecordingLayerListener listener;
    LayerManager lm;
};

std::vector<std::string> repeated(const char* what, uint64_t layer, size_t voices)
{
    std::vector<std::string> out;
    for (size_t v = 0; v < voices; ++v)
        out.push_back(std::string(what) + " " + std::to_string(v) + " " + std::to_string(layer));
    return out;
}

int labelled(const std::vector<ParameterInfo>& table)
{
    int n = 0;
    for (const ParameterInfo& p : table)
        n += p.label != nullptr;
    return n;
}

std::string labelOf(const ParameterInfo& p)
{
    const char* text = p.label;
    return text ? text : "";
}

// Whether a recorded per-voice call ("what voice layer [note]") names the layer.
bool mentionsLayer(const std::string& call, uint64_t layer)
{
    std::vector<std::string> tokens;
    size_t at = 0;
    while (at <= call.size()) {
        const size_t end = std::min(call.find(' ', at), call.size());
        tokens.push_back(call.substr(at, end - at));
        at = end + 1;
    }
    static const char* const kVoiceCalls[] = {"pitch", "params", "start",  "release",
                                              "amp",   "retrig", "trigger"};
    for (const char* what : kVoiceCalls)
        if (tokens[0] == what)
            return tokens.size() >= 3 && tokens[2] == std::to_string(layer);
    return false;
}

// A raw-range source, so that route values are the written value itself.
class RawSource : public MIDI7ModulatorRaw
{
};

}  // namespace

// ---------------------------------------------------------------------------------------------
// Set-up and parameters

TEST_F(LayerManagerTest, SetupTakesTheMaskAndAppliesEveryDefault)
{
    lm.setupLayers(&listener, 0);
    EXPECT_EQ(lm.parameterMask(), 31u);
    const std::vector<std::string> calls = take();
    ASSERT_EQ(calls.size(), 4u * 12u * 5u);
    // Detune, transpose, fixed frequency (pitch), then amp and amp steps (parameters).
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 5),
              (std::vector<std::string>{"pitch 0 0", "pitch 0 0", "pitch 0 0", "params 0 0",
                                        "params 0 0"}));
    for (uint64_t l = 0; l < 4; ++l) {
        EXPECT_EQ(lm.voiceCount(l), 12u);
        for (uint64_t v = 0; v < 12; ++v) {
            EXPECT_EQ(lm.appliedValue(l, LayerManager::kDetune, v), 0.0f);
            EXPECT_EQ(lm.appliedValue(l, LayerManager::kTranspose, v), 0.0f);
            EXPECT_EQ(lm.appliedValue(l, LayerManager::kFixedFrequency, v), 0.0f);
            EXPECT_EQ(lm.appliedValue(l, LayerManager::kAmp, v), 1.0f);
            EXPECT_EQ(lm.appliedValue(l, LayerManager::kAmpSteps, v), 127.0f);
            EXPECT_EQ(lm.gate(l, v), 0.0f);
            EXPECT_EQ(lm.glideState(l, v).originNote, GlideState::kNoNote);
        }
    }
    EXPECT_EQ(lm.layerAmplitude(0, 0), 1.0f);
}

TEST_F(LayerManagerTest, RegistersSixtyFourRecords)
{
    layer(1).ampStepsMax = 15;
    setUp();
    std::vector<ParameterInfo> table;
    lm.registerParameters(table);
    ASSERT_EQ(table.size(), 64u);
    EXPECT_EQ(labelled(table), 34);  // 9 for layers 0-2, 7 for layer 3

    EXPECT_EQ(labelOf(table[23]), "L02 Amp");
    EXPECT_EQ(table[23].index, 23);
    EXPECT_EQ(table[23].flags, 0x13);
    EXPECT_EQ(table[23].displayMode, uint32_t(ParameterInfo::CFormatFactorOffset));
    EXPECT_TRUE(table[55].label == nullptr);  // no "L04 Amp"
    EXPECT_TRUE(table[62].label == nullptr);  // no "L04 Amp (steps)"
    EXPECT_EQ(labelOf(table[54]), "L04 Detune");

    const ParameterInfo& active = table[0];
    EXPECT_EQ(labelOf(active), "L01 Active");
    EXPECT_EQ(active.type, uint32_t(ParameterInfo::Switch));
    EXPECT_EQ(active.displayMode, uint32_t(ParameterInfo::OnOffZero));
    EXPECT_EQ(active.mathFlags, 1);
    EXPECT_EQ(active.flags, 3);
    EXPECT_EQ(labelOf(table[1]), "L01 Mono Retrig");
    EXPECT_EQ(labelOf(table[4]), "L01 Delay Start");
    EXPECT_EQ(table[4].maxValue, 100.0f);
    EXPECT_EQ(table[4].type, uint32_t(ParameterInfo::Integer));
    EXPECT_EQ(labelOf(table[5]), "L01 Transpose");
    EXPECT_EQ(table[5].minValue, -128.0f);
    EXPECT_EQ(table[5].flags, 0x13);
    EXPECT_EQ(labelOf(table[8]), "L01 Fixed Freq");
    EXPECT_EQ(table[8].modFlags, 0x81);
    EXPECT_EQ(labelOf(table[11]), "L01 Glide Amount");
    EXPECT_EQ(labelOf(table[14]), "L01 Amp (steps)");
    EXPECT_EQ(table[14].maxValue, 127.0f);
    EXPECT_EQ(table[30].maxValue, 15.0f);  // layer 1 counts in 4 bits
    EXPECT_EQ(table[14].index, 14);
    EXPECT_EQ(table[14].flags, 0x13);
}

TEST_F(LayerManagerTest, RegisterKeepsUnwrittenSlotsAndCutsTheTable)
{
    setUp();
    layer(2).voiceCount = 0;
    std::vector<ParameterInfo> table(70);
    table[2].setLabel("untouched");
    table[69].setLabel("cut");
    lm.registerParameters(table);
    ASSERT_EQ(table.size(), 64u);
    EXPECT_EQ(labelOf(table[2]), "untouched");
    EXPECT_EQ(table[32 + 7].flags, 0x03);  // no voices: not per voice
}

TEST_F(LayerManagerTest, KeyRangesBuildTheKeyMap)
{
    setUp();
    lm.setLayerParameter(0, LayerManager::kLowKey, 60.0f);
    lm.setLayerParameter(0, LayerManager::kHighKey, 64.0f);
    std::vector<uint8_t> expected(128, 0);
    for (int k = 60; k <= 64; ++k)
        expected[k] = 1;
    EXPECT_EQ(listener.lastKeyMap, expected);
    EXPECT_EQ(std::vector<uint8_t>(lm.keyMap(), lm.keyMap() + 128), expected);

    lm.setLayerParameter(0, LayerManager::kHighKey, 59.0f);
    EXPECT_EQ(listener.lastKeyMap, std::vector<uint8_t>(128, 0));

    lm.setLayerParameter(0, LayerManager::kLowKey, 200.0f);
    EXPECT_EQ(lm.getLayerParameter(0, LayerManager::kLowKey), 72.0f);
}

TEST_F(LayerManagerTest, AmpStepsAreMaskedWhileTheActionsClamp)
{
    layer(0).ampStepsMax = 15;
    setUp();
    lm.setLayerParameter(0, LayerManager::kAmpSteps, 200.0f);
    EXPECT_EQ(lm.getLayerParameter(0, LayerManager::kAmpSteps), 8.0f);  // 200 & 15
    EXPECT_EQ((*lm.actions(0, LayerManager::kAmpSteps))[0].baseValue(), 15.0f);
    EXPECT_EQ(lm.appliedValue(0, LayerManager::kAmpSteps, 11), 15.0f);
}

TEST_F(LayerManagerTest, MissingLayersReadDefaultsAndIgnoreWrites)
{
    setUp();
    struct
    {
        uint32_t id;
        float value;
    } const kDefaults[] = {{LayerManager::kHighKey, 127.0f},
                           {LayerManager::kAmp, 1.0f},
                           {LayerManager::kAmpSteps, 15.0f},
                           {LayerManager::kActive, 0.0f},
                           {LayerManager::kVoiceCount, 0.0f}};
    delete lm.patch()->layers[2];
    lm.patch()->layers[2] = nullptr;
    LayerManager empty;
    for (const auto& c : kDefaults) {
        EXPECT_EQ(lm.getLayerParameter(4, c.id), c.value) << c.id;
        EXPECT_EQ(lm.getLayerParameter(2, c.id), c.value) << c.id;
        EXPECT_EQ(empty.getLayerParameter(0, c.id), c.value) << c.id;
    }
    lm.setLayerParameter(4, LayerManager::kActive, 1.0f);
    lm.setLayerParameter(2, LayerManager::kActive, 1.0f);
    lm.setLayerParameterAndNotify(9, LayerManager::kAmp, 0.5f);
    empty.setLayerParameter(0, LayerManager::kActive, 1.0f);
    EXPECT_TRUE(take().empty());

    // Ids without a field.
    lm.setLayerParameter(0, 9, 5.0f);
    lm.setLayerParameter(0, 15, 5.0f);
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(lm.getLayerParameter(0, 9), 0.0f);
    EXPECT_EQ(lm.getLayerParameter(0, 15), 0.0f);
    EXPECT_EQ(lm.getLayerParameter(0, LayerManager::kActive), 1.0f);
}

TEST_F(LayerManagerTest, SwitchingOffReleasesActiveLayersOnly)
{
    setUp();
    lm.setLayerParameter(0, LayerManager::kActive, 0.0f);
    std::vector<std::string> expected = repeated("release", 0, 12);
    expected.push_back("active 0 0");
    expected.push_back("info");
    EXPECT_EQ(take(), expected);

    lm.setLayerParameter(1, LayerManager::kActive, -1.0f);
    EXPECT_EQ(take(), (std::vector<std::string>{"active 1 0", "info"}));

    // A gated layer closes each gate and refreshes the voice before releasing it.
    layer(2).flags = LayerBase::kFlagGatedAmplitude;
    lm.setLayerParameter(2, LayerManager::kActive, 1.0f);
    take();
    lm.setLayerParameter(2, LayerManager::kActive, 0.0f);
    const std::vector<std::string> calls = take();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[0], "params 0 2");
    EXPECT_EQ(calls[1], "release 0 2");
}

TEST_F(LayerManagerTest, SwitchingOffDropsPendingStarts)
{
    setUp();
    lm.setLayerParameter(0, LayerManager::kDelayStart, 10.0f);
    lm.startLayerVoices(0, 3, 60, 100, 60);
    EXPECT_EQ(lm.delayState(0, 3).pending, 1);
    lm.setLayerParameter(0, LayerManager::kActive, 0.0f);
    EXPECT_EQ(lm.delayState(0, 3).pending, 0);
    take();
    tick(100);
    for (const std::string& c : take())
        EXPECT_EQ(c.rfind("trigger", 0), std::string::npos) << c;
}

TEST_F(LayerManagerTest, FindLayerActionsByAddress)
{
    setUp();
    struct
    {
        const char* address;
        int64_t layer;  // -1: none found
        uint16_t kind;
        int64_t outLayer;  // -1: not written
    } const kCases[] = {
        {"L01 AMP", 0, LayerManager::kAmp, 0},
        {"L04 DETUNE", 3, LayerManager::kDetune, 3},
        {"L02 AMP (STEPS)", 1, LayerManager::kAmpSteps, 1},
        {"L03 TRANSPOSE", 2, LayerManager::kTranspose, 2},
        {"L04 FIXED FREQ", 3, LayerManager::kFixedFrequency, 3},
        {"L1 AMP", -1, 0, 0},   // the name is read from the fifth character
        {"L05 AMP", -1, 0, 4},  // no layer 4
        {"L00 AMP", -1, 0, -1},
        {"L04 AMP", -1, 0, 3},  // layer 3 has no amp
        {"L04", -1, 0, -1},
        {"X01 AMP", -1, 0, -1},
        {"L01 amp", -1, 0, 0},
    };
    for (const auto& c : kCases) {
        uint64_t out = 99;
        listener.maskAsked.clear();
        ParameterActionVector* found = lm.findLayerActions(c.address, out);
        if (c.layer < 0)
            EXPECT_TRUE(found == nullptr) << c.address;
        else
            EXPECT_EQ(found, lm.actions(uint64_t(c.layer), c.kind)) << c.address;
        EXPECT_EQ(out, c.outLayer < 0 ? 99u : uint64_t(c.outLayer)) << c.address;
        for (uint64_t asked : listener.maskAsked)
            EXPECT_LE(asked, 3u) << c.address;
    }
}

TEST_F(LayerManagerTest, ModulatedAmpIsReportedBeforeTheVoiceIsRefreshed)
{
    setUp();
    MIDI7Modulator source;
    ModRoute route;
    route.source = &source;
    route.amount = -1.0f;
    ParameterAction& amp = (*lm.actions(0, LayerManager::kAmp))[0];
    amp.addRoute(route);
    EXPECT_EQ(take(), (std::vector<std::string>{"params 0 0"}));  // source still inactive
    source.writeMidi(127);  // 1 - 1 = 0... at 127/127
    EXPECT_EQ(take(), (std::vector<std::string>{"changed 0 7 1 0.000000", "params 0 0"}));
    EXPECT_EQ(lm.modulatorMarker(0), 1);
    EXPECT_EQ(lm.actionMarker(0), 0);
    EXPECT_EQ(lm.appliedValue(0, LayerManager::kAmp, 0), 0.0f);
    lm.reset();  // the source goes first
}

TEST_F(LayerManagerTest, ReadBackSeesTheAppliedValueInAccumMode)
{
    setUp();
    lm.setLayerParameter(0, LayerManager::kTranspose, 2.0f);
    RawSource source;
    ModRoute route;
    route.source = &source;
    ParameterAction& transpose = (*lm.actions(0, LayerManager::kTranspose))[0];
    ASSERT_TRUE(transpose.setMathMode(kMathAccum));
    transpose.addRoute(route);
    for (int i = 0; i < 3; ++i)
        source.writeMidi(1);
    EXPECT_EQ(transpose.accumulated(), 3.0f);
    EXPECT_EQ(lm.appliedValue(0, LayerManager::kTranspose, 0), 5.0f);
    EXPECT_EQ(lm.layerPitchCents(0, 0), 500.0f);
    lm.reset();  // the source goes first
}

TEST_F(LayerManagerTest, ResetClearsMarkersAndRoutes)
{
    setUp();
    MIDI7Modulator source;
    ModRoute route;
    route.source = &source;
    (*lm.actions(1, LayerManager::kAmpSteps))[4].addRoute(route);
    source.writeMidi(64);
    EXPECT_EQ(lm.modulatorMarker(1), 1);
    lm.reset();
    EXPECT_EQ(lm.modulatorMarker(1), 0);
    EXPECT_TRUE((*lm.actions(1, LayerManager::kAmpSteps))[4].routes().empty());
    EXPECT_TRUE(source.listeners().empty());
}

TEST_F(LayerManagerTest, CountsBeyondTheSizedVectorsAreNeverIndexed)
{
    layer(1).voiceCount = 0;
    setUp();
    lm.setLayerParameter(0, LayerManager::kVoiceCount, 20.0f);
    EXPECT_EQ(lm.getLayerParameter(0, LayerManager::kVoiceCount), 20.0f);
    EXPECT_EQ(lm.voiceCount(0), 12u);

    lm.startLayerVoices(0, 15, 60, 100, 60);  // plays voice 0
    EXPECT_EQ(take(), (std::vector<std::string>{"trigger 0 0 60"}));
    EXPECT_EQ(lm.layerAmplitude(0, 15), lm.layerAmplitude(0, 0));
    lm.stopLayerVoices(0, 15);  // beyond the layer: skipped
    EXPECT_TRUE(take().empty());

    lm.setLayerParameter(0, LayerManager::kActive, 0.0f);
    std::vector<std::string> expected = repeated("release", 0, 12);
    expected.push_back("active 0 0");
    expected.push_back("info");
    EXPECT_EQ(take(), expected);

    // A layer sized 0 takes no part.
    layer(1).active = 1;
    lm.setLayerParameter(1, LayerManager::kVoiceCount, 12.0f);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    lm.retriggerLayerVoices(0, 0, 62, 100, 1, 1, 1);
    lm.stopLayerVoices(0, 0);
    tick();
    for (const std::string& c : take())
        EXPECT_FALSE(mentionsLayer(c, 1)) << c;
    EXPECT_EQ(lm.layerPitchCents(1, 0), 0.0f);
    EXPECT_EQ(lm.layerAmplitude(1, 0), 0.0f);
    EXPECT_FALSE(lm.isFixedFrequency(1, 0));
}

TEST_F(LayerManagerTest, SetupAgainKeepsListedActionsInPlace)
{
    setUp();
    RawSource source;
    ModRoute route;
    route.source = &source;
    ParameterActionVector& transpose = *lm.actions(0, LayerManager::kTranspose);
    ParameterAction* first = &transpose[0];
    transpose[0].addRoute(route);
    transpose[11].addRoute(route);

    layer(0).voiceCount = 4;  // shrinks: voice 11's action leaves the source's list
    lm.setupLayers(&listener, 0);
    EXPECT_EQ(source.listeners().size(), 1u);
    layer(0).voiceCount = 12;  // grows: voice 0's action stays where it was
    lm.setupLayers(&listener, 0);
    EXPECT_EQ(&transpose[0], first);
    take();
    source.writeMidi(3);
    EXPECT_EQ(lm.appliedValue(0, LayerManager::kTranspose, 0), 3.0f);
    EXPECT_EQ(take(), (std::vector<std::string>{"changed 0 5 1 3.000000", "pitch 0 0"}));
    lm.reset();
}

TEST_F(LayerManagerTest, BadValuesConvertWithoutSurprises)
{
    setUp();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct
    {
        uint32_t id;
        float value;
        float readBack;
    } const kCases[] = {
        {LayerManager::kLowKey, nan, 0.0f},
        {LayerManager::kLowKey, -5.0f, 0.0f},
        {LayerManager::kLowKey, 1e30f, 127.0f},
        {LayerManager::kVoiceCount, -1.0f, 0.0f},
        {LayerManager::kVoiceCount, 1e9f, 255.0f},
        {LayerManager::kVoiceCount, nan, 0.0f},
        {LayerManager::kGlideMode, nan, 0.0f},
        {LayerManager::kGlideMode, 1e30f, float(std::numeric_limits<int64_t>::max())},
        {LayerManager::kAmpSteps, -3.0f, 0.0f},
        {LayerManager::kAmpSteps, nan, 0.0f},
        {LayerManager::kTranspose, 1000.0f, 127.0f},
        {LayerManager::kTranspose, -1000.0f, -128.0f},
        {LayerManager::kDetune, nan, 0.0f},
    };
    for (const auto& c : kCases) {
        lm.setLayerParameter(1, c.id, c.value);
        EXPECT_EQ(lm.getLayerParameter(1, c.id), c.readBack) << c.id << " " << c.value;
    }
    EXPECT_EQ(lm.appliedValue(1, LayerManager::kTranspose, 0), -128.0f);
    EXPECT_TRUE(std::isfinite(lm.layerPitchCents(1, 0)));
}

// ---------------------------------------------------------------------------------------------
// Layer voices

TEST(LayerManagerTimer, PeriodsAverageExactlyTheRate)
{
    for (double rate : {44100.0, 48000.0}) {
        RecordingLayerListener listener;
        LayerManager lm;
        lm.setPatch(new TestPatch);
        lm.setupLayers(&listener, 0);
        vantor::QuantumManager qm;
        qm.setRate(rate);
        qm.addTimer(&lm, LayerManager::kTimerCookie);
        std::vector<uint64_t> intervals{qm.getEntries().front().due};
        while (intervals.size() < 240) {
            qm.advance(kBig);  // to the due tick
            const uint64_t before = qm.getNow();
            qm.advance(0);  // fires
            intervals.push_back(qm.getEntries().front().due - before);
        }
        uint64_t sum = 0;
        for (uint64_t i : intervals)
            sum += i;
        if (rate == 44100.0) {
            EXPECT_EQ(std::vector<uint64_t>(intervals.begin(), intervals.begin() + 4),
                      (std::vector<uint64_t>{184, 184, 183, 184}));
            EXPECT_EQ(sum, 44100u);
        } else {
            EXPECT_EQ(intervals, std::vector<uint64_t>(240, 200));
        }
    }
}

TEST(LayerManagerTimer, WithoutAPatchTheTimerNeverReturns)
{
    LayerManager lm;
    vantor::QuantumManager qm;
    qm.setRate(kRate);
    qm.addTimer(&lm, LayerManager::kTimerCookie);
    EXPECT_EQ(qm.getEntries().front().due, vantor::QuantumTimer::kNever);
}

TEST_F(LayerManagerTest, DelayedStartFiresOnThe122ndPeriod)
{
    setUp();
    vantor::QuantumManager qm;
    qm.setRate(kRate);
    qm.addTimer(&lm, LayerManager::kTimerCookie);
    qm.advance(kBig);
    lm.setLayerParameter(0, LayerManager::kDelayStart, 50.0f);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    EXPECT_TRUE(take().empty());
    EXPECT_EQ(lm.gate(0, 0), 0.0f);
    int period = 0;
    while (take().empty() && period < 1000) {
        qm.advance(kBig);  // fires the next period
        ++period;
    }
    EXPECT_EQ(period, 122);  // 121 decrements of 0.004166667 from 0.5 leave it at or below 0
    EXPECT_EQ(lm.gate(0, 0), 1.0f);
    EXPECT_EQ(lm.delayState(0, 0).pending, 0);
}

TEST_F(LayerManagerTest, ReleaseOrZeroDelayCancelsAPendingStart)
{
    setUp();
    lm.setLayerParameter(0, LayerManager::kDelayStart, 10.0f);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    lm.stopLayerVoices(0, 0);  // every layer of the group is released, sounding or not
    EXPECT_EQ(take(), (std::vector<std::string>{"release 0 0", "release 0 1", "release 0 2",
                                                "release 0 3"}));
    lm.startLayerVoices(0, 1, 62, 100, 60);
    lm.setLayerParameter(0, LayerManager::kDelayStart, 0.0f);
    lm.setLayerParameter(0, LayerManager::kDelayStart, 10.0f);
    tick(100);
    EXPECT_TRUE(take().empty());
}

TEST_F(LayerManagerTest, NotesOutsideTheRangeCloseAGatedLayer)
{
    setUp();
    layer(0).flags = LayerBase::kFlagGatedAmplitude;
    lm.setLayerParameter(0, LayerManager::kLowKey, 60.0f);
    take();
    lm.startLayerVoices(0, 2, 59, 100, 59);
    EXPECT_EQ(take(), (std::vector<std::string>{"params 2 0"}));
    lm.startLayerVoices(0, 2, 61, 100, 59);
    EXPECT_EQ(take(), (std::vector<std::string>{"trigger 2 0 61"}));
    EXPECT_EQ(lm.gate(0, 2), 1.0f);
    EXPECT_EQ(lm.glideState(0, 2).originNote, 59);
    EXPECT_EQ(lm.glideState(0, 2).offset, 0.0f);  // a start never glides
}

TEST_F(LayerManagerTest, LinearGlide)
{
    setUp();
    lm.setLayerParameter(0, LayerManager::kGlideMode, 1.0f);
    lm.setLayerParameter(0, LayerManager::kGlideAmount, 100.0f);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    lm.retriggerLayerVoices(0, 0, 62, 100, 1, 1, 1);
    EXPECT_EQ(lm.glideState(0, 0).offset, -200.0f);
    EXPECT_EQ(lm.glideState(0, 0).originNote, 62);
    tick();
    EXPECT_EQ(lm.glideState(0, 0).offset, -199.0f);
    tick(198);
    EXPECT_EQ(lm.glideState(0, 0).offset, -1.0f);
    tick();
    EXPECT_EQ(lm.glideState(0, 0).offset, 0.0f);

    // Mid-glide retrigger continues from the current pitch.
    lm.resetGlides(0);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    lm.retriggerLayerVoices(0, 0, 62, 100, 1, 1, 1);
    tick(100);
    EXPECT_EQ(lm.glideState(0, 0).offset, -100.0f);
    lm.retriggerLayerVoices(0, 0, 64, 100, 1, 1, 1);
    EXPECT_EQ(lm.glideState(0, 0).offset, -300.0f);

    // Amount 1 moves 100 cents per period.
    lm.setLayerParameter(0, LayerManager::kGlideAmount, 1.0f);
    lm.resetGlides(0);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    lm.retriggerLayerVoices(0, 0, 62, 100, 1, 1, 1);
    EXPECT_EQ(lm.glideState(0, 0).offset, -200.0f);
    tick();
    EXPECT_EQ(lm.glideState(0, 0).offset, -100.0f);
    tick();
    EXPECT_EQ(lm.glideState(0, 0).offset, 0.0f);
}

TEST_F(LayerManagerTest, ExponentialGlideAndJumps)
{
    setUp();
    lm.setLayerParameter(0, LayerManager::kGlideAmount, 100.0f);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    lm.retriggerLayerVoices(0, 0, 62, 100, 1, 1, 1);
    tick();
    EXPECT_EQ(lm.glideState(0, 0).offset, 100.0f * 0.0098738f * -200.0f);  // 98.738 % kept
    EXPECT_NEAR(lm.glideState(0, 0).offset, -197.476f, 1e-3);

    // Pitch changes go out every period while gliding, for every voice of the layer.
    take();
    tick();
    EXPECT_EQ(take(), repeated("pitch", 0, 12));

    // Amount 0 jumps.
    lm.setLayerParameter(0, LayerManager::kGlideAmount, 0.0f);
    EXPECT_EQ(lm.glideState(0, 0).offset, 0.0f);
    EXPECT_EQ(lm.glideState(0, 0).originNote, GlideState::kNoNote);
    lm.retriggerLayerVoices(0, 0, 64, 100, 1, 1, 1);
    EXPECT_EQ(lm.glideState(0, 0).offset, 0.0f);
    EXPECT_EQ(lm.glideState(0, 0).originNote, GlideState::kNoNote);
    take();
    tick();
    EXPECT_TRUE(take().empty());
}

TEST_F(LayerManagerTest, RetriggerCalls)
{
    struct
    {
        uint32_t options;
        uint8_t regate, retrigger, velocityUpdate, monoRetrigger;
        std::vector<std::string> calls;
    } const kCases[] = {
        {0, 1, 0, 1, 0, {"pitch 0 0"}},
        {0, 0, 1, 1, 0, {"pitch 0 0", "amp 0 0"}},
        {0, 0, 1, 0, 0, {"pitch 0 0"}},
        {0, 1, 1, 1, 0, {"pitch 0 0", "retrig 0 0 62", "amp 0 0"}},
        {0, 0, 1, 1, 1, {"pitch 0 0", "retrig 0 0 62", "amp 0 0"}},
        {1, 1, 1, 1, 0, {"pitch 0 0", "params 0 0", "start 0 0 62"}},
        {1, 0, 1, 1, 0, {"pitch 0 0", "amp 0 0"}},
    };
    for (const auto& c : kCases) {
        setUp(c.options);
        layer(0).monoRetrigger = c.monoRetrigger;
        lm.retriggerLayerVoices(0, 0, 62, 100, c.regate, c.retrigger, c.velocityUpdate);
        EXPECT_EQ(take(), c.calls) << c.options << int(c.regate) << int(c.retrigger)
                                   << int(c.velocityUpdate) << int(c.monoRetrigger);
    }
    // Independent layers ignore legato.
    layer(0).flags = LayerBase::kFlagIndependent;
    lm.retriggerLayerVoices(0, 0, 62, 100, 1, 1, 1);
    lm.updateLayerVoices(0, 0);
    lm.updateLayerPitch(0, 0);
    const std::vector<std::string> calls = take();
    EXPECT_EQ(calls.size(), 6u);  // layers 1-3 only
    for (const std::string& c : calls)
        EXPECT_FALSE(mentionsLayer(c, 0)) << c;
}

TEST_F(LayerManagerTest, VoiceGroupsSelectTheLayers)
{
    setUp();
    layer(1).active = 1;
    layer(1).voiceGroup = 2;
    lm.startLayerVoices(2, 4, 60, 100, 60);
    EXPECT_EQ(take(), (std::vector<std::string>{"trigger 4 1 60"}));
    lm.stopLayerVoices(2, 4);
    EXPECT_EQ(take(), (std::vector<std::string>{"release 4 1"}));
    lm.updateLayerPitch(0, 3);
    EXPECT_EQ(take(), (std::vector<std::string>{"pitch 3 0", "pitch 3 2", "pitch 3 3"}));
}

TEST_F(LayerManagerTest, DefaultTriggerStartsAfterPitchAndParameters)
{
    setUp();
    listener.forwardTrigger = true;
    lm.startLayerVoices(0, 1, 60, 100, 60);
    EXPECT_EQ(take(), (std::vector<std::string>{"trigger 1 0 60", "pitch 1 0", "params 1 0",
                                                "start 1 0 60"}));
}

TEST_F(LayerManagerTest, PitchRatioAndAmplitude)
{
    layer(0).ampStepsMax = 15;
    setUp();
    const float base = 261.62558f;
    const float same = lm.layerPitchRatio(0, 0, base);
    EXPECT_EQ(std::memcmp(&same, &base, sizeof base), 0);
    lm.setLayerParameter(0, LayerManager::kTranspose, 12.0f);
    EXPECT_EQ(lm.layerPitchCents(0, 0), 1200.0f);
    EXPECT_EQ(lm.layerPitchRatio(0, 0, base), 2.0f * base);
    lm.setLayerParameter(0, LayerManager::kTranspose, 0.0f);
    lm.setLayerParameter(0, LayerManager::kDetune, 50.0f);
    EXPECT_EQ(lm.layerPitchCents(0, 7), 50.0f);

    lm.setLayerParameter(0, LayerManager::kAmpSteps, 15.0f);
    lm.setLayerParameter(0, LayerManager::kAmp, 0.5f);
    EXPECT_EQ(lm.layerAmplitude(0, 0), 0.5f);
    lm.setLayerParameter(0, LayerManager::kAmpSteps, 8.0f);
    EXPECT_EQ(lm.layerAmplitude(0, 0), (8.0f / 15.0f) * 1.0f * 0.5f);

    // Gated amplitude without modulation: gate x amp.
    layer(0).flags = LayerBase::kFlagGatedAmplitude;
    EXPECT_EQ(lm.layerAmplitude(0, 0), 0.0f);
    lm.startLayerVoices(0, 0, 60, 100, 60);
    EXPECT_EQ(lm.layerAmplitude(0, 0), 0.5f);

    lm.setLayerParameter(0, LayerManager::kFixedFrequency, 1.0f);
    EXPECT_TRUE(lm.isFixedFrequency(0, 3));
    EXPECT_FALSE(lm.isFixedFrequency(1, 3));
}
