#pragma once
// Internal: which renderer body serves each table slot. Slots that behave alike share one body,
// keyed by the slot's canonical index. Bodies are defined in WaveRenderKernels.h and explicitly
// instantiated in the WaveRender*Bodies*.cpp files.

#include <cstdint>

#include "sid/WaveRender.h"

namespace wave_render {

inline constexpr unsigned kTestBit = 16;
inline constexpr unsigned kQuirkBit = 32;
inline constexpr unsigned kDelayedBit = 64;
inline constexpr unsigned kSourceBit = 128;
inline constexpr unsigned kRingBit = 256;
inline constexpr unsigned kSyncBit = 512;
inline constexpr unsigned kBufferedTestBit = 16;
inline constexpr unsigned kBufferedDelayedBit = 32;
inline constexpr unsigned kBufferedRingBit = 64;

// Triangle without saw (1, 5, 9, 13): the waveform index folds with the fold bit.
constexpr bool isTriangleIndexed(unsigned nibble) { return (nibble & 3) == 1; }
// Nibbles 0, 4, 8 and 12 read no accumulator-derived value, so delay changes nothing.
constexpr bool usesWaveIndex(unsigned nibble) { return (nibble & 3) != 0; }
constexpr bool usesTable(unsigned nibble) { return (nibble & 7) == 3 || (nibble & 7) >= 5; }

struct DirectSlot {
    enum Kind { Empty, Body, BodyAdvancingSource } kind;
    unsigned key;  // canonical index; its source bit means the body uses the source every cycle
};

constexpr DirectSlot directSlot(unsigned index)
{
    unsigned nibble = index & 15;
    bool test = index & kTestBit, quirk = index & kQuirkBit, delayed = index & kDelayedBit;
    const bool source = index & kSourceBit;
    bool ring = index & kRingBit, sync = index & kSyncBit;
    if (quirk && nibble != 6)
        return {DirectSlot::Empty, 0};
    if (test)
        quirk = sync = false;  // the accumulator is held at 0
    if (!source)
        sync = false;
    if (!isTriangleIndexed(nibble))
        ring = false;
    if (!usesWaveIndex(nibble))
        delayed = false;
    if (nibble == 7 || nibble == 15)
        --nibble;  // the table follows the voice's waveform at run time
    const bool perCycleSource = source && (ring || sync);
    const unsigned key = nibble + (test ? kTestBit : 0u) + (quirk ? kQuirkBit : 0u) +
                         (delayed ? kDelayedBit : 0u) + (perCycleSource ? kSourceBit : 0u) +
                         (ring ? kRingBit : 0u) + (sync ? kSyncBit : 0u);
    return {source && !perCycleSource ? DirectSlot::BodyAdvancingSource : DirectSlot::Body, key};
}

constexpr unsigned bufferedKey(unsigned index)
{
    unsigned nibble = index & 15;
    bool test = index & kBufferedTestBit, delayed = index & kBufferedDelayedBit;
    bool ring = index & kBufferedRingBit;
    if (nibble == 0)
        return 0;
    if (!isTriangleIndexed(nibble))
        ring = false;
    if (!usesWaveIndex(nibble))
        delayed = false;
    if (nibble == 7 || nibble == 15)
        --nibble;
    if (test && nibble <= 3)
        test = false;  // no gate and no noise: test changes nothing
    if (test && nibble == 6) {
        nibble = 3;  // the gate is always open in test
        test = false;
    }
    if (test && nibble == 14)
        nibble = 11;
    return nibble + (test ? kBufferedTestBit : 0u) + (delayed ? kBufferedDelayedBit : 0u) +
           (ring ? kBufferedRingBit : 0u);
}

void emptyWave(SIDVoice&, uint32_t*, uint64_t, uint32_t*, uint32_t*, uint8_t*);

template <unsigned Key>
void directWave(SIDVoice& voice, uint32_t* out, uint64_t count, uint32_t* sourceAccumulator,
                uint32_t* sourceFrequency, uint8_t* sourceMsb);

// A body without per-cycle source use, followed by the plain advance of the source copy.
template <unsigned Key>
void directWaveAdvancingSource(SIDVoice& voice, uint32_t* out, uint64_t count,
                               uint32_t* sourceAccumulator, uint32_t* sourceFrequency,
                               uint8_t* sourceMsb);

template <unsigned Key>
void bufferedWave(SIDVoice& voice, uint32_t* out, uint64_t count, const uint16_t* ownTops,
                  const uint16_t* sourceTops);

}  // namespace wave_render
