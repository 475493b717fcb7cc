#include "sid/SIDDatabase.h"

#include "fixtures/ChipDatabaseWriter.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

using fixtures::Bytes;
using fixtures::ChipDescription;
using fixtures::DatabaseForm;
using fixtures::floatBytes;

namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

std::unique_ptr<SIDDatabase> loadBytes(const fixtures::TempDir& dir, const Bytes& bytes,
                                       const std::string& name = "chips.sdb")
{
    const std::string path = dir.write(name, std::string(bytes.begin(), bytes.end()));
    return std::make_unique<SIDDatabase>(path);
}

std::unique_ptr<SIDDatabase> load(const fixtures::TempDir& dir, const std::vector<ChipDescription>& chips,
                                  DatabaseForm form = DatabaseForm::Riff)
{
    return loadBytes(dir, fixtures::writeChipDatabase(chips, form));
}

// A chip with texts only (and an empty filter list).
ChipDescription plainChip(const std::string& name = "X", const std::string& tag = "0")
{
    ChipDescription c;
    c.text("Name", name).text("Mark", "M" + tag).text("Date", "D" + tag).text("Bcde", "B" + tag);
    return c;
}

std::vector<float> ramp(size_t n, float from, float step)
{
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = from + step * float(i);
    return v;
}

std::vector<float> with(std::vector<float> v, size_t at, float value)
{
    v.at(at) = value;
    return v;
}

template <size_t N>
std::vector<float> values(const std::array<float, N>& a)
{
    return {a.begin(), a.end()};
}

std::vector<float> values(const SIDLineRows& rows)
{
    std::vector<float> v;
    for (const auto& row : rows)
        v.insert(v.end(), row.begin(), row.end());
    return v;
}

std::vector<float> floatsOf(const Bytes& b)
{
    std::vector<float> v(b.size() / 4);
    std::memcpy(v.data(), b.data(), v.size() * 4);
    return v;
}

const Bytes& chunk(const ChipDescription& c, const std::string& id)
{
    for (const auto* list : {&c.texts, &c.leaves, &c.filterLeaves})
        for (const auto& n : *list)
            if (n.id == id)
                return n.data;
    static const Bytes none;
    ADD_FAILURE() << "no chunk " << id;
    return none;
}

// The 22 shaping fields in "Extr" order.
std::vector<float> extraFields(const SIDChipRecord& r)
{
    return {r.reshapegainin,       r.reshapebpfoffset,    r.reshapelpfoffset, r.reshapegainout,
            r.bleedoffsetbpf,      r.bleedoffsethpf,      r.bpfdrivescale,    r.lpfdrivescale,
            r.resonancedrop,       r.curveclip,           r.reshapebpfoffsetmod, r.reshapelpfoffsetmod,
            r.innerbpstg0in,       r.innerbphpfin,        r.innerbpbiasin,    r.innerbpinclip,
            r.innerbpmxgain,       r.innerbpmxbias,       r.innerbpagrinit,   r.innerbpagrminv,
            r.innerbpagrvldg,      r.innerbpagrgaib};
}

std::vector<float> recordScalars(const SIDChipRecord& r)
{
    std::vector<float> v = extraFields(r);
    v.insert(v.end(), {r.adjustinputgain, r.adjustinputbias, r.adjustoutputlpfbias, r.adjustoutputgain,
                       float(r.overrideDcScale), r.overrideDcScaleValue, float(r.nameFixFlag),
                       r.nameFixOffsets[0], r.nameFixOffsets[1]});
    return v;
}

void expectSameChip(const SIDDatabase& a, const SIDDatabase& b, size_t i)
{
    const SIDChipInfo& x = a.chipInfoAt(i);
    const SIDChipInfo& y = b.chipInfoAt(i);
    EXPECT_EQ(x.texts, y.texts) << i;
    EXPECT_EQ((std::vector<uint32_t>{x.tableModel, x.wave6Quirk, x.rawOscillators, x.spare, x.waveSet}),
              (std::vector<uint32_t>{y.tableModel, y.wave6Quirk, y.rawOscillators, y.spare, y.waveSet}))
        << i;
    ASSERT_EQ(x.voiceTables.size(), y.voiceTables.size()) << i;
    for (size_t v = 0; v < x.voiceTables.size(); ++v) {
        EXPECT_EQ(x.voiceTables[v].oscCurve, y.voiceTables[v].oscCurve) << i;
        EXPECT_EQ(x.voiceTables[v].envCurve, y.voiceTables[v].envCurve) << i;
    }
    EXPECT_EQ(x.combTables, y.combTables) << i;
    EXPECT_EQ(x.dcTable, y.dcTable) << i;
    EXPECT_EQ(x.resoInverseQ, y.resoInverseQ) << i;
    EXPECT_EQ(x.lineRows, y.lineRows) << i;
    EXPECT_EQ(x.mixerGains, y.mixerGains) << i;
    EXPECT_EQ(x.modeGains, y.modeGains) << i;
    EXPECT_EQ(x.finalTrim, y.finalTrim) << i;
    EXPECT_EQ((std::vector<float>{x.outputDc, float(x.hasDcTable), x.filterScale, x.mixerSign, x.filterDcBias,
                                  x.volumeDcBias}),
              (std::vector<float>{y.outputDc, float(y.hasDcTable), y.filterScale, y.mixerSign, y.filterDcBias,
                                  y.volumeDcBias}))
        << i;
    const SIDChipRecord& r = a.chipRecordAt(i);
    const SIDChipRecord& s = b.chipRecordAt(i);
    EXPECT_EQ(r.globalParams, s.globalParams) << i;
    EXPECT_EQ(r.inverseQ, s.inverseQ) << i;
    EXPECT_EQ(r.lineRows, s.lineRows) << i;
    EXPECT_EQ(r.filterData, s.filterData) << i;
    EXPECT_EQ(r.cutoffCurve, s.cutoffCurve) << i;
    EXPECT_EQ(recordScalars(r), recordScalars(s)) << i;
}

}  // namespace

TEST(SIDDatabaseLoader, ChipListMarksTheFirstEighteenDeprecated)
{
    for (DatabaseForm form : {DatabaseForm::Riff, DatabaseForm::Form}) {
        fixtures::TempDir dir;
        std::vector<ChipDescription> chips;
        for (int i = 0; i < 19; ++i)
            chips.push_back(plainChip("X", std::to_string(i)));
        const auto db = load(dir, chips, form);
        ASSERT_EQ(db->chipCount(), 19u);
        std::string want;
        for (int i = 0; i < 18; ++i)
            want += "{deprecated}|";
        EXPECT_EQ(db->chipList(), want + "M18 D18 (B18)");

        chips.push_back(plainChip("X", "19"));
        chips.push_back(plainChip("X", "20"));
        EXPECT_EQ(load(dir, chips, form)->chipList(), want + "M18 D18 (B18)|M19 D19 (B19)|M20 D20 (B20)");
    }
}

TEST(SIDDatabaseLoader, FewChipsAllDeprecatedWithTrailingBar)
{
    fixtures::TempDir dir;
    EXPECT_EQ(load(dir, {plainChip(), plainChip()})->chipList(), "{deprecated}|{deprecated}|");
}

TEST(SIDDatabaseLoader, ChipWithoutInfoKeepsListPositionsEqualToIndexes)
{
    fixtures::TempDir dir;
    std::vector<ChipDescription> chips;
    for (int i = 0; i < 21; ++i)
        chips.push_back(plainChip("X", std::to_string(i)));
    for (int i : {3, 19}) {
        chips[i].hasInfo = false;
        chips[i].leaf("Conf", fixtures::confBytes(1, 1, 1, 2));
    }
    const auto db = load(dir, chips);
    ASSERT_EQ(db->chipCount(), 21u);
    std::string want;
    for (int i = 0; i < 18; ++i)
        want += "{deprecated}|";
    EXPECT_EQ(db->chipList(), want + "M18 D18 (B18)|  ()|M20 D20 (B20)");

    // The chip's records keep their defaults; its neighbours are read.
    const SIDChipInfo& skipped = db->chipInfoAt(19);
    EXPECT_TRUE(skipped.texts.empty());
    EXPECT_TRUE(skipped.voiceTables.empty());
    EXPECT_EQ(skipped.tableModel, 0);
    EXPECT_EQ(skipped.waveSet, 4u);
    EXPECT_EQ(db->chipInfoAt(3).waveSet, 4u);
    EXPECT_EQ(db->chipInfoAt(20).texts.at("Mark"), "M20");
    EXPECT_EQ(db->chipInfoAt(4).voiceTables.size(), 3u);
}

TEST(SIDDatabaseLoader, RiffAndFormFilesLoadToIdenticalRecords)
{
    std::vector<ChipDescription> chips;
    for (uint32_t i = 0; i < 20; ++i)
        chips.push_back(fixtures::syntheticChip("chip " + std::to_string(i), i, i % 3 == 1));
    chips[5].without("Ddcm");
    chips[6].without("Aug2");
    chips[7].hasFilter = false;
    chips[8].hasInfo = false;
    chips[9].text("Name", "odd");  // a second "Name": the first wins
    fixtures::TempDir dir;
    const auto riff = load(dir, chips, DatabaseForm::Riff);
    const auto form = load(dir, chips, DatabaseForm::Form);
    ASSERT_EQ(riff->chipCount(), 20u);
    ASSERT_EQ(form->chipCount(), 20u);
    EXPECT_EQ(riff->chipList(), form->chipList());
    for (size_t i = 0; i < 20; ++i)
        expectSameChip(*riff, *form, i);
    EXPECT_EQ(riff->chipInfoAt(9).texts.at("Name"), "chip 9");
}

TEST(SIDDatabaseLoader, FullChipFillsEveryField)
{
    const ChipDescription c = fixtures::syntheticChip("R9 TEST", 3);
    fixtures::TempDir dir;
    const auto db = load(dir, {c});
    ASSERT_EQ(db->chipCount(), 1u);
    const SIDChipInfo& info = db->chipInfoAt(0);
    const SIDChipRecord& rec = db->chipRecordAt(0);

    EXPECT_EQ(info.texts.size(), 8u);
    EXPECT_EQ(info.texts.at("Name"), "R9 TEST");
    EXPECT_EQ(info.texts.at("Type"), "6581");
    EXPECT_EQ(info.waveSet, 3u);
    EXPECT_EQ(info.hasDcTable, 1);
    EXPECT_EQ(values(info.dcTable), floatsOf(chunk(c, "Ddcm")));
    const Bytes& comb = chunk(c, "Comb");
    ASSERT_EQ(info.combTables.size(), 32768u);
    EXPECT_EQ(std::memcmp(info.combTables.data(), comb.data(), comb.size()), 0);
    EXPECT_EQ(values(rec.inverseQ), floatsOf(chunk(c, "Reso")));
    EXPECT_EQ(values(rec.lineRows), floatsOf(chunk(c, "Line")));
    EXPECT_EQ(values(rec.filterData), floatsOf(chunk(c, "Aug2")));
    EXPECT_EQ(values(rec.cutoffCurve), floatsOf(chunk(c, "Cdac")));
    EXPECT_EQ(extraFields(rec), floatsOf(chunk(c, "Extr")));
    // Measured model with "Ddcm": "Fina" gives the four adjust fields and the filter scale.
    const std::vector<float> fina = floatsOf(chunk(c, "Fina"));
    EXPECT_EQ((std::vector<float>{rec.adjustinputgain, rec.adjustinputbias, rec.adjustoutputlpfbias,
                                  rec.adjustoutputgain, info.filterScale}),
              fina);
    const std::vector<float> glbl = floatsOf(chunk(c, "Glbl"));
    EXPECT_EQ(info.outputDc, glbl[0]);
    EXPECT_EQ(values(info.mixerGains), (std::vector<float>{glbl[13], glbl[14], glbl[15], glbl[7]}));
    EXPECT_EQ(info.mixerSign, -1.0f);
    EXPECT_EQ(info.filterDcBias, floatsOf(chunk(c, "Fdcb"))[0]);
    EXPECT_EQ(info.volumeDcBias, floatsOf(chunk(c, "Fvob"))[0]);
    EXPECT_EQ(rec.globalParams, SIDChipRecord().globalParams) << "the loader never changes globalParams";

    // Each voice takes its own "Osc" and "Env" chunk, less its "Volt" entry.
    const std::vector<float> volt = floatsOf(chunk(c, "Volt"));
    const char* oscIds[3] = {"Osc1", "Osc2", "Osc3"};
    const char* envIds[3] = {"Env1", "Env2", "Env3"};
    const int zeroVolt[3] = {6, 5, 3};
    ASSERT_EQ(info.voiceTables.size(), 3u);
    for (int v = 0; v < 3; ++v) {
        const std::vector<float> osc = floatsOf(chunk(c, oscIds[v]));
        const std::vector<float> env = floatsOf(chunk(c, envIds[v]));
        for (size_t k : {size_t(0), size_t(1000), size_t(4095)}) {
            const double q = std::floor(double(osc[k] - volt[zeroVolt[v]]) * 4095.0 + 0.5);
            EXPECT_EQ(info.voiceTables[v].oscCurve[k], uint16_t(int(q))) << oscIds[v] << " entry " << k;
        }
        for (size_t k : {size_t(0), size_t(100), size_t(255)}) {
            const float e = std::floor((env[k] - env[0]) / (env[255] - env[0]) * 65280.0f + 0.5f);
            EXPECT_EQ(info.voiceTables[v].envCurve[k], int32_t(e)) << envIds[v] << " entry " << k;
        }
    }
}

TEST(SIDDatabaseLoader, TableModelFillsTheDescriptionsFilterTables)
{
    const ChipDescription c = fixtures::syntheticChip("T", 2, true);
    fixtures::TempDir dir;
    const auto db = load(dir, {c});
    const SIDChipInfo& info = db->chipInfoAt(0);
    const auto fresh = std::make_unique<SIDChipRecord>();
    EXPECT_EQ(values(info.resoInverseQ), floatsOf(chunk(c, "Reso")));
    EXPECT_EQ(values(info.lineRows), floatsOf(chunk(c, "Line")));
    EXPECT_EQ(db->chipRecordAt(0).inverseQ, fresh->inverseQ);
    EXPECT_EQ(db->chipRecordAt(0).lineRows, fresh->lineRows);
    EXPECT_EQ(db->chipRecordAt(0).filterData, fresh->filterData);
    EXPECT_EQ(extraFields(db->chipRecordAt(0)), extraFields(*fresh));
    // Table model with "Ddcm": unit gains.
    EXPECT_EQ(values(info.mixerGains), (std::vector<float>{1, 1, 1, 1}));
    EXPECT_EQ(info.filterScale, 1.0f);
}

TEST(SIDDatabaseLoader, CombChunkBySize)
{
    Bytes bytes8(32768, 0);
    bytes8[0] = 255;
    bytes8[1] = 1;
    bytes8[32767] = 0x80;
    std::vector<uint16_t> words(32768);
    for (size_t k = 0; k < words.size(); ++k)
        words[k] = uint16_t(k * 7);
    const struct {
        const char* what;
        bool present;
        Bytes data;
        std::vector<std::pair<size_t, uint16_t>> entries;  // index, value
    } kCases[] = {
        {"bytes", true, bytes8, {{0, 4080}, {1, 16}, {2, 0}, {32767, 0x800}}},
        {"words", true, fixtures::u16Bytes(words), {{0, 0}, {1, 7}, {32767, uint16_t(32767 * 7)}}},
        {"40000 bytes", true, Bytes(40000, 0xAB), {{0, 0}, {20000, 0}, {32767, 0}}},
        {"4 bytes", true, Bytes(4, 0xAB), {{0, 0}}},
        {"missing", false, {}, {}},
    };
    for (const auto& c : kCases) {
        ChipDescription chip = plainChip();
        if (c.present)
            chip.leaf("Comb", c.data);
        fixtures::TempDir dir;
        const auto db = load(dir, {chip});
        const std::vector<uint16_t>& table = db->chipInfoAt(0).combTables;
        if (!c.present) {
            EXPECT_TRUE(table.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(table.size(), 32768u) << c.what;
        for (const auto& [k, v] : c.entries)
            EXPECT_EQ(table[k], v) << c.what << " entry " << k;
        if (std::string(c.what) == "40000 bytes") {
            EXPECT_EQ(std::count(table.begin(), table.end(), 0), 32768) << c.what;
        }
    }
}

TEST(SIDDatabaseLoader, OscillatorCurvesSubtractTheirVoltages)
{
    std::vector<float> volt = {0.0f, 0.0f, 0.0f, 0.125f, 0.0f, 0.25f, 0.375f, 0.0f};
    const struct {
        bool raw;
        int voice;
        float value;
        uint16_t want;
    } kCases[] = {
        {false, 0, 0.375f + 1.0f, 4095},
        {false, 1, 0.25f + 1.0f, 4095},
        {false, 2, 0.125f + 1.0f, 4095},
        {false, 0, 0.375f, 0},
        {false, 0, 0.375f + 0.5f, 2048},              // 2047.5 + 0.5 rounds up
        {false, 0, 0.375f - 1.0f / 4095.0f, 0xFFFF},  // -1 keeps its low 16 bits
        {false, 0, 0.375f + 17.0f, uint16_t(17 * 4095)},  // 69615 & 0xFFFF
        {true, 0, 1.0f, 4095},
        {true, 2, 1.0f, 4095},
        {false, 0, kNaN, 0},
        {false, 0, kInf, 0xFFFF},
        {false, 0, -kInf, 0},
        {false, 0, 3e38f, 0xFFFF},
    };
    const char* ids[3] = {"Osc1", "Osc2", "Osc3"};
    for (const auto& c : kCases) {
        ChipDescription chip = plainChip();
        chip.leaf("Conf", fixtures::confBytes(0, 0, c.raw, 4));
        chip.leaf("Volt", floatBytes(volt));
        std::vector<float> osc(4096, c.value);
        osc[1] = 0.0f;
        chip.leaf(ids[c.voice], floatBytes(osc));
        fixtures::TempDir dir;
        const auto db = load(dir, {chip});
        const auto& curve = db->chipInfoAt(0).voiceTables.at(c.voice).oscCurve;
        EXPECT_EQ(curve[0], c.want) << "voice " << c.voice << " value " << c.value << (c.raw ? " raw" : "");
        const float zero = c.raw ? 0.0f : volt[c.voice == 0 ? 6 : c.voice == 1 ? 5 : 3];
        EXPECT_EQ(curve[1], uint16_t(int(std::floor(-zero * 4095.0f + 0.5f)))) << "voice " << c.voice;
    }
}

TEST(SIDDatabaseLoader, EnvelopeCurvesAreNormalised)
{
    const struct {
        const char* what;
        std::vector<float> env;  // empty: chunk missing
        std::vector<std::pair<size_t, int32_t>> entries;
    } kCases[] = {
        {"linear", ramp(256, 0.2f, 1.0f / 255.0f), {{0, 0}, {128, 32768}, {255, 65280}}},
        {"falling", ramp(256, 2.0f, -1.0f / 255.0f), {{0, 0}, {128, 32768}, {255, 65280}}},
        {"flat", std::vector<float>(256, 0.7f), {{0, 0}, {1, 256}, {128, 32768}, {255, 65280}}},
        {"missing", {}, {{0, 0}, {1, 256}, {255, 65280}}},
        {"nan start", with(ramp(256, 0.2f, 0.01f), 0, kNaN), {{1, 256}, {200, 51200}}},
        {"infinite end", with(ramp(256, 0.2f, 0.01f), 255, kInf), {{3, 768}}},
        {"nan inside", with(ramp(256, 0.0f, 1.0f), 7, kNaN), {{7, 0}, {8, 2048}}},
        {"huge inside", with(ramp(256, 0.0f, 1.0f), 9, 3e38f), {{9, INT32_MAX}}},
    };
    for (const auto& c : kCases) {
        ChipDescription chip = plainChip();
        if (!c.env.empty())
            chip.leaf("Env2", floatBytes(c.env));
        fixtures::TempDir dir;
        const auto db = load(dir, {chip});
        const auto& curve = db->chipInfoAt(0).voiceTables.at(1).envCurve;
        for (const auto& [k, v] : c.entries)
            EXPECT_EQ(curve[k], v) << c.what << " entry " << k;
    }
}

TEST(SIDDatabaseLoader, ExtraChunkBySize)
{
    const std::vector<float> extra = ramp(22, 100.0f, 1.0f);
    const std::vector<float> defaults = extraFields(SIDChipRecord());
    std::vector<float> firstTen = defaults;
    std::copy(extra.begin(), extra.begin() + 10, firstTen.begin());
    const struct {
        size_t bytes;
        bool aug2;
        std::vector<float> want;
    } kCases[] = {
        {88, true, extra},
        {128, true, extra},  // bytes past the 22 fields are read but unused
        {40, true, firstTen},
        {20,
         true,
         [&] {
             auto v = defaults;
             std::copy(extra.begin(), extra.begin() + 5, v.begin());
             std::fill(v.begin() + 5, v.begin() + 10, 0.0f);
             return v;
         }()},
        {86, true, firstTen},
        {88, false, defaults},  // without "Aug2", "Extr" is not read
    };
    for (const auto& c : kCases) {
        std::vector<float> padded = extra;
        padded.resize(32, 555.0f);
        Bytes data = floatBytes(padded);
        data.resize(c.bytes);
        ChipDescription chip = plainChip();
        chip.filterLeaf("Extr", data);
        chip.filterLeaf("Cdac", floatBytes({9.0f, 9.0f}));
        if (c.aug2)
            chip.filterLeaf("Aug2", floatBytes({1.0f, 2.0f}));
        fixtures::TempDir dir;
        const auto db = load(dir, {chip});
        const SIDChipRecord& rec = db->chipRecordAt(0);
        EXPECT_EQ(extraFields(rec), c.want) << c.bytes << " bytes" << (c.aug2 ? "" : " without Aug2");
        EXPECT_EQ(rec.cutoffCurve[0], c.aug2 ? 9.0f : 0.0f);
        EXPECT_EQ(rec.cutoffCurve[2], 2 * 0.007327787f) << "a short Cdac keeps the rest";
        EXPECT_EQ(rec.filterData[1], c.aug2 ? 2.0f : 0.0f);
    }
}

TEST(SIDDatabaseLoader, MissingChunksGiveTheDefaults)
{
    for (bool withDdcm : {false, true}) {
        ChipDescription chip = plainChip("NOT IN ANY TABLE");
        if (withDdcm)
            chip.leaf("Ddcm", floatBytes({0.5f}));
        fixtures::TempDir dir;
        const auto db = load(dir, {chip});
        const SIDChipInfo& info = db->chipInfoAt(0);
        const SIDChipRecord& rec = db->chipRecordAt(0);
        const auto fresh = std::make_unique<SIDChipRecord>();
        const SIDChipInfo plain;

        EXPECT_EQ((std::vector<uint32_t>{info.tableModel, info.wave6Quirk, info.rawOscillators, info.spare,
                                         info.waveSet}),
                  (std::vector<uint32_t>{0, 0, 0, 0, 4}));
        EXPECT_EQ(info.texts.size(), 8u);
        EXPECT_EQ(info.texts.at("Ctry"), "");
        EXPECT_EQ(info.voiceTables.size(), 3u);
        EXPECT_TRUE(info.combTables.empty());
        EXPECT_EQ(rec.lineRows, fresh->lineRows);
        EXPECT_EQ(rec.inverseQ, fresh->inverseQ);
        EXPECT_EQ(info.resoInverseQ, plain.resoInverseQ);
        EXPECT_EQ(info.lineRows, plain.lineRows);
        EXPECT_EQ(rec.cutoffCurve, fresh->cutoffCurve);
        EXPECT_EQ(rec.cutoffCurve[100], float(100 * 0.007327787));
        EXPECT_EQ(extraFields(rec), extraFields(*fresh));
        EXPECT_EQ(info.filterDcBias, 0.0f);
        EXPECT_EQ(info.volumeDcBias, 0.0f);
        EXPECT_EQ(info.hasDcTable, 1);
        if (withDdcm) {
            // "Fina" defaults reach the record and the scale.
            EXPECT_EQ((std::vector<float>{rec.adjustinputgain, rec.adjustinputbias, rec.adjustoutputlpfbias,
                                          rec.adjustoutputgain, info.filterScale}),
                      (std::vector<float>{-1.058383f, 2.5084f, 2.5084f, 0.94483757f, 1.0f}));
            EXPECT_EQ(info.dcTable[0], 0.5f);
            EXPECT_EQ(info.dcTable[1], 0.0f);
        } else {
            EXPECT_EQ(info.filterScale, -1.0f);
            // "Glbl" defaults: G13..G15, G7 are 1.0.
            EXPECT_EQ(values(info.mixerGains), (std::vector<float>{1, 1, 1, 1}));
            EXPECT_NEAR(info.dcTable[1], 14.413f, 1e-5);
        }
    }
}

TEST(SIDDatabaseLoader, LongChunksCopyOnlyTheirReadSize)
{
    ChipDescription chip = plainChip();
    Bytes conf = fixtures::confBytes(0, 1, 0, 2);
    conf.insert(conf.end(), {9, 9, 9, 9});
    chip.leaf("Conf", conf);
    chip.leaf("Volt", floatBytes(ramp(10, 1.0f, 1.0f)));
    chip.leaf("Fdcb", floatBytes({0.25f, 9.0f}));
    chip.leaf("Ddcm", floatBytes(ramp(150, 0.0f, 1.0f)));
    std::string longName(200, 'n');
    chip.texts[0].data.assign(longName.begin(), longName.end());
    chip.filterLeaf("Reso", floatBytes(ramp(20, 1.0f, 1.0f)));
    chip.filterLeaf("Glbl", floatBytes(ramp(20, 0.0f, 0.0f)));
    fixtures::TempDir dir;
    const auto db = load(dir, {chip});
    const SIDChipInfo& info = db->chipInfoAt(0);
    EXPECT_EQ(info.wave6Quirk, 1);
    EXPECT_EQ(info.waveSet, 2u);
    EXPECT_EQ(info.filterDcBias, 0.25f);
    EXPECT_EQ(info.dcTable[143], 143.0f);
    EXPECT_EQ(info.texts.at("Name"), std::string(128, 'n'));
    EXPECT_EQ(db->chipRecordAt(0).inverseQ[15], 16.0f);
    // Volt 6 = 7.0 is subtracted from voice 1: a zero curve goes below 0.
    EXPECT_EQ(info.voiceTables[0].oscCurve[0], uint16_t(-7 * 4095));
}

TEST(SIDDatabaseLoader, ShortConfOverlaysOnlyItsBytes)
{
    ChipDescription chip = plainChip();
    chip.leaf("Conf", Bytes{1, 0, 1, 7, 2});  // waveSet's low byte only
    fixtures::TempDir dir;
    const auto db = load(dir, {chip});
    const SIDChipInfo& info = db->chipInfoAt(0);
    EXPECT_EQ(info.tableModel, 1);
    EXPECT_EQ(info.rawOscillators, 1);
    EXPECT_EQ(info.spare, 7);
    EXPECT_EQ(info.waveSet, 2u);
}

TEST(SIDDatabaseLoader, InfoTextsEndAtTheirFirstZero)
{
    ChipDescription chip;
    chip.texts.push_back({"Name", Bytes{'A', 'B', 0, 'C'}});
    chip.texts.push_back({"Mark", Bytes{'o', 'd', 'd'}});  // padded with a zero byte in the file
    fixtures::TempDir dir;
    const auto db = load(dir, {chip});
    EXPECT_EQ(db->chipInfoAt(0).texts.at("Name"), "AB");
    EXPECT_EQ(db->chipInfoAt(0).texts.at("Mark"), "odd");
    EXPECT_EQ(db->chipInfoAt(0).texts.at("Bmrk"), "");
}

TEST(SIDDatabaseLoader, DcRulesOverridesAndFixUpsRunPerChip)
{
    fixtures::TempDir dir;
    ChipDescription dc = plainChip("R2 1484 DH015118");
    dc.leaf("Volt", floatBytes(std::vector<float>(8, 0.0f)));
    ChipDescription fix = plainChip("6581R4AR 0487 14 HH022133");
    fix.leaf("Ddcm", floatBytes({1.0f}));
    ChipDescription table = plainChip("R5 2792 NM235N18");
    table.leaf("Conf", fixtures::confBytes(1, 0, 0, 4));
    dir.write("chips.sdb.R2 1484 DH015118.old.ov2.txt", "CutoffOverride,3,12000\n");
    dir.write("chips.sdb.6581R4AR 0487 14 HH022133.ov2.txt", "filterinddcscale,0,0.5\n");
    dir.write("chips.sdb.R5 2792 NM235N18.old.ov2.txt", "cutoffoverride,2,345\nbleedbpfoverride,2,9\n");
    const auto db = load(dir, {dc, fix, table});

    EXPECT_NEAR(db->chipInfoAt(0).dcTable[0], 0.19f, 1e-6);
    EXPECT_EQ(db->chipRecordAt(0).lineRows[3][3], 12000.0f);

    EXPECT_EQ(db->chipInfoAt(1).filterScale, 0.5f);
    EXPECT_EQ(db->chipRecordAt(1).nameFixOffsets[0], 0.03f);
    EXPECT_EQ(db->chipRecordAt(1).nameFixOffsets[1], -0.05f);
    const auto& gains = db->chipInfoAt(1).modeGains;
    EXPECT_EQ((std::vector<float>(gains.begin() + 3, gains.end())),
              (std::vector<float>{0.73435515f, 0.66768914f, 0.4144418f}));

    EXPECT_NEAR(db->chipInfoAt(2).dcTable[1], 0.1f, 1e-6);
    EXPECT_EQ(db->chipInfoAt(2).lineRows[2][3], 345.0f);
    EXPECT_EQ(db->chipInfoAt(2).lineRows[2][2], 0.0f);
}

TEST(SIDDatabaseLoader, LookupsOutsideTheChips)
{
    fixtures::TempDir dir;
    const auto db = load(dir, {plainChip(), plainChip()});
    EXPECT_EQ(&db->chipRecordAt(2), &db->getDefaultRecord());
    EXPECT_EQ(&db->chipRecordAt(SIZE_MAX), &db->getDefaultRecord());
    EXPECT_EQ(&db->chipInfoAt(2), &defaultSIDChipInfo());
    EXPECT_EQ(&db->chipInfoAt(SIDDatabase::kDefaultChip), &defaultSIDChipInfo());
    EXPECT_EQ(defaultSIDChipInfo().waveSet, 4u);
    EXPECT_NE(&db->chipRecordAt(1), &db->getDefaultRecord());
}

TEST(SIDDatabaseLoader, UnreadableFilesGiveNoChips)
{
    fixtures::TempDir dir;
    fixtures::ChunkWriter emptyRoot(fixtures::ChunkLayout::riff());
    emptyRoot.begin("RIFF", "SIDB").end();
    fixtures::ChunkWriter leafRoot(fixtures::ChunkLayout::rf64());
    leafRoot.leaf("RF64", Bytes(4, 0));
    fixtures::ChunkWriter leafChildren(fixtures::ChunkLayout::riff());
    leafChildren.begin("RIFF", "SIDB").leaf("Conf", fixtures::confBytes(1, 1, 1, 1)).end();
    const struct {
        const char* what;
        Bytes bytes;
        size_t chips;
    } kCases[] = {
        {"empty file", {}, 0},
        {"not a chunk file", Bytes{'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd'}, 0},
        {"three bytes", Bytes{'R', 'I', 'F'}, 0},
        {"root without children", emptyRoot.bytes(), 0},
        {"top chunk is a leaf", leafRoot.bytes(), 0},
        {"a leaf as chip", leafChildren.bytes(), 1},
    };
    for (const auto& c : kCases) {
        const auto db = loadBytes(dir, c.bytes);
        EXPECT_EQ(db->chipCount(), c.chips) << c.what;
        if (c.chips) {
            EXPECT_EQ(db->chipList(), "{deprecated}|") << c.what;
            EXPECT_TRUE(db->chipInfoAt(0).voiceTables.empty()) << c.what;
        }
    }
    EXPECT_EQ(std::make_unique<SIDDatabase>(dir / "missing.sdb")->chipCount(), 0u);
    EXPECT_EQ(std::make_unique<SIDDatabase>(dir.path())->chipCount(), 0u) << "a folder";
}

TEST(SIDDatabaseLoader, TruncatedFilesLoadWhatTheTreeAccepts)
{
    std::vector<ChipDescription> chips = {fixtures::syntheticChip("a", 1), fixtures::syntheticChip("b", 2)};
    // "Aug2" as the very last chunk of the file, so a cut inside it still leaves a readable tree.
    const Bytes aug2Data = chunk(chips[1], "Aug2");
    chips[1].without("Aug2").filterLeaf("Aug2", aug2Data);
    const Bytes whole = fixtures::writeChipDatabase(chips, DatabaseForm::Riff);
    // Offsets inside the second chip: its header, its "LIST(Info)", its "Aug2".
    const size_t second = fixtures::writeChipDatabase({chips[0]}, DatabaseForm::Riff).size();
    const size_t aug2 = whole.size() - aug2Data.size() + 1000;
    fixtures::TempDir dir;
    for (size_t cut : {size_t(6), size_t(12), second + 2, second + 14, second + 30, aug2, whole.size() - 1}) {
        const auto db = loadBytes(dir, Bytes(whole.begin(), whole.begin() + cut));
        EXPECT_LE(db->chipCount(), 2u) << "cut at " << cut;
        if (db->chipCount() == 2) {
            EXPECT_EQ(db->chipInfoAt(0).texts.at("Name"), "a") << "cut at " << cut;
        }
    }
    const auto cutInAug2 = loadBytes(dir, Bytes(whole.begin(), whole.begin() + aug2));
    ASSERT_EQ(cutInAug2->chipCount(), 2u);
    EXPECT_EQ(cutInAug2->chipInfoAt(1).texts.at("Name"), "b");
    EXPECT_EQ(cutInAug2->chipRecordAt(1).filterData[0], 0.0f) << "the cut chunk is not read";
}

TEST(SIDDatabaseLoader, NonFiniteValuesInEveryChunkAreHarmless)
{
    for (float bad : {kNaN, kInf, -kInf, 3.0e38f, -3.0e38f}) {
        ChipDescription chip = fixtures::syntheticChip("N", 1);
        for (auto* list : {&chip.leaves, &chip.filterLeaves})
            for (auto& n : *list)
                if (n.id != "Conf" && n.id != "Comb")
                    n.data = floatBytes(std::vector<float>(n.data.size() / 4, bad));
        ChipDescription noDdcm = chip;
        noDdcm.without("Ddcm").without("Name").text("Name", "R2 1484 DH015118");
        fixtures::TempDir dir;
        dir.write("chips.sdb.N.ov2.txt", "cutoffoverride,1,1e39\ncurveclip,0,-1e39\n");
        const auto db = load(dir, {chip, noDdcm});
        ASSERT_EQ(db->chipCount(), 2u);
        for (size_t k : {size_t(0), size_t(255)})
            EXPECT_EQ(db->chipInfoAt(0).voiceTables[2].envCurve[k], int32_t(256 * k)) << bad;
        EXPECT_TRUE(std::isinf(db->chipRecordAt(0).lineRows[1][3]));
    }
}

TEST(SIDDatabaseLoader, RandomMutationsNeverReadOutsideTheFile)
{
    ChipDescription a = plainChip("R2 1484 DH015118", "a");
    a.leaf("Conf", fixtures::confBytes(0, 1, 0, 2)).leaf("Volt", floatBytes(ramp(8, 0.0f, 0.1f)));
    a.leaf("Osc1", floatBytes(ramp(16, 0.0f, 0.1f))).leaf("Env3", floatBytes(ramp(16, 0.0f, 0.1f)));
    a.leaf("Comb", Bytes(64, 3)).leaf("Fdcb", floatBytes({0.5f}));
    a.filterLeaf("Reso", floatBytes(ramp(4, 0.5f, 0.1f))).filterLeaf("Aug2", floatBytes({1, 2, 3, 4}));
    a.filterLeaf("Extr", floatBytes(ramp(12, 1.0f, 1.0f))).filterLeaf("Glbl", floatBytes({0.1f, 0.2f}));
    ChipDescription b = plainChip("b", "b");
    b.leaf("Conf", fixtures::confBytes(1, 0, 1, 9)).leaf("Ddcm", floatBytes(ramp(6, 0.0f, 1.0f)));
    b.filterLeaf("Line", floatBytes(ramp(8, 0.0f, 1.0f))).filterLeaf("Fina", floatBytes({1, 2}));
    const Bytes valid = fixtures::writeChipDatabase({a, b, a}, DatabaseForm::Form);

    const unsigned seed = 20240917;
    std::mt19937 random(seed);
    fixtures::TempDir dir;
    const std::string path = dir / "chips.sdb";
    for (int round = 0; round < 2000; ++round) {
        Bytes bytes = valid;
        const int changes = 1 + int(random() % 4);
        for (int n = 0; n < changes; ++n)
            bytes[random() % bytes.size()] = uint8_t(random());
        if (random() % 8 == 0)
            bytes.resize(random() % bytes.size());
        dir.write("chips.sdb", std::string(bytes.begin(), bytes.end()));
        const auto db = std::make_unique<SIDDatabase>(path);
        ASSERT_LE(db->chipCount(), bytes.size() / 8 + 1) << "seed " << seed << " round " << round;
        for (size_t i = 0; i < db->chipCount(); ++i)
            ASSERT_LE(db->chipInfoAt(i).voiceTables.size(), 3u) << "seed " << seed << " round " << round;
    }
}

TEST(SIDDatabaseLoader, ChipCountIsCapped)
{
    // Chip containers of 12 bytes each: the records would cost far more than the file.
    fixtures::ChunkWriter w(fixtures::ChunkLayout::riff());
    w.begin("RIFF", "SIDB");
    for (size_t i = 0; i < SIDDatabase::kMaxChips + 5; ++i)
        w.begin("LIST", "Chip").end();
    w.end();
    fixtures::TempDir dir;
    const auto db = loadBytes(dir, w.bytes());
    EXPECT_EQ(db->chipCount(), SIDDatabase::kMaxChips);
    EXPECT_EQ(db->chipList().substr(db->chipList().size() - 5), "|  ()")
        << "the last kept chip ends the list";
}

TEST(SIDDatabaseLoader, SidChipNames)
{
    for (const char* yes : {"6581", "SID", "8580"})
        EXPECT_TRUE(SIDDatabase::isSidChipName(yes)) << yes;
    for (const char* no : {"sid", "6581R", "6581 ", "658", "", "SID\n", "8580A", "Sid"})
        EXPECT_FALSE(SIDDatabase::isSidChipName(no)) << no;
    EXPECT_FALSE(SIDDatabase::isSidChipName(std::string_view("SID\0", 4)));
}
