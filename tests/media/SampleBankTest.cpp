#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/VgmBuilder.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using fixtures::VgmBuilder;
using VGM::VGMX;
using VGM::VgmHeader;

namespace {

using Samples = std::vector<int16_t>;

// One block added to a fresh song; the bank it made.
const SampleBank& addBlock(VGMX& log, uint8_t type, const std::vector<uint8_t>& data, const VgmHeader& header = {},
                           bool secondChip = false)
{
    EXPECT_TRUE(log.addDataBlock(data.data(), uint32_t(data.size()), header, type, secondChip));
    return log.song.banks.back();
}

std::vector<uint8_t> romBlock(uint32_t romSize, uint32_t offset, const std::vector<uint8_t>& data)
{
    std::vector<uint8_t> block;
    for (uint32_t v : {romSize, offset})
        for (int i = 0; i < 4; ++i)
            block.push_back(uint8_t(v >> (8 * i)));
    block.insert(block.end(), data.begin(), data.end());
    return block;
}

// The OKI ADPCM step sizes as the chips' documentation derives them: 16 × 1.1^n.
int32_t referenceStep(int32_t n)
{
    return int32_t(std::floor(16.0 * std::pow(1.1, n)));
}

}  // namespace

TEST(SampleBank, EveryBlockMakesABankInOrder)
{
    VgmBuilder vgm;
    vgm.clock(VgmBuilder::kSn76489, 3579545).raw({0x50, 1, 0x50, 2});
    vgm.dataBlock(0x00, {1, 2}).dataBlock(0x01, {3, 4, 5}).dataBlock(0x00, {6}).end();
    const std::vector<uint8_t> bytes = vgm.build();
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    VGMX log;
    ASSERT_TRUE(VGM::readVgm(log, source, true)) << log.message;
    ASSERT_EQ(log.song.banks.size(), 3u);
    EXPECT_EQ(log.song.banks[0].raw, (std::vector<uint8_t>{1, 2}));
    EXPECT_EQ(log.song.banks[1].type, 1u);
    EXPECT_TRUE(log.song.banks[1].raw.empty());
    EXPECT_TRUE(log.song.banks[1].samples.empty());
    EXPECT_EQ(log.song.banks[2].samples, Samples{6});
}

TEST(SampleBank, Ym2612AndSegaPcmBytes)
{
    VGMX log;
    const SampleBank& ym = addBlock(log, 0x00, {0x80, 0x00, 0xFF});
    EXPECT_EQ(ym.samples, (Samples{128, 0, 255}));
    EXPECT_EQ(ym.raw, (std::vector<uint8_t>{0x80, 0x00, 0xFF}));
    EXPECT_EQ(ym.sampleRate, 15734.0f);

    const SampleBank& before = addBlock(log, 0x80, romBlock(0x10000, 0x200, {0x85, 0x00}));
    EXPECT_EQ(before.samples, (Samples{5, -128}));
    EXPECT_EQ(before.raw, (std::vector<uint8_t>{0x85, 0x00}));
    EXPECT_EQ(before.sampleRate, 0.0f);  // no SegaPCM clock yet
    EXPECT_EQ(before.romSize, 0x10000u);
    EXPECT_EQ(before.startOffset, 0x200u);

    log.segaPcmClock = 4000000;
    EXPECT_EQ(addBlock(log, 0x80, romBlock(0, 0, {0x85})).sampleRate, 4000000.0f);
}

TEST(SampleBank, PwmSamplesAreCentredAndGetALevel)
{
    const struct {
        const char* what;
        std::vector<uint8_t> words;  // little-endian
        Samples samples;
        uint16_t level;
    } kCases[] = {
        {"full span", {0x00, 0x08, 0xFF, 0x07}, {-2047, 2048}, 8},
        {"all equal", {0x34, 0x01, 0x34, 0xF1, 0x34, 0x01}, {0, 0, 0}, 1},  // bits 12-15 are not the sample
        {"span of 100", {0x00, 0x00, 0x64, 0x00, 0x0A, 0x00}, {-50, 50, -40}, 256},
        {"odd byte left over", {0x10, 0x00, 0x20, 0x00, 0x99}, {-8, 8}, 0x8000 / 16},
    };
    for (const auto& c : kCases) {
        VGMX log;
        const SampleBank& bank = addBlock(log, 0x03, c.words);
        EXPECT_EQ(bank.samples, c.samples) << c.what;
        EXPECT_EQ(bank.defaultLevel, c.level) << c.what;
        EXPECT_EQ(bank.sampleRate, 22472.0f) << c.what;
        EXPECT_TRUE(bank.raw.empty());
    }
}

TEST(SampleBank, OkiAdpcmFollowsTheStandardSteps)
{
    VGMX log;
    EXPECT_EQ(addBlock(log, 0x04, {0x78}).samples, (Samples{448, 384}));  // from signal -2

    // Nibble 4 climbs two steps at a time, nibble 7 eight; each adds step / 8 + step (+ step / 4 +
    // step / 2). Every step size of the table shows in the climb and in the clamps at both ends.
    auto reference = [](const std::vector<uint8_t>& nibbles) {
        Samples out;
        int32_t signal = 0, index = 0;
        for (uint8_t n : nibbles) {
            const int32_t step = referenceStep(index);
            int32_t d = step / 8 + (n & 1 ? step / 4 : 0) + (n & 2 ? step / 2 : 0) + (n & 4 ? step : 0);
            signal = std::clamp(signal + (n & 8 ? -d : d), -2048, 2047);
            index = std::clamp(index + ((n & 7) < 4 ? -1 : 2 * ((n & 7) - 3)), 0, 48);
            out.push_back(int16_t(signal * 16));
        }
        return out;
    };
    std::vector<uint8_t> nibbles;
    for (int i = 0; i < 25; ++i)
        nibbles.push_back(i % 2 ? 0x4 : 0xC);  // up and down through every even step
    for (int i = 0; i < 49; ++i)
        nibbles.push_back(uint8_t(i % 3 == 0 ? 0x5 : i % 3 == 1 ? 0xD : 0x0));  // and back, one at a time
    for (int i = 0; i < 20; ++i)
        nibbles.push_back(0x7);  // the top step and the positive clamp
    for (int i = 0; i < 20; ++i)
        nibbles.push_back(0xF);  // the negative clamp
    OkiAdpcm decoder;
    Samples decoded;
    for (uint8_t n : nibbles)
        decoded.push_back(decoder.decode(n));
    EXPECT_EQ(decoded, reference(nibbles));
    EXPECT_EQ(decoded[93], 2047 * 16);
    EXPECT_EQ(decoded.back(), -2048 * 16);
    EXPECT_EQ(referenceStep(48), 1552);
}

TEST(SampleBank, PackedBlocks)
{
    const struct {
        const char* what;
        uint8_t type;
        std::vector<uint8_t> block;
        Samples samples;
    } kCases[] = {
        {"copy 16/4 add 0x10", 0x40, fixtures::packedStream(0, 8, 16, 4, 0, 0x10, {0x12, 0x34}), {17, 18, 19, 20}},
        {"shift 8/4", 0x40, fixtures::packedStream(0, 2, 8, 4, 1, 0, {0x12}), {0x10, 0x20}},
        {"copy 16/12 across bytes", 0x40, fixtures::packedStream(0, 4, 16, 12, 0, 0, {0xAB, 0xCD, 0xEF}), {0xABC, 0xDEF}},
        {"copy 32/32 wraps to 16 bits", 0x40, fixtures::packedStream(0, 4, 32, 32, 0, 1, {0x00, 0x01, 0xFF, 0xFF}), {0}},
        {"copy 16/3: what is left over is dropped", 0x40, fixtures::packedStream(0, 4, 16, 3, 0, 0, {0b10101011}), {5, 2}},
        {"other sub-kinds give 0", 0x40, fixtures::packedStream(0, 2, 8, 4, 2, 7, {0x12}), {0, 0}},
        {"9 bytes", 0x40, std::vector<uint8_t>(9, 1), {}},
        {"header only", 0x40, fixtures::packedStream(0, 0, 8, 4, 0, 0, {}), {}},
        {"DPCM: no table is kept", 0x40, fixtures::packedStream(1, 2, 8, 8, 0, 0x80, {1, 2}), {}},
        {"0 bits per packed value", 0x40, fixtures::packedStream(0, 2, 8, 0, 0, 0, {1, 2}), {}},
        {"packed width above 32", 0x40, fixtures::packedStream(0, 2, 40, 33, 0, 0, {1, 2, 3, 4, 5}), {}},
        {"unpacked width above 32", 0x40, fixtures::packedStream(0, 2, 33, 8, 0, 0, {1, 2}), {}},
        {"unpacked narrower than packed", 0x40, fixtures::packedStream(0, 2, 4, 8, 1, 0, {1, 2}), {}},
        {"RF5C164 kind", 0x42, fixtures::packedStream(0, 2, 8, 8, 0, 0, {1, 2}), {}},
        {"OKIM6258 kind", 0x44, fixtures::packedStream(0, 2, 8, 8, 0, 0, {1, 2}), {}},
        {"PWM kind, centred", 0x43, fixtures::packedStream(0, 4, 16, 8, 0, 0, {10, 30}), {-10, 10}},
    };
    for (const auto& c : kCases) {
        VGMX log;
        const SampleBank& bank = addBlock(log, c.type, c.block);
        EXPECT_EQ(bank.samples, c.samples) << c.what;
        EXPECT_EQ(bank.type, c.type) << c.what;
        EXPECT_TRUE(bank.raw.empty()) << c.what;
    }
    VGMX log;
    EXPECT_EQ(addBlock(log, 0x40, fixtures::packedStream(0, 2, 8, 8, 0, 0, {1, 2})).sampleRate, 22472.0f);
    EXPECT_TRUE(addBlock(log, 0x7F, {0x01, 0x00, 8, 8, 2, 0, 1, 2}).samples.empty());  // a table: not kept
}

TEST(SampleBank, RamWritesAndOtherKinds)
{
    VGMX log;
    const SampleBank& nes = addBlock(log, 0xC2, {0x00, 0xC0, 1, 2, 3});
    EXPECT_EQ(nes.startOffset, 0xC000u);
    EXPECT_EQ(nes.romSize, 3u);
    EXPECT_EQ(nes.raw, (std::vector<uint8_t>{1, 2, 3}));
    const SampleBank& wide = addBlock(log, 0xE1, {0x04, 0x03, 0x02, 0x01, 9});
    EXPECT_EQ(wide.startOffset, 0x01020304u);
    EXPECT_EQ(wide.romSize, 1u);
    EXPECT_TRUE(wide.raw.empty());
    EXPECT_EQ(addBlock(log, 0x07, {7, 8}).raw, (std::vector<uint8_t>{7, 8}));
    const SampleBank& rom = addBlock(log, 0x81, romBlock(0x1000, 0x10, {1, 2}));
    EXPECT_EQ(rom.romSize, 0x1000u);
    EXPECT_TRUE(rom.raw.empty());
    EXPECT_TRUE(rom.samples.empty());

    // Blocks shorter than their own head add nothing.
    const size_t banks = log.song.banks.size();
    for (const auto& [type, size] : {std::pair{0x80, 7}, std::pair{0xBF, 0}, std::pair{0xC0, 1}, std::pair{0xFF, 3}}) {
        const std::vector<uint8_t> data(size_t(size), 0);
        EXPECT_FALSE(log.addDataBlock(data.data(), uint32_t(size), {}, uint8_t(type), false)) << type;
    }
    EXPECT_EQ(log.song.banks.size(), banks);
}

TEST(SampleBank, TheStreamFormReadsTheBlock)
{
    const std::vector<uint8_t> bytes{0xAA, 0x10, 0x20, 0x30, 0xBB};
    vantor::VirtualRAMFile stream(bytes.data(), bytes.size());
    stream.seek(1);
    VGMX log;
    ASSERT_TRUE(log.addDataBlock(stream, {}, 0x00, 3, false));
    EXPECT_EQ(log.song.banks.at(0).raw, (std::vector<uint8_t>{0x10, 0x20, 0x30}));
    EXPECT_EQ(stream.tell(), 4);
    // A stream that ends first gives what it holds.
    ASSERT_TRUE(log.addDataBlock(stream, {}, 0x00, 100, false));
    EXPECT_EQ(log.song.banks.at(1).raw, (std::vector<uint8_t>{0xBB}));
}

namespace {

// An OKIM6295 ROM: the phrase table with phrase p at [start, end].
std::vector<uint8_t> okiTable(const std::vector<std::tuple<uint32_t, uint32_t, uint32_t>>& phrases)
{
    std::vector<uint8_t> rom(0x400, 0);
    for (const auto& [p, start, end] : phrases) {
        uint8_t* e = &rom[8 * p];
        e[0] = uint8_t(start >> 16);
        e[1] = uint8_t(start >> 8);
        e[2] = uint8_t(start);
        e[3] = uint8_t(end >> 16);
        e[4] = uint8_t(end >> 8);
        e[5] = uint8_t(end);
    }
    return rom;
}

Samples okiDecoded(const std::vector<uint8_t>& bytes)
{
    OkiAdpcm decoder;
    Samples out;
    for (uint8_t b : bytes)
        decoder.decodeByte(b, out);
    return out;
}

}  // namespace

TEST(SampleBank, OkiPhrasesAreDecodedByTheBlockThatCompletesThem)
{
    VgmHeader header;
    header.setU32(0x98, 1000000);
    const std::vector<uint8_t> phraseBytes{0x17, 0x28, 0x39, 0x4A, 0x5B, 0x6C, 0x7D, 0x8E};

    // The table, phrase 1 at 0x400-0x407 and phrase 2 at 0x408-0x40B: phrase 1's first half
    // comes with the table, the rest with the second block.
    std::vector<uint8_t> first = okiTable({{1, 0x400, 0x407}, {2, 0x408, 0x40B}});
    first.insert(first.end(), phraseBytes.begin(), phraseBytes.begin() + 4);
    VGMX log;
    const SampleBank& bank0 = addBlock(log, 0x8B, romBlock(0x40000, 0, first), header);
    EXPECT_FLOAT_EQ(bank0.sampleRate, 1000000.0f / 165.0f);
    ASSERT_EQ(log.okiTables.size(), 1u);
    EXPECT_EQ(log.okiTables[0].tableComplete, 1);
    EXPECT_FALSE(log.okiTables[0].phrases[1].decoded);
    EXPECT_FALSE(log.okiTables[0].phrases[2].decoded);
    EXPECT_TRUE(log.okiTables[0].phrases[0].decoded);  // [0, 0]: its one byte came with the table
    EXPECT_EQ(log.okiTables[0].phrases[0].sampleLength, 2u);

    std::vector<uint8_t> second(phraseBytes.begin() + 4, phraseBytes.end());
    second.insert(second.end(), {0x11, 0x22, 0x33});  // phrase 2 lacks its last byte
    addBlock(log, 0x8B, romBlock(0x40000, 0x404, second), header);
    const OkiPhrase& one = log.okiTables[0].phrases[1];
    ASSERT_TRUE(one.decoded);
    EXPECT_EQ(one.bank, 1);
    EXPECT_EQ(one.sampleStart, 0u);
    EXPECT_EQ(one.sampleLength, 2u * (0x407 - 0x400 + 1));
    EXPECT_EQ(log.song.banks[1].samples, okiDecoded(phraseBytes));
    EXPECT_FALSE(log.okiTables[0].phrases[2].decoded);

    // The last byte, in a block of its own: phrase 2 goes to that block's bank.
    addBlock(log, 0x8B, romBlock(0x40000, 0x40B, {0x44}), header);
    const OkiPhrase& two = log.okiTables[0].phrases[2];
    ASSERT_TRUE(two.decoded);
    EXPECT_EQ(two.bank, 2);
    EXPECT_EQ(two.sampleLength, 8u);
    EXPECT_EQ(log.song.banks[2].samples, okiDecoded({0x11, 0x22, 0x33, 0x44}));
    EXPECT_TRUE(log.song.banks[1].samples.size() == 16u);
}

TEST(SampleBank, OkiPhrasesWaitForTheirTableAndTheirBytes)
{
    VgmHeader header;
    header.setU32(0x98, 1000000 | 0x80000000u);
    // Phrase data first, for chip 1, then the table's entries without the rest of the table.
    VGMX log;
    const SampleBank& data = addBlock(log, 0x8B, romBlock(0x40000, 0x800, {0x12, 0x34}), header, true);
    EXPECT_FLOAT_EQ(data.sampleRate, 1000000.0f / 132.0f);
    ASSERT_EQ(log.okiTables.size(), 2u);
    EXPECT_EQ(log.okiTables[1].rom.size(), 0x802u);
    EXPECT_FALSE(log.okiTables[1].phrases[3].decoded);

    const std::vector<uint8_t> table = okiTable({{3, 0x800, 0x801}});
    // Entry 3 alone, in a block at 0x18: written, but the table is not complete.
    addBlock(log, 0x8B, romBlock(0x40000, 0x18, std::vector<uint8_t>(table.begin() + 0x18, table.begin() + 0x20)),
             header, true);
    const OkiPhrase& three = log.okiTables[1].phrases[3];
    ASSERT_TRUE(three.decoded);  // a block below 0x400 takes any phrase whose bytes are all there
    EXPECT_EQ(three.bank, 1);
    EXPECT_EQ(log.song.banks[1].samples, okiDecoded({0x12, 0x34}));
    EXPECT_EQ(log.okiTables[1].tableComplete, 0);
    EXPECT_FALSE(log.okiTables[1].phrases[0].decoded);  // its entry was never written
    EXPECT_TRUE(log.okiTables[0].rom.empty());
}

TEST(SampleBank, OkiRomsReachingPast16MiBAreNotKept)
{
    VGMX log;
    const uint32_t offset = (16u << 20) - 2;
    const SampleBank& bank = addBlock(log, 0x8B, romBlock(0, offset, {1, 2, 3}));
    EXPECT_TRUE(bank.samples.empty());
    EXPECT_TRUE(log.okiTables.empty());
    // Just below: kept, but only the 20-bit space that phrases can address is stored.
    addBlock(log, 0x8B, romBlock(0, offset - 1, {1, 2, 3}));
    ASSERT_EQ(log.okiTables.size(), 1u);
    EXPECT_EQ(log.okiTables[0].rom.size(), OkiPhraseTable::kAddressable);
}

TEST(SampleBank, ByteMaskRanges)
{
    ByteMask mask;
    mask.resize(200);
    mask.set(3, 130);
    EXPECT_TRUE(mask.all(3, 130));
    EXPECT_FALSE(mask.all(2, 130));
    EXPECT_FALSE(mask.all(3, 131));
    EXPECT_TRUE(mask.all(64, 128));
    EXPECT_TRUE(mask.all(50, 50));
    EXPECT_FALSE(mask.all(190, 201));
    EXPECT_TRUE(mask.test(129));
    EXPECT_FALSE(mask.test(130));
    mask.resize(100);
    mask.resize(200);
    EXPECT_FALSE(mask.test(100));  // cut bits come back clear
    EXPECT_TRUE(mask.all(3, 100));
}
