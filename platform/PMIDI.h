#pragma once
// MIDI byte helpers: 14-bit values, normalised-to-MIDI conversion, one-line message descriptions.

#include <cstddef>
#include <cstdint>

uint16_t PMIDICombineBytes(uint8_t low, uint8_t high);
void PMIDICreateBytes(uint16_t value, uint8_t& low, uint8_t& high);

// 0..1 -> 0..127, clamped; NaN counts as 0.
int PDowngradeToMIDI7(const float& v);
int PDowngradeToMIDI7(const double& v);
// -1..1 -> 0..16383 with 0 at 8192, clamped; NaN counts as 0.
int PDowngradeToMIDI14(const float& v);
int PDowngradeToMIDI14(const double& v);

// Describes the message (three readable bytes for statuses 0x80 and up) in `buffer`; does nothing
// for a null buffer or a capacity below 32.
void PMIDILogMessage(char* buffer, size_t capacity, const uint8_t* message, bool zeroBasedChannel);
