#pragma once
// The two constant tables of oscillator renderers and their index layouts.
//
// Direct table index: nibble + 16 test + 32 quirk + 64 delayed + 128 source + 256 ring + 512 sync.
// Buffered table index: nibble + 16 test + 32 delayed + 64 ring.

#include <array>
#include <cstddef>
#include <cstdint>

class SIDVoice;

// (voice, out, count, source accumulator, source frequency, source MSB). Entries without the source
// bit ignore the three pointers; entries with it step the accumulator copy and leave the last
// cycle's bit 23 in the MSB byte.
using WaveRenderFn = void (*)(SIDVoice& voice, uint32_t* out, uint64_t count,
                              uint32_t* sourceAccumulator, uint32_t* sourceFrequency,
                              uint8_t* sourceMsb);

// (voice, out, count, own tops, source tops); tops[-1] and tops[-2] must be readable.
using BufferedWaveRenderFn = void (*)(SIDVoice& voice, uint32_t* out, uint64_t count,
                                      const uint16_t* ownTops, const uint16_t* sourceTops);

inline constexpr std::size_t kWaveRenderTableSize = 1024;
inline constexpr std::size_t kWaveRenderBufferedTableSize = 128;

extern const std::array<WaveRenderFn, kWaveRenderTableSize> kWaveRenderTable;
extern const std::array<BufferedWaveRenderFn, kWaveRenderBufferedTableSize> kWaveRenderBufferedTable;

// Index values are added, not masked: flags must be 0 or 1 and the nibble 0-15 (asserted).
WaveRenderFn waveRendererAt(int32_t nibble, uint32_t test, uint32_t quirk, uint32_t delayed,
                            uint32_t source, uint32_t ring, uint8_t sync);
BufferedWaveRenderFn bufferedWaveRendererAt(int32_t nibble, int32_t test, int32_t delayed, int32_t ring);

// The indexes the voice's selectors use. Flags count as booleans and the nibble is `waveform & 15`,
// so any voice state gives an index inside the table.
uint32_t waveRenderIndex(const SIDVoice& voice, uint32_t hasSource);
uint32_t bufferedWaveRenderIndex(const SIDVoice& voice);

// The 13-bit index a delayed renderer starts the next block from: accumulator bits 12-23, folded
// (XOR 0x17FF) when the nibble has no saw bit and the fold bit is set. The fold bit is bit 23
// without ring; with ring it is set when bit 23 equals the source MSB.
uint32_t nextWaveIndexFor(uint32_t accumulator, uint32_t indexNibble, bool ring, bool sourceMsb);
