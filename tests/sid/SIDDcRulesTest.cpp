#include "sid/SIDDcRules.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr SIDVoltages kZeroVolts{};

struct Chip {
    SIDChipInfo info;
    std::unique_ptr<SIDChipRecord> record = std::make_unique<SIDChipRecord>();  // large

    explicit Chip(bool tableModel = false) { info.tableModel = tableModel ? 1 : 0; }
};

std::vector<float> values(const std::array<float, 4>& a) { return {a.begin(), a.end()}; }

}  // namespace

TEST(SIDDcRules, ThreeCasesSetGainsSignsAndScale)
{
    SIDGlobalParams g = kDefaultGlobalParams;
    g[0] = 0.25f;
    g[7] = 0.7f;
    g[13] = 0.4f;
    g[14] = 0.5f;
    g[15] = 0.6f;
    const SIDFinalAdjust fina = {2.0f, 3.0f, 4.0f, 5.0f, 6.0f};
    const struct {
        bool tableModel, hasDdcm;
        std::vector<float> mixerGains;
        float mixerSign, filterScale;
        std::vector<float> adjust;  // input gain, input bias, output LPF bias, output gain
        bool synthesised;
    } kCases[] = {
        {true, true, {1, 1, 1, 1}, 1.0f, 1.0f, {1, 0, 0, 1}, false},
        {false, true, {0.4f, 0.5f, 0.6f, 0.7f}, -1.0f, 6.0f, {2, 3, 4, 5}, false},
        {true, false, {0.4f, 0.5f, 0.6f, 0.7f}, 1.0f, 1.0f, {1, 0, 0, 1}, true},
        {false, false, {0.4f, 0.5f, 0.6f, 0.7f}, -1.0f, -1.0f, {1, 0, 0, 1}, true},
    };
    for (const auto& c : kCases) {
        Chip chip(c.tableModel);
        // Values a case must overwrite, or must leave alone.
        chip.info.filterScale = 9.0f;
        chip.info.mixerSign = 9.0f;
        chip.record->adjustinputgain = 1.0f;
        chip.record->adjustinputbias = 0.0f;
        chip.record->adjustoutputlpfbias = 0.0f;
        chip.record->adjustoutputgain = 1.0f;
        if (!c.synthesised) {
            chip.info.dcTable.fill(-7.0f);  // as a "Ddcm" chunk left it
        }
        applySidDcRules(chip.info, *chip.record, "X", c.hasDdcm, g, kZeroVolts, fina);

        const std::string what = std::string(c.tableModel ? "table" : "measured") +
                                 (c.hasDdcm ? " with Ddcm" : " without Ddcm");
        EXPECT_EQ(chip.info.outputDc, 0.25f) << what;
        EXPECT_EQ(values(chip.info.mixerGains), c.mixerGains) << what;
        EXPECT_EQ(chip.info.mixerSign, c.mixerSign) << what;
        EXPECT_EQ(chip.info.filterScale, c.filterScale) << what;
        const SIDChipRecord& r = *chip.record;
        EXPECT_EQ((std::vector<float>{r.adjustinputgain, r.adjustinputbias, r.adjustoutputlpfbias,
                                      r.adjustoutputgain}),
                  c.adjust)
            << what;
        EXPECT_EQ(chip.info.hasDcTable, c.synthesised ? 1 : 0) << what;
        if (!c.synthesised) {
            EXPECT_EQ(chip.info.dcTable[0], -7.0f) << what << ": the chunk's table stays";
        }
    }
}

TEST(SIDDcRules, ParameterSetIsChosenByName)
{
    const struct {
        const char* name;
        bool tableModel;
        unsigned u;
        float level;
    } kCases[] = {
        // Every voice sum 0, A1..A3 and C1..C3 0: level = offset(u) x dcGain x gains.
        {"R2 1484 DH015118", false, 0, 0.19f},          // 0.2 x 0.95
        {"R2 1484 DH015118", false, 1, -0.1425f},       // (0.2 - 0.4 + 0.1) x 0.95 x 1.5
        {"NO SUCH CHIP", false, 1, 14.413f},            // 0 - 0.987 + 7.7 + 7.7
        {"R2 1484 DH015118 ", false, 1, 14.413f},       // exact match only
        {"R5 2792 NM235N18", true, 1, 0.1f},            // the table model's lpOffset
        {"R5 2792 NM235N18", false, 1, 14.413f},        // not a measured row
        {"R2 1484 DH015118", true, 1, 0.0f},            // not the table model's Name
        {"6581 1484 DH015118", false, 1, 14.413f},      // fix-up Names are other texts
    };
    for (const auto& c : kCases) {
        Chip chip(c.tableModel);
        applySidDcRules(chip.info, *chip.record, c.name, false, kDefaultGlobalParams, kZeroVolts,
                        kDefaultFinalAdjust);
        EXPECT_NEAR(chip.info.dcTable[c.u], c.level, 1e-5) << c.name << " u " << c.u;
    }
}

TEST(SIDDcRules, SynthesisedTableMatchesHandComputedLevels)
{
    // Levels computed independently (double precision) from the rules for this chip.
    const SIDGlobalParams g = {0.5f,  0.1f,  0.2f,  0.3f,  0.05f, 0.06f, 0.07f, 0.9f,
                               0.8f,  0.7f,  0.01f, 0.02f, 0.03f, 0.6f,  0.5f,  0.4f};
    const SIDVoltages v = {0, 0, 0, 1.0f, 0, 1.5f, 2.0f, 0.25f};
    Chip chip;
    chip.record->lineRows[0][1] = 0.3f;  // high-pass bleed
    chip.record->lineRows[0][2] = 0.2f;  // band-pass bleed
    chip.record->bleedoffsethpf = 0.1f;
    chip.record->bleedoffsetbpf = 0.05f;
    applySidDcRules(chip.info, *chip.record, "R2 2484 GH215553", false, g, v, kDefaultFinalAdjust);

    const struct {
        unsigned u;
        double level;
    } kLevels[] = {{0, 4.604003456}, {43, 5.78519936}, {84, 3.9751808}, {127, 7.093216}};
    for (const auto& l : kLevels)
        EXPECT_NEAR(chip.info.dcTable[l.u], l.level, 2e-5) << "u " << l.u;

    const float sums[8] = {0, 1.75f, 1.25f, 3.0f, 0.75f, 2.5f, 2.0f, 3.75f};
    for (unsigned m = 0; m < 16; ++m)
        EXPECT_FLOAT_EQ(chip.info.dcTable[128 + m], sums[m & 7]) << "voice sum " << m;
}

TEST(SIDDcRules, OverridePathCarriesNameAndDdcm)
{
    EXPECT_EQ(sidOverridePath("/data/sid.db", "R2 1484 DH015118", true),
              "/data/sid.db.R2 1484 DH015118.ov2.txt");
    EXPECT_EQ(sidOverridePath("/data/sid.db", "R2 1484 DH015118", false),
              "/data/sid.db.R2 1484 DH015118.old.ov2.txt");
    EXPECT_EQ(sidOverridePath("/data/sid.db", "", true), "/data/sid.db..ov2.txt");
    // A Name with a folder separator would reach outside the database's folder.
    EXPECT_EQ(sidOverridePath("/data/sid.db", "x/../../etc/passwd", true), "");
    EXPECT_EQ(sidOverridePath("/data/sid.db", "/abs", false), "");
}

TEST(SIDDcRules, IntegerParseSaturatesLikeAPrefixReader)
{
    const struct {
        const char* text;
        int64_t value;
    } kCases[] = {
        {"3", 3},
        {" \t+15x", 15},
        {"-1", -1},
        {"", 0},
        {"abc", 0},
        {"- 3", 0},
        {"9223372036854775807", INT64_MAX},
        {"9223372036854775808", INT64_MAX},
        {"123456789012345678901234567890", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"-123456789012345678901234567890", INT64_MIN},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(sidParseInteger(c.text), c.value) << '"' << c.text << '"';
}

TEST(SIDDcRules, OverrideLinesSetMeasuredFields)
{
    Chip chip;
    applySidOverrideLines({"CutOffOverride,3,12000",
                           "cutoffoverride,4",                      // two pieces
                           " cutoffoverride,5,1",                   // a blank before the key
                           "cutoffoverride,-1,1", "cutoffoverride,16,1",
                           "cutoffoverride,123456789012345678901234567890,1",
                           "baseinvqoverride,15,0.25", "inverseqoverride,0,0.75",
                           "bleedbpfoverride,1,0.125", "bleedhpfoverride,2,0.375",
                           "reshapegainin,99,1.5",                  // index ignored
                           "innerbpagrgaib,-5,2.5", "curveclip,0,a,b,7", "adjustoutputgain,0,1e2",
                           "unknownkey,0,5", "lpfdrivescale,0,nope"},
                          chip.info, *chip.record);
    const SIDChipRecord& r = *chip.record;
    EXPECT_EQ(r.lineRows[3][3], 12000.0f);
    for (int row : {0, 4, 5, 15})
        EXPECT_EQ(r.lineRows[row][3], 10000.0f) << row;
    EXPECT_EQ(r.lineRows[15][0], 0.25f);
    EXPECT_EQ(r.inverseQ[0], 0.75f);
    EXPECT_EQ(r.lineRows[1][2], 0.125f);
    EXPECT_EQ(r.lineRows[2][1], 0.375f);
    EXPECT_EQ(r.reshapegainin, 1.5f);
    EXPECT_EQ(r.innerbpagrgaib, 2.5f);
    EXPECT_EQ(r.curveclip, 7.0f);  // the value is the last piece
    EXPECT_EQ(r.adjustoutputgain, 100.0f);
    EXPECT_EQ(r.lpfdrivescale, 0.0f);  // no number reads as 0
    EXPECT_EQ(r.overrideDcScale, 0);
    EXPECT_EQ(chip.info.filterScale, 1.0f);
    // The table model's fields stay.
    EXPECT_EQ(chip.info.lineRows[3][3], 10000.0f);
    EXPECT_EQ(chip.info.resoInverseQ[0], 0.5f);
}

TEST(SIDDcRules, DcScaleOverrideReachesFilterScale)
{
    Chip measured;
    applySidOverrideLines({"FilterIndDcScale,77,-0.5"}, measured.info, *measured.record);
    EXPECT_EQ(measured.record->overrideDcScale, 1);
    EXPECT_EQ(measured.record->overrideDcScaleValue, -0.5f);
    EXPECT_EQ(measured.info.filterScale, -0.5f);

    Chip table(true);
    applySidOverrideLines({"filterinddcscale,0,-0.5"}, table.info, *table.record);
    EXPECT_EQ(table.record->overrideDcScale, 0);
    EXPECT_EQ(table.info.filterScale, 1.0f);
}

TEST(SIDDcRules, TableModelTakesOnlyTheSharedKeys)
{
    Chip chip(true);
    applySidOverrideLines({"cutoffoverride,3,12000", "baseinvqoverride,2,0.25", "inverseqoverride,1,0.75",
                           "bleedbpfoverride,1,9", "bleedhpfoverride,1,9", "reshapegainin,0,9",
                           "adjustinputgain,0,9"},
                          chip.info, *chip.record);
    EXPECT_EQ(chip.info.lineRows[3][3], 12000.0f);
    EXPECT_EQ(chip.info.lineRows[2][0], 0.25f);
    EXPECT_EQ(chip.info.resoInverseQ[1], 0.75f);
    EXPECT_EQ(chip.info.lineRows[1][1], 0.0f);
    EXPECT_EQ(chip.info.lineRows[1][2], 0.0f);
    const SIDChipRecord fresh;
    EXPECT_EQ(chip.record->lineRows, fresh.lineRows);
    EXPECT_EQ(chip.record->inverseQ, fresh.inverseQ);
    EXPECT_EQ(chip.record->reshapegainin, fresh.reshapegainin);
    EXPECT_EQ(chip.record->adjustinputgain, fresh.adjustinputgain);
}

TEST(SIDDcRules, OverrideFileBesideTheDatabase)
{
    fixtures::TempDir dir;
    const std::string db = dir / "chips.sdb";
    dir.write("chips.sdb.R2 1484 DH015118.old.ov2.txt", "cutoffoverride,3,12000\r\nreshapegainout,0,0.5\n");
    dir.write("chips.sdb.R2 1484 DH015118.ov2.txt", "cutoffoverride,3,333\n");

    Chip without;
    applySidOverrideFile(db, "R2 1484 DH015118", false, without.info, *without.record);
    EXPECT_EQ(without.record->lineRows[3][3], 12000.0f);
    EXPECT_EQ(without.record->reshapegainout, 0.5f);

    Chip with;
    applySidOverrideFile(db, "R2 1484 DH015118", true, with.info, *with.record);
    EXPECT_EQ(with.record->lineRows[3][3], 333.0f);

    Chip missing;
    applySidOverrideFile(db, "R2 0000", true, missing.info, *missing.record);
    EXPECT_EQ(missing.record->lineRows[3][3], 10000.0f);
}

TEST(SIDDcRules, OverrideFileSurvivesBadText)
{
    fixtures::TempDir dir;
    const std::string db = dir / "chips.sdb";
    std::string text = std::string(100000, 'x') + "\n";           // a long line
    text += "cutoffoverride 3 12000\n";                             // no commas
    text += std::string("\x01\xFF\x00,\x80,\x7F\n", 8);             // binary bytes
    text += "cutoffoverride,000000000000000000000000000003,1\n";    // 30 digits, still 3
    text += "cutoffoverride,300000000000000000000000000000,2\n";    // 30 digits, out of range
    text += "inverseqoverride,2," + std::string(400, '9') + "\n";   // beyond the float range
    text += std::string(50000, ',') + "\n";
    dir.write("chips.sdb.N.ov2.txt", text);
    Chip chip;
    applySidOverrideFile(db, "N", true, chip.info, *chip.record);
    EXPECT_EQ(chip.record->lineRows[3][3], 1.0f);
    EXPECT_TRUE(std::isinf(chip.record->inverseQ[2]));
}

TEST(SIDDcRules, OverrideValuesIgnoreACommaDecimalLocale)
{
    // Build a locale whose decimal mark is "," in a temporary folder; skip where that cannot be done.
    fixtures::TempDir dir;
    dir.write("src", "LC_NUMERIC\ndecimal_point \",\"\nthousands_sep \".\"\ngrouping 3;3\nEND LC_NUMERIC\n");
    const std::string command = "localedef -c -i '" + (dir / "src") + "' -f ANSI_X3.4-1968 '" +
                                (dir / "xx_XX") + "' >/dev/null 2>&1";
    // localedef reports the categories it lacks (status 1) but still writes the locale.
    if (std::system(command.c_str()) < 0 || !std::filesystem::exists(dir / "xx_XX/LC_NUMERIC"))
        GTEST_SKIP() << "no locale with a comma decimal mark can be built here";
    fixtures::ScopedEnv locpath("LOCPATH", dir.path().c_str());
    const std::string old = std::setlocale(LC_NUMERIC, nullptr);
    if (!std::setlocale(LC_NUMERIC, "xx_XX"))
        GTEST_SKIP() << "the comma-decimal locale does not load";
    const double check = std::atof("0.5");

    Chip chip;
    applySidOverrideLines({"cutoffoverride,3,0.5", "reshapegainin,0,2.25"}, chip.info, *chip.record);
    std::setlocale(LC_NUMERIC, old.c_str());

    EXPECT_EQ(check, 0.0) << "the locale really reads \"0.5\" as 0";
    EXPECT_EQ(chip.record->lineRows[3][3], 0.5f);
    EXPECT_EQ(chip.record->reshapegainin, 2.25f);
}

TEST(SIDDcRules, NameFixUps)
{
    const struct {
        const char* name;
        uint8_t flag;
        float offsets[2];
        float trim[2];
        float modeGains456[3];  // 0 for "the first three mixer gains"
    } kCases[] = {
        {"6581R4AR 0487 14 HH022133", 0, {0.03f, -0.05f}, {7.29f, 3.1f},
         {0.73435515f, 0.66768914f, 0.4144418f}},
        {"6581 CBM UNK02 3085 BH025118", 1, {0, 0}, {7.29f, 3.1f}, {0.8f, 0.65f, 0.4f}},
        {"6581 1484 DH015118", 0, {0.05f, -0.15f}, {7.29f, 3.1f}, {0.59820074f, 0.611301f, 0.42616662f}},
        {"6582A 2792 25 DIGIFIX3", 0, {0, 0}, {7.29f, 2.88f}, {0, 0, 0}},
        {"8580R5 4887 25 HH465216", 0, {0, 0}, {7.46f, 2.7f}, {0, 0, 0}},
        {"6582A 2792 25 NM235N18", 0, {0, 0}, {7.35f, 2.98f}, {0, 0, 0}},
        {"R2 1484 DH015118", 0, {0, 0}, {7.29f, 3.1f}, {0, 0, 0}},   // a DC-table Name
        {"6581r4ar 0487 14 hh022133", 0, {0, 0}, {7.29f, 3.1f}, {0, 0, 0}},  // case matters
    };
    for (const auto& c : kCases) {
        Chip chip;
        chip.info.mixerGains = {0.11f, 0.22f, 0.33f, 0.44f};
        applySidNameFixups(c.name, chip.info, *chip.record);
        EXPECT_EQ(chip.record->nameFixFlag, c.flag) << c.name;
        EXPECT_EQ(chip.record->nameFixOffsets[0], c.offsets[0]) << c.name;
        EXPECT_EQ(chip.record->nameFixOffsets[1], c.offsets[1]) << c.name;
        EXPECT_EQ(chip.info.finalTrim[0], c.trim[0]) << c.name;
        EXPECT_EQ(chip.info.finalTrim[1], c.trim[1]) << c.name;
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(chip.info.modeGains[k], chip.info.mixerGains[k]) << c.name << " gain " << k;
            const float second = c.modeGains456[0] != 0 ? c.modeGains456[k] : chip.info.mixerGains[k];
            EXPECT_EQ(chip.info.modeGains[3 + k], second) << c.name << " gain " << 3 + k;
        }
    }
}
