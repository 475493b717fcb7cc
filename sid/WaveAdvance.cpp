// A voice's oscillator moved on without its output: the direct renderers' state steps (phase,
// saw+pulse quirk, hard sync, noise register, test bit), with the cycles in which only the
// accumulator moves passed over in closed form. The last cycle of every call runs through the
// renderer itself, so the voice ends in exactly the state a render of the same cycles leaves.

#include "sid/SIDVoice.h"
#include "sid/WaveRender.h"
#include "sid/WaveRenderKernels.h"

#include <algorithm>
#include <cstdint>

namespace wave_render {
namespace {

constexpr uint64_t kFar = UINT64_MAX;

// Steps of `step` from `a` until bit `b` of the sum rises (bit clear before the step, set after),
// counting sums modulo 2^(b+1); `step` is below 2^b, so no rise is stepped over.
inline uint64_t stepsToRise(uint32_t a, uint32_t step, unsigned b)
{
    if (step == 0)
        return kFar;
    const uint32_t half = 1u << b;
    const uint32_t r = a & ((half << 1) - 1);
    const uint32_t distance = r < half ? half - r : 3 * half - r;
    return (distance + step - 1) / step;
}

template <bool Quirk, bool Sync, bool Source, bool Combined>
struct DirectAdvance {
    uint32_t freq, acc, prev, prev2;
    Noise noise;
    uint32_t src = 0, srcFreq = 0, srcPrev = 0;

    DirectAdvance(const SIDVoice& v, uint32_t sourceAccumulator, uint32_t sourceFrequency, uint8_t sourceMsb)
        : freq(v.frequency), acc(v.accumulator), prev(v.accumulatorPrev), prev2(v.accumulatorPrev2), noise(v)
    {
        if constexpr (Source) {
            src = sourceAccumulator;
            srcFreq = sourceFrequency;
            srcPrev = sourceMsb == 1 ? 1 : 0;
        }
    }

    void storeTo(SIDVoice& v) const
    {
        v.accumulator = acc;
        v.accumulatorPrev = prev;
        v.accumulatorPrev2 = prev2;
        noise.storeTo(v);
    }

    // DirectRun::cycle without the output.
    void cycle()
    {
        uint32_t msb = 0;
        if constexpr (Source) {
            src += srcFreq;
            msb = (src >> 23) & 1;
        }
        uint32_t next = (acc + freq) & 0xFFFFFF;
        if constexpr (Quirk) {
            if (next < 0x821000)
                next &= 0x7FFFFF;
        }
        if constexpr (Sync) {
            if (msb > srcPrev)
                next = 0;
        }
        noise.template cycle<Combined>(((acc & ~prev) >> 19) & 1);
        prev2 = prev;
        prev = acc;
        acc = next;
        if constexpr (Source)
            srcPrev = msb;
    }

    // Cycles from now in which nothing happens but the accumulators stepping: no noise clock or
    // latch, no quirk drop, no sync reset.
    uint64_t quietCycles() const
    {
        if (!noise.template settled<Combined>() || (((acc & ~prev) >> 19) & 1) != 0)
            return 0;
        uint64_t k = stepsToRise(acc, freq, 19);  // the cycle that sees the next rise clocks
        if constexpr (Quirk) {
            if (acc >= 0x800000) {
                if (acc < 0x821000)
                    return 0;  // the next step may drop bit 23
                k = std::min(k, (uint64_t(0x1000000 - acc) + freq - 1) / freq);  // up to the wrap
            }
        }
        if constexpr (Sync)
            k = std::min(k, stepsToRise(src, srcFreq, 23) - 1);
        return k;
    }

    // Accumulator after j quiet steps.
    uint32_t stepped(uint64_t j) const
    {
        const uint64_t a = uint64_t(acc) + j * freq;
        if (Quirk && acc < 0x800000)
            return uint32_t(a & 0x7FFFFF);  // held below bit 23, it wraps there
        return uint32_t(a & 0xFFFFFF);
    }

    void skip(uint64_t k)
    {
        const uint32_t a2 = stepped(k - 2), a1 = stepped(k - 1), a0 = stepped(k);
        prev2 = a2;
        prev = a1;
        acc = a0;
        noise.template quietCycles<Combined>(k);
        if constexpr (Source) {
            src += uint32_t(k * srcFreq);
            srcPrev = (src >> 23) & 1;
        }
    }

    void run(uint64_t count)
    {
        while (count > 0) {
            const uint64_t k = std::min(quietCycles(), count);
            if (k >= 3) {
                skip(k);
                count -= k;
            } else {
                cycle();
                --count;
            }
        }
    }
};

template <bool Quirk, bool Sync, bool Source, bool Combined>
void advanceDirect(SIDVoice& v, uint64_t count, uint32_t sourceAccumulator, uint32_t sourceFrequency,
                   uint8_t sourceMsb)
{
    DirectAdvance<Quirk, Sync, Source, Combined> run(v, sourceAccumulator, sourceFrequency, sourceMsb);
    run.run(count);
    run.storeTo(v);
}

using AdvanceFn = void (*)(SIDVoice&, uint64_t, uint32_t, uint32_t, uint8_t);

template <unsigned Bits>
constexpr AdvanceFn advanceFor()
{
    return &advanceDirect<(Bits & 1) != 0, (Bits & 2) != 0, (Bits & 4) != 0, (Bits & 8) != 0>;
}

constexpr AdvanceFn kAdvance[16] = {
    advanceFor<0>(),  advanceFor<1>(),  advanceFor<2>(),  advanceFor<3>(),
    advanceFor<4>(),  advanceFor<5>(),  advanceFor<6>(),  advanceFor<7>(),
    advanceFor<8>(),  advanceFor<9>(),  advanceFor<10>(), advanceFor<11>(),
    advanceFor<12>(), advanceFor<13>(), advanceFor<14>(), advanceFor<15>(),
};

// directTest's state steps: the accumulator held at 0, the noise register under test.
void advanceTest(SIDVoice& v, uint64_t count)
{
    Noise noise(v);
    noise.runTest(count, v.testBit != 1 && noise.clocked != 0);
    const uint32_t acc0 = v.accumulator, prev0 = v.accumulatorPrev;
    v.accumulator = 0;
    v.accumulatorPrev = count == 1 ? acc0 : 0;
    v.accumulatorPrev2 = count == 1 ? prev0 : count == 2 ? acc0 : 0;
    noise.storeTo(v);
}

}  // namespace
}  // namespace wave_render

void SIDVoice::advanceWaveBlock(uint64_t count, uint32_t hasSource, uint32_t sourceAccumulator,
                                uint32_t sourceFrequency, uint8_t sourceMsb)
{
    using namespace wave_render;
    uint32_t scratch = 0;
    if (count <= 1) {
        renderWaveBlock(&scratch, count, hasSource, sourceAccumulator, sourceFrequency, sourceMsb);
        return;
    }
    const uint64_t head = count - 1;
    const uint32_t index = waveRenderIndex(*this, hasSource);
    const DirectSlot slot = directSlot(index);
    if (slot.kind != DirectSlot::Empty) {
        if (index & kTestBit) {
            advanceTest(*this, head);
        } else {
            const unsigned key = slot.key;
            const unsigned bits = ((key & kQuirkBit) ? 1u : 0u) | ((key & kSyncBit) ? 2u : 0u) |
                                  ((key & kSourceBit) ? 4u : 0u) | ((key & 15) > 8 ? 8u : 0u);
            kAdvance[bits](*this, head, sourceAccumulator, sourceFrequency, sourceMsb);
        }
    }
    // The private source copy as the renderer leaves it after `head` cycles.
    uint32_t source = sourceAccumulator;
    uint8_t msb = sourceMsb;
    if (hasSource && slot.kind != DirectSlot::Empty) {
        source += uint32_t(head) * sourceFrequency;
        msb = uint8_t((source >> 23) & 1);
    }
    testBit = uint8_t((control >> 3) & 1);
    nextWaveIndex = nextWaveIndexFor(accumulator, index & 15, ((control >> 2) & 1) != 0, msb != 0);
    renderWaveBlock(&scratch, 1, hasSource, source, sourceFrequency, msb);
}
