#pragma once
// Built-in combined-waveform tables: five chip table sets (8 slots of 4096 entries, slot s for
// the waveform bits s + 1) and 32 sound-design blocks (4 tables for the waveforms 3, 5, 6, 7),
// one per "SID Combine Wave" value. Built once at start-up, read-only afterwards.

#include "sid/SIDChipRecords.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

inline constexpr std::size_t kCombinedTableLength = 4096;  // one table, by 12-bit oscillator value
inline constexpr std::size_t kChipTableSlots = 8;
inline constexpr std::size_t kChipTableSetLength = kChipTableSlots * kCombinedTableLength;
inline constexpr uint32_t kChipTableSetCount = 5;
inline constexpr uint32_t kDefaultChipTableSet = 4;  // also for a waveSet outside 0..4
inline constexpr std::size_t kCombineBlockTables = 4;  // waveforms 3, 5, 6, 7
inline constexpr uint32_t kCombineModeCount = 32;

// The voice's four tables are these slots of a chip set (waveforms 3, 5, 6, 7).
inline constexpr std::array<unsigned, 4> kCombinedVoiceSlots = {2, 4, 5, 6};

// "SID Combine Wave" value names; stored in patches by value, so the order must not change.
inline constexpr std::array<std::string_view, kCombineModeCount> kCombineModeNames = {
    "Normal", "AND",     "AND2",    "MIX",      "JOIN",  "POPCNT",   "FRACRPT", "BITMASH",
    "OCTAVE", "STEP",    "2.5",     "ICE",      "REED",  "SINE",     "ORGAN",   "FRACMIX",
    "NOISY",  "CURVY",   "WSINE",   "FLAKY",    "XOR",   "PLUCK",    "EDGY",    "VOCAL",
    "TEEBEY", "SINESEG", "SINESEG2", "SEGMENT", "INVERT", "SCREAM",  "CEEZEY",  "WOODY"};

// The 8 slots of built-in chip set `waveSet` (kChipTableSetLength entries of 0..4080, multiples of
// 16); a set outside 0..4 gives set 4.
const uint16_t* builtinChipTableSet(uint32_t waveSet);

// The chip's own "Comb" slots when it has all 8 of them, else its built-in set.
const uint16_t* chipCombinedTables(const SIDChipInfo& info);

// Table k (0..3, for the waveforms 3, 5, 6, 7) of the block of min(mode, 31); mode 0 is the
// fallback block, which holds the "AND" data. Entries 0..4095. A k outside 0..3 is a caller error
// (asserted; table 3 is returned).
const uint16_t* builtinCombineTable(uint64_t mode, unsigned k);
