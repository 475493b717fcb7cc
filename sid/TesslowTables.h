#pragma once
// Volume-register values for the "Tesslow" encoding, indexed by a 12-bit level (0 = most negative
// sample): filter-mode bits in the high nibble, volume in the low, rising in output level.

#include <array>
#include <cstdint>

// For linear-model chips.
extern const std::array<uint8_t, 4096> kTesslowLevelTableLinear;
// For measured-model chips.
extern const std::array<uint8_t, 4096> kTesslowLevelTable;
