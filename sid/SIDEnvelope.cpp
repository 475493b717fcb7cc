#include "sid/SIDEnvelope.h"

#include "platform/SaturatingCast.h"

#include <emmintrin.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

// The rate counter is 15 bits wide: a count reaching this value becomes 0.
constexpr uint32_t kRateCounterWrap = 0x7FFF;

// Up to this multiplier no product of a 16-bit DAC entry can leave the 32-bit range after >> 9.
constexpr int64_t kUnsaturatedMultiplierMax = int64_t(1) << 25;

inline uint32_t scaledSample(uint32_t value, const int16_t* waveDac, int64_t multiplier)
{
    const int64_t s = (int64_t(waveDac[value & 0xFFF]) * multiplier) >> 9;
    return uint32_t(int32_t(std::clamp<int64_t>(s, INT32_MIN, INT32_MAX)));
}

template <bool Saturate>
void scaleRunWith(uint32_t* buffer, uint64_t count, const int16_t* waveDac, int64_t multiplier)
{
    for (uint64_t i = 0; i < count; ++i) {
        int64_t s = (int64_t(waveDac[buffer[i] & 0xFFF]) * multiplier) >> 9;
        if constexpr (Saturate)
            s = std::clamp<int64_t>(s, INT32_MIN, INT32_MAX);
        buffer[i] = uint32_t(int32_t(s));
    }
}

// Below this multiplier its high part m >> 9 fits a signed 16-bit lane.
constexpr int64_t kSplitMultiplierLimit = int64_t(1) << 24;

// Eight at a time for 0 <= m < 2^24: with m = 512 h + l, (w x m) >> 9 = w x h + ((w x l) >> 9)
// exactly, and both products of a 16-bit entry fit 32 bits.
inline void scaleRunSplit(uint32_t* buffer, uint64_t count, const int16_t* waveDac, int64_t multiplier)
{
    const __m128i high = _mm_set1_epi16(int16_t(multiplier >> 9));
    const __m128i low = _mm_set1_epi16(int16_t(multiplier & 511));
    uint64_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const uint32_t* b = buffer + i;
        const __m128i w = _mm_setr_epi16(waveDac[b[0] & 0xFFF], waveDac[b[1] & 0xFFF], waveDac[b[2] & 0xFFF],
                                         waveDac[b[3] & 0xFFF], waveDac[b[4] & 0xFFF], waveDac[b[5] & 0xFFF],
                                         waveDac[b[6] & 0xFFF], waveDac[b[7] & 0xFFF]);
        const __m128i hl = _mm_mullo_epi16(w, high), hh = _mm_mulhi_epi16(w, high);
        const __m128i ll = _mm_mullo_epi16(w, low), lh = _mm_mulhi_epi16(w, low);
        const __m128i r0 = _mm_add_epi32(_mm_unpacklo_epi16(hl, hh), _mm_srai_epi32(_mm_unpacklo_epi16(ll, lh), 9));
        const __m128i r1 = _mm_add_epi32(_mm_unpackhi_epi16(hl, hh), _mm_srai_epi32(_mm_unpackhi_epi16(ll, lh), 9));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + i), r0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + i + 4), r1);
    }
    scaleRunWith<false>(buffer + i, count - i, waveDac, multiplier);
}

// A run of cycles at one envelope multiplier; the saturating loop only for extreme DAC tables.
inline void scaleRun(uint32_t* buffer, uint64_t count, const int16_t* waveDac, int64_t multiplier)
{
    if (multiplier >= 0 && multiplier < kSplitMultiplierLimit)
        scaleRunSplit(buffer, count, waveDac, multiplier);
    else if (multiplier >= 0 && multiplier <= kUnsaturatedMultiplierMax)
        scaleRunWith<false>(buffer, count, waveDac, multiplier);
    else
        scaleRunWith<true>(buffer, count, waveDac, multiplier);
}

// A quiet envelope held at zero passed over `cycles` cycles: only the 15-bit rate counter moves,
// and a rate match leaves M set for one cycle and X for the next.
void skipHeldAtZero(uint64_t cycles, uint32_t period, uint32_t& counter, uint8_t& m, uint8_t& x)
{
    uint32_t c = counter;
    m = x = 0;
    if (c > period) {
        // A counter above the period runs on to the wrap without a match.
        const uint64_t toWrap = kRateCounterWrap - c;
        if (cycles < toWrap) {
            counter = uint32_t(c + cycles);
            return;
        }
        cycles -= toWrap;
        c = 0;
    }
    const uint64_t toMatch = period - c;  // cycles before the one that matches
    if (cycles <= toMatch) {
        counter = uint32_t(c + cycles);
        return;
    }
    const uint64_t since = (cycles - toMatch - 1) % period;  // cycles after the last match
    counter = uint32_t(1 + since);
    m = since == 0;
    x = since == 1;
}

}  // namespace

void SIDEnvelope::init()
{
    waveDac = kDefaultWaveDac.data();
    envelopeDac = kDefaultEnvelopeDac.data();
    behaviourFixed = 0;
    gatePipelining = 1;
    fastAttackZero = 0;
    linearRelease = 0;
    reset();
}

void SIDEnvelope::reset()
{
    attack = decay = sustain = release = 0;
    attackPhase = 0;
    gate = 0;
    previousGate = 0;
    envelopeLevel = 0;
    rateCounter = 0;
    rateMatch = 0;
    expCounter = 0;
    expPeriod = 1;
    expStep = 0;
    holdAtZero = 1;
    levelCheck = 0;
    attackEnd = 0;
    dacStage1 = 0;
    dacStage2 = 0;
}

void SIDEnvelope::setAttackDecay(uint8_t v)
{
    attack = v >> 4;
    decay = v & 15;
}

void SIDEnvelope::setSustainRelease(uint8_t v)
{
    sustain = v >> 4;
    release = v & 15;
}

void SIDEnvelope::setGate(uint8_t g)
{
    g = g ? 1 : 0;
    if (behaviourFixed) {
        if (!g) {
            attackPhase = 0;
        } else if (!gate) {
            attackPhase = 1;
            if (attack == 0 && fastAttackZero)
                envelopeLevel = 255;
        }
    } else if (gatePipelining) {
        // An edge the render loop has not taken up yet is applied before the new gate is stored,
        // so a gate pulse between two blocks is not lost.
        if (g != gate && previousGate != gate) {
            if (gate) {
                attackPhase = 1;
                holdAtZero = 0;
                previousGate = 1;
            } else {
                attackPhase = 0;
                previousGate = 0;
            }
        }
    }
    gate = g;
}

void SIDEnvelope::setBehaviour(bool fixed, bool fastAttack, bool linear)
{
    behaviourFixed = fixed;
    gatePipelining = fixed;
    fastAttackZero = fastAttack;
    linearRelease = linear;
}

int32_t SIDEnvelope::leakTerm(float leak)
{
    return vantor::saturatingCast<int32_t>(std::floor(double(leak) * 256.0 * 255.0 + 0.5));
}

uint32_t SIDEnvelope::currentPeriod() const
{
    return kEnvelopeRatePeriods[attackPhase ? attack : (gate ? decay : release)];
}

void SIDEnvelope::render(uint32_t* buffer, uint64_t n, float leak)
{
    if (n == 0)
        return;
    if (!behaviourFixed) {
        renderCycleExact<true>(buffer, n, leakTerm(leak));
        return;
    }
    const bool noLeak = leak == 0.0f;
    if (!linearRelease) {
        if (noLeak)
            renderExp(buffer, n);
        else
            renderExpLeak(buffer, n, leak);
    } else {
        if (noLeak)
            renderLin(buffer, n);
        else
            renderLinLeak(buffer, n, leak);
    }
}

void SIDEnvelope::renderExp(uint32_t* buffer, uint64_t n)
{
    renderFixed<false, true>(buffer, n, 0);
}

void SIDEnvelope::renderExpLeak(uint32_t* buffer, uint64_t n, float leak)
{
    renderFixed<false, true>(buffer, n, leakTerm(leak));
}

void SIDEnvelope::renderLin(uint32_t* buffer, uint64_t n)
{
    renderFixed<true, true>(buffer, n, 0);
}

void SIDEnvelope::renderLinLeak(uint32_t* buffer, uint64_t n, float leak)
{
    renderFixed<true, true>(buffer, n, leakTerm(leak));
}

void SIDEnvelope::advance(uint64_t n)
{
    if (n == 0)
        return;
    if (!behaviourFixed)
        renderCycleExact<false>(nullptr, n, 0);
    else if (linearRelease)
        renderFixed<true, false>(nullptr, n, 0);
    else
        renderFixed<false, false>(nullptr, n, 0);
}

bool SIDEnvelope::isSilentFromNowOn(int64_t leak) const
{
    if (envelopeLevel != 0 || int64_t(envelopeDac[0]) + leak != 0)
        return false;
    if (behaviourFixed)
        return !attackPhase;
    // Held at zero: only a gate edge releases the level, and the DAC already shows it.
    return holdAtZero && gate == previousGate && !attackEnd && dacStage1 == 0 && dacStage2 == 0;
}

// Quirk-free forms: whole runs of cycles between two steps at one multiplier. Without Write the
// state alone moves; a level held at 0 whose steps change nothing but the counter is then passed
// over in one step.
template <bool Linear, bool Write>
void SIDEnvelope::renderFixed(uint32_t* buffer, uint64_t n, int64_t leak)
{
    uint32_t period = currentPeriod();
    uint32_t counter = rateCounter;
    uint8_t level = envelopeLevel;
    uint8_t expCount = expCounter;
    uint8_t expPer = expPeriod;
    uint8_t inAttack = attackPhase;
    const uint8_t sustainLevel = uint8_t(sustain * 17);

    // One exponential-counter tick of decay or release; the level never goes below floorLevel.
    auto falling = [&](uint8_t floorLevel) {
        if constexpr (Linear) {
            if (expCount >= expPer) {
                if (level > floorLevel)
                    --level;
            } else {
                ++expCount;  // never cleared: after the first period every step lowers the level
            }
        } else {
            if (expCount + 1 >= expPer) {
                if (level > floorLevel)
                    --level;
                expCount = 0;
            } else {
                ++expCount;
            }
        }
    };

    uint64_t done = 0;
    uint64_t unscaled = 0;  // samples from here on wait for the multiplier of `level`
    while (done < n) {
        const uint64_t toStep = counter < period ? uint64_t(period - counter) + 1 : 1;
        if (!Write && level == 0 && !inAttack && expPer == 1 && (Linear ? expCount >= 1 : expCount == 0)) {
            // Every step from here on leaves the level and the exponential counter as they are.
            uint64_t m = n - done;
            if (m < toStep) {
                counter += uint32_t(m);
            } else {
                m -= toStep;
                counter = 1 + uint32_t(m % period);
            }
            break;
        }
        const uint64_t run = std::min(n - done, toStep);
        const uint8_t runLevel = level;
        done += run;
        counter += uint32_t(run - 1);
        if (counter >= period) {
            if (!gate) {
                falling(0);
            } else if (inAttack) {
                if (level == 255) {
                    inAttack = 0;
                    period = kEnvelopeRatePeriods[decay];
                } else {
                    ++level;
                }
                expCount = 0;
            } else {
                falling(sustainLevel);
            }
            if (const uint32_t p = kEnvelopeExpPeriods[level])
                expPer = uint8_t(p);
            counter = 0;
        }
        counter += 1;
        if (Write && level != runLevel) {
            scaleRun(buffer + unscaled, done - unscaled, waveDac, int64_t(envelopeDac[runLevel]) + leak);
            unscaled = done;
        }
    }
    if (Write && unscaled < n)
        scaleRun(buffer + unscaled, n - unscaled, waveDac, int64_t(envelopeDac[level]) + leak);

    rateCounter = counter;
    envelopeLevel = level;
    expCounter = expCount;
    expPeriod = expPer;
    attackPhase = inAttack;
}

// "Exp DR, HW Bugs": one cycle at a time with the chip's pipeline of pending flags. Quiet stretches
// (nothing pending, DAC stages settled) run as whole runs up to the next counter match or wrap;
// they do exactly what the per-cycle steps would do there.
template <bool Write>
void SIDEnvelope::renderCycleExact(uint32_t* buffer, uint64_t n, int64_t leak)
{
    const int16_t* wave = waveDac;
    const uint32_t* env = envelopeDac;
    const uint8_t gateOn = gate;
    const uint8_t sustainLevel = uint8_t(sustain * 17);
    uint32_t period = currentPeriod();
    uint32_t counter = rateCounter;
    uint8_t level = envelopeLevel;
    uint8_t stage1 = dacStage1, stage2 = dacStage2;
    uint8_t m = rateMatch, x = expStep, k = levelCheck, e = attackEnd, z = holdAtZero;
    uint8_t expCount = expCounter, expPer = expPeriod;
    uint8_t inAttack = attackPhase, prevGate = previousGate;

    uint64_t i = 0;
    while (i < n) {
        if (!Write && !(m | x | k | e) && z && level == 0 && stage1 == 0 && stage2 == 0 &&
            prevGate == gateOn && expCount == 0 && expPer == 1) {
            // Held at zero and quiet: a rate match now only sets M, which moves the exponential
            // counter from 0 back to 0 and raises X one cycle later, which then steps nothing.
            // The counter is passed over in closed form; the flags follow from the cycles since
            // the last match.
            skipHeldAtZero(n - i, period, counter, m, x);
            break;
        }
        if (i != 0 && !(m | x | k | e) && stage1 == level && stage2 == level) {
            uint32_t quiet = 0;
            if (counter < period)
                quiet = period - counter;
            else if (counter > period && counter < kRateCounterWrap - 1)
                quiet = kRateCounterWrap - 1 - counter;
            const uint64_t run = std::min<uint64_t>(quiet, n - i);
            if (run != 0) {
                if constexpr (Write)
                    scaleRun(buffer + i, run, wave, int64_t(env[level]) + leak);
                counter += uint32_t(run);
                i += run;
                continue;
            }
        }

        // 1. Sample with the level two cycles late.
        if constexpr (Write)
            buffer[i] = scaledSample(buffer[i], wave, int64_t(env[stage2]) + leak);
        stage2 = stage1;
        stage1 = level;

        // 2. Rate counter.
        const bool match = counter == period;
        counter = match ? 1 : counter + 1;
        bool wrapped = false;
        if (counter >= kRateCounterWrap) {
            counter = 0;
            wrapped = true;
        }

        // 3. Nothing pending: the cycle ends here (the first cycle of a block takes up the gate).
        if (!(match | wrapped | m | x | k | e) && i != 0) {
            ++i;
            continue;
        }

        const bool endAttack = e;
        e = 0;
        bool foundZero = false;

        // 4. Level check.
        if (k) {
            if (level == 0) {
                z = 1;
                foundZero = true;
            }
            if (level == 255)
                e = 1;
            k = 0;
        }

        // 5. Level step; 8-bit arithmetic as the chip's counter (255 + 1 wraps to 0).
        if (x && !z) {
            const uint8_t before = level;
            if (inAttack)
                level = uint8_t(level + 1);
            else if (!gateOn || level != sustainLevel)
                level = uint8_t(level - 1);
            if (level != before)
                k = 1;
        }

        // 6. Exponential counter, moved only in the cycle after a rate match.
        if (m) {
            expCount = uint8_t(expCount + 1);
            if (expCount > 30)
                expCount = 0;
            if (expCount == expPer || expPer == 1 || inAttack) {
                expCount = 0;
                x = 1;
            } else {
                x = 0;
            }
        } else {
            x = 0;
        }

        // 7. Gate edge.
        if (gateOn && !prevGate) {
            period = kEnvelopeRatePeriods[attack];
            inAttack = 1;
            z = 0;
            prevGate = 1;
        } else if (!gateOn && prevGate) {
            period = kEnvelopeRatePeriods[release];
            inAttack = 0;
            prevGate = 0;
        }

        // 8. A zero found this cycle holds even through a gate-on edge; a pending attack end.
        if (foundZero)
            z = 1;
        if (endAttack) {
            inAttack = 0;
            period = kEnvelopeRatePeriods[gateOn ? decay : release];
        }

        // 9.
        m = match;
        if (const uint32_t p = kEnvelopeExpPeriods[level])
            expPer = uint8_t(p);
        ++i;
    }

    rateCounter = counter;
    envelopeLevel = level;
    dacStage1 = stage1;
    dacStage2 = stage2;
    rateMatch = m;
    expStep = x;
    levelCheck = k;
    attackEnd = e;
    holdAtZero = z;
    expCounter = expCount;
    expPeriod = expPer;
    attackPhase = inAttack;
    previousGate = prevGate;
}
