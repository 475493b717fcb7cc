// Chip parameters: the published records, what each index changes, profile selection and the
// combined-waveform tables.

#include "SIDEmuTestSupport.h"

#include "sid/SIDCombinedTables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

using sidtest::makeChip;
using sidtest::render;
using sidtest::write;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(SIDEmuParameters, PublishedRecords)
{
    const char* combine =
        "Normal|AND|AND2|MIX|JOIN|POPCNT|FRACRPT|BITMASH|OCTAVE|STEP|2.5|ICE|REED|SINE|ORGAN|FRACMIX|"
        "NOISY|CURVY|WSINE|FLAKY|XOR|PLUCK|EDGY|VOCAL|TEEBEY|SINESEG|SINESEG2|SEGMENT|INVERT|SCREAM|"
        "CEEZEY|WOODY";
    const char* adsr = "Lin DR|Lin DR, Fast A0|Exp DR, HW Bugs|Exp DR|Exp DR, Fast A0";
    const struct {
        const char* label;
        uint32_t type;
        float min, max, def;
        const char* list;
    } kWant[] = {
        {"SID Model", 3, 0, 1, 0, nullptr},  // a single name is not kept as a list
        {"Filter Dist Gain", 0, -1, 1, 0, nullptr},
        {"Filter Filter DC", 0, -1, 1, 0, nullptr},
        {"Filter Cutoff Offset", 0, -1, 1, 0, nullptr},
        {"Filter Gain", 0, -1, 1, 0, nullptr},
        {"Volume DC Bias", 0, -1, 1, 0, nullptr},
        {"SID_FUTURE2", 0, 0, 1, 0, nullptr},
        {"Emulate 8580 Clipping", 3, 0, 1, 1, "Off|On"},
        {"ch0 mute", 2, 0, 1, 0, nullptr},
        {"ch1 mute", 2, 0, 1, 0, nullptr},
        {"ch2 mute", 2, 0, 1, 0, nullptr},
        {"digi mute", 2, 0, 1, 0, nullptr},
        {"ADSR Behavior", 3, 0, 4, 0, adsr},
        {"SID Combine Wave", 3, 0, 31, 0, combine},
        {"Filter Pops", 3, 0, 1, 1, "Full emu|Mods only"},
        {"Osc Leak", 3, 0, 1, 0, "Off|On"},
        {"Filter 6", 0, -1, 1, 0, nullptr},
        {"Filter 7", 0, -1, 1, 0, nullptr},
        {"Filter 8", 0, -1, 1, 0, nullptr},
        {"Filter 9", 0, -1, 1, 0, nullptr},
        {"Filter 10", 0, -1, 1, 0, nullptr},
        {"Filter 11", 0, -1, 1, 0, nullptr},
    };
    SIDEmu chip;
    const std::vector<ParameterInfo>& params = chip.getChipInfo()->parameters;
    ASSERT_EQ(params.size(), std::size(kWant));
    for (size_t i = 0; i < params.size(); ++i) {
        const ParameterInfo& p = params[i];
        const auto& w = kWant[i];
        SCOPED_TRACE(w.label);
        const char* label = p.label;
        const char* list = p.list;
        ASSERT_NE(label, nullptr);
        EXPECT_STREQ(label, w.label);
        EXPECT_EQ(p.type, w.type);
        EXPECT_EQ(p.minValue, w.min);
        EXPECT_EQ(p.maxValue, w.max);
        EXPECT_EQ(p.defaultValue, w.def);
        if (w.list)
            EXPECT_STREQ(list, w.list);
        else
            EXPECT_EQ(list, nullptr);
        EXPECT_EQ(p.version, 2121u);
        EXPECT_EQ(p.factor, 1.0f);
        EXPECT_EQ(p.flags & 3, 3);
        EXPECT_EQ(p.index, i);
    }
}

// Everything a parameter can change, for "changes nothing" checks.
auto snapshot(const SIDEmu& c)
{
    const SIDFilterLinear& lin = c.getLinearFilter();
    const SIDFilter_table& m = c.getMeasuredFilter();
    return std::make_tuple(c.getOutputDcLevel(), c.getClipping(), c.getMute(0), c.getMute(1), c.getMute(2),
                           c.getDigiMute(), c.getAdsrBehavior(), c.getCombineWaveMode(), c.getFilterPops(),
                           c.getOscLeak(), lin.getGain(), lin.getCutoffScale(), m.getDistortionGain(),
                           m.getDcGain(), m.getCutoffScale(), m.getOutputGain(), c.getSelectedChip(),
                           c.voice(0).combinedTable6, c.voice(0).envelope.getBehaviourFixed());
}

TEST(SIDEmuParameters, UnusedIndicesChangeNothing)
{
    auto plain = makeChip();
    auto touched = makeChip();
    for (uint64_t index : {uint64_t(6), uint64_t(16), uint64_t(21), uint64_t(22), uint64_t(1000), UINT64_MAX})
        for (float v : {-1.0f, 0.5f, 1.0f, kNaN, kInf, 1e30f})
            touched->setParameter(index, v);
    EXPECT_EQ(snapshot(*touched), snapshot(*plain));
    for (SIDEmu* c : {plain.get(), touched.get()})
        write(*c, {{0, 0x45}, {1, 0x1D}, {6, 0xF0}, {4, 0x21}, {23, 0x01}, {24, 0x1F}, {22, 12}});
    EXPECT_EQ(render(*touched, 3000), render(*plain, 3000));
}

TEST(SIDEmuParameters, ParametersReachTheirFields)
{
    auto c = makeChip();
    const float dc = c->getOutputDcLevel();
    c->setParameter(SIDParam::kVolumeDcBias, 0.5f);
    EXPECT_FLOAT_EQ(c->getOutputDcLevel(), dc - 0.5f);
    for (float bad : {kNaN, kInf, -kInf}) {
        c->setParameter(SIDParam::kVolumeDcBias, bad);  // ignored
        EXPECT_FLOAT_EQ(c->getOutputDcLevel(), dc - 0.5f);
    }

    c->setParameter(SIDParam::kFilterGain, 1.0f);
    EXPECT_EQ(c->getLinearFilter().getGain(), 16.0f);
    EXPECT_EQ(c->getMeasuredFilter().getOutputGain(), 4.0f);
    c->setParameter(SIDParam::kFilterCutoffOffset, -1.0f);
    EXPECT_EQ(c->getLinearFilter().getCutoffScale(), 0.25f);
    EXPECT_EQ(c->getMeasuredFilter().getCutoffScale(), 0.25f);
    c->setParameter(SIDParam::kFilterDistGain, 0.25f);
    EXPECT_EQ(c->getMeasuredFilter().getDistortionGain(), 2.0f);
    c->setParameter(SIDParam::kFilterDc, -0.25f);
    EXPECT_EQ(c->getMeasuredFilter().getDcGain(), 0.5f);
    c->setFilterParameter(SIDFilterParam::kGain, 0.0f);
    EXPECT_EQ(c->getLinearFilter().getGain(), 1.0f);
    EXPECT_EQ(c->getMeasuredFilter().getOutputGain(), 1.0f);

    // Switches: on means above 0.
    for (uint64_t i : {SIDParam::kMute0, SIDParam::kMute0 + 1, SIDParam::kMute0 + 2})
        c->setParameter(i, 0.5f);
    c->setParameter(SIDParam::kDigiMute, 1.0f);
    c->setParameter(SIDParam::kOscLeak, 1.0f);
    c->setParameter(SIDParam::kFilterPops, kNaN);
    EXPECT_EQ(c->getMute(0) + c->getMute(1) + c->getMute(2), 3);
    EXPECT_EQ(c->getDigiMute(), 1);
    EXPECT_EQ(c->getOscLeak(), 1);
    EXPECT_EQ(c->getFilterPops(), 0);
    c->setParameter(SIDParam::kMute0 + 1, -1.0f);
    EXPECT_EQ(c->getMute(1), 0);

    // Integers: truncated, NaN and negatives 0, saturated above.
    const struct {
        float value;
        uint32_t clipping;
        uint64_t combine;
    } kIntegers[] = {{0.9f, 0, 0}, {1.7f, 1, 1}, {-3.0f, 0, 0}, {kNaN, 0, 0},
                     {kInf, UINT32_MAX, UINT64_MAX}, {1e30f, UINT32_MAX, UINT64_MAX}};
    for (const auto& k : kIntegers) {
        c->setParameter(SIDParam::kClipping, k.value);
        c->setParameter(SIDParam::kCombineWave, k.value);
        EXPECT_EQ(c->getClipping(), k.clipping) << k.value;
        EXPECT_EQ(c->getCombineWaveMode(), k.combine) << k.value;
    }
}

TEST(SIDEmuParameters, AdsrBehaviour)
{
    const std::tuple<int, int, int> kWant[] = {{1, 0, 1}, {1, 1, 1}, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}};
    auto flags = [](const SIDEmu& c, size_t v) {
        const SIDEnvelope& e = c.voice(v).envelope;
        EXPECT_EQ(e.getGatePipelining(), e.getBehaviourFixed());
        return std::make_tuple(int(e.getBehaviourFixed()), int(e.getFastAttackZero()),
                               int(e.getLinearRelease()));
    };
    for (int choice = 0; choice < 5; ++choice) {
        auto with = makeChip();
        with->extensionsEnabled = 1;
        with->setParameter(SIDParam::kAdsrBehavior, float(choice));
        auto without = makeChip();
        without->setParameter(SIDParam::kAdsrBehavior, float(choice));
        for (size_t v = 0; v < 3; ++v) {
            EXPECT_EQ(flags(*with, v), kWant[choice]) << choice;
            EXPECT_EQ(flags(*without, v), std::make_tuple(0, 0, 0)) << choice;
        }
        // The stored choice takes effect once extensions are enabled.
        without->extensionsEnabled = 1;
        without->applyAdsrBehavior();
        EXPECT_EQ(flags(*without, 2), kWant[choice]);
    }
}

TEST(SIDEmuParameters, CombineWaveWithoutDatabase)
{
    auto c = makeChip();
    const SIDVoice& v = c->voice(1);
    const uint16_t* builtin = builtinChipTableSet(kDefaultChipTableSet);
    EXPECT_EQ(v.combinedTable3, builtin + 2 * kCombinedTableLength);
    EXPECT_EQ(v.combinedTable5, builtin + 4 * kCombinedTableLength);
    EXPECT_EQ(v.combinedTable6, builtin + 5 * kCombinedTableLength);
    EXPECT_EQ(v.combinedTable7, builtin + 6 * kCombinedTableLength);

    for (float mode : {1.0f, 13.0f, 31.0f, 40.0f}) {
        c->setParameter(SIDParam::kCombineWave, mode);
        const uint64_t block = std::min<uint64_t>(uint64_t(mode), 31);
        EXPECT_EQ(v.combinedTable3, builtinCombineTable(block, 0)) << mode;
        EXPECT_EQ(v.combinedTable5, builtinCombineTable(block, 1)) << mode;
        EXPECT_EQ(v.combinedTable6, builtinCombineTable(block, 2)) << mode;
        EXPECT_EQ(v.combinedTable7, builtinCombineTable(block, 3)) << mode;
        EXPECT_EQ(v.sawPulseQuirk, 0);
        EXPECT_EQ(v.generatedCombinedTables, 1);
    }
    c->setParameter(SIDParam::kCombineWave, 0.0f);
    EXPECT_EQ(v.combinedTable6, builtin + 5 * kCombinedTableLength);
    EXPECT_EQ(v.generatedCombinedTables, 0);
    EXPECT_EQ(v.sawPulseQuirk, 0);
}

// A table-model chip with both quirk bytes set, so its voices get the saw+pulse quirk.
fixtures::ChipDescription quirkChip(const std::string& name, uint32_t seed)
{
    fixtures::ChipDescription d = fixtures::syntheticChip(name, seed, true);
    d.without("Conf").leaf("Conf", fixtures::confBytes(1, 1, 0, 2));
    return d;
}

TEST(SIDEmuParameters, ModelSelectsProfiles)
{
    std::vector<fixtures::ChipDescription> chips;
    for (uint32_t i = 0; i < 10; ++i)
        chips.push_back(fixtures::syntheticChip("chip " + std::to_string(i), i, i % 2 == 1));
    chips[3] = quirkChip("quirky", 3);
    // No "Comb" and a set number past the built-in ones: set 4.
    chips[5].without("Comb").without("Conf").leaf("Conf", fixtures::confBytes(0, 0, 0, 7));
    const auto db = sidtest::loadDatabase(chips);
    ASSERT_EQ(db->chipCount(), 10u);

    struct Listener : SwallowPopListener {
        std::vector<std::pair<uint64_t, uint32_t>> calls;
        void swallowPop(uint64_t index, uint32_t value) override { calls.emplace_back(index, value); }
    } listener;

    auto c = makeChip(256, 1006);
    c->setSwallowPopListener(&listener);
    c->setParameter(SIDParam::kModel, 2.0f);  // no database yet: nothing happens
    EXPECT_EQ(c->getSelectedChip(), SIDEmu::kNoChipSelected);
    EXPECT_TRUE(listener.calls.empty());

    c->useDatabase(*db);
    EXPECT_EQ(c->isDatabaseLoaded(), 1);
    EXPECT_STREQ(c->getChipInfo()->parameters[SIDParam::kModel].list, db->chipList().c_str());
    // Chip 18 is past the end: the default profile and the default record.
    EXPECT_EQ(c->getSelectedChip(), 18u);
    EXPECT_EQ(&c->getProfile(), &defaultSIDChipInfo());
    EXPECT_EQ(c->getMeasuredFilter().getRecord(), &db->getDefaultRecord());
    EXPECT_EQ(c->isLinearModel(), 0);
    EXPECT_EQ(listener.calls, (std::vector<std::pair<uint64_t, uint32_t>>{{18, 1006}}));

    c->setParameter(SIDParam::kModel, -5.0f);
    EXPECT_EQ(c->getSelectedChip(), 0u);
    EXPECT_EQ(&c->getProfile(), &db->chipInfoAt(0));
    EXPECT_EQ(c->getMeasuredFilter().getRecord(), &db->chipRecordAt(0));
    c->setParameter(SIDParam::kModel, 0.0f);  // same index: the listener is not called again
    EXPECT_EQ(listener.calls.size(), 2u);
    EXPECT_EQ(listener.calls.back().first, 0u);
    c->setParameter(SIDParam::kModel, kNaN);
    EXPECT_EQ(c->getSelectedChip(), 0u);
    c->setParameter(SIDParam::kModel, 1e30f);
    EXPECT_EQ(&c->getProfile(), &defaultSIDChipInfo());
    c->selectChip(INT64_MIN, 7);
    EXPECT_EQ(c->getSelectedChip(), 0u);

    // A table-model profile: linear filter with its tables, delayed output, its DAC curves and DC.
    c->setParameter(SIDParam::kModel, 1.0f);
    const SIDChipInfo& p1 = db->chipInfoAt(1);
    EXPECT_EQ(c->isLinearModel(), 1);
    EXPECT_EQ(c->getDcTable(), p1.dcTable.data());
    EXPECT_EQ(c->getBaseDc(), p1.outputDc);
    EXPECT_EQ(c->getFilterDcScale(), p1.filterScale);
    EXPECT_EQ(c->getOutputDcLevel(), p1.outputDc + 0.0f + p1.filterDcBias + p1.volumeDcBias);
    for (size_t v = 0; v < 3; ++v) {
        const SIDVoice& s = c->voice(v);
        EXPECT_EQ(s.delayedOutput, 1);
        EXPECT_EQ(static_cast<const void*>(s.envelope.getWaveDac()), p1.voiceTables[v].oscCurve.data());
        EXPECT_EQ(static_cast<const void*>(s.envelope.getEnvelopeDac()), p1.voiceTables[v].envCurve.data());
        EXPECT_EQ(s.combinedTable3, p1.combTables.data() + 2 * kCombinedTableLength);
        EXPECT_EQ(s.combinedTable7, p1.combTables.data() + 6 * kCombinedTableLength);
        EXPECT_EQ(s.sawPulseQuirk, 0);  // table model without the quirk byte
    }
    // Measured profile 2 keeps its own tables and gets the quirk (both bytes zero).
    c->setParameter(SIDParam::kModel, 2.0f);
    EXPECT_EQ(c->voice(0).delayedOutput, 0);
    EXPECT_EQ(c->voice(0).sawPulseQuirk, 1);

    // "SID Combine Wave" and back restores the profile's quirk and tables.
    c->setParameter(SIDParam::kModel, 3.0f);
    const SIDVoice& v = c->voice(2);
    EXPECT_EQ(v.sawPulseQuirk, 1);
    EXPECT_EQ(v.combinedTable5, db->chipInfoAt(3).combTables.data() + 4 * kCombinedTableLength);
    c->setParameter(SIDParam::kCombineWave, 20.0f);
    EXPECT_EQ(v.sawPulseQuirk, 0);
    EXPECT_EQ(v.generatedCombinedTables, 1);
    EXPECT_EQ(v.combinedTable5, builtinCombineTable(20, 1));
    c->setParameter(SIDParam::kCombineWave, 0.0f);
    EXPECT_EQ(v.sawPulseQuirk, 1);
    EXPECT_EQ(v.generatedCombinedTables, 0);
    EXPECT_EQ(v.combinedTable5, db->chipInfoAt(3).combTables.data() + 4 * kCombinedTableLength);

    // No "Comb" and set 7: the built-in set 4.
    c->setParameter(SIDParam::kModel, 5.0f);
    EXPECT_EQ(c->voice(0).combinedTable6, builtinChipTableSet(4) + 5 * kCombinedTableLength);
}

TEST(SIDEmuParameters, EmptyDatabaseKeepsTheBuiltInModel)
{
    SIDDatabase empty;
    auto c = makeChip();
    c->useDatabase(empty);
    EXPECT_EQ(c->isDatabaseLoaded(), 0);
    c->setParameter(SIDParam::kModel, 3.0f);
    EXPECT_EQ(c->getSelectedChip(), SIDEmu::kNoChipSelected);
    EXPECT_EQ(c->getChipInfo()->parameters[SIDParam::kModel].list, nullptr);
}

}  // namespace
