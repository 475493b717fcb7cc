#pragma once
// The two records of one measured chip (filter model and description) with their defaults.
// Plain data: the database loader fills them, the chip and its filters read them.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

// One row of a filter line table: base inverse Q, high-pass bleed, band-pass bleed, cutoff (Hz).
using SIDLineRow = std::array<float, 4>;
using SIDLineRows = std::array<SIDLineRow, 16>;

inline constexpr std::size_t kFilterCurveLength = 2048;                     // one curve
inline constexpr std::size_t kFilterCurveSteps = 16;                        // cutoff steps
inline constexpr std::size_t kFilterDataLength = kFilterCurveSteps * 2 * kFilterCurveLength;
inline constexpr std::size_t kCutoffCurveLength = 2048;                     // 11-bit cutoff
inline constexpr float kCutoffCurveStep = 0.007327787f;                     // about 15 / 2047

namespace sid_records_detail {

constexpr SIDLineRows defaultLineRows()
{
    SIDLineRows rows{};
    for (auto& row : rows)
        row = {0.5f, 0.0f, 0.0f, 10000.0f};
    return rows;
}

constexpr std::array<float, kCutoffCurveLength> defaultCutoffCurve()
{
    std::array<float, kCutoffCurveLength> curve{};
    for (std::size_t i = 0; i < curve.size(); ++i)
        curve[i] = float(double(i) * 0.007327787);
    return curve;
}

template <std::size_t N>
constexpr std::array<float, N> filled(float v)
{
    std::array<float, N> a{};
    a.fill(v);
    return a;
}

}  // namespace sid_records_detail

// Measured filter model of one chip.
struct SIDChipRecord {
    std::array<float, 16> globalParams = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1};
    std::array<float, 16> inverseQ{};
    SIDLineRows lineRows = sid_records_detail::defaultLineRows();
    // 16 cutoff steps, each a band curve then a low curve of 2048 entries.
    std::array<float, kFilterDataLength> filterData{};
    std::array<float, kCutoffCurveLength> cutoffCurve = sid_records_detail::defaultCutoffCurve();

    float reshapegainin = 0.9f;
    float reshapebpfoffset = 0.2f;
    float reshapelpfoffset = 2.0f;
    float reshapegainout = 0.4f;
    float reshapebpfoffsetmod = 2.0f;
    float reshapelpfoffsetmod = -1.0f;
    float innerbpstg0in = 7.2f;
    float innerbphpfin = -4.0f;
    float innerbpbiasin = 0.5f;
    float innerbpinclip = 1.5f;
    float innerbpmxgain = 1.6f;
    float innerbpmxbias = -0.4f;
    float innerbpagrinit = 0.9f;
    float innerbpagrminv = -3.0f;
    float innerbpagrvldg = -2.0f;
    float innerbpagrgaib = 0.5f;
    float bleedoffsetbpf = 0.0f;
    float bleedoffsethpf = 0.0f;
    float bpfdrivescale = 1.0f;
    float lpfdrivescale = 1.0f;
    float resonancedrop = 0.0f;
    float curveclip = 8.0f;
    float adjustinputgain = 1.0f;
    float adjustinputbias = 0.0f;
    float adjustoutputlpfbias = 0.0f;
    float adjustoutputgain = 1.0f;

    uint8_t overrideDcScale = 0;       // the value below came from an override file
    float overrideDcScaleValue = 1.0f;
    uint8_t nameFixFlag = 0;
    std::array<float, 2> nameFixOffsets{};
};

// Measured DAC curves of one voice.
struct VoiceCurveTables {
    std::array<uint16_t, 4096> oscCurve{};  // waveform value -> level (read as signed)
    std::array<int32_t, 256> envCurve{};    // envelope level -> multiplier
};

// Description and table model of one chip.
struct SIDChipInfo {
    uint8_t tableModel = 0;      // non-zero: the linear table model filters this chip
    uint8_t wave6Quirk = 0;
    uint8_t rawOscillators = 0;  // curves quantised without the zero offset
    uint8_t spare = 0;
    uint32_t waveSet = 4;        // built-in combined-waveform set when combTables is empty
    std::vector<VoiceCurveTables> voiceTables;  // three when the chip has its own curves
    std::vector<uint16_t> combTables;           // 8 slots of 4096, slot s for waveform bits s + 1
    float outputDc = 0.0f;
    uint8_t hasDcTable = 0;
    std::array<float, 144> dcTable{};  // 128 mixer levels by routing, then 16 voice sums
    float filterScale = 1.0f;
    std::array<float, 16> resoInverseQ = sid_records_detail::filled<16>(0.5f);
    SIDLineRows lineRows = sid_records_detail::defaultLineRows();
    std::array<float, 4> mixerGains = sid_records_detail::filled<4>(1.0f);  // lp, bp, hp, direct
    float mixerSign = 1.0f;  // filtered-voice gain
    std::map<std::string, std::string> texts;  // "Info" texts by chunk id
    float filterDcBias = 0.0f;
    float volumeDcBias = 0.0f;
    std::array<float, 2> finalTrim = {7.29f, 3.1f};  // clipping ceiling, knee level
    // lp, bp, hp gains for configuration values below 1006, then for 1006 and up.
    std::array<float, 6> modeGains = sid_records_detail::filled<6>(0.5f);
};
