#include "sid/TesslowTables.h"

#include <cstddef>

namespace {

struct Run {
    uint16_t start;  // first index; the run ends where the next begins
    uint8_t value;
};

template <size_t N>
constexpr std::array<uint8_t, 4096> expand(const Run (&runs)[N])
{
    std::array<uint8_t, 4096> t{};
    for (size_t k = 0; k < N; ++k) {
        const size_t end = k + 1 < N ? runs[k + 1].start : t.size();
        for (size_t i = runs[k].start; i < end; ++i)
            t[i] = runs[k].value;
    }
    return t;
}

// Linear-model chips: low-pass with voice 3 off, then low-pass with voice 3 on, a few
// single-voice steps around the middle, then voice 3 alone.
constexpr Run kLinearRuns[] = {
    {0, 0x9F},    {69, 0x9E},   {205, 0x9D},  {342, 0x9C},  {478, 0x9B},  {615, 0x9A},  {751, 0x99},
    {888, 0x98},  {1024, 0x1F}, {1059, 0x1E}, {1127, 0x1D}, {1195, 0x1C}, {1263, 0x1B}, {1332, 0x1A},
    {1400, 0x19}, {1468, 0x18}, {1536, 0x17}, {1605, 0x16}, {1673, 0x15}, {1741, 0x14}, {1810, 0x13},
    {1878, 0x12}, {1946, 0x11}, {2008, 0x8F}, {2009, 0x8E}, {2012, 0x8D}, {2014, 0x10}, {2028, 0x87},
    {2031, 0x10}, {2038, 0x84}, {2039, 0x83}, {2040, 0x10}, {2043, 0x82}, {2044, 0x10}, {2048, 0x00},
    {2083, 0x01}, {2151, 0x02}, {2219, 0x03}, {2287, 0x04}, {2356, 0x05}, {2424, 0x06}, {2492, 0x07},
    {2561, 0x08}, {2629, 0x09}, {2697, 0x0A}, {2765, 0x0B}, {2834, 0x0C}, {2902, 0x0D}, {2970, 0x0E},
    {3038, 0x0F},
};
static_assert(std::size(kLinearRuns) == 50);

// Measured-model chips. Fixed rows: the low-pass steps with voice 3 off up to volume 10, the mixed
// filter modes at 722-725, silence at the middle and the two band-pass steps at the top. Between
// them, evenly spaced volume steps: low-pass with voice 3 off below the middle, volume n from
// ceil((29 - 2n) x 1024 / 15); band-pass with voice 3 on above it, volume n from
// 2048 + ceil((2n - 1) x 1256 / 27), which puts volume 14 at 3304.
constexpr Run kMeasuredRuns[] = {
    {0, 0x9F},    {69, 0x9E},   {205, 0x9D},  {342, 0x9C},  {478, 0x9B},  {615, 0x9A},  {722, 0xDA},
    {723, 0xBC},  {724, 0xFC},  {725, 0xBC},  {726, 0x9A},  {751, 0x99},  {888, 0x98},  {1024, 0x97},
    {1161, 0x96}, {1298, 0x95}, {1434, 0x94}, {1571, 0x93}, {1707, 0x92}, {1844, 0x91}, {1980, 0x00},
    {2095, 0x21}, {2188, 0x22}, {2281, 0x23}, {2374, 0x24}, {2467, 0x25}, {2560, 0x26}, {2653, 0x27},
    {2746, 0x28}, {2839, 0x29}, {2932, 0x2A}, {3025, 0x2B}, {3118, 0x2C}, {3211, 0x2D}, {3304, 0x2E},
    {3374, 0x2F},
};

constexpr bool ascending(const Run* runs, size_t n)
{
    for (size_t k = 1; k < n; ++k)
        if (runs[k].start <= runs[k - 1].start)
            return false;
    return true;
}
static_assert(ascending(kLinearRuns, std::size(kLinearRuns)));
static_assert(ascending(kMeasuredRuns, std::size(kMeasuredRuns)));

}  // namespace

const std::array<uint8_t, 4096> kTesslowLevelTableLinear = expand(kLinearRuns);
const std::array<uint8_t, 4096> kTesslowLevelTable = expand(kMeasuredRuns);
