#include "sid/SIDChipRecords.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

template <size_t N>
std::vector<float> values(const std::array<float, N>& a)
{
    return std::vector<float>(a.begin(), a.end());
}

}  // namespace

TEST(SIDChipRecords, RecordDefaults)
{
    const auto r = std::make_unique<SIDChipRecord>();  // about 270 KB: not on the stack
    EXPECT_EQ(values(r->globalParams),
              (std::vector<float>{0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1}));
    EXPECT_EQ(values(r->inverseQ), std::vector<float>(16, 0.0f));
    for (const auto& row : r->lineRows)
        EXPECT_EQ(values(row), (std::vector<float>{0.5f, 0.0f, 0.0f, 10000.0f}));
    EXPECT_EQ(r->filterData.size(), 65536u);
    for (float v : r->filterData)
        ASSERT_EQ(v, 0.0f);
    EXPECT_EQ(r->cutoffCurve.size(), 2048u);
    for (size_t i = 0; i < r->cutoffCurve.size(); ++i)
        ASSERT_NEAR(r->cutoffCurve[i], double(i) * 0.007327787, 1e-6) << i;
    EXPECT_NEAR(r->cutoffCurve[2047], 15.0, 0.001);

    const struct {
        const char* name;
        float value;
        float expected;
    } scalars[] = {
        {"reshapegainin", r->reshapegainin, 0.9f},
        {"reshapebpfoffset", r->reshapebpfoffset, 0.2f},
        {"reshapelpfoffset", r->reshapelpfoffset, 2.0f},
        {"reshapegainout", r->reshapegainout, 0.4f},
        {"reshapebpfoffsetmod", r->reshapebpfoffsetmod, 2.0f},
        {"reshapelpfoffsetmod", r->reshapelpfoffsetmod, -1.0f},
        {"innerbpstg0in", r->innerbpstg0in, 7.2f},
        {"innerbphpfin", r->innerbphpfin, -4.0f},
        {"innerbpbiasin", r->innerbpbiasin, 0.5f},
        {"innerbpinclip", r->innerbpinclip, 1.5f},
        {"innerbpmxgain", r->innerbpmxgain, 1.6f},
        {"innerbpmxbias", r->innerbpmxbias, -0.4f},
        {"innerbpagrinit", r->innerbpagrinit, 0.9f},
        {"innerbpagrminv", r->innerbpagrminv, -3.0f},
        {"innerbpagrvldg", r->innerbpagrvldg, -2.0f},
        {"innerbpagrgaib", r->innerbpagrgaib, 0.5f},
        {"bleedoffsetbpf", r->bleedoffsetbpf, 0.0f},
        {"bleedoffsethpf", r->bleedoffsethpf, 0.0f},
        {"bpfdrivescale", r->bpfdrivescale, 1.0f},
        {"lpfdrivescale", r->lpfdrivescale, 1.0f},
        {"resonancedrop", r->resonancedrop, 0.0f},
        {"curveclip", r->curveclip, 8.0f},
        {"adjustinputgain", r->adjustinputgain, 1.0f},
        {"adjustinputbias", r->adjustinputbias, 0.0f},
        {"adjustoutputlpfbias", r->adjustoutputlpfbias, 0.0f},
        {"adjustoutputgain", r->adjustoutputgain, 1.0f},
        {"overrideDcScaleValue", r->overrideDcScaleValue, 1.0f},
        {"nameFixOffsets[0]", r->nameFixOffsets[0], 0.0f},
        {"nameFixOffsets[1]", r->nameFixOffsets[1], 0.0f},
    };
    for (const auto& s : scalars)
        EXPECT_EQ(s.value, s.expected) << s.name;
    EXPECT_EQ(r->overrideDcScale, 0);
    EXPECT_EQ(r->nameFixFlag, 0);
}

TEST(SIDChipRecords, InfoDefaults)
{
    const SIDChipInfo info;
    EXPECT_EQ(info.tableModel, 0);
    EXPECT_EQ(info.wave6Quirk, 0);
    EXPECT_EQ(info.rawOscillators, 0);
    EXPECT_EQ(info.spare, 0);
    EXPECT_EQ(info.waveSet, 4u);
    EXPECT_TRUE(info.voiceTables.empty());
    EXPECT_TRUE(info.combTables.empty());
    EXPECT_EQ(info.outputDc, 0.0f);
    EXPECT_EQ(info.hasDcTable, 0);
    EXPECT_EQ(values(info.dcTable), std::vector<float>(144, 0.0f));
    EXPECT_EQ(info.filterScale, 1.0f);
    EXPECT_EQ(values(info.resoInverseQ), std::vector<float>(16, 0.5f));
    for (const auto& row : info.lineRows)
        EXPECT_EQ(values(row), (std::vector<float>{0.5f, 0.0f, 0.0f, 10000.0f}));
    EXPECT_EQ(values(info.mixerGains), std::vector<float>(4, 1.0f));
    EXPECT_EQ(info.mixerSign, 1.0f);
    EXPECT_TRUE(info.texts.empty());
    EXPECT_EQ(info.filterDcBias, 0.0f);
    EXPECT_EQ(info.volumeDcBias, 0.0f);
    EXPECT_EQ(values(info.finalTrim), (std::vector<float>{7.29f, 3.1f}));
    EXPECT_EQ(values(info.modeGains), std::vector<float>(6, 0.5f));

    const VoiceCurveTables tables;
    EXPECT_EQ(tables.oscCurve.size(), 4096u);
    EXPECT_EQ(tables.envCurve.size(), 256u);
}

TEST(SIDChipRecords, CopyingAnInfoCopiesItsArraysAndTexts)
{
    SIDChipInfo a;
    a.voiceTables.resize(3);
    a.voiceTables[1].oscCurve[7] = 1234;
    a.voiceTables[2].envCurve[255] = -5;
    a.combTables.assign(32768, 16);
    a.texts["Name"] = "test chip";

    SIDChipInfo b = a;
    a.voiceTables[1].oscCurve[7] = 0;
    a.combTables[0] = 0;
    a.texts["Name"] = "changed";
    a.voiceTables.clear();

    ASSERT_EQ(b.voiceTables.size(), 3u);
    EXPECT_EQ(b.voiceTables[1].oscCurve[7], 1234);
    EXPECT_EQ(b.voiceTables[2].envCurve[255], -5);
    EXPECT_EQ(b.combTables.size(), 32768u);
    EXPECT_EQ(b.combTables[0], 16);
    EXPECT_EQ(b.texts.at("Name"), "test chip");
}
