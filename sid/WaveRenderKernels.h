#pragma once
// Internal: the renderer bodies behind the two tables. Included only by the files that
// instantiate them (WaveRender*Bodies*.cpp).
//
// Every body is fixed at compile time by its canonical index, so no per-cycle loop tests a mode.
// Loops run eight cycles at a time in SSE2 vectors while nothing happens; a cycle group that holds
// a sync reset, a waveform-6 quirk drop, a noise clock or a pending noise change runs cycle by
// cycle instead.

#include <emmintrin.h>

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sid/SIDVoice.h"
#include "sid/WaveRenderEntries.h"

#define WAVE_INLINE inline __attribute__((always_inline))

namespace wave_render {

using U32x4 = uint32_t __attribute__((vector_size(16)));
using I32x4 = int32_t __attribute__((vector_size(16)));
using U16x8 = uint16_t __attribute__((vector_size(16)));

WAVE_INLINE U32x4 splat(uint32_t x) { return U32x4{x, x, x, x}; }

WAVE_INLINE U16x8 splat16(uint16_t x) { return U16x8{x, x, x, x, x, x, x, x}; }

WAVE_INLINE void store(uint32_t* p, U32x4 v) { std::memcpy(p, &v, sizeof v); }

WAVE_INLINE U16x8 load8(const uint16_t* p)
{
    U16x8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

WAVE_INLINE bool anySet(U32x4 v)
{
    const __m128i zero = _mm_cmpeq_epi32(__m128i(v), _mm_setzero_si128());
    return _mm_movemask_epi8(zero) != 0xFFFF;
}

WAVE_INLINE bool anySet(U16x8 v)
{
    const __m128i zero = _mm_cmpeq_epi16(__m128i(v), _mm_setzero_si128());
    return _mm_movemask_epi8(zero) != 0xFFFF;
}

// Fills `count` words with one value, four at a time.
inline void fillWords(uint32_t* out, uint64_t count, uint32_t value)
{
    const U32x4 v = splat(value);
    uint64_t i = 0;
    for (; i + 4 <= count; i += 4)
        store(out + i, v);
    for (; i < count; ++i)
        out[i] = value;
}

// {prev[3], cur[0], cur[1], cur[2]}: each lane gets the value of the cycle before it.
WAVE_INLINE U32x4 shiftIn(U32x4 prev, U32x4 cur)
{
    return U32x4(_mm_or_si128(_mm_slli_si128(__m128i(cur), 4), _mm_srli_si128(__m128i(prev), 12)));
}

// All-ones where a >= b; both below 2^31.
WAVE_INLINE U32x4 atLeast(U32x4 a, U32x4 b) { return U32x4(I32x4(a) >= I32x4(b)); }

WAVE_INLINE U32x4 widenLow(U16x8 v) { return U32x4(_mm_unpacklo_epi16(__m128i(v), _mm_setzero_si128())); }

WAVE_INLINE U32x4 widenHigh(U16x8 v) { return U32x4(_mm_unpackhi_epi16(__m128i(v), _mm_setzero_si128())); }

// ---------------------------------------------------------------------------------------------
// Noise register

inline constexpr uint32_t kNoiseResetValue = 0xFFFFFC;
inline constexpr int32_t kNoiseResetCycles = 546000;
inline constexpr uint32_t kTapClearMask = 0x7FAED76B;  // clears taps 22 20 16 13 11 7 4 2 and bit 31

WAVE_INLINE uint32_t noiseTaps(uint32_t r)
{
    return ((r >> 15) & 0x80) | ((r >> 14) & 0x40) | ((r >> 11) & 0x20) | ((r >> 9) & 0x10) |
           ((r >> 8) & 0x08) | ((r >> 5) & 0x04) | ((r >> 3) & 0x02) | ((r >> 2) & 0x01);
}

struct TestNoise {
    uint32_t firstByte;   // noise byte from the first cycle on
    uint64_t reloadFrom;  // first cycle that reloads the register (count when none does)
};

struct Noise {
    uint32_t pending, latched, output;
    int32_t resetCounter;
    uint8_t clocked, phase;

    explicit Noise(const SIDVoice& v)
        : pending(v.noisePending), latched(v.noiseLatched), output(v.noiseOutput),
          resetCounter(v.noiseResetCounter), clocked(v.noiseClockedSinceTest), phase(v.noisePhase)
    {
    }

    void storeTo(SIDVoice& v) const
    {
        v.noisePending = pending;
        v.noiseLatched = latched;
        v.noiseOutput = output;
        v.noiseResetCounter = resetCounter;
        v.noiseClockedSinceTest = clocked;
        v.noisePhase = phase;
    }

    // One cycle outside test. A clock shifts into `pending`; the next unclocked cycle latches it.
    // Noise combined with another waveform clears the taps on every second unclocked cycle.
    template <bool Combined>
    WAVE_INLINE void cycle(uint32_t clock)
    {
        if (clock) {
            if (resetCounter >= kNoiseResetCycles) {
                output = 255;
                latched = kNoiseResetValue;
            } else {
                ++resetCounter;
            }
            pending = (latched << 1) | (((latched >> 22) ^ (latched >> 17)) & 1);
            clocked = 1;
            phase = 1;
            return;
        }
        if constexpr (Combined) {
            phase = phase ? 0 : 1;
            if (phase)
                pending &= kTapClearMask;
        } else {
            phase = 0;
        }
        resetCounter = 0;
        if (pending != latched) {
            output = noiseTaps(pending);
            latched = pending;
        }
    }

    // True when unclocked cycles can change nothing but the phase and the counter.
    template <bool Combined>
    WAVE_INLINE bool settled() const
    {
        return pending == latched && (!Combined || (pending & ~kTapClearMask) == 0);
    }

    // The effect of `n` unclocked cycles on a settled register.
    template <bool Combined>
    WAVE_INLINE void quietCycles(uint64_t n)
    {
        resetCounter = 0;
        if constexpr (Combined) {
            if (n & 1)
                phase = phase ? 0 : 1;
        } else {
            phase = 0;
        }
    }

    // `count` >= 1 test cycles: no clocks; entering test shows the latched taps and flips the two
    // low bits once; after 546000 counted cycles every cycle reloads 0xFFFFFC. Leaving test later
    // latches one shift with the bit-17 feedback inverted.
    TestNoise runTest(uint64_t count, bool entering)
    {
        if (resetCounter >= kNoiseResetCycles) {
            output = 255;
            latched = kNoiseResetValue;
        }
        if (entering) {
            output = noiseTaps(latched);
            latched ^= 3;
        }
        if (resetCounter < kNoiseResetCycles)
            ++resetCounter;
        TestNoise t{output, count};
        if (count > 1) {
            const uint64_t steps = count - 1;
            if (resetCounter >= kNoiseResetCycles) {
                t.reloadFrom = 1;
            } else {
                const uint64_t toGo = uint64_t(int64_t(kNoiseResetCycles) - resetCounter);
                if (steps > toGo)
                    t.reloadFrom = 1 + toGo;
                resetCounter = int32_t(resetCounter + int64_t(std::min(steps, toGo)));
            }
            if (t.reloadFrom < count) {
                output = 255;
                latched = kNoiseResetValue;
            }
        }
        pending = (latched << 1) | (((latched >> 17) & 1) ^ 1);
        clocked = 0;
        phase = 1;
        return t;
    }
};

// ---------------------------------------------------------------------------------------------
// Output of one cycle from its waveform index

WAVE_INLINE const uint16_t* combinedTableFor(const SIDVoice& v)
{
    switch (v.waveform) {
    case 5:
        return v.combinedTable5;
    case 6:
        return v.combinedTable6;
    case 7:
        return v.combinedTable7;
    default:
        return v.combinedTable3;
    }
}

// The index is the 13-bit waveform index: bits 0-11 the accumulator top, folded (XOR 0x17FF) for
// triangle-indexed nibbles when the fold bit is set. `noise` is the noise byte << 4.
template <unsigned Nibble>
WAVE_INLINE uint32_t waveValue(uint32_t index, bool gate, uint32_t noise, const uint16_t* table)
{
    constexpr unsigned part = Nibble & 7;
    uint32_t value;
    if constexpr (part == 1)
        value = (index << 1) & 0xFFE;
    else if constexpr (part == 2)
        value = index & 0xFFF;
    else if constexpr (part == 5)
        value = table[((index & 0x1000) ? 0xFFF : 0) ^ (index & 0x7FF)];
    else if constexpr (part == 3 || part >= 6)
        value = table[index & 0xFFF];
    else
        value = 0xFFF;  // pulse or noise alone
    if constexpr ((Nibble & 4) != 0)
        value = gate ? value : 0;
    if constexpr ((Nibble & 8) != 0)
        value &= noise;
    return value;
}

// Four cycles; `gate` is all-ones or zero per lane, `noise` the splatted noise word.
template <unsigned Nibble>
WAVE_INLINE void emit4(uint32_t* dst, U32x4 index, U32x4 gate, U32x4 noise, const uint16_t* table)
{
    constexpr unsigned part = Nibble & 7;
    if constexpr (usesTable(Nibble)) {
        U32x4 at;
        if constexpr (part == 5)
            at = ((-((index >> 12) & 1)) & 0xFFF) ^ (index & 0x7FF);
        else
            at = index & 0xFFF;
        U32x4 mask = splat(0xFFFFFFFF);
        if constexpr ((Nibble & 4) != 0)
            mask &= gate;
        if constexpr ((Nibble & 8) != 0)
            mask &= noise;
        for (int k = 0; k < 4; ++k)
            dst[k] = table[at[k]] & mask[k];
    } else {
        U32x4 value;
        if constexpr (part == 1)
            value = (index << 1) & 0xFFE;
        else if constexpr (part == 2)
            value = index & 0xFFF;
        else
            value = splat(0xFFF);
        if constexpr ((Nibble & 4) != 0)
            value &= gate;
        if constexpr ((Nibble & 8) != 0)
            value &= noise;
        store(dst, value);
    }
}

// ---------------------------------------------------------------------------------------------
// Direct renderers: step the accumulator (and the source copy) themselves.

template <unsigned Key>
struct DirectRun {
    static constexpr unsigned kNibble = Key & 15;
    static constexpr bool kQuirk = (Key & kQuirkBit) != 0;
    static constexpr bool kDelayed = (Key & kDelayedBit) != 0;
    static constexpr bool kSource = (Key & kSourceBit) != 0;
    static constexpr bool kRing = (Key & kRingBit) != 0;
    static constexpr bool kSync = (Key & kSyncBit) != 0;
    static constexpr bool kCombined = kNibble > 8;
    static constexpr bool kTri = isTriangleIndexed(kNibble);
    static_assert((Key & kTestBit) == 0);

    const uint16_t* table = nullptr;
    uint32_t freq, pulseWidth;
    uint32_t acc, prev, prev2;
    Noise noise;
    uint32_t last, index;
    uint32_t src = 0, srcFreq = 0, srcPrev = 0;  // srcPrev: source bit 23 of the cycle before
    U32x4 stepLo{}, stepHi{}, srcStepLo{}, srcStepHi{};

    DirectRun(const SIDVoice& v, const uint32_t* srcAcc, const uint32_t* srcFrequency, const uint8_t* srcMsb)
        : freq(v.frequency), pulseWidth(v.pulseWidth), acc(v.accumulator), prev(v.accumulatorPrev),
          prev2(v.accumulatorPrev2), noise(v), last(v.lastOutput), index(v.nextWaveIndex)
    {
        if constexpr (usesTable(kNibble)) {
            table = combinedTableFor(v);
            assert(table != nullptr);
        }
        if constexpr (kSource) {
            src = *srcAcc;
            srcFreq = *srcFrequency;
            srcPrev = *srcMsb == 1 ? 1 : 0;
        }
    }

    void storeTo(SIDVoice& v, uint32_t* srcAcc, uint8_t* srcMsb) const
    {
        v.accumulator = acc;
        v.accumulatorPrev = prev;
        v.accumulatorPrev2 = prev2;
        noise.storeTo(v);
        v.lastOutput = last;
        if constexpr (kSource) {
            *srcAcc = src;
            *srcMsb = uint8_t(srcPrev);
        }
    }

    WAVE_INLINE uint32_t waveIndex(uint32_t a, uint32_t msb) const
    {
        if constexpr (kTri) {
            const uint32_t fold = kRing ? (((a >> 23) ^ msb ^ 1) & 1) : ((a >> 23) & 1);
            return (a >> 12) ^ ((0u - fold) & 0x17FF);
        } else {
            return a >> 12;
        }
    }

    WAVE_INLINE U32x4 waveIndex(U32x4 a, U32x4 msb) const
    {
        if constexpr (kTri) {
            U32x4 fold;
            if constexpr (kRing)
                fold = ((a >> 23) ^ msb ^ 1) & 1;
            else
                fold = (a >> 23) & 1;
            return (a >> 12) ^ ((-fold) & 0x17FF);
        } else {
            return a >> 12;
        }
    }

    WAVE_INLINE void cycle(uint32_t* dst)
    {
        uint32_t msb = 0;
        if constexpr (kSource) {
            src += srcFreq;
            msb = (src >> 23) & 1;
        }
        uint32_t next = (acc + freq) & 0xFFFFFF;
        if constexpr (kQuirk) {
            if (next < 0x821000)
                next &= 0x7FFFFF;
        }
        if constexpr (kSync) {
            if (msb > srcPrev)
                next = 0;
        }
        // Bit 19 rising in the previous cycle's step clocks the register now.
        noise.template cycle<kCombined>(((acc & ~prev) >> 19) & 1);
        uint32_t value = last;
        if constexpr (kNibble != 0) {
            const uint32_t nextIndex = waveIndex(next, msb);
            value = waveValue<kNibble>(kDelayed ? index : nextIndex, (acc >> 12) >= pulseWidth,
                                       noise.output << 4, table);
            index = nextIndex;
        }
        *dst = value;
        last = value;
        prev2 = prev;
        prev = acc;
        acc = next;
        if constexpr (kSource)
            srcPrev = msb;
    }

    // Eight cycles in vector form. Returns false, with nothing changed, when a sync reset, a quirk
    // drop or a noise clock falls inside them; the caller then steps them one by one.
    WAVE_INLINE bool chunk(uint32_t* dst)
    {
        uint32_t mask = 0xFFFFFF;
        if constexpr (kQuirk) {
            if (acc < 0x800000)
                mask = 0x7FFFFF;  // below 0x800000 the quirked accumulator wraps at 0x800000
        }
        // A noise clock is bit 19 rising from one cycle's start to the next: in the first cycle
        // from prev, or within the next seven steps, which cover less than 2^20 and so cross at
        // most one point 0x80000 above a multiple of 0x100000 (both wraps are such multiples).
        if (((acc & ~prev) & 0x80000) != 0 || ((acc - 0x80000) & 0xFFFFF) + 7 * freq >= 0x100000)
            return false;
        const U32x4 a = splat(acc);
        const U32x4 lo = (a + stepLo) & mask;
        const U32x4 hi = (a + stepHi) & mask;
        if constexpr (kQuirk) {
            const I32x4 limit = I32x4(splat(0x821000));
            if (mask == 0xFFFFFF && anySet(U32x4(I32x4(lo) < limit) | U32x4(I32x4(hi) < limit)))
                return false;
        }
        U32x4 msbLo{}, msbHi{};
        if constexpr (kSource) {
            const U32x4 s = splat(src);
            msbLo = ((s + srcStepLo) >> 23) & 1;
            msbHi = ((s + srcStepHi) >> 23) & 1;
            if constexpr (kSync) {
                const U32x4 rise = (msbLo & ~shiftIn(splat(srcPrev), msbLo)) | (msbHi & ~shiftIn(msbLo, msbHi));
                if (anySet(rise))
                    return false;
            }
        }
        const U32x4 startLo = shiftIn(a, lo), startHi = shiftIn(lo, hi);  // accumulator at cycle start

        if constexpr (kNibble == 0) {
            fillWords(dst, 8, last);
        } else {
            const U32x4 indexLo = waveIndex(lo, msbLo), indexHi = waveIndex(hi, msbHi);
            U32x4 useLo = indexLo, useHi = indexHi;
            if constexpr (kDelayed) {
                useLo = shiftIn(splat(index), indexLo);
                useHi = shiftIn(indexLo, indexHi);
            }
            U32x4 gateLo{}, gateHi{};
            if constexpr ((kNibble & 4) != 0) {
                const U32x4 width = splat(pulseWidth);
                gateLo = atLeast(startLo >> 12, width);
                gateHi = atLeast(startHi >> 12, width);
            }
            const U32x4 noiseWord = splat(noise.output << 4);
            emit4<kNibble>(dst, useLo, gateLo, noiseWord, table);
            emit4<kNibble>(dst + 4, useHi, gateHi, noiseWord, table);
            index = indexHi[3];
            last = dst[7];
        }
        // Free running from here: the state follows without reading the vectors back.
        prev2 = (acc + 6 * freq) & mask;
        prev = (acc + 7 * freq) & mask;
        acc = (acc + 8 * freq) & mask;
        if constexpr (kSource) {
            src += srcFreq * 8;
            srcPrev = (src >> 23) & 1;
        }
        noise.template quietCycles<kCombined>(8);
        return true;
    }

    WAVE_INLINE void run(uint32_t* out, uint64_t count)
    {
        uint64_t i = 0;
        if (count >= 8) {
            stepLo = U32x4{freq, 2 * freq, 3 * freq, 4 * freq};
            stepHi = stepLo + 4 * freq;
            if constexpr (kSource) {
                srcStepLo = U32x4{srcFreq, 2 * srcFreq, 3 * srcFreq, 4 * srcFreq};
                srcStepHi = srcStepLo + 4 * srcFreq;
            }
            bool settled = noise.template settled<kCombined>();
            for (; i + 8 <= count; i += 8) {
                if (settled && chunk(out + i))
                    continue;
                for (int k = 0; k < 8; ++k)
                    cycle(out + i + k);
                settled = noise.template settled<kCombined>();
            }
        }
        for (; i < count; ++i)
            cycle(out + i);
    }
};

// Test held: the accumulator stays 0, the pulse gate is open, the noise register is not clocked.
// Ring with a source folds by the source MSB (fold bit = NOT msb, since bit 23 is 0).
template <unsigned Key>
void directTest(SIDVoice& v, uint32_t* out, uint64_t count, uint32_t* srcAcc, const uint32_t* srcFreq,
                uint8_t* srcMsb)
{
    constexpr unsigned nibble = Key & 15;
    constexpr bool delayed = (Key & kDelayedBit) != 0;
    constexpr bool source = (Key & kSourceBit) != 0;
    constexpr bool ring = (Key & kRingBit) != 0;
    static_assert(!source || ring, "test bodies use the source only for the ring fold");

    const uint16_t* table = nullptr;
    if constexpr (usesTable(nibble)) {
        table = combinedTableFor(v);
        assert(table != nullptr);
    }
    Noise noise(v);
    const TestNoise t = noise.runTest(count, v.testBit != 1 && noise.clocked != 0);
    const uint32_t early = t.firstByte << 4;
    const uint64_t split = std::min(t.reloadFrom, count);

    if constexpr (nibble == 0) {
        fillWords(out, count, v.lastOutput);
    } else if constexpr (source) {
        uint32_t s = *srcAcc, msb = 0, index = v.nextWaveIndex;
        const uint32_t step = *srcFreq;
        for (uint64_t i = 0; i < count; ++i) {
            s += step;
            msb = (s >> 23) & 1;
            const uint32_t next = msb ? 0 : 0x17FF;
            out[i] = waveValue<nibble>(delayed ? index : next, true, i < split ? early : 0xFF0, table);
            index = next;
        }
        *srcAcc = s;
        *srcMsb = uint8_t(msb);
    } else {
        constexpr uint32_t held = ring ? 0x17FF : 0;  // ring without source: fold bit 1
        const uint32_t first = waveValue<nibble>(delayed ? v.nextWaveIndex : held, true, early, table);
        if constexpr ((nibble & 8) == 0) {
            const uint32_t value = waveValue<nibble>(held, true, 0, table);
            if (delayed) {
                out[0] = first;
                fillWords(out + 1, count - 1, value);
            } else {
                fillWords(out, count, value);
            }
        } else {
            out[0] = first;
            if (split > 1)
                fillWords(out + 1, split - 1, waveValue<nibble>(held, true, early, table));
            if (split < count)
                fillWords(out + split, count - split, waveValue<nibble>(held, true, 0xFF0, table));
        }
    }

    const uint32_t acc0 = v.accumulator, prev0 = v.accumulatorPrev;
    v.accumulator = 0;
    v.accumulatorPrev = count == 1 ? acc0 : 0;
    v.accumulatorPrev2 = count == 1 ? prev0 : count == 2 ? acc0 : 0;
    noise.storeTo(v);
    if constexpr (nibble != 0)
        v.lastOutput = out[count - 1];
}

template <unsigned Key>
void directWave(SIDVoice& voice, uint32_t* out, uint64_t count, uint32_t* sourceAccumulator,
                uint32_t* sourceFrequency, uint8_t* sourceMsb)
{
    if (count == 0)
        return;
    if constexpr ((Key & kTestBit) != 0) {
        directTest<Key>(voice, out, count, sourceAccumulator, sourceFrequency, sourceMsb);
    } else {
        DirectRun<Key> run(voice, sourceAccumulator, sourceFrequency, sourceMsb);
        run.run(out, count);
        run.storeTo(voice, sourceAccumulator, sourceMsb);
    }
}

template <unsigned Key>
void directWaveAdvancingSource(SIDVoice& voice, uint32_t* out, uint64_t count, uint32_t* sourceAccumulator,
                               uint32_t* sourceFrequency, uint8_t* sourceMsb)
{
    static_assert((Key & kSourceBit) == 0);
    directWave<Key>(voice, out, count, sourceAccumulator, sourceFrequency, sourceMsb);
    if (count == 0)
        return;
    *sourceAccumulator += uint32_t(count) * *sourceFrequency;
    *sourceMsb = uint8_t((*sourceAccumulator >> 23) & 1);
}

// ---------------------------------------------------------------------------------------------
// Buffered renderers: read accumulator tops the chip has stepped; never touch the accumulator.

template <unsigned Key>
struct BufferedRun {
    static constexpr unsigned kNibble = Key & 15;
    static constexpr bool kTest = (Key & kBufferedTestBit) != 0;
    static constexpr bool kDelayed = (Key & kBufferedDelayedBit) != 0;
    static constexpr bool kRing = (Key & kBufferedRingBit) != 0;
    static constexpr bool kNoise = kNibble >= 8;
    static constexpr bool kCombined = kNibble > 8;
    static constexpr bool kTri = isTriangleIndexed(kNibble);
    static constexpr bool kIndex = usesWaveIndex(kNibble);
    static constexpr bool kGate = (kNibble & 4) != 0 && !kTest;  // open throughout test

    const uint16_t* tops;
    const uint16_t* srcTops;
    const uint16_t* table = nullptr;
    uint32_t pulseWidth, startIndex;
    Noise noise;

    BufferedRun(const SIDVoice& v, const uint16_t* own, const uint16_t* source)
        : tops(own), srcTops(source), pulseWidth(v.pulseWidth), startIndex(v.nextWaveIndex), noise(v)
    {
        if constexpr (usesTable(kNibble)) {
            table = combinedTableFor(v);
            assert(table != nullptr);
        }
    }

    // Waveform index of cycle i (i may be -1).
    WAVE_INLINE uint32_t waveIndex(ptrdiff_t i) const
    {
        const uint32_t top = tops[i];
        if constexpr (kTri) {
            uint32_t fold;
            if constexpr (kRing)
                fold = (((top ^ srcTops[i]) >> 11) & 1) ^ 1;
            else
                fold = (top >> 11) & 1;
            return top ^ ((0u - fold) & 0x17FF);
        } else {
            return top;
        }
    }

    WAVE_INLINE uint32_t output(ptrdiff_t i, uint32_t noiseWord) const
    {
        uint32_t index = 0;
        if constexpr (kIndex)
            index = kDelayed ? (i == 0 ? startIndex : waveIndex(i - 1)) : waveIndex(i);
        bool gate = true;
        if constexpr (kGate)
            gate = tops[i - 1] >= pulseWidth;
        return waveValue<kNibble>(index, gate, noiseWord, table);
    }

    WAVE_INLINE void noiseCycle(ptrdiff_t i)
    {
        noise.template cycle<kCombined>(((tops[i - 1] & ~tops[i - 2]) >> 7) & 1);
    }

    WAVE_INLINE bool clockIn8(ptrdiff_t i) const
    {
        return anySet(U16x8(load8(tops + i - 1) & ~load8(tops + i - 2) & 0x80));
    }

    // Eight cycles from i (i >= 1 for delayed bodies).
    WAVE_INLINE void emit8(ptrdiff_t i, uint32_t* dst, uint32_t noiseWord) const
    {
        const U16x8 before = load8(tops + i - 1);
        U16x8 index{};
        if constexpr (kIndex) {
            const U16x8 top = kDelayed ? before : load8(tops + i);
            if constexpr (kTri) {
                U16x8 fold;
                if constexpr (kRing)
                    fold = (((top ^ load8(srcTops + i - (kDelayed ? 1 : 0))) >> 11) & 1) ^ 1;
                else
                    fold = (top >> 11) & 1;
                index = top ^ ((-fold) & 0x17FF);
            } else {
                index = top;
            }
        }
        U16x8 gate = splat16(0xFFFF);
        if constexpr (kGate)
            gate = U16x8(before >= splat16(uint16_t(pulseWidth)));
        if constexpr (usesTable(kNibble)) {
            const U32x4 noise4 = splat(noiseWord);
            emit4<kNibble>(dst, widenLow(index), widenLow(gate), noise4, table);
            emit4<kNibble>(dst + 4, widenHigh(index), widenHigh(gate), noise4, table);
        } else {
            constexpr unsigned part = kNibble & 7;
            U16x8 value;
            if constexpr (part == 1)
                value = (index << 1) & 0xFFE;
            else if constexpr (part == 2)
                value = index & 0xFFF;
            else
                value = splat16(0xFFF);
            if constexpr ((kNibble & 4) != 0)
                value &= gate;
            if constexpr (kNoise)
                value &= uint16_t(noiseWord);
            store(dst, widenLow(value));
            store(dst + 4, widenHigh(value));
        }
    }

    // Cycles [from, to) with a fixed noise word and no noise stepping.
    void renderPlain(uint32_t* out, ptrdiff_t from, ptrdiff_t to, uint32_t noiseWord) const
    {
        ptrdiff_t i = from;
        if (kDelayed && i == 0 && to > 0) {
            out[0] = output(0, noiseWord);
            i = 1;
        }
        for (; i + 8 <= to; i += 8)
            emit8(i, out + i, noiseWord);
        for (; i < to; ++i)
            out[i] = output(i, noiseWord);
    }

    void renderWithNoise(uint32_t* out, ptrdiff_t count)
    {
        ptrdiff_t i = 0;
        if (kDelayed) {
            noiseCycle(0);
            out[0] = output(0, noise.output << 4);
            i = 1;
        }
        bool settled = noise.template settled<kCombined>();
        for (; i + 8 <= count; i += 8) {
            if (settled && !clockIn8(i)) {
                emit8(i, out + i, noise.output << 4);
                noise.template quietCycles<kCombined>(8);
                continue;
            }
            for (ptrdiff_t k = i; k < i + 8; ++k) {
                noiseCycle(k);
                out[k] = output(k, noise.output << 4);
            }
            settled = noise.template settled<kCombined>();
        }
        for (; i < count; ++i) {
            noiseCycle(i);
            out[i] = output(i, noise.output << 4);
        }
    }

    void run(SIDVoice& v, uint32_t* out, ptrdiff_t count)
    {
        if constexpr (kTest && kNibble == 4) {
            fillWords(out, uint64_t(count), 4095);
        } else if constexpr (kTest && kNoise) {
            const TestNoise t = noise.runTest(uint64_t(count), v.testBit != 1 && noise.clocked != 0);
            const ptrdiff_t split = ptrdiff_t(std::min(t.reloadFrom, uint64_t(count)));
            renderPlain(out, 0, split, t.firstByte << 4);
            renderPlain(out, split, count, 0xFF0);
        } else if constexpr (kNoise) {
            renderWithNoise(out, count);
        } else {
            renderPlain(out, 0, count, 0);
        }
        if constexpr (kNoise)
            noise.storeTo(v);
        v.lastOutput = out[count - 1];
    }
};

template <unsigned Key>
void bufferedWave(SIDVoice& voice, uint32_t* out, uint64_t count, const uint16_t* ownTops,
                  const uint16_t* sourceTops)
{
    if (count == 0)
        return;
    if constexpr ((Key & 15) == 0) {
        fillWords(out, count, voice.lastOutput);
    } else {
        BufferedRun<Key> run(voice, ownTops, sourceTops);
        run.run(voice, out, ptrdiff_t(count));
    }
}

}  // namespace wave_render
