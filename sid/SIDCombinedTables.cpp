#include "sid/SIDCombinedTables.h"

#include <algorithm>
#include <bit>
#include <cassert>
#include <cmath>
#include <numbers>
#include <numeric>
#include <vector>

namespace {

constexpr int kLast = int(kCombinedTableLength) - 1;  // 4095
constexpr std::size_t kBlockLength = kCombineBlockTables * kCombinedTableLength;

int tri(int i) { return i < 2048 ? 2 * i : 2 * (kLast - i); }
int saw(int i) { return i; }
int wrap(int i) { return i & kLast; }
int clamp12(double v) { return int(std::clamp(std::lround(v), 0L, long(kLast))); }
int clamp12(int v) { return std::clamp(v, 0, kLast); }

// ---- Chip table sets ---------------------------------------------------------------------------
//
// A combined waveform is the AND of its waveforms' bits, with each surviving bit weakened by
// neighbouring bits that the other waveforms pull low. The model gives every oscillator value a
// strength; the `nonZero` strongest values sound, scaled so that the strongest reaches `maximum`.

struct SlotModel {
    unsigned waves;     // bit 0 triangle, bit 1 sawtooth, bit 2 pulse
    uint32_t nonZero;   // entries above 0
    uint16_t maximum;   // 2032 or 4080
    double decay;       // weight of a neighbour per bit of distance
    double exponent;    // sharpness of the pull-down
};

struct SetModel {
    bool pulseStartsLow;  // the first three pulse entries are 0
    SlotModel slots[4];   // slots 2, 4, 5, 6
};

// Sets 2 and 3 share one model (and so their data).
constexpr SetModel kSetModels[kChipTableSetCount] = {
    {false, {{3, 260, 2032, 0.50, 2.0}, {5, 964, 4080, 0.45, 1.5},
             {6, 435, 2032, 0.55, 2.2}, {7, 22, 2032, 0.60, 3.0}}},
    {true, {{3, 413, 2032, 0.40, 1.6}, {5, 671, 4080, 0.55, 2.0},
            {6, 465, 2032, 0.50, 1.8}, {7, 21, 2032, 0.65, 3.2}}},
    {true, {{3, 224, 2032, 0.55, 2.4}, {5, 1021, 4080, 0.40, 1.3},
            {6, 348, 2032, 0.60, 2.6}, {7, 18, 2032, 0.70, 3.5}}},
    {true, {{3, 224, 2032, 0.55, 2.4}, {5, 1021, 4080, 0.40, 1.3},
            {6, 348, 2032, 0.60, 2.6}, {7, 18, 2032, 0.70, 3.5}}},
    {false, {{3, 524, 4080, 0.25, 1.0}, {5, 1907, 4080, 0.20, 0.8},
             {6, 1703, 4080, 0.25, 0.9}, {7, 550, 4080, 0.30, 1.1}}},
};

double slotStrength(const SlotModel& m, int i)
{
    int values[3];
    int count = 0;
    if (m.waves & 1)
        values[count++] = tri(i);
    if (m.waves & 2)
        values[count++] = saw(i);
    if (m.waves & 4)
        values[count++] = kLast;
    int both = kLast;
    for (int w = 0; w < count; ++w)
        both &= values[w];

    // Bits further than kReach away hardly matter.
    constexpr int kReach = 3;
    double strength = 0.0;
    for (int j = 0; j < 12; ++j) {
        if (!((both >> j) & 1))
            continue;
        double support = 0.0, total = 0.0, weight = 1.0;
        for (int d = 0; d <= kReach; ++d, weight *= m.decay) {
            for (int side = d == 0 ? 1 : 0; side < 2; ++side) {
                const int k = side ? j + d : j - d;
                if (k < 0 || k > 11)
                    continue;
                for (int w = 0; w < count; ++w)
                    support += weight * ((values[w] >> k) & 1);
                total += weight * count;
            }
        }
        strength += std::pow(support / total, m.exponent) * double(1 << j);
    }
    return strength;
}

void buildSlot(const SlotModel& m, uint16_t* out)
{
    std::vector<double> strength(kCombinedTableLength);
    for (int i = 0; i <= kLast; ++i)
        strength[i] = slotStrength(m, i);
    std::vector<int> order(kCombinedTableLength);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return strength[a] > strength[b]; });

    const long levels = m.maximum / 16;
    const double top = strength[order[0]];
    std::fill(out, out + kCombinedTableLength, uint16_t(0));
    for (uint32_t n = 0; n < m.nonZero; ++n) {
        const int i = order[n];
        const long level = top > 0.0 ? std::lround(strength[i] / top * double(levels)) : levels;
        out[i] = uint16_t(std::clamp(level, 1L, levels) * 16);
    }
}

void buildChipSet(const SetModel& model, uint16_t* set)
{
    uint16_t* slot[kChipTableSlots];
    for (std::size_t s = 0; s < kChipTableSlots; ++s)
        slot[s] = set + s * kCombinedTableLength;
    for (int i = 0; i <= kLast; ++i) {
        slot[0][i] = uint16_t(tri(i) & 0xFF0);
        slot[1][i] = uint16_t(saw(i) & 0xFF0);
        slot[3][i] = uint16_t(model.pulseStartsLow && i < 3 ? 0 : 4080);
        slot[7][i] = 0;  // not read
    }
    for (std::size_t n = 0; n < 4; ++n)
        buildSlot(model.slots[n], slot[kCombinedVoiceSlots[n]]);
}

// ---- Sound-design blocks -----------------------------------------------------------------------

using Table = uint16_t*;
using Shape = int (*)(int i);

double phase(int i) { return 2.0 * std::numbers::pi * double(i) / double(kCombinedTableLength); }
double unit(int i) { return double(i) / double(kLast); }

// Cosine steps between anchor points (the first at 0, the last at 4095): smooth, sine-like arcs
// that pass through every anchor exactly.
struct Anchor {
    int at;
    int value;
};
template <std::size_t N>
double anchored(const Anchor (&a)[N], int i)
{
    std::size_t s = 0;
    while (s + 2 < N && i >= a[s + 1].at)
        ++s;
    const double t = double(i - a[s].at) / double(a[s + 1].at - a[s].at);
    return a[s].value + (a[s + 1].value - a[s].value) * (1.0 - std::cos(std::numbers::pi * t)) / 2.0;
}

constexpr Anchor kSineAnchors[4][5] = {
    {{0, 508}, {1024, 3096}, {2048, 4088}, {3072, 3092}, {4095, 508}},
    {{0, 0}, {1024, 2302}, {2048, 4092}, {3072, 2299}, {4095, 0}},
    {{0, 0}, {1024, 783}, {2048, 2302}, {3072, 3596}, {4095, 4092}},
    {{0, 0}, {1024, 0}, {2048, 2302}, {3072, 4095}, {4095, 4095}},
};

// Nine wooden steps (multiples of 4095 / 9), knocked about by a fourth harmonic that is silent
// at the anchors.
constexpr Anchor kWoodyAnchors[4][5] = {
    {{0, 5}, {1024, 4}, {2048, 7}, {3072, 2}, {4095, 5}},
    {{0, 5}, {1024, 1}, {2048, 4}, {3072, 2}, {4095, 7}},
    {{0, 5}, {1024, 1}, {2048, 7}, {3072, 8}, {4095, 4}},
    {{0, 4}, {1024, 7}, {2048, 6}, {3072, 4}, {4095, 0}},
};

uint32_t hash(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

int reverse12(int v)
{
    int r = 0;
    for (int b = 0; b < 12; ++b)
        r |= ((v >> b) & 1) << (11 - b);
    return r;
}

int rotate12(int v, int n) { return ((v << n) | (v >> (12 - n))) & kLast; }
int popcount12(int v) { return std::popcount(unsigned(v & kLast)); }
int gray(int v) { return (v ^ (v << 1)) & kLast; }  // saw against its own shifted copy

int sine01(double x) { return clamp12(2047.5 + 2047.5 * std::sin(x)); }

// Half-sine arcs over segments of 2^bits entries: full height, or alternating up and down.
int arcs(int i, int bits, bool alternate)
{
    const int mask = (1 << bits) - 1;
    const double arc = std::sin(std::numbers::pi * (i & mask) / double(mask));
    if (!alternate)
        return clamp12(4095.0 * arc);
    return clamp12(2047.5 + 2047.5 * ((i >> bits) & 1 ? -arc : arc));
}

// Quarter-sine arcs climbing one segment height each.
int risingArcs(int i, int bits)
{
    const int mask = (1 << bits) - 1;
    return clamp12((i >> bits) * (mask + 1) + mask * std::sin(std::numbers::pi * (i & mask) / (2.0 * mask)));
}

// A sine phase that covers its first half cycle by `knee` (0..1) and the second half after it.
double bentPhase(double u, double knee)
{
    return std::numbers::pi * (u < knee ? u / knee : 1.0 + (u - knee) / (1.0 - knee)) - std::numbers::pi / 2;
}

int woody(int k, int i)
{
    return 455 * int(std::lround(anchored(kWoodyAnchors[k], i) + 0.6 * std::sin(4 * phase(i))));
}

// Each block is four shapes (waveforms 3, 5, 6, 7).
struct BlockShapes {
    Shape t[4];
};

const BlockShapes kBlocks[kCombineModeCount] = {
    // "Normal": the fallback, the same data as "AND".
    {{[](int i) { return tri(i) & saw(i); }, tri, saw, [](int i) { return tri(i) & saw(i); }}},
    // "AND"
    {{[](int i) { return tri(i) & saw(i); }, tri, saw, [](int i) { return tri(i) & saw(i); }}},
    // "AND2": the AND smeared one bit down, and the AND with the octave.
    {{[](int i) { return (tri(i) & saw(i)) | ((tri(i) & saw(i)) >> 1); }, tri, saw,
      [](int i) { return tri(i) & saw(wrap(2 * i)); }}},
    // "MIX"
    {{[](int i) { return (tri(i) + saw(i)) / 2; }, [](int i) { return 2048 + tri(i) / 2; },
      [](int i) { return 2048 + saw(i) / 2; }, [](int i) { return (tri(i) + saw(i)) / 2; }}},
    // "JOIN": first half of one wave, second half of another.
    {{[](int i) { return i < 2048 ? tri(i) : saw(i); },
      [](int i) { return i < 2048 ? tri(i) : kLast; },
      [](int i) { return i < 2048 ? saw(i) : kLast - saw(i) / 2; },
      [](int i) { return i < 2048 ? saw(2 * i) : tri(i); }}},
    // "POPCNT": the number of set bits, in twelfths of full scale.
    {{[](int i) { return 341 * popcount12(saw(i) & (saw(i) >> 1)); },
      [](int i) { return 341 * popcount12(tri(i)); }, [](int i) { return 341 * popcount12(saw(i)); },
      [](int i) { return 341 * popcount12(tri(i) & saw(i)); }}},
    // "FRACRPT": the wave repeated at half size on top of itself, twice.
    {{[](int i) { return (4 * tri(i) + 2 * tri(wrap(2 * i)) + tri(wrap(4 * i))) / 7; },
      [](int i) { return (4 * tri(i) + 2 * saw(wrap(2 * i)) + saw(wrap(4 * i))) / 7; },
      [](int i) { return (4 * saw(i) + 2 * saw(wrap(2 * i)) + saw(wrap(4 * i))) / 7; },
      [](int i) { return (4 * saw(i) + 2 * tri(wrap(2 * i)) + tri(wrap(4 * i))) / 7; }}},
    // "BITMASH": the bits reordered.
    {{[](int i) { return reverse12(saw(i)); }, [](int i) { return rotate12(tri(i), 3); },
      [](int i) { return rotate12(saw(i), 5); }, [](int i) { return reverse12(tri(i)) ^ saw(i); }}},
    // "OCTAVE": one and two octaves up.
    {{[](int i) { return (tri(i) + tri(wrap(2 * i))) / 2; }, [](int i) { return tri(wrap(2 * i)); },
      [](int i) { return saw(wrap(2 * i)); }, [](int i) { return (saw(i) + tri(wrap(4 * i))) / 2; }}},
    // "STEP": coarse staircases.
    {{[](int i) { return (tri(i) >> 9) * 585; }, [](int i) { return (tri(i) >> 10) * 1365; },
      [](int i) { return (saw(i) >> 8) * 273; }, [](int i) { return (saw(i) >> 9) * 585; }}},
    // "2.5": two and a half cycles per period.
    {{[](int i) { return tri(wrap(5 * i / 2)); }, [](int i) { return tri(wrap(5 * i / 2)) / 2 + 1024; },
      [](int i) { return saw(wrap(5 * i / 2)); },
      [](int i) { return (tri(i) + saw(wrap(5 * i / 2))) / 2; }}},
    // "ICE": brittle high partials frozen onto the wave.
    {{[](int i) { return tri(i) ^ ((saw(i) << 4) & 0x0F0); },
      [](int i) { return tri(i) ^ ((saw(i) << 5) & 0x3E0); },
      [](int i) { return saw(i) ^ ((saw(i) << 6) & 0x7C0); },
      [](int i) { return (tri(i) & saw(i)) ^ ((tri(i) << 3) & 0x1F8); }}},
    // "REED": bright, asymmetric and clipped.
    {{[](int i) { return clamp12(3 * tri(i) / 2); }, [](int i) { return clamp12(2 * tri(i) - 1024); },
      [](int i) { return clamp12(i < 3072 ? saw(i) * 4 / 3 : 3 * (kLast - i)); },
      [](int i) { return clamp12((tri(i) * tri(i)) / 2048); }}},
    // "SINE"
    {{[](int i) { return clamp12(anchored(kSineAnchors[0], i)); },
      [](int i) { return clamp12(anchored(kSineAnchors[1], i)); },
      [](int i) { return clamp12(anchored(kSineAnchors[2], i)); },
      [](int i) { return clamp12(anchored(kSineAnchors[3], i)); }}},
    // "ORGAN": drawbar-like sums of harmonics.
    {{[](int i) {
          const double x = phase(i);
          return clamp12(2047.5 + 1170.0 * (std::sin(x) + 0.5 * std::sin(2 * x) + 0.25 * std::sin(4 * x)));
      },
      [](int i) {
          const double x = phase(i);
          return clamp12(2047.5 + 1365.0 * (std::sin(x) + 0.5 * std::sin(3 * x)));
      },
      [](int i) {
          const double x = phase(i);
          return clamp12(2047.5 + 1092.0 * (std::sin(x) + 0.6 * std::sin(2 * x) + 0.3 * std::sin(8 * x)));
      },
      [](int i) {
          const double x = phase(i);
          return clamp12(2047.5 + 1260.0 * (std::sin(2 * x) + 0.5 * std::sin(x) + 0.15 * std::sin(6 * x)));
      }}},
    // "FRACMIX": the wave mixed with a differently folded copy of itself.
    {{[](int i) { return (tri(i) + saw(wrap(3 * i))) / 2; },
      [](int i) { return (tri(i) + tri(wrap(3 * i))) / 2; },
      [](int i) { return (saw(i) + tri(wrap(3 * i))) / 2; },
      [](int i) { return (saw(i) + saw(wrap(3 * i))) / 2; }}},
    // "NOISY": the wave with a fixed layer of noise.
    {{[](int i) { return clamp12(tri(i) + int(hash(uint32_t(i)) & 511) - 256); },
      [](int i) { return clamp12(tri(i) + int(hash(uint32_t(i) + 4096) & 1023) - 512); },
      [](int i) { return clamp12(saw(i) + int(hash(uint32_t(i) + 8192) & 511) - 256); },
      [](int i) { return clamp12((tri(i) & saw(i)) + int(hash(uint32_t(i) + 12288) & 2047) - 1024); }}},
    // "CURVY": bent ramps.
    {{[](int i) { return clamp12(unit(tri(i)) * unit(tri(i)) * kLast); },
      [](int i) { return clamp12(std::sqrt(unit(tri(i))) * kLast); },
      [](int i) { return clamp12(unit(i) * unit(i) * kLast); },
      [](int i) { return clamp12(std::sqrt(unit(i)) * kLast); }}},
    // "WSINE": sines with a warped phase.
    {{[](int i) { return sine01(phase(i) * unit(i) * 1.5); },
      [](int i) { return sine01(2.0 * std::numbers::pi * std::pow(unit(i), 1.5)); },
      [](int i) { return sine01(2.0 * std::numbers::pi * std::sqrt(unit(i))); },
      [](int i) { return sine01(phase(i) + 0.8 * std::sin(phase(i))); }}},
    // "FLAKY": the wave with bits dropping out at random.
    {{[](int i) { return tri(i) & int(hash(uint32_t(i)) | 0xE00); },
      [](int i) { return tri(i) & int(hash(uint32_t(i) * 3u) | 0xC00); },
      [](int i) { return saw(i) & int(hash(uint32_t(i) * 5u) | 0xE00); },
      [](int i) { return (tri(i) | saw(i)) & int(hash(uint32_t(i) * 7u) | 0x800); }}},
    // "XOR": the sawtooth against its own shifted copy.
    {{[](int i) { return gray(saw(i)) & 0x800; }, [](int i) { return tri(gray(saw(i))); },
      [](int i) { return gray(saw(i)); }, [](int i) { return tri(i) ^ saw(i) ^ tri(gray(saw(i))); }}},
    // "PLUCK": bright at the start of the period, dying away.
    {{[](int i) { return clamp12(2048.0 + (tri(wrap(4 * i)) - 2048.0) * std::exp(-3.0 * unit(i))); },
      [](int i) { return clamp12(tri(i) * std::exp(-2.0 * unit(i)) + 600.0 * unit(i)); },
      [](int i) { return clamp12(2048.0 + (saw(wrap(8 * i)) - 2048.0) * std::exp(-4.0 * unit(i))); },
      [](int i) { return clamp12((tri(i) & saw(i)) * std::exp(-1.5 * unit(i))); }}},
    // "EDGY": hard-driven and clipped.
    {{[](int i) { return clamp12(2 * tri(i) - 2048); }, [](int i) { return clamp12(3 * tri(i) - 4096); },
      [](int i) { return clamp12(3 * saw(i) - 4096); },
      [](int i) { return clamp12(4 * (tri(i) & saw(i)) - 2048); }}},
    // "VOCAL": a fundamental shaped by formant-like partials.
    {{[](int i) { return sine01(phase(i)) / 2 + sine01(5 * phase(i)) * sine01(phase(i)) / 8190; },
      [](int i) {
          const double x = phase(i);
          return clamp12(2047.5 + 2047.5 * std::sin(x) * (0.6 + 0.4 * std::sin(7 * x)));
      },
      [](int i) {
          const double x = phase(i);
          return clamp12(2047.5 + 2047.5 * std::sin(x) * (0.5 + 0.5 * std::cos(3 * x)));
      },
      [](int i) {
          const double x = phase(i);
          return clamp12(2047.5 + 1365.0 * (std::sin(x) + 0.5 * std::sin(11 * x) * std::sin(x)));
      }}},
    // "TEEBEY": a sawtooth with a ringing resonance.
    {{[](int i) { return clamp12(saw(i) * 0.7 + 900.0 * std::sin(8 * phase(i)) * std::exp(-2.0 * unit(i))); },
      [](int i) { return clamp12(tri(i) * 0.7 + 900.0 * std::sin(6 * phase(i)) * std::exp(-2.0 * unit(i))); },
      [](int i) { return clamp12(saw(i) * 0.6 + 1200.0 * std::sin(12 * phase(i)) * unit(i)); },
      [](int i) {
          return clamp12(600.0 + saw(i) * 0.5 + 1000.0 * std::sin(10 * phase(i)) * std::exp(-3.0 * unit(i)));
      }}},
    // "SINESEG": a sine cut into four arcs.
    {{[](int i) { return arcs(i, 10, true); }, [](int i) { return arcs(i, 10, false); },
      [](int i) { return risingArcs(i, 10); }, [](int i) { return sine01(phase(i)) & ~0x0FF; }}},
    // "SINESEG2": the same in eight arcs.
    {{[](int i) { return arcs(i, 9, true); }, [](int i) { return arcs(i, 9, false); },
      [](int i) { return risingArcs(i, 9); }, [](int i) { return sine01(phase(i)) & ~0x1FF; }}},
    // "SEGMENT": straight lines between fixed corners.
    {{[](int i) { return i < 1024 ? 3 * i : i < 3072 ? 3072 - (i - 1024) / 2 : 2048 + (i - 3072) * 2; },
      [](int i) { return i < 512 ? 8 * i : i < 2048 ? kLast - (i - 512) * 2 : (i - 2048) * 3 / 2 + 1023; },
      [](int i) { return i < 2048 ? i / 2 : i < 3072 ? 1024 + (i - 2048) * 3 : 4095 - (i - 3072); },
      [](int i) { return i < 1365 ? 3 * i : i < 2730 ? kLast : (kLast - i) * 3; }}},
    // "INVERT"
    {{[](int i) { return kLast - (tri(i) & saw(i)); }, [](int i) { return kLast - tri(i); },
      [](int i) { return kLast - saw(i); }, [](int i) { return kLast - ((tri(i) + saw(i)) / 2); }}},
    // "SCREAM": waves folded over and over.
    {{[](int i) { return tri(wrap(3 * i)) ^ saw(wrap(5 * i)); }, [](int i) { return tri(wrap(7 * i)); },
      [](int i) { return saw(wrap(3 * i)) ^ (saw(i) >> 2); },
      [](int i) { return tri(wrap(5 * i)) | (tri(wrap(3 * i)) >> 1); }}},
    // "CEEZEY": phase-distorted sines, the phase bent at a knee.
    {{[](int i) { return sine01(bentPhase(unit(i), 0.1)); },
      [](int i) { return sine01(bentPhase(unit(i), 0.25)); },
      [](int i) {
          const double u = unit(i);
          return sine01(2.0 * std::numbers::pi * (u < 0.5 ? u * 0.4 : 0.2 + (u - 0.5) * 1.6));
      },
      [](int i) { return sine01(bentPhase(unit(i), 0.05)) & ~0x7F; }}},
    // "WOODY"
    {{[](int i) { return woody(0, i); }, [](int i) { return woody(1, i); }, [](int i) { return woody(2, i); },
      [](int i) { return woody(3, i); }}},
};

struct Tables {
    std::array<uint16_t, kChipTableSetCount * kChipTableSetLength> chipSets;
    std::array<uint16_t, kCombineModeCount * kBlockLength> blocks;

    Tables()
    {
        for (uint32_t s = 0; s < kChipTableSetCount; ++s)
            buildChipSet(kSetModels[s], &chipSets[s * kChipTableSetLength]);
        for (uint32_t b = 0; b < kCombineModeCount; ++b)
            for (std::size_t k = 0; k < kCombineBlockTables; ++k) {
                uint16_t* t = &blocks[b * kBlockLength + k * kCombinedTableLength];
                for (int i = 0; i <= kLast; ++i)
                    t[i] = uint16_t(clamp12(kBlocks[b].t[k](i)));
            }
    }
};

const Tables& tables()
{
    static const Tables* const t = new Tables();  // 1.3 MB: kept off the static data segment
    return *t;
}

// Built at start-up so that no render or parameter path ever pays for it.
[[maybe_unused]] const Tables& kBuiltAtStartUp = tables();

}  // namespace

const uint16_t* builtinChipTableSet(uint32_t waveSet)
{
    if (waveSet >= kChipTableSetCount)
        waveSet = kDefaultChipTableSet;
    return &tables().chipSets[waveSet * kChipTableSetLength];
}

const uint16_t* chipCombinedTables(const SIDChipInfo& info)
{
    if (info.combTables.size() >= kChipTableSetLength)
        return info.combTables.data();
    return builtinChipTableSet(info.waveSet);
}

const uint16_t* builtinCombineTable(uint64_t mode, unsigned k)
{
    assert(k < kCombineBlockTables);
    if (k >= kCombineBlockTables)
        k = kCombineBlockTables - 1;
    mode = std::min<uint64_t>(mode, kCombineModeCount - 1);
    return &tables().blocks[mode * kBlockLength + k * kCombinedTableLength];
}
