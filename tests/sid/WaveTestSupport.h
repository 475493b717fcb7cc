#pragma once
// Helpers of the renderer tests: random voice states, field snapshots, reference conversions.

#include <array>
#include <cstdint>
#include <cstring>
#include <ostream>
#include <random>
#include <vector>

#include "WaveReference.h"
#include "sid/SIDVoice.h"

namespace wavetest {

using Rng = std::mt19937_64;

inline constexpr uint64_t kBlockCounts[] = {0, 1, 2, 3, 7, 8, 9, 31, 64, 257};
inline constexpr uint32_t kSentinel = 0xDEADBEEF;

inline uint32_t pick(Rng& rng, uint32_t lo, uint32_t hi)  // inclusive
{
    return std::uniform_int_distribution<uint32_t>(lo, hi)(rng);
}

// Every field of the voice the renderers and selectors may touch, for comparisons.
struct Fields {
    uint32_t accumulator, accumulatorPrev, accumulatorPrev2;
    uint32_t frequency, pulseWidth;
    uint32_t noisePending, noiseLatched, noiseOutput;
    uint32_t testBit, noiseClocked, noisePhase;
    const uint16_t* tables[4];
    uint32_t waveform, lastOutput, control;
    uint32_t testClearsAccumulator, delayedOutput, sawPulseQuirk, generatedCombinedTables;
    int32_t noiseResetCounter;
    uint32_t nextWaveIndex;
    const void* outputBuffer;
    const void* accumulatorBuffer;
    bool operator==(const Fields&) const = default;
};

Fields fieldsOf(const SIDVoice& v);
std::ostream& operator<<(std::ostream& os, const Fields& f);

// Copies every oscillator field (the voice itself may own buffers and need not be copyable).
void copyOscillator(SIDVoice& to, const SIDVoice& from);

ref::Osc toRef(const SIDVoice& v);
// The voice's fields as the reference left them (fields the reference does not model kept).
Fields fieldsAfter(const SIDVoice& before, const ref::Osc& r);

// Raw bytes of the voice object, to show an entry changed nothing at all.
inline std::vector<unsigned char> bytesOf(const SIDVoice& v)
{
    std::vector<unsigned char> b(sizeof(SIDVoice));
    std::memcpy(b.data(), static_cast<const void*>(&v), sizeof(SIDVoice));
    return b;
}

// Random combined-waveform tables of exactly 4096 12-bit entries.
struct TablePool {
    std::vector<std::vector<uint16_t>> tables;
    explicit TablePool(Rng& rng, int count = 8);
    const uint16_t* any(Rng& rng) const { return tables[pick(rng, 0, uint32_t(tables.size() - 1))].data(); }
};

// A random oscillator state with the edges the renderers care about: accumulators near bit 19
// and bit 23 edges and the quirk limit, noise counters near 546000, random flags and tables.
void randomVoice(Rng& rng, SIDVoice& v, const TablePool& tables);

struct SourceCopy {
    uint32_t accumulator = 0, frequency = 0;
    uint8_t msb = 0;
};
SourceCopy randomSource(Rng& rng);

// Random accumulator tops: 12-bit values, sometimes a stepped ramp so bit 7 rises in order.
void randomTops(Rng& rng, uint16_t* tops, int64_t first, int64_t end);

}  // namespace wavetest
