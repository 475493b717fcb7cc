#include "WaveReference.h"

namespace ref {
namespace {

uint32_t bitOf(uint32_t v, unsigned n) { return (v >> n) & 1u; }

const uint16_t* tableOf(const Osc& v)
{
    if (v.waveform == 5)
        return v.table5;
    if (v.waveform == 6)
        return v.table6;
    if (v.waveform == 7)
        return v.table7;
    return v.table3;
}

// An unclocked, untested cycle of the noise register.
void noiseUnclocked(Osc& v, unsigned nibble)
{
    if (nibble >= 9) {
        v.noisePhase = v.noisePhase == 0 ? 1 : 0;
        if (v.noisePhase == 1)
            v.noisePending &= 0x7FAED76Bu;
    } else {
        v.noisePhase = 0;
    }
    v.noiseResetCounter = 0;
    if (v.noisePending != v.noiseLatched) {
        v.noiseOutput = noiseTaps(v.noisePending);
        v.noiseLatched = v.noisePending;
    }
}

void noiseClocked(Osc& v)
{
    if (v.noiseResetCounter >= 546000) {
        v.noiseOutput = 255;
        v.noiseLatched = 0xFFFFFC;
    } else {
        v.noiseResetCounter += 1;
    }
    v.noisePending = (v.noiseLatched << 1) + (bitOf(v.noiseLatched, 22) ^ bitOf(v.noiseLatched, 17));
    v.noiseClocked = 1;
    v.noisePhase = 1;
}

void noiseTestCycle(Osc& v, bool firstCycle)
{
    const bool counting = v.noiseResetCounter < 546000;
    if (!counting) {
        v.noiseOutput = 255;
        v.noiseLatched = 0xFFFFFC;
    }
    if (firstCycle && v.testBit != 1 && v.noiseClocked != 0) {
        v.noiseOutput = noiseTaps(v.noiseLatched);
        v.noiseLatched ^= 3;
    }
    if (counting)
        v.noiseResetCounter += 1;
}

void noiseTestEnd(Osc& v)
{
    v.noisePending = (v.noiseLatched << 1) + (bitOf(v.noiseLatched, 17) == 0 ? 1 : 0);
    v.noisePhase = 1;
    v.noiseClocked = 0;
}

}  // namespace

uint32_t noiseTaps(uint32_t r)
{
    return bitOf(r, 22) << 7 | bitOf(r, 20) << 6 | bitOf(r, 16) << 5 | bitOf(r, 13) << 4 | bitOf(r, 11) << 3 |
           bitOf(r, 7) << 2 | bitOf(r, 4) << 1 | bitOf(r, 2);
}

void renderDirect(Osc& v, Source& src, unsigned index, uint32_t* out, uint64_t count, uint16_t* topsOut,
                  uint16_t* sourceTopsOut)
{
    const unsigned nibble = index & 15;
    const bool test = index & 16, quirk = index & 32, delayed = index & 64;
    const bool source = index & 128, ring = index & 256, sync = index & 512;
    if (quirk && nibble != 6)
        return;  // empty entry
    if (count == 0)
        return;
    const uint16_t* table = tableOf(v);
    const bool sawIndexed = nibble == 2 || nibble == 3 || nibble == 6 || nibble == 7 || nibble == 10 ||
                            nibble == 11 || nibble == 14 || nibble == 15;
    const bool triIndexed = nibble == 1 || nibble == 5 || nibble == 9 || nibble == 13;

    uint32_t A = v.accumulator, P = v.accumulatorPrev, H2 = v.accumulatorPrev2;
    uint32_t S = src.accumulator;
    uint32_t sPrev = src.msb;
    uint32_t D = v.nextWaveIndex;
    uint32_t O = v.lastOutput;
    if (topsOut) {
        topsOut[-2] = uint16_t((P >> 12) & 0xFFF);
        topsOut[-1] = uint16_t((A >> 12) & 0xFFF);
    }
    if (sourceTopsOut) {
        sourceTopsOut[-2] = uint16_t((S >> 12) & 0xFFF);
        sourceTopsOut[-1] = uint16_t((S >> 12) & 0xFFF);
    }
    for (uint64_t i = 0; i < count; ++i) {
        // 1. source step
        uint32_t s = 0;
        if (source) {
            S = S + src.frequency;
            s = bitOf(S, 23);
        }
        // 2. accumulator step, 3. noise
        uint32_t An;
        bool pulse;
        if (test) {
            An = 0;
            noiseTestCycle(v, i == 0);
            pulse = true;
        } else {
            An = (A + v.frequency) & 0xFFFFFF;
            if (quirk && An < 0x821000)
                An = An & 0x7FFFFF;
            if (sync && source && s == 1 && sPrev != 1)
                An = 0;
            if (bitOf(A, 19) == 1 && bitOf(P, 19) == 0)
                noiseClocked(v);
            else
                noiseUnclocked(v, nibble);
            pulse = (A >> 12) >= v.pulseWidth;
        }
        // 4. output
        const uint32_t F = ring ? (bitOf(An, 23) == s ? 1 : 0) : bitOf(An, 23);
        uint32_t T, W, TbW, Tb5;
        if (delayed) {
            T = (D << 1) & 0xFFE;
            W = D & 0xFFF;
            TbW = table ? table[D & 0xFFF] : 0;
            Tb5 = table ? table[((D & 0x1000) ? 0xFFF : 0) ^ (D & 0x7FF)] : 0;
        } else {
            T = ((An >> 11) & 0xFFE) ^ (F ? 0xFFE : 0);
            W = An >> 12;
            TbW = table ? table[W] : 0;
            Tb5 = table ? table[(F << 11) | ((An >> 12) & 0x7FF)] : 0;
        }
        if (sawIndexed)
            D = An >> 12;
        else if (triIndexed)
            D = (An >> 12) ^ (F ? 0x17FF : 0);
        const uint32_t N = v.noiseOutput << 4;
        uint32_t value = 0;
        switch (nibble) {
        case 0: value = O; break;
        case 1: value = T; break;
        case 2: value = W; break;
        case 3: value = TbW; break;
        case 4: value = pulse ? 4095 : 0; break;
        case 5: value = pulse ? Tb5 : 0; break;
        case 6:
        case 7: value = pulse ? TbW : 0; break;
        case 8: value = N; break;
        case 9: value = N & T; break;
        case 10: value = N & W; break;
        case 11: value = N & TbW; break;
        case 12: value = pulse ? N : 0; break;
        case 13: value = N & (pulse ? Tb5 : 0); break;
        default: value = N & (pulse ? TbW : 0); break;
        }
        out[i] = value;
        O = value;
        // 5. history
        H2 = P;
        P = A;
        A = An;
        sPrev = s;
        if (topsOut)
            topsOut[i] = uint16_t(An >> 12);
        if (sourceTopsOut)
            sourceTopsOut[i] = uint16_t((S >> 12) & 0xFFF);
    }
    if (test)
        noiseTestEnd(v);
    v.accumulator = A;
    v.accumulatorPrev = P;
    v.accumulatorPrev2 = H2;
    v.lastOutput = O;
    if (source) {
        src.accumulator = S;
        src.msb = uint8_t(sPrev);
    }
}

void renderBuffered(Osc& v, unsigned index, uint32_t* out, uint64_t count, const uint16_t* T, const uint16_t* S)
{
    const unsigned nibble = index & 15;
    const bool test = index & 16, delayed = index & 32, ring = index & 64;
    if (count == 0)
        return;
    const uint16_t* table = tableOf(v);
    const bool triIndexed = nibble == 1 || nibble == 5 || nibble == 9 || nibble == 13;
    auto waveIndexOf = [&](int64_t c) -> uint32_t {
        const uint32_t top = T[c];
        if (!triIndexed)
            return top;
        const uint32_t F = ring ? (bitOf(top, 11) == bitOf(S[c], 11) ? 1 : 0) : bitOf(top, 11);
        return F ? top ^ 0x17FF : top;
    };
    for (int64_t i = 0; i < int64_t(count); ++i) {
        if (nibble >= 8) {
            if (test)
                noiseTestCycle(v, i == 0);
            else if (bitOf(T[i - 1], 7) == 1 && bitOf(T[i - 2], 7) == 0)
                noiseClocked(v);
            else
                noiseUnclocked(v, nibble);
        }
        uint32_t value = v.lastOutput;
        if (nibble != 0) {
            const uint32_t I = delayed ? (i == 0 ? v.nextWaveIndex : waveIndexOf(i - 1)) : waveIndexOf(i);
            const uint32_t tri = (I & 0x7FF) << 1;
            const uint32_t triIndex = ((I & 0x1000) ? 0xFFF : 0) ^ (I & 0x7FF);
            const uint32_t saw = I & 0xFFF;
            const bool G = test || T[i - 1] >= v.pulseWidth;
            const uint32_t noise = v.noiseOutput << 4;
            switch (nibble) {
            case 1: value = tri; break;
            case 2: value = saw; break;
            case 3: value = table[saw]; break;
            case 4: value = G ? 4095 : 0; break;
            case 5: value = G ? table[triIndex] : 0; break;
            case 6:
            case 7: value = G ? table[saw] : 0; break;
            case 8: value = noise; break;
            case 9: value = noise & tri & 0xFF0; break;
            case 10: value = noise & saw & 0xFF0; break;
            case 11: value = noise & table[saw]; break;
            case 12: value = G ? noise : 0; break;
            case 13: value = noise & (G ? table[triIndex] : 0); break;
            default: value = noise & (G ? table[saw] : 0); break;
            }
        }
        out[i] = value;
    }
    if (nibble >= 8 && test)
        noiseTestEnd(v);
    v.lastOutput = out[count - 1];
}

}  // namespace ref
