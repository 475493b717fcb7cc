#include "sid/SIDCombinedTables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

int tri(int i) { return i < 2048 ? 2 * i : 2 * (4095 - i); }

const uint16_t* slot(uint32_t set, unsigned s) { return builtinChipTableSet(set) + s * kCombinedTableLength; }

struct CountMax {
    int nonZero;
    int maximum;
};

CountMax countMax(const uint16_t* t)
{
    CountMax r{0, 0};
    for (size_t i = 0; i < kCombinedTableLength; ++i) {
        r.nonZero += t[i] != 0;
        r.maximum = std::max(r.maximum, int(t[i]));
    }
    return r;
}

int mode(const char* name)
{
    const auto it = std::find(kCombineModeNames.begin(), kCombineModeNames.end(), name);
    EXPECT_NE(it, kCombineModeNames.end()) << name;
    return int(it - kCombineModeNames.begin());
}

}  // namespace

TEST(SIDCombinedTables, ChipSetsHoldPlainWavesAndStayInTheirRange)
{
    for (uint32_t set = 0; set < kChipTableSetCount; ++set) {
        const bool pulseStartsLow = set >= 1 && set <= 3;
        for (int i = 0; i < 4096; ++i) {
            ASSERT_EQ(slot(set, 0)[i], tri(i) & 0xFF0) << "set " << set << " entry " << i;
            ASSERT_EQ(slot(set, 1)[i], i & 0xFF0) << "set " << set << " entry " << i;
            ASSERT_EQ(slot(set, 3)[i], pulseStartsLow && i < 3 ? 0 : 4080) << "set " << set << " entry " << i;
        }
        for (unsigned s = 0; s < 7; ++s)
            for (int i = 0; i < 4096; ++i) {
                const uint16_t v = slot(set, s)[i];
                ASSERT_TRUE(v % 16 == 0 && v <= 4080) << "set " << set << " slot " << s << " entry " << i;
            }
    }
}

TEST(SIDCombinedTables, CombinedSlotsHaveTheirCountsAndMaxima)
{
    const struct {
        uint32_t set;
        CountMax slots[4];  // slots 2, 4, 5, 6
    } kCases[] = {
        {0, {{260, 2032}, {964, 4080}, {435, 2032}, {22, 2032}}},
        {1, {{413, 2032}, {671, 4080}, {465, 2032}, {21, 2032}}},
        {2, {{224, 2032}, {1021, 4080}, {348, 2032}, {18, 2032}}},
        {3, {{224, 2032}, {1021, 4080}, {348, 2032}, {18, 2032}}},
        {4, {{524, 4080}, {1907, 4080}, {1703, 4080}, {550, 4080}}},
    };
    for (const auto& c : kCases)
        for (size_t n = 0; n < 4; ++n) {
            const unsigned s = kCombinedVoiceSlots[n];
            const CountMax got = countMax(slot(c.set, s));
            EXPECT_EQ(got.nonZero, c.slots[n].nonZero) << "set " << c.set << " slot " << s;
            EXPECT_EQ(got.maximum, c.slots[n].maximum) << "set " << c.set << " slot " << s;
        }
}

TEST(SIDCombinedTables, SetsTwoAndThreeAreTheSameAndOthersDiffer)
{
    const size_t bytes = kChipTableSetLength * sizeof(uint16_t);
    EXPECT_EQ(std::memcmp(builtinChipTableSet(2), builtinChipTableSet(3), bytes), 0);
    for (uint32_t a = 0; a < kChipTableSetCount; ++a) {
        for (uint32_t b = a + 1; b < kChipTableSetCount; ++b) {
            if (a == 2 && b == 3)
                continue;
            EXPECT_NE(std::memcmp(builtinChipTableSet(a), builtinChipTableSet(b), bytes), 0) << a << " " << b;
        }
    }
}

TEST(SIDCombinedTables, SetLookupFallsBackToSetFour)
{
    for (uint32_t s : {5u, 17u, 0xFFFFFFFFu})
        EXPECT_EQ(builtinChipTableSet(s), builtinChipTableSet(4)) << s;

    SIDChipInfo info;
    EXPECT_EQ(chipCombinedTables(info), builtinChipTableSet(4));
    info.waveSet = 1;
    EXPECT_EQ(chipCombinedTables(info), builtinChipTableSet(1));
    info.waveSet = 9;
    EXPECT_EQ(chipCombinedTables(info), builtinChipTableSet(4));
    info.combTables.assign(4096, 7);  // too short to hold slots 4..6
    EXPECT_EQ(chipCombinedTables(info), builtinChipTableSet(4));
    info.combTables.assign(kChipTableSetLength, 7);
    EXPECT_EQ(chipCombinedTables(info), info.combTables.data());
}

TEST(SIDCombinedTables, RuleBlocksFollowTheirRules)
{
    const struct {
        const char* name;
        int k;
        int (*rule)(int);
    } kCases[] = {
        {"AND", 0, [](int i) { return tri(i) & i; }},
        {"AND", 1, [](int i) { return tri(i); }},
        {"AND", 2, [](int i) { return i; }},
        {"AND", 3, [](int i) { return tri(i) & i; }},
        {"AND2", 1, [](int i) { return tri(i); }},
        {"AND2", 2, [](int i) { return i; }},
        {"MIX", 0, [](int i) { return (tri(i) + i) / 2; }},
        {"MIX", 1, [](int i) { return 2048 + tri(i) / 2; }},
        {"MIX", 2, [](int i) { return 2048 + i / 2; }},
        {"MIX", 3, [](int i) { return (tri(i) + i) / 2; }},
        {"INVERT", 1, [](int i) { return 4095 - tri(i); }},
        {"INVERT", 2, [](int i) { return 4095 - i; }},
    };
    for (const auto& c : kCases) {
        const uint16_t* t = builtinCombineTable(mode(c.name), c.k);
        for (int i = 0; i < 4096; ++i)
            ASSERT_EQ(t[i], c.rule(i)) << c.name << " table " << c.k << " entry " << i;
    }
    // "Normal" is only the fallback: the "AND" data.
    for (unsigned k = 0; k < 4; ++k)
        EXPECT_EQ(std::memcmp(builtinCombineTable(0, k), builtinCombineTable(mode("AND"), k), 8192), 0);
    EXPECT_EQ(builtinCombineTable(mode("MIX"), 1)[0], 2048);
    EXPECT_EQ(builtinCombineTable(mode("MIX"), 1)[2048], 4095);
}

TEST(SIDCombinedTables, SampledBlocksMatchTheirPublishedEntries)
{
    const struct {
        const char* name;
        int values[4][5];  // tables 0..3 at entries 0, 1024, 2048, 3072, 4095
    } kCases[] = {
        {"POPCNT",
         {{0, 0, 0, 341, 3751}, {0, 341, 3751, 3410, 0}, {0, 341, 341, 682, 4092}, {0, 0, 341, 341, 0}}},
        {"SINE",
         {{508, 3096, 4088, 3092, 508},
          {0, 2302, 4092, 2299, 0},
          {0, 783, 2302, 3596, 4092},
          {0, 0, 2302, 4095, 4095}}},
        {"XOR",
         {{0, 2048, 2048, 0, 0},
          {0, 2046, 4094, 2048, 2},
          {0, 3072, 2048, 1024, 1},
          {0, 3070, 2048, 1022, 4093}}},
        {"WOODY",
         {{2275, 1820, 3185, 910, 2275},
          {2275, 455, 1820, 910, 3185},
          {2275, 455, 3185, 3640, 1820},
          {1820, 3185, 2730, 1820, 0}}},
    };
    const int kAt[5] = {0, 1024, 2048, 3072, 4095};
    for (const auto& c : kCases)
        for (unsigned k = 0; k < 4; ++k)
            for (int n = 0; n < 5; ++n)
                EXPECT_EQ(builtinCombineTable(mode(c.name), k)[kAt[n]], c.values[k][n])
                    << c.name << " table " << k << " entry " << kAt[n];
}

TEST(SIDCombinedTables, BlocksAreDistinctInRangeAndCappedAtWoody)
{
    const size_t bytes = kCombineBlockTables * kCombinedTableLength * sizeof(uint16_t);
    for (uint32_t m = 0; m < kCombineModeCount; ++m) {
        // The four tables of a block lie back to back.
        for (unsigned k = 1; k < 4; ++k)
            ASSERT_EQ(builtinCombineTable(m, k), builtinCombineTable(m, 0) + k * kCombinedTableLength);
        for (size_t i = 0; i < 4 * kCombinedTableLength; ++i)
            ASSERT_LE(builtinCombineTable(m, 0)[i], 4095) << kCombineModeNames[m] << " entry " << i;
    }
    for (uint32_t a = 1; a < kCombineModeCount; ++a)
        for (uint32_t b = a + 1; b < kCombineModeCount; ++b)
            EXPECT_NE(std::memcmp(builtinCombineTable(a, 0), builtinCombineTable(b, 0), bytes), 0)
                << kCombineModeNames[a] << " and " << kCombineModeNames[b];
    // The mode is capped at 31 ("WOODY").
    for (uint64_t m : {uint64_t(32), uint64_t(40), ~uint64_t(0)})
        for (unsigned k = 0; k < 4; ++k)
            EXPECT_EQ(builtinCombineTable(m, k), builtinCombineTable(31, k)) << m;
    EXPECT_EQ(kCombineModeNames[31], "WOODY");
}
