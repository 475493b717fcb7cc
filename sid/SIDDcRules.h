#pragma once
// Steps of the chip database loader that refine one chip after its filter chunks are read: the DC
// rules (mixer gains, signs and the synthesised DC table of a chip without "Ddcm"), the per-chip
// override text file beside the database, and the fix-ups keyed by the chip's exact Name.

#include "sid/SIDChipRecords.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using SIDGlobalParams = std::array<float, 16>;  // "Glbl": G0..G15
using SIDVoltages = std::array<float, 8>;       // "Volt": V0..V7
using SIDFinalAdjust = std::array<float, 5>;    // "Fina": input gain and bias, LPF bias, gain, scale

inline constexpr SIDGlobalParams kDefaultGlobalParams = {0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0, 1, 1, 1};
inline constexpr SIDFinalAdjust kDefaultFinalAdjust = {-1.058383f, 2.5084f, 2.5084f, 0.94483757f, 1.0f};

// Offsets and gains that shape a synthesised DC table.
struct SIDDcParameters {
    float dcOffset, lpOffset, bpOffset, hpOffset, dcGain, lpGain, passGain;
};

// The parameter set for a chip by its Name: the measured model's rows (a Name matching none gets
// the last, computed from "Glbl"), or the table model's set.
SIDDcParameters sidDcParameters(const std::string& name, bool tableModel, const SIDGlobalParams& g);

// Spreads "Glbl" (and, for a measured chip with "Ddcm", "Fina") into the records; without "Ddcm"
// also synthesises `dcTable` from "Glbl", "Volt" and the Name's parameter set.
void applySidDcRules(SIDChipInfo& info, SIDChipRecord& record, const std::string& name, bool hasDdcm,
                     const SIDGlobalParams& g, const SIDVoltages& v, const SIDFinalAdjust& fina);

// database path + "." + Name + (".old" without "Ddcm") + ".ov2.txt"; empty for a Name holding a
// "/", which would point outside the database's folder.
std::string sidOverridePath(const std::string& databasePath, const std::string& name, bool hasDdcm);

// Applies "key,index,...,value" lines: a table-model chip takes the keys for both models into
// `info`, a measured chip every key into `record` (then `filterinddcscale` reaches `filterScale`).
void applySidOverrideLines(const std::vector<std::string>& lines, SIDChipInfo& info, SIDChipRecord& record);
// Reads the chip's override file, when there is one, and applies it.
void applySidOverrideFile(const std::string& databasePath, const std::string& name, bool hasDdcm,
                          SIDChipInfo& info, SIDChipRecord& record);

// The fix-ups of a few Names, then `modeGains` from `mixerGains` and the Name's second three.
void applySidNameFixups(const std::string& name, SIDChipInfo& info, SIDChipRecord& record);

// Leading blanks, an optional sign and digits, saturated at the int64 range; 0 without digits.
int64_t sidParseInteger(const std::string& text);
