// The routing text: the row parser, destination resolution, source binding, the rebuild with
// its table resets and timers, and the master settings.
#include "synth/AutomTables.h"
#include "synth/ModRouting.h"
#include "synth/SynthController.h"
#include "synth/support/SynthTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

using namespace ZRS;
using ZRS::test::TestSynth;

namespace {

using Calls = std::vector<std::string>;

const std::vector<ModRoute>& routesOf(TestSynth& s, uint16_t parameter, size_t action = 0)
{
    return (*s.parameterActions(parameter))[action].routes();
}

Calls addressed(const TestSynth& s)
{
    Calls out;
    for (const std::string& h : s.hooks)
        if (h.rfind("addressed", 0) == 0 || h.rfind("hooked", 0) == 0)
            out.push_back(h);
    return out;
}

template <typename T>
T readAt(const std::vector<uint8_t>& b, size_t offset)
{
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

template <typename T>
void writeAt(std::vector<uint8_t>& b, size_t offset, T v)
{
    std::memcpy(b.data() + offset, &v, sizeof v);
}

// Every route of every action the controller holds.
size_t allRoutes(TestSynth& s)
{
    size_t n = 0;
    for (size_t p = 0; p < s.parameters.size(); ++p)
        if (ParameterActionVector* list = s.parameterActions(p))
            for (size_t i = 0; i < list->size(); ++i)
                n += (*list)[i].routes().size();
    for (size_t g = 0; g < 4; ++g) {
        VoiceManager& vm = s.voiceManager(g);
        for (ParameterActionVector* list :
             {&vm.amplitudeParameterActions(), &vm.detuneParameterActions(),
              &vm.transposeParameterActions()})
            for (size_t i = 0; i < list->size(); ++i)
                n += (*list)[i].routes().size();
    }
    for (uint64_t l = 0; l < 4; ++l)
        for (uint16_t kind : {5, 6, 7, 8, 14})
            if (ParameterActionVector* list = s.layerManager().actions(l, kind))
                for (size_t i = 0; i < list->size(); ++i)
                    n += (*list)[i].routes().size();
    for (size_t k = 0; k < 18; ++k)
        for (size_t g = 0; g < 4; ++g) {
            AutomSlotZone& z = s.automSlot(k).zone(g);
            for (ParameterActionVector* list : {&z.speedActions, &z.frameActions, &z.loopInAction,
                                                &z.loopOutAction, &z.delayAction, &z.rampAction})
                for (size_t i = 0; i < list->size(); ++i)
                    n += (*list)[i].routes().size();
        }
    return n;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Row parser

TEST(RouteRowParser, FieldsAndAcceptance)
{
    const struct
    {
        const char* line;
        bool accepted;
        const char* source;
        const char* destination;
        float amount;
        uint8_t combine;
        uint16_t zones;
        uint32_t function;
    } kCases[] = {
        {"source=cc1;destination=l01 transpose", true, "CC1", "L01 TRANSPOSE", 1.0f, 2, 0xFFFF, 0},
        {" SOURCE=CC1;DESTINATION=FILTER", false, "", "FILTER", 1.0f, 2, 0xFFFF, 0},
        {"SOURCE=CC1", false, "CC1", "", 1.0f, 2, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;INV=1;AMOUNT=-1", false, "CC1", "FILTER", -1.0f, 2, 0xFFFF,
         0},
        {"SOURCE=CC1;DESTINATION=FILTER;INV=1;AMOUNT=0.5", true, "CC1", "FILTER", -0.5f, 2, 0xFFFF,
         0},
        {"SOURCE=CC1;DESTINATION=FILTER;INV=1;INV=0;AMOUNT=-1", true, "CC1", "FILTER", -1.0f, 2,
         0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;AMOUNT=1.5x", true, "CC1", "FILTER", 1.0f, 2, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;AMOUNT=0,25", true, "CC1", "FILTER", 0.25f, 2, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;TRIGGER_ZONE=3x", true, "CC1", "FILTER", 1.0f, 2, 0x0008,
         0},
        {"SOURCE=CC1;DESTINATION=FILTER;TRIGGER_ZONE=16", true, "CC1", "FILTER", 1.0f, 2, 0, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;TRIGGER_ZONE=33", true, "CC1", "FILTER", 1.0f, 2, 0x0002,
         0},
        {"SOURCE=CC1;DESTINATION=FILTER;TRIGGER_ZONE=zone", true, "CC1", "FILTER", 1.0f, 2, 0x0001,
         0},
        {"SOURCE=CC1;DESTINATION=FILTER;MATH=offset", true, "CC1", "FILTER", 1.0f, 2, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;MATH=bogus", true, "CC1", "FILTER", 1.0f, 2, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;MATH=Replace", true, "CC1", "FILTER", 1.0f, 1, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;MATH=ACCUM", true, "CC1", "FILTER", 1.0f, 4, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;MATH=SCALE", true, "CC1", "FILTER", 1.0f, 8, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;SOURCE_FUNC=LINEAR", true, "CC1", "FILTER", 1.0f, 2,
         0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER;source_func=sqrt_inv", true, "CC1", "FILTER", 1.0f, 2,
         0xFFFF, 7},
        {"SOURCE=CC1;DESTINATION=FILTER;SOURCE_FUNC=SWITCH_INV", true, "CC1", "FILTER", 1.0f, 2,
         0xFFFF, 9},
        {"SOURCE=CC1;SOURCE=CC2;DESTINATION=FILTER", true, "CC2", "FILTER", 1.0f, 2, 0xFFFF, 0},
        {"SOURCE=CC1;DESTINATION=FILTER=X;", false, "CC1", "", 1.0f, 2, 0xFFFF, 0},
        {"SOURCE=CC1;;BOGUS=1;DESTINATION;DESTINATION=FILTER;", true, "CC1", "FILTER", 1.0f, 2,
         0xFFFF, 0},
        {"SOURCE =CC1;DESTINATION=FILTER", false, "", "FILTER", 1.0f, 2, 0xFFFF, 0},
    };
    for (const auto& c : kCases) {
        ModRouteRow row;
        EXPECT_EQ(parseRouteRow(c.line, row), c.accepted) << c.line;
        EXPECT_EQ(row.source, c.source) << c.line;
        EXPECT_EQ(row.destination, c.destination) << c.line;
        EXPECT_EQ(row.amount, c.amount) << c.line;
        EXPECT_EQ(row.combine, c.combine) << c.line;
        EXPECT_EQ(row.zoneMask, c.zones) << c.line;
        EXPECT_EQ(row.sourceFunction, c.function) << c.line;
    }
}

TEST(RouteRowParser, NumbersControlAndDefaults)
{
    ModRouteRow row;
    ASSERT_TRUE(parseRouteRow("source=PB;destination=Filter;control=cc2;control_func=cube;"
                              "offset=-0.5;min=1e-1;max=2D0;amount=3",
                              row));
    EXPECT_EQ(row.control, "CC2");
    EXPECT_EQ(row.controlFunction, 4u);
    EXPECT_EQ(row.offset, -0.5f);
    EXPECT_EQ(row.minimum, 0.1f);
    EXPECT_EQ(row.maximum, 2.0f);
    EXPECT_EQ(row.amount, 3.0f);
    ASSERT_TRUE(parseRouteRow("source=PB;destination=Filter;min=;max=x", row));
    EXPECT_EQ(row.minimum, -9999.0f);
    EXPECT_EQ(row.maximum, 9999.0f);
    EXPECT_TRUE(row.control.empty());

    EXPECT_EQ(parseRouteFunction("CUBE_INV", 8), 5u);
    EXPECT_EQ(parseRouteFunction("SQRT_INV_X", 3), 0u);  // length below 4
    EXPECT_EQ(parseRouteFunction("SQUARED_INVX", 12), 0u);

    float lo = 0, hi = 0;
    const struct
    {
        const char* keyword;
        bool known;
        float lo, hi;
    } kRanges[] = {
        {"PB", true, -1, 1},         {"PC", true, 0, 127},       {"CC", false, 0, 0},
        {"CC7", true, 0, 1},         {"POLYAFT", false, 0, 0},   {"MONOALT", false, 0, 0},
        {"POLYKT", true, -127, 127}, {"EXP_", false, 0, 0},      {"EXP_X", true, 0, 1},
        {"STEP", true, -128, 127},   {"EG1", false, 0, 0},       {"MPE_PB", true, -1, 1},
        {"BOGUS", false, 0, 0},
    };
    for (const auto& r : kRanges) {
        lo = hi = 0;
        EXPECT_EQ(modSourceRange(r.keyword, lo, hi), r.known) << r.keyword;
        EXPECT_EQ(lo, r.lo) << r.keyword;
        EXPECT_EQ(hi, r.hi) << r.keyword;
    }
}

// ---------------------------------------------------------------------------------------------
// Resolution and binding

TEST(ModRouting, SourceKeywordsBindTheirModulators)
{
    TestSynth s;
    LayerModSources& b = s.modSources(0);
    s.setModRoutingText("source=CC;destination=Filter", 0);
    EXPECT_TRUE(routesOf(s, test::kFilter).empty());
    s.setModRoutingText("source=CC130;destination=Filter", 0);
    ASSERT_EQ(routesOf(s, test::kFilter).size(), 1u);
    EXPECT_EQ(routesOf(s, test::kFilter)[0].source, b.controller(2));

    const struct
    {
        const char* text;
        Modulator* filter;    // one action
        Modulator* cutoff3;   // per voice, action 3
    } kCases[] = {
        {"PB", &b.bend, &b.bend},
        {"PB_NEG", &b.bendDown, &b.bendDown},
        {"CP", &b.channelPressure, &b.channelPressure},
        {"POLYAFT", &b.voicePressure[0], &b.voicePressure[3]},
        {"POLYALT", &b.alternation, &b.voiceAlternation[3]},
        {"POLYKT", &b.keyTrack, &b.voiceKeyTrack[3]},
        {"POLYKEY", &b.note, &b.voiceNote[3]},
        {"POLYRAND", &b.random, &b.voiceRandom[3]},
        {"MONOVEL", &b.velocity, &b.velocity},
        {"EXP_PAN", nullptr, &b.voiceExpression[1][3]},
        {"MPE_CC74", &s.mpeTimbreSource(0, 0), &s.mpeTimbreSource(0, 3)},
        {"BOGUS", nullptr, nullptr},
    };
    for (const auto& c : kCases) {
        const std::string text = std::string("source=") + c.text + ";destination=Filter\nsource=" +
                                 c.text + ";destination=Cutoff";
        s.setModRoutingText(text.c_str(), 0);
        const auto& f = routesOf(s, test::kFilter);
        const auto& k = routesOf(s, test::kCutoff, 3);
        EXPECT_EQ(f.empty() ? nullptr : f[0].source, c.filter) << c.text;
        EXPECT_EQ(k.empty() ? nullptr : k[0].source, c.cutoff3) << c.text;
    }
    // MPE sources exist for groups 0 and 1 only.
    s.setLayerMode(3);
    s.setModRoutingText("source=MPE_PB;destination=Filter", 0);
    ASSERT_EQ(routesOf(s, test::kFilter).size(), 2u);
    EXPECT_EQ(routesOf(s, test::kFilter)[1].source, &s.mpeBendSource(1, 0));
}

TEST(ModRouting, AutomationSourcesNeedARegisteredTableBelowTheSlotCount)
{
    const struct
    {
        size_t steps, envelopes;
        const char* source;
        int slot;  // -1: no action
    } kCases[] = {
        {15, 3, "STEP", -1},   {15, 3, "STEP3", 3},   {15, 3, "STEP 3", 3},
        {15, 3, "STEP14", 14}, {3, 3, "STEP3", -1},   {20, 3, "STEP15", -1},
        {15, 3, "STEPX", -1},  {15, 3, "EG1", 16},    {15, 3, "EG", -1},
        {15, 15, "EG3", -1},   {15, 15, "EG14", -1},  {15, 2, "EG2", -1},
        {15, 3, "EG-1", -1},
    };
    for (const auto& c : kCases) {
        TestSynth s(c.steps, c.envelopes);
        const std::string text = std::string("source=") + c.source + ";destination=Filter";
        s.setModRoutingText(text.c_str(), 0);
        for (size_t k = 0; k < 18; ++k)
            EXPECT_EQ(s.modSources(0).actions[k] != nullptr, int(k) == c.slot)
                << c.source << " slot " << k;
        EXPECT_EQ(routesOf(s, test::kFilter).size(), c.slot >= 0 ? 1u : 0u) << c.source;
    }
}

TEST(ModRouting, StepActionsServeEachVoiceAndScaleRawRanges)
{
    TestSynth s;
    s.setModRoutingText("source=STEP1;destination=Pan\nsource=EG0;destination=Pan;math=accum\n"
                        "source=STEP1;destination=Filter",
                        0);
    ModAction& step = *s.modSources(0).actions[1];
    ModAction& curve = *s.modSources(0).actions[15];
    EXPECT_EQ(step.voiceCount(), 12u);  // created by the per-voice row first
    EXPECT_EQ(curve.voiceCount(), 12u);
    EXPECT_EQ(curve.voiceAt(0)->getRangeKind(), kBipolar);  // Pan's minimum is below 0
    const auto& pan5 = routesOf(s, test::kPan, 5);
    ASSERT_EQ(pan5.size(), 2u);
    EXPECT_EQ(pan5[0].source, step.voiceAt(5));
    EXPECT_EQ(pan5[0].rawRange, 1);
    EXPECT_EQ(pan5[1].source, curve.voiceAt(5));
    EXPECT_EQ(pan5[1].rawRange, 0);
    EXPECT_EQ((*s.parameterActions(test::kPan))[5].mathMode(), kMathAccum);
    ASSERT_EQ(routesOf(s, test::kFilter).size(), 1u);
    EXPECT_EQ(routesOf(s, test::kFilter)[0].rawRange, 0);  // Filter has no raw-range flag
    EXPECT_EQ(step.voiceGroup(), 0);
    EXPECT_EQ(step.slot(), &s.automSlot(1));
    EXPECT_EQ(step.zone(), &s.automSlot(1).zone(0));
}

TEST(ModRouting, DestinationsResolveByLayerMode)
{
    TestSynth s;
    s.setModRoutingText("source=CC1;destination=L00 AMP\nsource=CC1;destination=L05 AMP\n"
                        "source=CC1;destination=L04 AMP\nsource=CC1;destination=Nothing",
                        0);
    EXPECT_TRUE(addressed(s).empty());  // layer 4 has no amp kind (mask 19)
    EXPECT_EQ(allRoutes(s), 0u);

    s.setModRoutingText("source=CC1;destination=L04 Detune\nsource=CC1;destination=Filter", 0);
    EXPECT_EQ(addressed(s), (Calls{"addressed 3 3 6", "addressed 0 0 0"}));
    EXPECT_EQ((*s.layerManager().actions(3, LayerManager::kDetune))[0].routes().size(), 1u);

    // Mode 0: found, told, not routed.
    s.setLayerMode(0);
    s.clearRecords();
    s.setModRoutingText("source=CC1;destination=L01 Transpose\nsource=CC1;destination=Filter",
                        0);
    EXPECT_EQ(addressed(s), (Calls{"addressed 3 0 5", "addressed 0 0 0"}));
    EXPECT_EQ(allRoutes(s), 0u);

    // The hooked parameter goes to the hook, and on a refusal on to the voice and layer names.
    s.setLayerMode(1);
    s.clearRecords();
    s.setModRoutingText("source=CC1;destination=Hooked", 0);
    EXPECT_EQ(addressed(s), (Calls{"hooked 4 CC1"}));
    EXPECT_EQ(allRoutes(s), 0u);

    // A table parameter without an index keeps no actions.
    s.setModRoutingText("source=CC1;destination=Gap", 0);
    EXPECT_EQ(allRoutes(s), 0u);
}

TEST(ModRouting, ZonesSelectGroupsInPerChannelModes)
{
    TestSynth s;
    s.setLayerMode(3);
    s.setModRoutingText("source=CC1;destination=Filter\nsource=CC2;destination=Zoned;"
                        "trigger_zone=2\nsource=CC3;destination=Zoned;trigger_zone=16",
                        0);
    const auto& filter = routesOf(s, test::kFilter);
    ASSERT_EQ(filter.size(), 4u);
    for (size_t g = 0; g < 4; ++g) {
        EXPECT_EQ(filter[g].source, s.modSources(g).controller(1));
        EXPECT_EQ(filter[g].voiceGroup, g);
    }
    const auto& zoned = routesOf(s, test::kZoned);
    ASSERT_EQ(zoned.size(), 1u);
    EXPECT_EQ(zoned[0].source, s.modSources(2).controller(2));

    // Mode 5: the layer bits pick the groups of the layer map.
    s.setLayerVoiceGroup(2, 1);
    s.setLayerMode(5);
    ASSERT_EQ(routesOf(s, test::kZoned).size(), 1u);
    EXPECT_EQ(routesOf(s, test::kZoned)[0].source, s.modSources(1).controller(2));
}

TEST(ModRouting, VoiceDestinationsReachOneOrFourVoiceManagers)
{
    TestSynth s;
    s.setModRoutingText("source=CC5;destination=Voice Detune", 0);
    EXPECT_EQ(s.voiceManager(0).detuneParameterActions()[0].routes().size(), 1u);
    EXPECT_TRUE(s.voiceManager(1).detuneParameterActions()[0].routes().empty());
    s.setLayerMode(3);
    for (size_t g = 0; g < 4; ++g) {
        const auto& r = s.voiceManager(g).detuneParameterActions()[0].routes();
        ASSERT_EQ(r.size(), 1u) << g;
        EXPECT_EQ(r[0].source, s.modSources(g).controller(5)) << g;
    }
    s.setModRoutingText("source=CC5;destination=VOICE NOTHING", 0);
    EXPECT_EQ(allRoutes(s), 0u);
}

TEST(ModRouting, AutomSlotParametersAreAddressedByLabel)
{
    TestSynth s;
    s.setModRoutingText("source=CC9;destination=Step2 Speed", 0);
    EXPECT_EQ(addressed(s), (Calls{"addressed 1 2 38"}));
    for (size_t g = 0; g < 4; ++g)
        EXPECT_EQ(s.automSlot(2).zone(g).speedActions[4].routes().size(), 1u) << g;
    s.clearRecords();
    s.setModRoutingText("source=CC9;destination=STEP2 NOTHING", 0);
    EXPECT_TRUE(addressed(s).empty());
    EXPECT_EQ(allRoutes(s), 0u);
}

TEST(ModRouting, LineEndsAndNulSeparateRows)
{
    for (const char* sep : {"\n", "\r", "\r\n", "\n\n\r\n"}) {
        TestSynth s;
        const std::string text = std::string("source=CC1;destination=Filter") + sep +
                                 "source=CC2;destination=Filter" + sep;
        s.setModRoutingText(text.c_str(), 0);
        EXPECT_EQ(routesOf(s, test::kFilter).size(), 2u);
    }
    TestSynth s;
    const char text[] = "source=CC1;destination=Filter\0source=CC2;destination=Filter";
    s.setModRoutingText(text, 7);
    EXPECT_EQ(routesOf(s, test::kFilter).size(), 1u);
    EXPECT_EQ(s.modRoutingTag(), 7u);
    s.setModRoutingText(nullptr, 8);
    EXPECT_TRUE(s.modRoutingText().empty());
    EXPECT_EQ(allRoutes(s), 0u);
}

TEST(ModRouting, LaterRowsReplaceTheSameSourcesRoute)
{
    TestSynth s;
    s.setModRoutingText("source=CC1;destination=Filter;amount=0.5\n"
                        "source=CC1;destination=Filter;amount=0.25;math=replace",
                        0);
    const auto& r = routesOf(s, test::kFilter);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].amount, 0.25f);
    EXPECT_EQ((*s.parameterActions(test::kFilter))[0].mathMode(), kMathReplace);
}

// ---------------------------------------------------------------------------------------------
// End to end

TEST(ModRoutingEndToEnd, ControllerToLayerTranspose)
{
    TestSynth s;
    s.setModRoutingText("source=CC1;destination=L01 Transpose", 0);
    s.processMidiMessage(0xB0, 1, 127);
    EXPECT_EQ(s.layerManager().layerPitchCents(0, 0), 12700.0f);
    EXPECT_EQ(s.layerManager().layerPitchCents(0, 11), 12700.0f);
    s.setModRoutingText("", 0);
    EXPECT_EQ(s.layerManager().layerPitchCents(0, 0), 0.0f);
}

TEST(ModRoutingEndToEnd, TablesNoRowPlaysAreReset)
{
    TestSynth s(15, 3);
    for (auto& b : s.steps)
        std::memset(b.data(), 0xA5, b.size());
    for (auto& b : s.curves)
        std::memset(b.data(), 0x5A, b.size());
    writeAt<uint32_t>(s.curves[0], 12, 0xA5A5A5A5u);  // bit 0 set: reset
    writeAt<uint32_t>(s.curves[1], 12, 0x5A5A5A5Au);  // bit 0 clear: kept
    const std::vector<uint8_t> step2 = s.steps[2];
    const std::vector<uint8_t> curve1 = s.curves[1];
    const std::vector<uint8_t> curve2 = s.curves[2];  // 0x5A5A5A5A: bit 0 clear

    s.setModRoutingText("source=STEP2;destination=Filter", 0);
    EXPECT_EQ(s.steps[2], step2);
    EXPECT_EQ(s.curves[1], curve1);
    EXPECT_EQ(s.curves[2], curve2);
    for (size_t t = 0; t < 15; ++t) {
        if (t == 2)
            continue;
        const auto& b = s.steps[t];
        EXPECT_EQ(readAt<uint32_t>(b, 0), 22362u) << t;
        EXPECT_EQ(readAt<uint32_t>(b, 4), 64u) << t;
        EXPECT_EQ(readAt<uint32_t>(b, 8), 0xA5A5A5A5u) << t;
        EXPECT_EQ(readAt<uint32_t>(b, 12), (0xA5A5A5A5u & ~0x11u) | 0x10u) << t;
        EXPECT_EQ(readAt<int16_t>(b, 32), 0) << t;
        EXPECT_EQ(readAt<int16_t>(b, 34), 127) << t;
        EXPECT_EQ(readAt<uint16_t>(b, 36), 32u) << t;
        EXPECT_EQ(readAt<uint16_t>(b, 38), 0u) << t;
        EXPECT_EQ(b[16], 0xA5) << t;
        EXPECT_EQ(b[63], 0xA5) << t;
        EXPECT_EQ(std::vector<uint8_t>(b.begin() + 64, b.end()), std::vector<uint8_t>(16384, 0))
            << t;
    }
    const auto& e = s.curves[0];
    EXPECT_EQ(readAt<uint32_t>(e, 0), 50789u);
    EXPECT_EQ(readAt<uint32_t>(e, 4), 116u);
    EXPECT_EQ(readAt<uint32_t>(e, 8), 1u);
    EXPECT_EQ(readAt<uint32_t>(e, 12), (0xA5A5A5A5u & ~0x11u) | 0x10u);
    EXPECT_EQ(e[16], 0x5A);
    EXPECT_EQ(readAt<uint32_t>(e, 32), 5u);
    const struct
    {
        float a, b, c;
        int8_t shape;
    } kPoints[] = {{0.0f, 0.0f, 0.0f, -2},
                   {0.4f, 1.0f, 0.0f, -1},
                   {0.3f, 0.6f, -10.36159992f, 10},
                   {0.3f, 0.6f, 0.0f, -2},
                   {1.0f, 0.0f, -10.36159992f, 10}};
    for (size_t i = 0; i < 5; ++i) {
        const size_t at = 36 + 16 * i;
        EXPECT_EQ(readAt<float>(e, at), kPoints[i].a) << i;
        EXPECT_EQ(readAt<float>(e, at + 4), kPoints[i].b) << i;
        EXPECT_EQ(readAt<float>(e, at + 8), kPoints[i].c) << i;
        EXPECT_EQ(readAt<int8_t>(e, at + 12), kPoints[i].shape) << i;
        EXPECT_EQ(readAt<uint32_t>(e, at + 12) >> 8, 0u) << i;
    }
    EXPECT_EQ(std::vector<uint8_t>(e.begin() + 116, e.end()), std::vector<uint8_t>(4016, 0));
    EXPECT_EQ(e.size(), 116u + 4016u);
}

TEST(ModRoutingEndToEnd, SharedRecordListsOnlyGrow)
{
    TestSynth s(2, 1);
    std::vector<uint8_t> extra(kStepTableSize, 0xA5);
    s.addStepTableBlock(extra.data(), extra.size(), 7);
    s.addStepTableBlock(extra.data(), extra.size(), 8);  // the same record again: listed again
    std::vector<std::vector<uint8_t>> curves(100, std::vector<uint8_t>(kEnvelopeSize, 0));
    for (size_t i = 0; i < curves.size(); ++i)
        s.addCurveBlock(curves[i].data(), curves[i].size(), i);

    auto check = [&](const char* when) {
        const auto& steps = s.stepTableEntries();
        ASSERT_EQ(steps.size(), 4u) << when;
        for (size_t i : {2u, 3u}) {
            EXPECT_EQ(steps[i].record, extra.data()) << when;
            EXPECT_EQ(steps[i].size, kStepTableSize) << when;
            EXPECT_EQ(steps[i].value, i == 2 ? 7u : 8u) << when;
        }
        const auto& envelopes = s.curveEntries();
        ASSERT_EQ(envelopes.size(), 101u) << when;
        for (size_t i = 0; i < curves.size(); ++i) {
            EXPECT_EQ(envelopes[i + 1].record, curves[i].data()) << when;
            EXPECT_EQ(envelopes[i + 1].value, i) << when;
        }
    };
    check("added");

    // The rebuild re-formats every entry no row plays, the added ones too, and removes none.
    s.setModRoutingText("source=STEP0;destination=Filter", 0);
    check("routed");
    EXPECT_EQ(s.stepTableEntries()[0].inUse, 1);
    EXPECT_EQ(s.stepTableEntries()[3].inUse, 0);
    EXPECT_EQ(readAt<uint32_t>(extra, 0), 22362u);
    EXPECT_EQ(std::vector<uint8_t>(extra.begin() + 64, extra.end()), std::vector<uint8_t>(16384, 0));
    s.setModRoutingText("", 0);
    check("cleared");
}

TEST(ModRoutingEndToEnd, PolyVelocityPerVoiceAndLatestNote)
{
    TestSynth s;
    s.setModRoutingText("source=POLYVEL;destination=Cutoff\nsource=POLYVEL;destination=Filter",
                        0);
    s.processMidiMessage(0x90, 60, 100);
    s.processMidiMessage(0x90, 62, 50);
    EXPECT_FLOAT_EQ(s.applied(test::kCutoff, 0), 100.0f);
    EXPECT_FLOAT_EQ(s.applied(test::kCutoff, 1), 50.0f);
    EXPECT_FLOAT_EQ(s.applied(test::kFilter, 0), 50.0f / 127.0f);
}

TEST(ModRoutingEndToEnd, RowsOfOneControllerShareItsModulator)
{
    TestSynth s;
    s.setLayerMode(3);
    s.setModRoutingText("source=CC7;destination=Filter\nsource=CC7;destination=Cutoff", 0);
    for (size_t g = 0; g < 4; ++g) {
        Modulator* cc7 = s.modSources(g).controller(7);
        ASSERT_NE(cc7, nullptr);
        EXPECT_EQ(cc7->listeners().size(), 13u) << g;  // Filter's action and Cutoff's twelve
    }
    s.processMidiMessage(0xB1, 7, 127);
    EXPECT_FLOAT_EQ(s.applied(test::kCutoff, 11), 127.0f);
}

TEST(ModRoutingEndToEnd, ReapplyingATextKeepsRoutesAndTimers)
{
    TestSynth s;
    s.setAutomSlotActive(0, true);
    s.setAutomSlotActive(16, true);
    s.setLayerMode(3);
    const char* text = "source=STEP0;destination=Zoned\nsource=EG1;destination=Cutoff\n"
                       "source=CC1;destination=Filter;control=POLYVEL";
    s.setModRoutingText(text, 0);
    for (uint64_t g = 0; g < 4; ++g) {
        EXPECT_EQ(s.entriesTagged(0 + 256 * g), 1u) << g;
        EXPECT_EQ(s.entriesTagged(16 + 256 * g), 12u) << g;
    }
    const size_t entries = s.qm.getEntries().size();
    const size_t routes = allRoutes(s);
    s.setModRoutingText(text, 0);
    EXPECT_EQ(s.qm.getEntries().size(), entries);
    EXPECT_EQ(allRoutes(s), routes);
    EXPECT_EQ(s.entriesTagged(SynthBase::kLayerTimerCookie), 1u);
    s.advance(44100);
    EXPECT_EQ(s.qm.getEntries().size(), entries);
}

// ---------------------------------------------------------------------------------------------
// Master settings and set-up

TEST(MasterSettings, SameLayerModeResetsVoicesAndKeepsRoutes)
{
    TestSynth s;
    s.setLayerMode(3);
    s.setModRoutingText("source=CC1;destination=Filter", 0);
    s.processMidiMessage(0x90, 60, 100);
    s.setLowerZoneMembers(9);
    ASSERT_EQ(s.channelRoute(8).group, 0);
    const ModRoute first = routesOf(s, test::kFilter)[0];

    s.setLayerMode(3);
    EXPECT_EQ(s.voiceManager(0).heldVoiceCount(), 0u);
    EXPECT_EQ(s.channelRoute(8).group, -1);
    EXPECT_EQ(s.channelRoute(3).group, 3);
    ASSERT_EQ(routesOf(s, test::kFilter).size(), 4u);
    EXPECT_EQ(routesOf(s, test::kFilter)[0].source, first.source);

    s.setLayerMode(1);
    EXPECT_EQ(routesOf(s, test::kFilter).size(), 1u);
}

TEST(MasterSettings, PolyphonyResizesGroupsAndRequeuesTimers)
{
    TestSynth s;
    s.setAutomSlotActive(0, true);
    s.setModRoutingText("source=STEP0;destination=Cutoff", 0);
    ASSERT_EQ(s.entriesTagged(0), 12u);
    s.processMidiMessage(0x90, 60, 100);

    s.setPolyphony(13);
    for (size_t g = 0; g < 4; ++g)
        EXPECT_EQ(s.getLayerPolyphony(g), 12u);
    EXPECT_EQ(s.entriesTagged(0), 12u);
    EXPECT_EQ(s.voiceManager(0).heldVoiceCount(), 1u);

    s.clearRecords();
    s.setPolyphony(6);
    for (size_t g = 0; g < 4; ++g)
        EXPECT_EQ(s.getLayerPolyphony(g), 6u);
    EXPECT_EQ(s.hooks, (Calls{"voicesReset 0", "voicesReset 1", "voicesReset 2", "voicesReset 3"}));
    EXPECT_EQ(s.entriesTagged(0), 6u);
    EXPECT_EQ(s.voiceManager(0).heldVoiceCount(), 0u);
    s.setPolyphony(6);
    EXPECT_EQ(s.entriesTagged(0), 6u);
}

TEST(MasterSettings, SettingsReachEveryVoiceManager)
{
    TestSynth s;
    s.setPitchBendRange(200.0f);
    s.setMasterTune(-10.0f);
    s.setVelocitySensitivity(0.5f);
    s.setMonoRetrigger(1);
    s.setMonoLayerFlag(1);
    for (size_t g = 0; g < 4; ++g) {
        VoiceManager& vm = s.voiceManager(g);
        EXPECT_EQ(vm.pitchBendRangeCents(), 200.0f);
        EXPECT_EQ(vm.masterTuneCents(), -10.0f);
        EXPECT_EQ(vm.velocitySensitivityValue(), 0.5f);
        EXPECT_EQ(vm.monoRetriggerFlag(), 1);
        EXPECT_EQ(vm.monoLayerFlagValue(), 1);
    }
    MasterSettingsListener& m = s;
    m.setFixedPitchNote(40);
    EXPECT_EQ(s.getFixedPitchNote(), 40);
    EXPECT_TRUE(s.resetVoiceGroups());
    EXPECT_TRUE(s.acceptEngineCommand(8, 0));
}

TEST(MasterSettings, SetUpAgainKeepsOneLayerTimerAndNoStaleRoutes)
{
    TestSynth s;
    s.setModRoutingText("source=CC1;destination=L01 Transpose\nsource=CC1;destination=Cutoff", 0);
    s.setupParameters(&s, &s.layerListener, &s, 0);
    EXPECT_EQ(s.entriesTagged(SynthBase::kLayerTimerCookie), 1u);
    EXPECT_EQ(allRoutes(s), 0u);
    s.processMidiMessage(0xB0, 1, 127);
    EXPECT_EQ(s.layerManager().layerPitchCents(0, 0), 0.0f);
    s.setModRoutingText(s.modRoutingText().c_str(), 0);
    EXPECT_EQ(s.layerManager().layerPitchCents(0, 0), 12700.0f);
}

// ---------------------------------------------------------------------------------------------
// Fuzz

TEST(ModRoutingFuzz, RandomTextsNeverBreakTheParser)
{
    static const char* const kPieces[] = {
        "SOURCE", "DESTINATION", "CONTROL", "MATH", "AMOUNT", "INV", "TRIGGER_ZONE", "SOURCE_FUNC",
        "=", "==", ";", ";;", "\r", "\n", "\r\n", " ", "CC1", "CC", "STEP2", "STEP", "EG1", "EG",
        "POLYVEL", "EXP_PAN", "MPE_PB", "FILTER", "CUTOFF", "L01 AMP", "L04 AMP (STEPS)",
        "VOICE DETUNE", "STEP0 SPEED", "1", "-1", "1e40", "nan", "2.5x", "99999999999999999999",
    };
    std::mt19937 rng(12345);
    TestSynth s;
    s.setAutomSlotActive(2, true);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const int parts = int(rng() % 200);
        for (int i = 0; i < parts; ++i) {
            if (rng() % 4 == 0)
                text += char(rng() % 256);
            else
                text += kPieces[rng() % std::size(kPieces)];
        }
        if (round % 50 == 0)
            text += "SOURCE=CC1;DESTINATION=" + std::string(65536, 'A') + "\n";
        if (round % 7 == 0)
            s.setLayerMode(uint32_t(round % 6));
        s.setModRoutingText(text.c_str(), uint32_t(round));
        s.processMidiMessage(0x90, uint8_t(rng() % 128), 100);
        s.processMidiMessage(0xB0, 1, uint8_t(rng() % 128));
        s.advance(rng() % 2000);
    }
    s.setModRoutingText(nullptr, 0);
    EXPECT_EQ(allRoutes(s), 0u);
}

TEST(ModRoutingFuzz, UnknownKeysSourcesAndDestinationsAddNothing)
{
    TestSynth s;
    s.setModRoutingText("SOURCE=CC1;DESTINATION=FILTERS\n"
                        "SOURCE=WHEEL;DESTINATION=FILTER\n"
                        "SOURCE=EXP_NOPE;DESTINATION=CUTOFF\n"
                        "SRC=CC1;DESTINATION=FILTER\n"
                        "SOURCE=CC1;DEST=FILTER\n"
                        "SOURCE=CC1=2;DESTINATION=FILTER\n"
                        "SOURCE=MPE_XX;DESTINATION=CUTOFF\n"
                        "SOURCE=STEP99;DESTINATION=FILTER\n"
                        "SOURCE=CC1;DESTINATION=L1 AMP\n",
                        0);
    EXPECT_EQ(allRoutes(s), 0u);
    for (size_t k = 0; k < 18; ++k)
        EXPECT_EQ(s.modSources(0).actions[k], nullptr) << k;
}
