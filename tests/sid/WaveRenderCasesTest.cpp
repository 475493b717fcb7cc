// Hand-computed renderer cases, one row each.

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "WaveTestSupport.h"
#include "sid/SIDVoice.h"
#include "sid/WaveRender.h"

using namespace wavetest;

namespace {

// Distinct tables: waveform 3 a ramp, 5 its mirror, 6 and 7 shifted ramps.
struct Tables {
    std::vector<uint16_t> t3, t5, t6, t7;
    Tables() : t3(4096), t5(4096), t6(4096), t7(4096)
    {
        for (uint32_t i = 0; i < 4096; ++i) {
            t3[i] = uint16_t(i);
            t5[i] = uint16_t(4095 - i);
            t6[i] = uint16_t((i + 1000) & 0xFFF);
            t7[i] = uint16_t((i + 2000) & 0xFFF);
        }
    }
};

const Tables& tables()
{
    static const Tables t;
    return t;
}

// A quiet voice: accumulator 0, noise register at its reset value, tables set.
SIDVoice* quietVoice(SIDVoice& v, uint32_t waveform)
{
    v.waveform = waveform;
    v.control = waveform << 4;
    v.noisePending = v.noiseLatched = 0xFFFFFC;
    v.noiseOutput = 255;
    v.combinedTable3 = tables().t3.data();
    v.combinedTable5 = tables().t5.data();
    v.combinedTable6 = tables().t6.data();
    v.combinedTable7 = tables().t7.data();
    return &v;
}

std::vector<uint32_t> run(unsigned index, SIDVoice& v, uint64_t count, SourceCopy* source = nullptr)
{
    std::vector<uint32_t> out(count, kSentinel);
    SourceCopy none;
    SourceCopy& s = source ? *source : none;
    kWaveRenderTable[index](v, out.data(), count, &s.accumulator, &s.frequency, &s.msb);
    return out;
}

uint32_t triangle(uint32_t acc) { return ((acc >> 11) & 0xFFE) ^ ((acc >> 23) ? 0xFFE : 0); }

void waveRendererAtPicksEntries()
{
    EXPECT_EQ(waveRendererAt(6, 0, 1, 0, 0, 0, 0), kWaveRenderTable[38]);
    EXPECT_EQ(waveRendererAt(5, 0, 1, 0, 0, 0, 0), kWaveRenderTable[37]);
    EXPECT_EQ(waveRendererAt(15, 1, 1, 1, 1, 1, 1), kWaveRenderTable[1023]);
    EXPECT_EQ(bufferedWaveRendererAt(13, 1, 0, 1), kWaveRenderBufferedTable[93]);
    // 38 is the quirked saw+pulse: 0x7FF000 + 0x1000 falls back to 0; entry 6 keeps 0x800000.
    SIDVoice q, plain;
    quietVoice(q, 6)->accumulator = 0x7FF000;
    q.frequency = 0x1000;
    quietVoice(plain, 6)->accumulator = 0x7FF000;
    plain.frequency = 0x1000;
    run(38, q, 1);
    run(6, plain, 1);
    EXPECT_EQ(q.accumulator, 0u);
    EXPECT_EQ(plain.accumulator, 0x800000u);
    // 37 is empty: sentinels stay, the voice is byte for byte the same.
    SIDVoice e;
    quietVoice(e, 5)->frequency = 0x1234;
    const auto before = bytesOf(e);
    const auto out = run(37, e, 16);
    EXPECT_EQ(out, std::vector<uint32_t>(16, kSentinel));
    EXPECT_EQ(bytesOf(e), before);
}

void nibbleZeroHoldsTheLastOutput()
{
    for (const unsigned index : {0u, 64u}) {
        SIDVoice v;
        quietVoice(v, 0)->lastOutput = 1234;
        v.frequency = 0x4321;
        EXPECT_EQ(run(index, v, 20), std::vector<uint32_t>(20, 1234)) << index;
        EXPECT_EQ(v.lastOutput, 1234u);
    }
}

void quirkLimit()
{
    const struct {
        uint32_t from, freq, want;
    } steps[] = {
        {0x7FF000, 0x1000, 0x000000},  // 0x800000 loses bit 23
        {0x811001, 0xFFFF, 0x821000},  // the limit itself keeps it (the sum 0x7FF000 + 0x22000)
        {0x811000, 0xFFFF, 0x020FFF},  // one below the limit
        {0xFFF000, 0x2000, 0x001000},  // a wrap lands below the limit, bit 23 already clear
    };
    for (const auto& s : steps) {
        SIDVoice v;
        quietVoice(v, 6)->accumulator = s.from;
        v.frequency = uint16_t(s.freq);
        run(38, v, 1);
        EXPECT_EQ(v.accumulator, s.want) << std::hex << s.from << " + " << s.freq;
    }
}

void pulseWidthEdges()
{
    SIDVoice v;
    quietVoice(v, 4)->accumulator = 0x123456;
    v.frequency = 0x3456;
    v.pulseWidth = 0;
    EXPECT_EQ(run(4, v, 300), std::vector<uint32_t>(300, 4095));

    SIDVoice w;
    quietVoice(w, 4)->accumulator = 0xFFE000;
    w.frequency = 0x100;
    w.pulseWidth = 4095;
    const auto out = run(4, w, 100);
    uint32_t acc = 0xFFE000;
    int high = 0;
    for (int i = 0; i < 100; ++i) {
        const uint32_t want = (acc >> 12) == 4095 ? 4095 : 0;
        EXPECT_EQ(out[i], want) << "cycle " << i;
        high += want != 0;
        acc = (acc + 0x100) & 0xFFFFFF;
    }
    EXPECT_EQ(high, 16);
}

void pulseIsOneCycleLate()
{
    SIDVoice v;
    quietVoice(v, 4)->accumulator = 0x7FE000;
    v.frequency = 0x400;
    v.pulseWidth = 0x7FF;  // the accumulator reaches 0x7FF000 in cycle 3
    const auto out = run(4, v, 6);
    EXPECT_EQ(out, (std::vector<uint32_t>{0, 0, 0, 0, 4095, 4095}));
}

void bufferedPulseComparesThePreviousTop()
{
    SIDVoice v;
    quietVoice(v, 4)->pulseWidth = 0x400;
    std::vector<uint16_t> tops = {0, 0x400, 0, 0x3FF, 0x400};
    uint32_t out[3];
    kWaveRenderBufferedTable[4](v, out, 3, tops.data() + 2, tops.data() + 2);
    EXPECT_EQ(out[0], 4095u);  // T[-1] == pulse width
    EXPECT_EQ(out[1], 0u);
    EXPECT_EQ(out[2], 0u);
}

void noiseTapsAndClockTiming()
{
    // Each tap alone reaches its byte bit on the next unclocked cycle.
    const int taps[8] = {2, 4, 7, 11, 13, 16, 20, 22};
    for (int b = 0; b < 8; ++b) {
        SIDVoice v;
        quietVoice(v, 8);
        v.noiseLatched = 0;
        v.noiseOutput = 0;
        v.noisePending = 1u << taps[b];
        EXPECT_EQ(run(8, v, 1)[0], (1u << b) << 4) << "tap " << taps[b];
    }
    // Bit 19 rises in cycle 0: clocked in cycle 1, shifted byte visible from cycle 2.
    SIDVoice v;
    quietVoice(v, 8)->accumulator = 0x07F000;
    v.accumulatorPrev = 0x07E000;
    v.frequency = 0x1000;
    const uint32_t reg = 0x2A5A5A;
    v.noiseLatched = v.noisePending = reg;
    v.noiseOutput = ref::noiseTaps(reg);
    const uint32_t shifted = (reg << 1) | (((reg >> 22) ^ (reg >> 17)) & 1);
    ASSERT_NE(ref::noiseTaps(shifted), ref::noiseTaps(reg));
    const auto out = run(8, v, 4);
    EXPECT_EQ(out[0], ref::noiseTaps(reg) << 4);
    EXPECT_EQ(out[1], ref::noiseTaps(reg) << 4);
    EXPECT_EQ(out[2], ref::noiseTaps(shifted) << 4);
    EXPECT_EQ(v.noiseLatched, shifted);
}

void combinedNoiseClearsTapsEverySecondUnclockedCycle()
{
    constexpr uint32_t kTaps = 0x00512894;  // bits 22 20 16 13 11 7 4 2
    for (const unsigned nibble : {8u, 9u}) {
        SIDVoice v;
        quietVoice(v, nibble)->accumulator = 0x080000;  // clock in cycle 0
        v.accumulatorPrev = 0x07F000;
        v.frequency = 0x10;
        v.noiseLatched = v.noisePending = 0x7FFFFF;
        run(nibble, v, 1);
        ASSERT_EQ(v.noisePhase, 1) << nibble;
        for (int k = 1; k <= 4; ++k) {
            v.noisePending |= kTaps;  // taps back in, to see each cycle's clearing
            run(nibble, v, 1);
            const bool cleared = (v.noisePending & kTaps) == 0;
            const bool want = nibble == 9 && (k == 2 || k == 4);
            EXPECT_EQ(cleared, want) << "nibble " << nibble << " unclocked cycle " << k;
            EXPECT_EQ(v.noisePhase, nibble == 9 ? k % 2 == 0 : 0);
        }
    }
}

void enteringTestFlipsTheRegisterOnce()
{
    SIDVoice v;
    quietVoice(v, 8);
    v.control = 0x88;
    v.noiseLatched = v.noisePending = 0x2A5A59;
    v.noiseOutput = 0;
    v.noiseClockedSinceTest = 1;
    v.testBit = 0;
    std::vector<uint32_t> out(5);
    v.renderWaveBlock(out.data(), 5, 0, 0, 0, 0);
    EXPECT_EQ(v.noiseOutput, ref::noiseTaps(0x2A5A59));
    EXPECT_EQ(v.noiseLatched, 0x2A5A59u ^ 3);
    EXPECT_EQ(out[0], ref::noiseTaps(0x2A5A59) << 4);
    EXPECT_EQ(v.noiseClockedSinceTest, 0);
    EXPECT_EQ(v.testBit, 1);
    const uint32_t latched = 0x2A5A59u ^ 3;  // bit 17 set: the inverted feedback shifts in 0
    EXPECT_EQ(v.noisePending, latched << 1);
    v.renderWaveBlock(out.data(), 5, 0, 0, 0, 0);
    EXPECT_EQ(v.noiseLatched, 0x2A5A59u ^ 3);
}

void testHeldReloadsAfter546000Cycles()
{
    constexpr uint64_t kCycles = 546002;
    for (const bool buffered : {false, true}) {
        SIDVoice v;
        quietVoice(v, 8);
        v.noiseLatched = v.noisePending = 0;
        v.noiseOutput = 0;
        v.testBit = 1;
        std::vector<uint32_t> out(kCycles);
        if (buffered) {
            std::vector<uint16_t> tops(kCycles + 2);
            kWaveRenderBufferedTable[24](v, out.data(), kCycles, tops.data() + 2, tops.data() + 2);
        } else {
            run(24, v, 0);
            SourceCopy none;
            kWaveRenderTable[24](v, out.data(), kCycles, &none.accumulator, &none.frequency, &none.msb);
        }
        EXPECT_EQ(out[545999], 0u) << buffered;
        EXPECT_EQ(out[546000], 0xFF0u) << buffered;  // cycle 546001
        EXPECT_EQ(out[546001], 0xFF0u) << buffered;
        EXPECT_EQ(v.noiseResetCounter, 546000) << buffered;
        EXPECT_EQ(v.noiseLatched, 0xFFFFFCu) << buffered;
        EXPECT_EQ(v.noiseOutput, 255u) << buffered;
    }
}

void syncResetsOnTheRisingSourceMsb()
{
    for (const unsigned nibble : {1u, 2u}) {
        SIDVoice v;
        quietVoice(v, nibble)->accumulator = 0x400000;
        v.frequency = 0x3000;
        SourceCopy s{0x800000 - 5 * 0x100, 0x100, 0};  // bit 23 rises in cycle 4
        const auto out = run(512 + 128 + nibble, v, 7, &s);
        EXPECT_EQ(out[4], 0u) << nibble;
        EXPECT_EQ(out[5], nibble == 2 ? 3u : 6u) << nibble;  // A = freq
        EXPECT_NE(out[3], 0u) << nibble;
        EXPECT_EQ(s.msb, 1);
    }
    const struct {
        const char* name;
        uint32_t accumulator;
        uint8_t msb;
        bool reset;
    } edges[] = {
        {"byte 0, bit 23 set by the first advance", 0x7FFFFF, 0, true},
        {"falling", 0xFFFFFF, 1, false},
        {"byte 1 and staying 1", 0x800000, 1, false},
    };
    for (const auto& e : edges) {
        SIDVoice v;
        quietVoice(v, 2)->accumulator = 0x400000;
        v.frequency = 0x3000;
        SourceCopy s{e.accumulator, 1, e.msb};
        const auto out = run(512 + 128 + 2, v, 2, &s);
        EXPECT_EQ(out[0], e.reset ? 0u : 0x403u) << e.name;
    }
}

void ringFoldsWhenTheMsbsAreEqual()
{
    // Source MSB stays 0: the ring triangle mirrors the plain one.
    SIDVoice ring, plain;
    quietVoice(ring, 1)->accumulator = 0x7F0000;
    ring.frequency = 0x800;
    quietVoice(plain, 1)->accumulator = 0x7F0000;
    plain.frequency = 0x800;
    SourceCopy s{0x100, 0x10, 0};
    const auto withRing = run(128 + 256 + 1, ring, 64, &s);
    const auto without = run(1, plain, 64);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(withRing[i], without[i] ^ 0xFFE) << "cycle " << i;

    // Ring without a source: falls from 4094 while bit 23 is 0, rises while it is 1.
    SIDVoice alone;
    quietVoice(alone, 1)->frequency = 0xFFFF;
    const auto out = run(256 + 1, alone, 256);
    uint32_t acc = 0;
    for (int i = 0; i < 256; ++i) {
        acc = (acc + 0xFFFF) & 0xFFFFFF;
        EXPECT_EQ(out[i], triangle(acc) ^ 0xFFE) << "cycle " << i;
        if (i > 0 && i < 127) {
            EXPECT_LT(out[i], out[i - 1]);
        }
    }
    EXPECT_EQ(out[0], 4094u - ((0xFFFFu >> 11) & 0xFFE));
}

void ringAndSyncResetCycle()
{
    for (const unsigned nibble : {1u, 5u}) {
        SIDVoice v;
        quietVoice(v, 5)->accumulator = 0x600000;
        v.frequency = 0x2000;
        v.pulseWidth = 0;
        SourceCopy s{0x800000 - 3 * 0x40, 0x40, 0};  // rises in cycle 2
        const auto out = run(512 + 256 + 128 + nibble, v, 4, &s);
        EXPECT_EQ(out[2], nibble == 1 ? 0u : uint32_t(tables().t5[0])) << nibble;
    }
}

void ringUnderTest()
{
    SIDVoice v;
    quietVoice(v, 1)->control = 0x1C;
    SourceCopy s{0x7FFFF0, 4, 0};  // bit 23 rises in cycle 3
    const auto out = run(256 + 128 + 16 + 1, v, 6, &s);
    EXPECT_EQ(out, (std::vector<uint32_t>{4094, 4094, 4094, 0, 0, 0}));

    SIDVoice a, b;
    quietVoice(a, 1);
    quietVoice(b, 5)->pulseWidth = 4095;
    EXPECT_EQ(run(256 + 16 + 1, a, 9), std::vector<uint32_t>(9, 4094));
    EXPECT_EQ(run(256 + 16 + 5, b, 9), std::vector<uint32_t>(9, tables().t5[2048]));
}

void delayedSaw()
{
    SIDVoice v;
    quietVoice(v, 2)->accumulator = 0x123000;
    v.frequency = 0x4000;
    v.nextWaveIndex = 0x1ABC;
    const auto out = run(64 + 2, v, 5);
    EXPECT_EQ(out, (std::vector<uint32_t>{0xABC, 0x127, 0x12B, 0x12F, 0x133}));
}

void noiseCombinationsReadTheWaveform3Table()
{
    for (const unsigned nibble : {11u, 13u, 14u, 15u}) {
        for (const bool buffered : {false, true}) {
            SIDVoice v;
            quietVoice(v, nibble)->accumulator = 0x345000;
            v.frequency = 0x1000;
            v.noisePhase = 1;  // the first unclocked cycle clears nothing
            std::vector<uint16_t> tops = {0x344, 0x345, 0x346};
            uint32_t out = 0;
            if (buffered) {
                kWaveRenderBufferedTable[nibble](v, &out, 1, tops.data() + 2, tops.data() + 2);
            } else {
                out = run(nibble, v, 1)[0];
            }
            // Top 0x346, bit 23 clear: the folded index of nibble 13 is the top too.
            EXPECT_EQ(out, 0xFF0u & tables().t3[0x346]) << nibble << (buffered ? " buffered" : "");
        }
    }
}

void combineModeRunsNibble3AsNibble5()
{
    SIDVoice v;
    quietVoice(v, 3)->generatedCombinedTables = 1;
    v.sawPulseQuirk = 0;
    v.accumulator = 0x700000;
    v.frequency = 0x8000;
    v.pulseWidth = 0x780;
    EXPECT_EQ(waveRenderIndex(v, 0), 5u);
    std::vector<uint32_t> out(24);
    v.renderWaveBlock(out.data(), 24, 0, 0, 0, 0);
    uint32_t acc = 0x700000;
    for (int i = 0; i < 24; ++i) {
        const uint32_t next = (acc + 0x8000) & 0xFFFFFF;
        const uint32_t fold = next >> 23;
        const uint32_t want = (acc >> 12) >= 0x780 ? tables().t3[(fold << 11) | ((next >> 12) & 0x7FF)] : 0;
        EXPECT_EQ(out[i], want) << "cycle " << i;
        acc = next;
    }
    EXPECT_EQ(out[0], 0u);
    EXPECT_NE(out[23], 0u);
}

void countZeroChangesNothing()
{
    Rng rng(0xC0);
    const TablePool pool(rng);
    for (unsigned index = 0; index < kWaveRenderTableSize; ++index) {
        SIDVoice v;
        randomVoice(rng, v, pool);
        const auto before = bytesOf(v);
        SourceCopy s{0x12345678, 0x1111, 7};
        uint32_t out = kSentinel;
        kWaveRenderTable[index](v, &out, 0, &s.accumulator, &s.frequency, &s.msb);
        ASSERT_EQ(out, kSentinel) << index;
        ASSERT_EQ(bytesOf(v), before) << index;
        ASSERT_EQ(s.msb, 7) << index;
        ASSERT_EQ(s.accumulator, 0x12345678u) << index;
    }
    for (unsigned index = 0; index < kWaveRenderBufferedTableSize; ++index) {
        SIDVoice v;
        randomVoice(rng, v, pool);
        const auto before = bytesOf(v);
        uint16_t tops[2] = {1, 2};
        uint32_t out = kSentinel;
        kWaveRenderBufferedTable[index](v, &out, 0, tops + 2, tops + 2);
        ASSERT_EQ(out, kSentinel) << index;
        ASSERT_EQ(bytesOf(v), before) << index;
    }
}

void sawAt440Hz()
{
    SIDVoice v;
    quietVoice(v, 2)->frequency = 7493;
    constexpr uint64_t kCycles = 985248;  // one second of a PAL chip
    const auto out = run(2, v, kCycles);
    int wraps = 0;
    for (uint64_t i = 1; i < kCycles; ++i)
        wraps += out[i] < out[i - 1];
    EXPECT_NEAR(wraps, 440, 1);
}

TEST(WaveRenderCases, HandComputed)
{
    const struct {
        const char* name;
        void (*check)();
    } rows[] = {
        {"waveRendererAt entries 38 and 37", waveRendererAtPicksEntries},
        {"index 0 and 64 hold lastOutput", nibbleZeroHoldsTheLastOutput},
        {"waveform-6 quirk limit 0x821000", quirkLimit},
        {"pulse width 0 and 4095", pulseWidthEdges},
        {"pulse changes one cycle after the crossing", pulseIsOneCycleLate},
        {"buffered pulse with T[-1] == pulse width", bufferedPulseComparesThePreviousTop},
        {"noise taps and clock timing", noiseTapsAndClockTiming},
        {"noise alone keeps taps, combined clears them", combinedNoiseClearsTapsEverySecondUnclockedCycle},
        {"entering test with K = 1", enteringTestFlipsTheRegisterOnce},
        {"test held from counter 0", testHeldReloadsAfter546000Cycles},
        {"sync on the rising source MSB", syncResetsOnTheRisingSourceMsb},
        {"ring sense", ringFoldsWhenTheMsbsAreEqual},
        {"ring + sync reset cycle", ringAndSyncResetCycle},
        {"ring under test", ringUnderTest},
        {"delayed saw", delayedSaw},
        {"noise combinations read the waveform-3 table", noiseCombinationsReadTheWaveform3Table},
        {"combine mode, stored nibble 3", combineModeRunsNibble3AsNibble5},
        {"count 0", countZeroChangesNothing},
        {"saw at frequency 7493", sawAt440Hz},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        row.check();
    }
}

}  // namespace
