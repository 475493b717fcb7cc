// The two selectors: index forming, the stored next waveform index, bad flags, and block splitting
// through a small three-voice driver that takes the chip's three render paths.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "WaveTestSupport.h"
#include "sid/SIDVoice.h"
#include "sid/WaveRender.h"

using namespace wavetest;

namespace {

TEST(WaveSelector, IndexForEveryControlValueAndFlag)
{
    Rng rng(0x5E1EC7);
    const TablePool tables(rng);
    for (uint32_t control = 0; control < 256; ++control) {
        for (uint32_t flags = 0; flags < 8; ++flags) {
            const uint32_t delayed = flags & 1, quirk = (flags >> 1) & 1, combine = (flags >> 2) & 1;
            if (quirk && combine)
                continue;  // never set together
            for (uint32_t hasSource = 0; hasSource < 2; ++hasSource) {
                SIDVoice voice;
                randomVoice(rng, voice, tables);
                voice.control = control;
                voice.waveform = control >> 4;
                voice.delayedOutput = uint8_t(delayed);
                voice.sawPulseQuirk = uint8_t(quirk);
                voice.generatedCombinedTables = uint8_t(combine);

                const uint32_t stored = control >> 4;
                const uint32_t nibble = combine && (stored == 3 || stored == 6 || stored == 7) ? 5 : stored;
                const uint32_t quirkBit = stored == 6 && quirk ? 1 : 0;
                const uint32_t test = (control >> 3) & 1, ring = (control >> 2) & 1, sync = (control >> 1) & 1;
                const uint32_t want =
                    nibble + 16 * test + 32 * quirkBit + 64 * delayed + 128 * hasSource + 256 * ring + 512 * sync;
                ASSERT_EQ(waveRenderIndex(voice, hasSource), want) << "control " << control << " flags " << flags;
                ASSERT_EQ(bufferedWaveRenderIndex(voice), nibble + 16 * test + 32 * delayed + 64 * ring)
                    << "control " << control << " flags " << flags;

                // The selector runs that entry.
                SIDVoice viaTable;
                copyOscillator(viaTable, voice);
                const SourceCopy source = randomSource(rng);
                SourceCopy copy = source;
                std::vector<uint32_t> got(9), want9(9);
                voice.renderWaveBlock(got.data(), 9, hasSource, source.accumulator, source.frequency, source.msb);
                kWaveRenderTable[want](viaTable, want9.data(), 9, &copy.accumulator, &copy.frequency, &copy.msb);
                ASSERT_EQ(got, want9) << "control " << control << " flags " << flags;
                EXPECT_EQ(voice.accumulator, viaTable.accumulator);
                EXPECT_EQ(voice.testBit, test);
            }
        }
    }
}

TEST(WaveSelector, NextWaveIndexAfterABlock)
{
    struct Row {
        const char* name;
        uint32_t control;  // waveform in bits 4-7, ring bit 2
        uint8_t combine;
        uint32_t accumulator;
        uint8_t sourceMsb;
        uint32_t want;
    };
    const Row rows[] = {
        {"saw nibble 2, bit 23 set, ring", 0x24, 0, 0xABC123, 1, 0xABC},
        {"saw+tri nibble 3, bit 23 clear, ring", 0x34, 0, 0x2BC123, 0, 0x2BC},
        {"nibble 6, bit 23 set", 0x60, 0, 0xF00000, 0, 0xF00},
        {"nibble 7, ring", 0x74, 0, 0x812000, 1, 0x812},
        {"nibble 10", 0xA0, 0, 0x900000, 0, 0x900},
        {"nibble 11, ring", 0xB4, 0, 0x100000, 1, 0x100},
        {"nibble 14", 0xE0, 0, 0xFFF000, 0, 0xFFF},
        {"nibble 15, ring", 0xF4, 0, 0x800000, 0, 0x800},
        {"nibble 1, no ring, bit 23 set: folded", 0x10, 0, 0xABC123, 0, 0xABC ^ 0x17FF},
        {"nibble 1, no ring, bit 23 clear", 0x10, 0, 0x2BC123, 1, 0x2BC},
        {"nibble 1, ring, MSB copy equal (1)", 0x14, 0, 0xABC123, 1, 0xABC ^ 0x17FF},
        {"nibble 1, ring, MSB copy equal (0)", 0x14, 0, 0x2BC123, 0, 0x2BC ^ 0x17FF},
        {"nibble 1, ring, MSB copy different", 0x14, 0, 0xABC123, 0, 0xABC},
        {"nibble 4 folds too", 0x40, 0, 0x912000, 0, 0x912 ^ 0x17FF},
        {"combine flag, stored nibble 3: folded as nibble 5", 0x30, 1, 0x912000, 0, 0x912 ^ 0x17FF},
        {"stored nibble 3 without the combine flag", 0x30, 0, 0x912000, 0, 0x912},
    };
    for (const Row& row : rows) {
        SIDVoice voice;
        voice.control = row.control;
        voice.waveform = row.control >> 4;
        voice.generatedCombinedTables = row.combine;
        voice.sawPulseQuirk = 0;
        voice.accumulator = row.accumulator;
        // Zero cycles: the accumulator stays, the MSB copy is the value passed in.
        voice.renderWaveBlock(nullptr, 0, 1, 0, 0, row.sourceMsb);
        EXPECT_EQ(voice.nextWaveIndex, row.want) << row.name;
    }

    // After a real block the fold uses the accumulator and the MSB copy as the entry left them.
    Rng rng(0x4E47);
    const TablePool tables(rng);
    for (int j = 0; j < 500; ++j) {
        SIDVoice voice;
        randomVoice(rng, voice, tables);
        voice.control = (pick(rng, 0, 15) << 4) | 4 | (pick(rng, 0, 1) << 1);  // ring, maybe sync
        voice.waveform = voice.control >> 4;
        const SourceCopy source = randomSource(rng);
        ref::Osc model = toRef(voice);
        ref::Source modelSource{source.accumulator, source.frequency, source.msb};
        const uint32_t index = waveRenderIndex(voice, 1);
        std::vector<uint32_t> out(40), ignored(40);
        ref::renderDirect(model, modelSource, index, ignored.data(), 40);
        voice.renderWaveBlock(out.data(), 40, 1, source.accumulator, source.frequency, source.msb);
        uint32_t want = (model.accumulator >> 12) & 0xFFF;
        const bool fold = ((model.accumulator >> 23) & 1) == modelSource.msb;
        if ((index & 2) == 0 && fold)
            want ^= 0x17FF;
        ASSERT_EQ(voice.nextWaveIndex, want) << "state " << j;
    }
}

TEST(WaveSelector, BufferedNextWaveIndexTakesTheLastSourceTop)
{
    SIDVoice voice;
    voice.control = 0x14;  // triangle, ring
    voice.waveform = 1;
    voice.accumulator = 0x812000;
    uint16_t own[5] = {0, 0, 0x800, 0x801, 0x812};
    uint16_t source[5] = {0, 0x800, 0x000, 0x000, 0x900};
    uint32_t out[3];
    voice.renderWaveFromPhases(out, 3, own + 2, source + 2);
    EXPECT_EQ(voice.nextWaveIndex, 0x812u ^ 0x17FF);  // both MSBs 1
    source[4] = 0x100;
    voice.renderWaveFromPhases(out, 3, own + 2, source + 2);
    EXPECT_EQ(voice.nextWaveIndex, 0x812u);
    voice.renderWaveFromPhases(out, 0, own + 2, source + 2);  // N = 0: the top before the block
    EXPECT_EQ(voice.nextWaveIndex, 0x812u ^ 0x17FF);
}

TEST(WaveSelector, BadFlagsStayInsideTheTables)
{
    Rng rng(0xBAD);
    const TablePool tables(rng);
    for (const uint8_t flag : {uint8_t(2), uint8_t(255)}) {
        for (const uint32_t waveform : {0xFFFFFFFFu, 0x16u, 6u, 3u}) {
            SIDVoice voice;
            randomVoice(rng, voice, tables);
            voice.waveform = waveform;
            voice.control = 0xFFFFFFFF;
            voice.delayedOutput = flag;
            voice.sawPulseQuirk = flag;
            voice.generatedCombinedTables = flag;
            EXPECT_LT(waveRenderIndex(voice, 0xFFFFFFFF), kWaveRenderTableSize);
            EXPECT_LT(bufferedWaveRenderIndex(voice), kWaveRenderBufferedTableSize);
            std::vector<uint32_t> out(20);
            std::vector<uint16_t> tops(22), sourceTops(22);
            voice.renderWaveBlock(out.data(), 20, 7, 1, 2, 200);
            voice.renderWaveFromPhases(out.data(), 20, tops.data() + 2, sourceTops.data() + 2);
            EXPECT_EQ(voice.testBit, 1);
            EXPECT_LT(voice.nextWaveIndex, 0x2000u);
        }
    }
}

TEST(WaveSelectorDeathTest, GuardsTableIndexesAndTablePointers)
{
    EXPECT_DEATH(waveRendererAt(1, 2, 0, 0, 0, 0, 0), "");
    EXPECT_DEATH(waveRendererAt(16, 0, 0, 0, 0, 0, 0), "");
    EXPECT_DEATH(bufferedWaveRendererAt(-1, 0, 0, 0), "");
    SIDVoice voice;
    voice.waveform = 3;
    uint32_t out[4];
    EXPECT_DEATH(kWaveRenderTable[3](voice, out, 4, nullptr, nullptr, nullptr), "");
}

// ---------------------------------------------------------------------------------------------
// Three voices driven as the chip drives them: no source, one direct source, or all three
// accumulators stepped together and rendered from their tops.

class ThreeVoices {
public:
    ThreeVoices(const TablePool& tables, Rng& rng, uint8_t delayed, uint8_t quirk, uint8_t combine)
    {
        for (SIDVoice& v : voices_) {
            v.accumulator = v.accumulatorPrev = v.accumulatorPrev2 = 0x555555;
            v.noisePending = v.noiseLatched = 0xFFFFFC;
            v.combinedTable3 = tables.any(rng);
            v.combinedTable5 = tables.any(rng);
            v.combinedTable6 = tables.any(rng);
            v.combinedTable7 = tables.any(rng);
            v.delayedOutput = delayed;
            v.sawPulseQuirk = quirk;
            v.generatedCombinedTables = combine;
        }
    }

    void write(int voice, int reg, uint8_t value)
    {
        SIDVoice& v = voices_[voice];
        switch (reg) {
        case 0: v.frequency = uint16_t((v.frequency & 0xFF00) | value); break;
        case 1: v.frequency = uint16_t((v.frequency & 0x00FF) | (value << 8)); break;
        case 2: v.pulseWidth = uint16_t((v.pulseWidth & 0xF00) | value); break;
        case 3: v.pulseWidth = uint16_t((v.pulseWidth & 0x0FF) | ((value & 15) << 8)); break;
        default:
            v.control = value;
            if (value & 8)
                v.accumulator = 0;
            v.waveform = value >> 4;
            break;
        }
    }

    // Renders `count` cycles in sub-blocks of the given lengths, appending each voice's output.
    void render(uint64_t count, const std::vector<uint64_t>& parts, std::vector<uint32_t> (&out)[3])
    {
        int users = 0, user = -1;
        for (int v = 0; v < 3; ++v) {
            if (voices_[v].control & 6) {
                ++users;
                user = v;
            }
        }
        const bool direct =
            users == 0 || (users == 1 && !((voices_[sourceOf(user)].waveform & 15) == 6 && voices_[0].delayedOutput));
        SourceCopy copy;
        if (users == 1) {
            const SIDVoice& s = voices_[sourceOf(user)];
            copy = {s.accumulator, s.frequency, uint8_t((s.accumulator >> 23) & 1)};
        }
        uint64_t done = 0;
        for (const uint64_t part : parts) {
            std::vector<uint32_t> block[3];
            for (auto& b : block)
                b.resize(part);
            if (direct) {
                for (int v = 0; v < 3; ++v)
                    voices_[v].renderWaveBlock(block[v].data(), part, v == user ? 1 : 0, copy.accumulator,
                                               copy.frequency, copy.msb);
                copy.accumulator += uint32_t(part) * copy.frequency;  // as the entry left its copy
                copy.msb = uint8_t((copy.accumulator >> 23) & 1);
            } else {
                renderFromPhases(part, block);
            }
            for (int v = 0; v < 3; ++v)
                out[v].insert(out[v].end(), block[v].begin(), block[v].end());
            done += part;
        }
        ASSERT_EQ(done, count);
    }

    const SIDVoice& voice(int v) const { return voices_[v]; }

private:
    static int sourceOf(int v) { return (v + 2) % 3; }

    void renderFromPhases(uint64_t count, std::vector<uint32_t> (&block)[3])
    {
        std::vector<uint16_t> tops[3];
        for (int v = 0; v < 3; ++v) {
            tops[v].resize(count + 2);
            tops[v][0] = uint16_t(voices_[v].accumulatorPrev >> 12);
            tops[v][1] = uint16_t(voices_[v].accumulator >> 12);
        }
        for (uint64_t c = 0; c < count; ++c) {
            uint32_t next[3];
            for (int v = 0; v < 3; ++v) {
                const SIDVoice& s = voices_[v];
                if (s.control & 8) {
                    next[v] = 0;
                } else {
                    next[v] = (s.accumulator + s.frequency) & 0xFFFFFF;
                    if (s.sawPulseQuirk && (s.waveform & 15) == 6 && next[v] < 0x821000)
                        next[v] &= 0x7FFFFF;
                }
            }
            bool reset[3];
            for (int v = 0; v < 3; ++v) {
                const int s = sourceOf(v);
                reset[v] = (voices_[v].control & 2) && (next[s] >> 23) && !(voices_[s].accumulator >> 23);
            }
            for (int v = 0; v < 3; ++v) {
                SIDVoice& s = voices_[v];
                s.accumulatorPrev2 = s.accumulatorPrev;
                s.accumulatorPrev = s.accumulator;
                s.accumulator = reset[v] ? 0 : next[v];
                tops[v][c + 2] = uint16_t(s.accumulator >> 12);
            }
        }
        for (int v = 0; v < 3; ++v)
            voices_[v].renderWaveFromPhases(block[v].data(), count, tops[v].data() + 2,
                                            tops[sourceOf(v)].data() + 2);
    }

    SIDVoice voices_[3];
};

TEST(WaveSelector, SplitBlocksGiveTheSameCycles)
{
    Rng rng(0x5B117);
    const TablePool tables(rng);
    int paths[2] = {0, 0};
    for (int sequence = 0; sequence < 200; ++sequence) {
        const uint8_t delayed = uint8_t(pick(rng, 0, 1));
        const uint32_t tableMode = pick(rng, 0, 2);  // quirk, combine, neither
        const uint8_t quirk = tableMode == 0, combine = tableMode == 1;
        const uint64_t seed = rng();
        Rng setupA(seed), setupB(seed);
        ThreeVoices whole(tables, setupA, delayed, quirk, combine), split(tables, setupB, delayed, quirk, combine);
        std::vector<uint32_t> outWhole[3], outSplit[3];
        for (int step = 0; step < 12; ++step) {
            const int writes = int(pick(rng, 1, 6));
            for (int w = 0; w < writes; ++w) {
                const int v = int(pick(rng, 0, 2)), reg = int(pick(rng, 0, 4));
                uint8_t value = uint8_t(pick(rng, 0, 255));
                if (reg == 4) {
                    value &= 0xF1;
                    if (pick(rng, 0, 7) == 0)
                        value |= 8;
                    if (pick(rng, 0, 2) == 0)
                        value |= uint8_t(pick(rng, 1, 3) << 1);
                }
                whole.write(v, reg, value);
                split.write(v, reg, value);
            }
            const uint64_t count = pick(rng, 1, 600);
            std::vector<uint64_t> parts;
            for (uint64_t left = count; left > 0;) {
                const uint64_t part = std::min<uint64_t>(left, pick(rng, 1, 3) == 1 ? pick(rng, 1, 9) : pick(rng, 1, 300));
                parts.push_back(part);
                left -= part;
            }
            int users = 0;
            for (int v = 0; v < 3; ++v)
                users += (whole.voice(v).control & 6) != 0;
            ++paths[users >= 2];
            whole.render(count, {count}, outWhole);
            split.render(count, parts, outSplit);
            for (int v = 0; v < 3; ++v) {
                ASSERT_EQ(outSplit[v], outWhole[v]) << "sequence " << sequence << " step " << step << " voice " << v;
                ASSERT_EQ(fieldsOf(split.voice(v)), fieldsOf(whole.voice(v)))
                    << "sequence " << sequence << " step " << step << " voice " << v;
            }
        }
    }
    EXPECT_GT(paths[0], 100);  // both kinds of paths were taken
    EXPECT_GT(paths[1], 100);
}

}  // namespace
