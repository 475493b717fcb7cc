#include "sid/SIDDcRules.h"

#include "platform/PlatformTools.h"
#include "platform/ZRGSConv.h"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string_view>

namespace {

// ---- DC parameter sets -------------------------------------------------------------------------

struct NamedDcParameters {
    std::string_view name;
    SIDDcParameters p;
};

// Measured chips, by exact Name; the first match wins.
constexpr NamedDcParameters kMeasuredDcParameters[] = {
    {"R3 0486 BH025113", {-0.4f, -0.4f, 0.2f, 0.3f, 1.4f, 1.9f, 0.9f}},
    {"R2 1484 DH015118", {-0.5f, -0.4f, 0.3f, 1.25f, 0.95f, 1.5f, 1.0f}},
    {"R2 1683 AH145738", {-0.3f, -0.1f, 0.1f, 0.1f, 0.95f, 1.5f, 0.95f}},
    {"R2 2084 GH162109", {-0.4f, -0.4f, 0.1f, 0.4f, 0.9f, 1.5f, 0.9f}},
    {"R2 2482 AM215708", {-0.3f, -0.4f, 0.0f, 0.3f, 1.0f, 1.0f, 1.0f}},
    {"R2 2484 AH224109", {-0.35f, -0.1f, 0.2f, 0.5f, 1.05f, 1.45f, 1.0f}},
    {"R2 2484 GH215553", {-0.7f, -0.1f, 0.3f, 1.1f, 1.12f, 1.6f, 1.02f}},
    {"R3 2485 AH224867", {-0.4f, -0.2f, 0.1f, 0.4f, 1.0f, 1.5f, 1.0f}},
    {"R4AR 2786 HH211114", {-0.4f, -0.3f, 0.05f, 0.15f, 0.9f, 1.8f, 1.0f}},
    {"R2 2884 GH262564", {-0.15f, -0.1f, 0.1f, 0.5f, 0.9f, 1.35f, 1.0f}},
    {"R2 2884 GH271566", {-0.2f, -0.4f, 0.3f, 0.9f, 1.05f, 1.4f, 1.0f}},
    {"R3 2885 AH265878", {-0.2f, -0.6f, 0.0f, -0.3f, 0.95f, 2.0f, 1.0f}},
    {"R4AR 3086 BH282134", {0.0f, 0.3f, 0.3f, 0.3f, 1.1f, 0.8f, 1.0f}},
    {"R2 5082 AH492720", {0.0f, -0.4f, 0.2f, 0.5f, 0.9f, 0.85f, 1.0f}},
    {"R2 5084 AH432555", {0.0f, 0.2f, 0.0f, 0.7f, 0.9f, 1.6f, 1.0f}},
    {"R2 5182 AH513703", {-0.3f, -0.3f, -0.1f, 0.8f, 1.0f, 1.5f, 1.0f}},
    {"R2 5183 AH493106", {-0.5f, -0.7f, 0.3f, 1.5f, 0.85f, 1.75f, 1.0f}},
};

constexpr std::string_view kTableModelLpOffsetName = "R5 2792 NM235N18";

// ---- Name fix-ups ------------------------------------------------------------------------------

struct NamedOffsets {
    std::string_view name;
    float a, b;
};

constexpr std::string_view kNameFixFlagName = "6581 CBM UNK02 3085 BH025118";

constexpr NamedOffsets kNameFixOffsets[] = {
    {"6581 1484 DH015118", 0.05f, -0.15f},
    {"6581 2084 AH121109", 0.05f, -0.18f},
    {"6581 2484 AH224109", 0.03f, -0.08f},
    {"6581R4AR 0487 14 HH022133", 0.03f, -0.05f},
};

constexpr std::string_view kKneeOnlyName = "6582A 2792 25 DIGIFIX3";
constexpr float kKneeOnlyLevel = 2.88f;

constexpr NamedOffsets kFinalTrims[] = {
    {"8580R5 4887 25 HH465216", 7.46f, 2.7f},
    {"6582A 2792 25 NM235N18", 7.35f, 2.98f},
};

struct NamedModeGains {
    std::string_view name;
    float lp, bp, hp;
};

// The second three `modeGains`, by exact Name; the first match wins.
constexpr NamedModeGains kModeGains[] = {
    {"6581R4 AR 3086 S BH282134", 0.6538979f, 0.6064063f, 0.4f},
    {"6581CBM 2485 AH224867", 0.6f, 0.57187665f, 0.4553024f},
    {"6581 5082 AH492720", 0.6f, 0.45f, 0.4f},
    {"6581 1884 TH136580", 0.7f, 0.5f, 0.4f},
    {"6581 CBM UNK18 3085 AM205705", 0.6f, 0.45f, 0.3795125f},
    {"6581R4AR 0487 14 HH022133", 0.73435515f, 0.66768914f, 0.4144418f},
    {"6581 CBM 2885 AH265878", 0.5f, 0.38673615f, 0.30323696f},
    {"6581 CBM 4683 AH414590", 0.6546965f, 0.5506917f, 0.3683016f},
    {"6581 2084 AH121109", 0.65004545f, 0.5f, 0.43074903f},
    {"6581R4 1986 S HH171118", 0.65f, 0.6f, 0.37f},
    {"6581R4 3387 14 HH312132", 0.6f, 0.6f, 0.4f},
    {"6581 CBM UNK02 3085 BH025118", 0.8f, 0.65f, 0.4f},
    {"6581 0683 AH045706", 0.6f, 0.49067652f, 0.32206392f},
    {"6581 2382 AM214720", 0.9f, 0.5487277f, 0.4f},
    {"6581R1 0182 517459", 0.6125f, 0.525f, 0.425f},
    {"6581R3 0486 S BH025113", 0.5f, 0.7665747f, 0.36537182f},
    {"6581 1484 DH015118", 0.59820074f, 0.611301f, 0.42616662f},
    {"6581 1683 AH145738", 0.6f, 0.81765836f, 0.45f},
    {"6581 2084 GH162109", 0.45f, 0.35f, 0.35f},
    {"6581 2482 AM215708", 0.8f, 0.55f, 0.55f},
    {"6581 2484 AH224109", 0.45f, 0.35f, 0.3f},
    {"6581 2484 GH215553", 0.45f, 0.45f, 0.3f},
    {"6581R4AR 2786 S HH211114", 0.6f, 0.5f, 0.4f},
    {"6581 2884 GH262564", 0.5f, 0.45f, 0.3628063f},
    {"6581 2884 GH271566", 0.5f, 0.5f, 0.35f},
    {"6581 5084 AH432555", 0.4685037f, 0.40487313f, 0.2543555f},
    {"6581 5182 AH513703", 0.55f, 0.6f, 0.35f},
    {"6581 5183 AH493106", 0.60097533f, 0.53642726f, 0.4142699f},
};

// ---- Override keys -----------------------------------------------------------------------------

struct RecordField {
    std::string_view key;
    float SIDChipRecord::*field;
};

// Keys of the measured model that set one field and ignore the index.
constexpr RecordField kRecordFields[] = {
    {"reshapegainin", &SIDChipRecord::reshapegainin},
    {"reshapebpfoffset", &SIDChipRecord::reshapebpfoffset},
    {"reshapelpfoffset", &SIDChipRecord::reshapelpfoffset},
    {"reshapegainout", &SIDChipRecord::reshapegainout},
    {"reshapebpfoffsetmod", &SIDChipRecord::reshapebpfoffsetmod},
    {"reshapelpfoffsetmod", &SIDChipRecord::reshapelpfoffsetmod},
    {"innerbpstg0in", &SIDChipRecord::innerbpstg0in},
    {"innerbphpfin", &SIDChipRecord::innerbphpfin},
    {"innerbpbiasin", &SIDChipRecord::innerbpbiasin},
    {"innerbpinclip", &SIDChipRecord::innerbpinclip},
    {"innerbpmxgain", &SIDChipRecord::innerbpmxgain},
    {"innerbpmxbias", &SIDChipRecord::innerbpmxbias},
    {"innerbpagrinit", &SIDChipRecord::innerbpagrinit},
    {"innerbpagrminv", &SIDChipRecord::innerbpagrminv},
    {"innerbpagrvldg", &SIDChipRecord::innerbpagrvldg},
    {"innerbpagrgaib", &SIDChipRecord::innerbpagrgaib},
    {"bleedoffsetbpf", &SIDChipRecord::bleedoffsetbpf},
    {"bleedoffsethpf", &SIDChipRecord::bleedoffsethpf},
    {"bpfdrivescale", &SIDChipRecord::bpfdrivescale},
    {"lpfdrivescale", &SIDChipRecord::lpfdrivescale},
    {"resonancedrop", &SIDChipRecord::resonancedrop},
    {"curveclip", &SIDChipRecord::curveclip},
    {"adjustinputgain", &SIDChipRecord::adjustinputgain},
    {"adjustinputbias", &SIDChipRecord::adjustinputbias},
    {"adjustoutputlpfbias", &SIDChipRecord::adjustoutputlpfbias},
    {"adjustoutputgain", &SIDChipRecord::adjustoutputgain},
};

// Columns of a line row.
constexpr std::size_t kBaseInverseQ = 0, kHpfBleed = 1, kBpfBleed = 2, kCutoff = 3;

// A double as a float; beyond the float range it becomes an infinity of its sign.
float toFloat(double v)
{
    if (v > double(FLT_MAX))
        return std::numeric_limits<float>::infinity();
    if (v < -double(FLT_MAX))
        return -std::numeric_limits<float>::infinity();
    return float(v);
}

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

}  // namespace

SIDDcParameters sidDcParameters(const std::string& name, bool tableModel, const SIDGlobalParams& g)
{
    if (tableModel)
        return {0.0f, name == kTableModelLpOffsetName ? 0.1f : 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f};
    for (const auto& row : kMeasuredDcParameters)
        if (name == row.name)
            return row.p;
    return {0.0f,
            g[11] - 0.987f + 7.7f * g[14] + 7.7f * g[15],
            -4.1f - 0.25f * g[10] - 0.5f * g[11] - 0.05f * g[12] + 0.5f * g[14],
            -3.1f - 0.1f * g[10] - 0.1f * g[11] - 0.4f * g[12] - g[13] + g[14] + g[15],
            1.0f,
            1.0f,
            1.0f};
}

void applySidDcRules(SIDChipInfo& info, SIDChipRecord& record, const std::string& name, bool hasDdcm,
                     const SIDGlobalParams& g, const SIDVoltages& v, const SIDFinalAdjust& fina)
{
    const bool tableModel = info.tableModel != 0;
    info.outputDc = g[0];
    info.mixerGains = {g[13], g[14], g[15], g[7]};
    if (hasDdcm) {
        if (tableModel) {
            info.mixerGains = {1.0f, 1.0f, 1.0f, 1.0f};
            info.mixerSign = 1.0f;
            info.filterScale = 1.0f;
        } else {
            info.mixerSign = -1.0f;
            record.adjustinputgain = fina[0];
            record.adjustinputbias = fina[1];
            record.adjustoutputlpfbias = fina[2];
            record.adjustoutputgain = fina[3];
            info.filterScale = fina[4];
        }
        return;
    }

    if (tableModel) {
        info.mixerSign = 1.0f;
        info.filterScale = 1.0f;
    } else {
        info.mixerSign = -1.0f;
        info.filterScale = -1.0f;
        record.adjustinputgain = 1.0f;
        record.adjustinputbias = 0.0f;
        record.adjustoutputlpfbias = 0.0f;
        record.adjustoutputgain = 1.0f;
    }

    // Synthesised table: 128 mixer levels by routing (bits 0-2 low/band/high-pass, 3-5 voices to
    // the filter, 6 voice 3 off), then the 16 voice DC sums.
    info.hasDcTable = 1;
    const float e1 = v[6] - v[7], e2 = v[5] - v[7], e3 = v[3] - v[7];
    float sum[16];
    for (unsigned m = 0; m < 16; ++m) {
        sum[m] = 0.0f;
        if (m & 1)
            sum[m] += e1;
        if (m & 2)
            sum[m] += e2;
        if (m & 4)
            sum[m] += e3;
    }
    const float a1 = (e1 + g[4]) * g[7], a2 = (e2 + g[5]) * g[8], a3 = (e3 + g[6]) * g[9];
    const float c1 = (g[1] + g[10]) * g[13], c2 = (g[2] + g[11]) * g[14], c3 = (g[3] + g[12]) * g[15];
    float hpfBleed = 0.0f, bpfBleed = 0.0f;
    if (!tableModel) {
        hpfBleed = record.lineRows[0][kHpfBleed] + record.bleedoffsethpf;
        bpfBleed = record.lineRows[0][kBpfBleed] + record.bleedoffsetbpf;
    }
    const SIDDcParameters p = sidDcParameters(name, tableModel, g);

    for (unsigned u = 0; u < 128; ++u) {
        const float s = sum[u >> 3];
        float mix = g[0];
        if (!(u & 0x08))
            mix += a1;
        if (!(u & 0x10))
            mix += a2;
        if (!(u & 0x60))
            mix += a3;
        if (u & 1)
            mix += c1 + g[13] * s;
        if (u & 2)
            mix += c2 - bpfBleed * s * g[14];
        if (u & 4)
            mix += c3 + hpfBleed * bpfBleed * s * g[15];

        float offset = -0.4f * p.dcOffset;
        if (u & 1)
            offset += p.lpOffset - 0.2f * p.dcOffset;
        if (u & 2)
            offset += p.bpOffset + 0.2f * p.dcOffset;
        if (u & 4)
            offset += p.hpOffset + 0.2f * p.dcOffset;

        float d = (offset + mix - info.outputDc) * p.dcGain;
        if (u & 1)
            d *= p.lpGain;
        if (!(u & 2))
            d *= p.passGain;
        if (!(u & 4))
            d *= p.passGain;
        info.dcTable[u] = info.outputDc + d;
    }
    for (unsigned m = 0; m < 16; ++m)
        info.dcTable[128 + m] = sum[m];
}

std::string sidOverridePath(const std::string& databasePath, const std::string& name, bool hasDdcm)
{
    const std::string converted = ZRGSConv(name, ENC_UTF8);
    if (converted.find('/') != std::string::npos)
        return {};
    return databasePath + "." + converted + (hasDdcm ? "" : ".old") + ".ov2.txt";
}

int64_t sidParseInteger(const std::string& text)
{
    const char* p = text.c_str();
    while (isBlank(*p))
        ++p;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    // Accumulated as a negative number so that the int64 minimum is reachable.
    int64_t value = 0;
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    for (; *p >= '0' && *p <= '9'; ++p) {
        const int digit = *p - '0';
        if (value < (kMin + digit) / 10) {
            value = kMin;
        } else {
            value = value * 10 - digit;
        }
    }
    if (negative)
        return value;
    return value == kMin ? std::numeric_limits<int64_t>::max() : -value;
}

void applySidOverrideLines(const std::vector<std::string>& lines, SIDChipInfo& info, SIDChipRecord& record)
{
    const bool tableModel = info.tableModel != 0;
    std::vector<std::string> pieces;
    std::string key;
    for (const std::string& line : lines) {
        pieces.clear();
        PSimpleStringTokenizer(line, ",", pieces);
        if (pieces.size() < 3)
            continue;
        lowercase(pieces[0], key);
        const int64_t index = sidParseInteger(pieces[1]);
        const float value = toFloat(PStrtod(pieces.back().c_str()));
        const bool rowIndex = index >= 0 && index <= 15;
        const std::size_t row = rowIndex ? std::size_t(index) : 0;

        // Indexed keys, for both models (into the record of the chip's model).
        SIDLineRows& rows = tableModel ? info.lineRows : record.lineRows;
        if (key == "cutoffoverride") {
            if (rowIndex)
                rows[row][kCutoff] = value;
            continue;
        }
        if (key == "baseinvqoverride") {
            if (rowIndex)
                rows[row][kBaseInverseQ] = value;
            continue;
        }
        if (key == "inverseqoverride") {
            if (rowIndex)
                (tableModel ? info.resoInverseQ : record.inverseQ)[row] = value;
            continue;
        }
        if (tableModel)
            continue;

        // The measured model only.
        if (key == "bleedbpfoverride") {
            if (rowIndex)
                rows[row][kBpfBleed] = value;
        } else if (key == "bleedhpfoverride") {
            if (rowIndex)
                rows[row][kHpfBleed] = value;
        } else if (key == "filterinddcscale") {
            record.overrideDcScale = 1;
            record.overrideDcScaleValue = value;
        } else {
            for (const auto& f : kRecordFields)
                if (key == f.key) {
                    record.*f.field = value;
                    break;
                }
        }
    }
    if (!tableModel && record.overrideDcScale)
        info.filterScale = record.overrideDcScaleValue;
}

void applySidOverrideFile(const std::string& databasePath, const std::string& name, bool hasDdcm,
                          SIDChipInfo& info, SIDChipRecord& record)
{
    const std::string path = sidOverridePath(databasePath, name, hasDdcm);
    if (path.empty())
        return;
    std::vector<std::string> lines;
    if (!textInternalize(path, lines))
        return;
    applySidOverrideLines(lines, info, record);
}

void applySidNameFixups(const std::string& name, SIDChipInfo& info, SIDChipRecord& record)
{
    if (name == kNameFixFlagName)
        record.nameFixFlag = 1;
    for (const auto& row : kNameFixOffsets)
        if (name == row.name)
            record.nameFixOffsets = {row.a, row.b};
    if (name == kKneeOnlyName)
        info.finalTrim[1] = kKneeOnlyLevel;
    for (const auto& row : kFinalTrims)
        if (name == row.name)
            info.finalTrim = {row.a, row.b};

    for (std::size_t k = 0; k < 3; ++k) {
        info.modeGains[k] = info.mixerGains[k];
        info.modeGains[3 + k] = info.mixerGains[k];
    }
    for (const auto& row : kModeGains)
        if (name == row.name) {
            info.modeGains[3] = row.lp;
            info.modeGains[4] = row.bp;
            info.modeGains[5] = row.hp;
            break;
        }
}
