#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/VgmBuilder.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using fixtures::VgmBuilder;
using VGM::VGMX;
using VGM::VGMXChip;
using vgmxtest::letters;
using vgmxtest::W;

namespace {

constexpr uint32_t kNtsc = 3579545;

bool read(VGMX& log, const std::vector<uint8_t>& bytes, bool tag = true)
{
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    return VGM::readVgm(log, source, tag);
}

// A log with a PSG that is written twice, which keeps it in the song.
VgmBuilder psgLog(uint32_t version = 0x171)
{
    VgmBuilder vgm(version);
    vgm.clock(VgmBuilder::kSn76489, kNtsc);
    return vgm;
}

const VGMXChip& chip(const VGMX& log, int32_t kind)
{
    static const VGMXChip kNone;
    const auto it = log.song.chips.find(kind);
    EXPECT_NE(it, log.song.chips.end()) << "no chip of kind " << kind;
    return it == log.song.chips.end() ? kNone : it->second;
}

std::string hex8(size_t position)
{
    char text[16];
    std::snprintf(text, sizeof text, "%08X", unsigned(position));
    return text;
}

}  // namespace

TEST(VGMFile, HeaderFailuresLeaveTheSongAlone)
{
    VgmBuilder old = psgLog(0x0FF);
    old.raw({0x50, 1, 0x50, 2, 0x66});
    std::vector<uint8_t> noMarker = psgLog().raw({0x50, 1, 0x50, 2, 0x66}).build();
    noMarker[3] = 'x';
    std::vector<uint8_t> tooShort = psgLog().raw({0x50, 1, 0x50, 2, 0x66}).build();
    tooShort.resize(127);
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        const char* message;
    } kCases[] = {
        {"127 bytes", tooShort, "VGM: File too short\n"},
        {"no marker", noMarker, "VGM: marker not found\n"},
        {"version 0x0FF", old.build(), "VGM: bad version 00FF \n"},
    };
    for (const auto& c : kCases) {
        VGMX log;
        vgmxtest::fillSentinel(log);
        EXPECT_FALSE(read(log, c.bytes)) << c.what;
        EXPECT_EQ(log.message, c.message) << c.what;
        EXPECT_TRUE(vgmxtest::isSentinel(log)) << c.what;
    }
}

TEST(VGMFile, A128ByteFileReadsItsCommandsFrom0x40)
{
    const std::vector<uint8_t> bytes =
        VgmBuilder(0x150, 0x40).clock(VgmBuilder::kSn76489, kNtsc).raw({0x50, 1, 0x50, 2, 0x66}).padTo(128).build();
    ASSERT_EQ(bytes.size(), 128u);
    VGMX log;
    vgmxtest::fillSentinel(log);
    ASSERT_TRUE(read(log, bytes)) << log.message;
    EXPECT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{0});
    const VGMXChip& psg = chip(log, 0);
    EXPECT_EQ(psg.events, (std::vector<VGMXEvent>{VGMXEvent::pack(0, 'S', 0, 0, 0), W(0, 1), W(0, 2),
                                                  VGMXEvent::pack(0, 'E', 0, 0, 0)}));
    EXPECT_EQ(psg.typeName, "SN76489");
    EXPECT_EQ(psg.displayName, "DCSG");
    EXPECT_EQ(psg.clock, kNtsc);
    EXPECT_EQ(psg.rate, 44100u);
    EXPECT_EQ(psg.subtype, 0u);
    EXPECT_EQ(log.song.loaded, 1);
    EXPECT_EQ(log.message, "");
}

TEST(VGMFile, OldVersionsTakeTheFmClocksFromTheYm2413Field)
{
    VgmBuilder vgm(0x101, 0x40);
    vgm.clock(VgmBuilder::kYm2413, kNtsc);
    for (uint8_t op : {0x51, 0x52, 0x54})
        vgm.write(op, 0x20, 1).write(op, 0x21, 2);
    VGMX log;
    ASSERT_TRUE(read(log, vgm.end().padTo(128).build())) << log.message;
    EXPECT_EQ(vgmxtest::kinds(log.song), (std::vector<int32_t>{4, 5, 6}));
    for (int32_t kind : {4, 5, 6}) {
        EXPECT_EQ(chip(log, kind).clock, kNtsc) << kind;
        EXPECT_EQ(letters(chip(log, kind)), "SWWE") << kind;
    }
    EXPECT_EQ(chip(log, 5).typeName, "YM2612");
    EXPECT_EQ(chip(log, 6).displayName, "OPM");
}

TEST(VGMFile, WaitsBecomeTheNextWriteOfEveryChip)
{
    VgmBuilder vgm = psgLog();
    vgm.clock(VgmBuilder::kYm2413, kNtsc);
    vgm.write(0x51, 1, 1).raw({0x50, 7}).raw({0x62, 0x63, 0x7F}, 1633).write(0x51, 2, 2).raw({0x61, 0x10, 0x00}, 16);
    vgm.raw({0x50, 8, 0x66});
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build())) << log.message;
    EXPECT_EQ(vgmxtest::only(chip(log, 4), 'W'), (std::vector<VGMXEvent>{W(1, 1), W(2, 2, 0, 1633)}));
    EXPECT_EQ(vgmxtest::only(chip(log, 0), 'W'), (std::vector<VGMXEvent>{W(0, 7), W(0, 8, 0, 1649)}));
    for (int32_t kind : {0, 4})
        EXPECT_EQ(chip(log, kind).total, 1649u) << kind;
    EXPECT_EQ(log.message, "");
}

TEST(VGMFile, WritesToAbsentChipsAreConsumedWithoutEvents)
{
    // No YM2612, YM2151, AY or second PSG: their operands must still be skipped, or the 0x66
    // inside them would end the data.
    VgmBuilder vgm = psgLog();
    vgm.raw({0x52, 0x2A, 0x66, 0x54, 0x08, 0x66, 0xA0, 0x01, 0x66, 0x30, 0x66, 0xA2, 0x66, 0x66});
    vgm.raw({0x50, 1, 0x50, 2, 0x66});
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build())) << log.message;
    EXPECT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{0});
    EXPECT_EQ(letters(chip(log, 0)), "SWWE");
}

TEST(VGMFile, SecondChipsNeedTheirClockBit)
{
    const struct {
        const char* what;
        size_t field;
        uint32_t clock;
        std::vector<uint8_t> commands;
        int32_t kind;
        bool made;
        size_t writes = 2;
    } kCases[] = {
        {"PSG, bit 31", VgmBuilder::kSn76489, kNtsc | 0x80000000u, {0x30, 1, 0x3F, 2}, 1, true},
        {"PSG, bit 30 only", VgmBuilder::kSn76489, kNtsc | 0x40000000u, {0x30, 1, 0x3F, 2}, 1, false},
        {"YM2612, bit 30", VgmBuilder::kYm2612, 7670453 | 0x40000000u, {0xA2, 1, 1, 0xA3, 2, 2}, 17, true},
        {"YM2612, no bit", VgmBuilder::kYm2612, 7670453, {0xA2, 1, 1, 0xA3, 2, 2}, 17, false},
        {"YM2610B second", VgmBuilder::kYm2610, 8000000 | 0xC0000000u, {0xA8, 1, 1, 0xA9, 2, 2}, 22, true},
        // The AY and NES commands only ask for the first chip's clock.
        {"AY second without bit 30", VgmBuilder::kAy8910, 1789772, {0xA0, 0x81, 1, 0xA0, 0x82, 2, 0xA0, 0x83, 3}, 32, true, 3},
        {"NES second without bit 30", VgmBuilder::kNes, 1789772, {0xB4, 0x81, 1, 0xB4, 0x82, 2, 0xB4, 0x83, 3}, 45, true, 3},
    };
    for (const auto& c : kCases) {
        VgmBuilder vgm = psgLog();
        vgm.raw({0x50, 1, 0x50, 2}).clock(c.field, c.clock).raw(c.commands).end();
        VGMX log;
        ASSERT_TRUE(read(log, vgm.build())) << c.what << log.message;
        const auto it = log.song.chips.find(c.kind);
        ASSERT_EQ(it != log.song.chips.end(), c.made) << c.what;
        if (c.made) {
            EXPECT_EQ(vgmxtest::only(it->second, 'W').size(), c.writes) << c.what;
        }
    }
}

TEST(VGMFile, UnknownOpcodes)
{
    // 0x01 takes one operand (here 0x66, which must not end the data).
    VgmBuilder one = psgLog();
    one.raw({0x50, 1});
    const size_t at = one.position();
    one.raw({0x01, 0x66, 0x50, 2, 0x66});
    VGMX log;
    ASSERT_TRUE(read(log, one.build())) << log.message;
    EXPECT_EQ(log.message, hex8(at) + " UNKNOWN OPCODE 0x01, advancing 1\n");
    EXPECT_EQ(letters(chip(log, 0)), "SWWE");

    // 0x96 ends the data: the write after it is never read.
    for (uint8_t op : {0x60, 0x64, 0x69, 0x96, 0x9F}) {
        VgmBuilder last = psgLog();
        last.raw({0x50, 1, 0x50, 2});
        const size_t end = last.position();
        last.raw({op, 0x50, 3, 0x66});
        VGMX log;
        ASSERT_TRUE(read(log, last.build())) << log.message;
        char expected[80];
        std::snprintf(expected, sizeof expected, "%08X UNKNOWN OPCODE 0x%02X, advancing 0\n", unsigned(end), op);
        EXPECT_EQ(log.message, std::string(expected) + "Treating this last opcode as the end\n");
        EXPECT_EQ(letters(chip(log, 0)), "SWWE") << int(op);
    }
}

TEST(VGMFile, TheDataEndsAtTheEndOfFileOffset)
{
    // A data start at or past the data end reads nothing.
    VgmBuilder past = psgLog();
    past.raw({0x50, 1, 0x50, 2, 0x66});
    std::vector<uint8_t> bytes = past.build();
    bytes[0x04] = 0xF0;  // end of file at 0xF4, before the data at 0x100
    bytes[0x05] = 0;
    VGMX log;
    EXPECT_FALSE(read(log, bytes));
    EXPECT_EQ(log.message, "no chips used?\n");

    // No 0x66: the data end is the end of the file.
    VgmBuilder open = psgLog();
    open.raw({0x50, 1, 0x50, 2});
    VGMX unterminated;
    ASSERT_TRUE(read(unterminated, open.build())) << unterminated.message;
    EXPECT_EQ(letters(chip(unterminated, 0)), "SWWE");

    // An end-of-file offset that stops before the second write.
    std::vector<uint8_t> cut = psgLog().raw({0x50, 1, 0x50, 2, 0x50, 3, 0x66}).build();
    cut[0x04] = 0x00;  // the data ends at 0x104
    cut[0x05] = 0x01;
    VGMX shortened;
    ASSERT_TRUE(read(shortened, cut)) << shortened.message;
    EXPECT_EQ(vgmxtest::only(chip(shortened, 0), 'W'), (std::vector<VGMXEvent>{W(0, 1), W(0, 2)}));
}

TEST(VGMFile, Gd3TagNeedsASourceThatSeeksBack)
{
    VgmBuilder vgm = psgLog();
    vgm.raw({0x50, 1, 0x50, 2, 0x66}).gd3({u"Title"});
    const std::vector<uint8_t> bytes = vgm.build();

    fixtures::ForwardOnlyFile forward(bytes.data(), bytes.size());
    VGMX log;
    EXPECT_FALSE(VGM::readVgm(log, forward, true));
    EXPECT_EQ(log.message, "cannot seek backwards\n");
    EXPECT_EQ(log.song.loaded, 0);

    fixtures::ForwardOnlyFile again(bytes.data(), bytes.size());
    VGMX untagged;
    EXPECT_TRUE(VGM::readVgm(untagged, again, false)) << untagged.message;
    EXPECT_EQ(untagged.song.tags[VGM::VGMXSong::kTrackName], "");

    VGMX tagged;
    ASSERT_TRUE(read(tagged, bytes));
    EXPECT_EQ(tagged.song.tags[VGM::VGMXSong::kTrackName], "Title");
}

TEST(VGMFile, Gd3Texts)
{
    const std::vector<std::u16string> eleven = {
        u"Title \U0001F600 end", u"J title", u"Gam\u00e9", u"J game", u"System", u"J system",
        u"Author", u"J author", u"2024", u"Converter", u"Notes"};
    VgmBuilder vgm = psgLog();
    vgm.raw({0x50, 1, 0x50, 2, 0x66}).gd3(eleven);
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build())) << log.message;
    const auto& tags = log.song.tags;
    EXPECT_EQ(tags[VGM::VGMXSong::kTrackName], "Title \xF0\x9F\x98\x80 end");
    EXPECT_EQ(tags[VGM::VGMXSong::kGameName], "Gam\xC3\xA9");
    EXPECT_EQ(tags[VGM::VGMXSong::kAuthor], "Author");
    EXPECT_EQ(tags[VGM::VGMXSong::kNotes], "Notes");

    // Texts past the length end the reading; odd or zero lengths and old versions skip the tag.
    auto utf16 = [](const std::u16string& text) {
        std::vector<uint8_t> bytes;
        for (char16_t u : text) {
            bytes.push_back(uint8_t(u));
            bytes.push_back(uint8_t(u >> 8));
        }
        return bytes;
    };
    const std::vector<uint8_t> two = utf16(std::u16string(u"One\0Two\0Three", 13));
    const struct {
        const char* what;
        std::vector<uint8_t> bytes;
        uint32_t length;
        uint32_t version;
        std::vector<std::string> expected;  // the first tags
    } kCases[] = {
        {"third text runs past the length", two, uint32_t(two.size()), 0x100, {"One", "Two", ""}},
        {"length cuts the second text", two, 6, 0x100, {"", "", ""}},
        {"length cuts after the first text", two, 8, 0x100, {"One", "", ""}},
        {"odd length", two, 9, 0x100, {"", "", ""}},
        {"zero length", two, 0, 0x100, {"", "", ""}},
        {"version 0xFF", two, uint32_t(two.size()), 0xFF, {"", "", ""}},
        {"length past the file", two, 4000, 0x100, {"One", "Two", ""}},
    };
    for (const auto& c : kCases) {
        VgmBuilder tagged = psgLog();
        tagged.raw({0x50, 1, 0x50, 2, 0x66}).gd3Raw(c.bytes, c.length, c.version);
        VGMX log;
        ASSERT_TRUE(read(log, tagged.build())) << c.what << log.message;
        for (size_t i = 0; i < c.expected.size(); ++i)
            EXPECT_EQ(log.song.tags[i], c.expected[i]) << c.what << " tag " << i;
    }

    // A head cut by the end of the file: no tag.
    VgmBuilder cut = psgLog();
    cut.raw({0x50, 1, 0x50, 2, 0x66}).gd3({u"Title"});
    std::vector<uint8_t> bytes = cut.build();
    bytes.resize(0x14 + (bytes[0x14] | bytes[0x15] << 8) + 10);
    VGMX headless;
    ASSERT_TRUE(read(headless, bytes)) << headless.message;
    EXPECT_EQ(headless.song.tags[VGM::VGMXSong::kTrackName], "");
}

TEST(VGMFile, TheFirstPcmChipGivesTheDacChannels)
{
    // Both the SegaPCM and the RF5C68 clock: 16 SegaPCM channels. Two stream writes per
    // channel keep them in the song.
    VgmBuilder vgm = psgLog();
    vgm.clock(VgmBuilder::kSegaPcm, 4000000).clock(VgmBuilder::kSegaPcmInterface, 0x000F0000).clock(VgmBuilder::kRf5c68, 12500000);
    vgm.raw({0x50, 1, 0x50, 2});
    for (uint8_t c = 0; c < 16; ++c)
        vgm.raw({0x90, c, 0x02, 0x00, 0x2A});
    VGMX log;
    ASSERT_TRUE(read(log, vgm.end().build())) << log.message;
    for (int32_t kind = 84; kind < 100; ++kind) {
        const VGMXChip& dac = chip(log, kind);
        EXPECT_EQ(dac.displayName, "SegaPCM") << kind;
        EXPECT_EQ(dac.typeName, "DAC") << kind;
        EXPECT_EQ(dac.clock, 4000000u);
        EXPECT_EQ(dac.extra, 0x000F0000u);
        EXPECT_EQ(letters(dac), "SWWE") << kind;
    }
    EXPECT_EQ(log.segaPcmBankMask, 0x7Cu);
    EXPECT_EQ(log.segaPcmBankShift, 0u);

    // Each PCM chip alone: its channel count and name.
    const struct {
        size_t field;
        uint32_t channels;
        const char* name;
    } kChips[] = {{VgmBuilder::kRf5c68, 8, "RF5C68"},    {VgmBuilder::kRf5c164, 2, "RF5C164"},
                  {VgmBuilder::kPwm, 2, "32X PWM"},      {VgmBuilder::kUpd7759, 1, "uPD7759"},
                  {VgmBuilder::kOkim6258, 8, "OKIM6258"}, {VgmBuilder::kOkim6295, 8, "OKIM6295"}};
    for (const auto& c : kChips) {
        VgmBuilder one = psgLog();
        one.clock(c.field, 1000000).set8(VgmBuilder::kOkim6258Flags, 5).raw({0x50, 1, 0x50, 2});
        for (uint8_t ch = 0; ch < 16; ++ch)
            one.raw({0x90, ch, 0x02, 0x00, 0x2A});
        VGMX log;
        ASSERT_TRUE(read(log, one.end().build())) << c.name << log.message;
        // Channels past the chip's own are made by the writes alone: three events, dropped.
        std::vector<int32_t> kinds{0};
        for (uint32_t i = 0; i < c.channels; ++i) {
            const VGMXChip& dac = chip(log, 84 + int32_t(i));
            kinds.push_back(84 + int32_t(i));
            EXPECT_EQ(letters(dac), "SWWE") << c.name << " " << i;
            EXPECT_EQ(dac.displayName, c.name) << c.name << " " << i;
            EXPECT_EQ(dac.extra, c.field == VgmBuilder::kOkim6258 ? 5u : 0u) << c.name;
        }
        EXPECT_EQ(vgmxtest::kinds(log.song), kinds) << c.name;
    }
}

TEST(VGMFile, WithoutPcmChipsSixteenPlainDacChannelsAreMadeAndUnusedOnesDropped)
{
    VgmBuilder vgm = psgLog();
    vgm.raw({0x50, 1, 0x50, 2});
    vgm.raw({0x90, 3, 0x02, 0x00, 0x2A, 0x91, 3, 0x00, 0x01, 0x00});
    vgm.raw({0x94, 5});  // one write and the end: three events, dropped
    VGMX log;
    ASSERT_TRUE(read(log, vgm.end().build())) << log.message;
    EXPECT_EQ(vgmxtest::kinds(log.song), (std::vector<int32_t>{0, 87}));
    const VGMXChip& dac = chip(log, 87);
    EXPECT_EQ(letters(dac), "WWWWE");  // no "S"
    EXPECT_EQ(dac.typeName, "DAC");
    EXPECT_EQ(dac.displayName, "DAC");
    EXPECT_EQ(dac.clock, 44100u);
    EXPECT_EQ(dac.rate, 44100u);
    EXPECT_EQ(vgmxtest::only(dac, 'W'), (std::vector<VGMXEvent>{W(0, 0x02), W(1, 0x2A, 0x00), W(2, 0x00), W(3, 0x01, 0x00)}));
}

TEST(VGMFile, ChipsWithoutWritesAreDropped)
{
    VgmBuilder vgm = psgLog();
    vgm.clock(VgmBuilder::kYm2612, 7670453).raw({0x50, 1, 0x50, 2}).end();
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build()));
    EXPECT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{0});

    VgmBuilder silent = psgLog();
    silent.clock(VgmBuilder::kYm2612, 7670453).raw({0x50, 1}).wait(100).end();
    VGMX none;
    EXPECT_FALSE(read(none, silent.build()));
    EXPECT_EQ(none.message, "no chips used?\n");
    EXPECT_EQ(none.song.loaded, 0);
}

TEST(VGMFile, LoopPoint)
{
    VgmBuilder vgm = psgLog();
    vgm.clock(VgmBuilder::kYm2413, kNtsc);
    vgm.raw({0x50, 1}).wait(100).write(0x51, 1, 1).wait(30);
    vgm.loopHere(500).raw({0x50, 2}).wait(200).write(0x51, 2, 2).raw({0x50, 3}).wait(300).end();
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build())) << log.message;
    EXPECT_EQ(log.song.loopStart, 130u);
    EXPECT_EQ(log.song.loopEnd, 630u);
    const VGMXChip& psg = chip(log, 0);
    const VGMXChip& opll = chip(log, 4);
    EXPECT_EQ(letters(psg), "SWLWWE");
    EXPECT_EQ(letters(opll), "SWLWE");
    EXPECT_EQ(psg.loopIndex, 2u);
    EXPECT_EQ(opll.loopIndex, 2u);
    EXPECT_EQ(psg.events[2], VGMXEvent::pack(130, 'L', 0, 0, 0));
    EXPECT_EQ(opll.events[2], VGMXEvent::pack(30, 'L', 0, 0, 0));
    EXPECT_EQ(psg.events[3], W(0, 2));
    EXPECT_EQ(opll.events[3], W(2, 2, 0, 200));
    for (int32_t kind : {0, 4})
        EXPECT_EQ(chip(log, kind).total, 630u);
    EXPECT_EQ(log.message, "");

    // Without loop samples there is no loop, whatever the offset says.
    VgmBuilder none = psgLog();
    none.raw({0x50, 1}).loopHere(0).raw({0x50, 2, 0x66});
    VGMX plain;
    ASSERT_TRUE(read(plain, none.build()));
    EXPECT_EQ(letters(chip(plain, 0)), "SWWE");
    EXPECT_EQ(chip(plain, 0).loopIndex, VGMXChip::kNoLoop);
    EXPECT_EQ(plain.song.loopEnd, VGMXChip::kNoLoop);
}

TEST(VGMFile, AHeaderTotalOtherThanTheCountIsReportedAndEveryChipEndsTogether)
{
    VgmBuilder vgm = psgLog();
    vgm.clock(VgmBuilder::kYm2413, kNtsc).totalSamples(12345);
    vgm.write(0x51, 1, 1).write(0x51, 2, 2).wait(70000).raw({0x50, 1, 0x50, 2}).wait(5).end();
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build())) << log.message;
    EXPECT_EQ(log.message, "TotalLength!=sampleCount\n");
    for (int32_t kind : {0, 4}) {
        EXPECT_EQ(chip(log, kind).total, 70005u) << kind;
        EXPECT_EQ(vgmxtest::sumOfDt(chip(log, kind)), 70005u) << kind;
    }
}

TEST(VGMFile, ChipNamesFromTheHeader)
{
    // The PSG is a Game Gear's once its stereo register gets anything but 0xFF.
    for (const auto& [stereo, type, subtype] :
         {std::tuple{0x0F, "Sega GG", 2u}, std::tuple{0xFF, "SN76489", 0u}}) {
        VgmBuilder vgm = psgLog();
        vgm.raw({0x4F, uint8_t(stereo), 0x50, 2, 0x66});
        VGMX log;
        ASSERT_TRUE(read(log, vgm.build()));
        EXPECT_EQ(chip(log, 0).typeName, type);
        EXPECT_EQ(chip(log, 0).subtype, subtype);
    }
    VgmBuilder sega = psgLog();
    sega.set8(VgmBuilder::kSnShiftWidth, 16).raw({0x50, 1, 0x50, 2, 0x66});
    VGMX psg;
    ASSERT_TRUE(read(psg, sega.build()));
    EXPECT_EQ(chip(psg, 0).typeName, "Sega PSG");
    EXPECT_EQ(chip(psg, 0).subtype, 1u);

    const struct {
        uint8_t type;
        const char* name;
    } kAy[] = {{0x00, "AY8910"}, {0x01, "AY8912"}, {0x02, "AY8913"}, {0x03, "AY8930"}, {0x10, "YM2149"},
               {0x11, "YM3439"}, {0x12, "YMZ284"}, {0x13, "YMZ294"}, {0x55, "AY8910"}};
    for (const auto& c : kAy) {
        VgmBuilder vgm;
        vgm.clock(VgmBuilder::kAy8910, 1789772).set8(VgmBuilder::kAyType, c.type);
        vgm.raw({0xA0, 7, 0x38, 0xA0, 8, 0x0F, 0x66});
        VGMX log;
        ASSERT_TRUE(read(log, vgm.build()));
        EXPECT_EQ(chip(log, 31).typeName, c.name) << int(c.type);
        EXPECT_EQ(chip(log, 31).displayName, "AY");
    }

    VgmBuilder b;
    b.clock(VgmBuilder::kYm2610, 8000000 | 0x80000000u).raw({0x58, 1, 1, 0x59, 2, 2, 0x66});
    VGMX opnb;
    ASSERT_TRUE(read(opnb, b.build()));
    EXPECT_EQ(chip(opnb, 10).typeName, "YM2610B");
    EXPECT_EQ(chip(opnb, 10).displayName, "OPNB2");
    EXPECT_EQ(chip(opnb, 10).clock, 8000000u);
    EXPECT_EQ(vgmxtest::only(chip(opnb, 10), 'W'), (std::vector<VGMXEvent>{W(1, 1, 0), W(2, 2, 1)}));
}

TEST(VGMFile, EveryChipOfTheHeaderTable)
{
    const struct {
        size_t field;
        std::vector<uint8_t> commands;  // two writes
        int32_t kind;
        const char* type;
        const char* display;
        std::vector<VGMXEvent> writes;  // the first ones
    } kChips[] = {
        {VgmBuilder::kYm2413, {0x51, 1, 2, 0x51, 3, 4}, 4, "YM2413", "OPLL", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kYm2612, {0x52, 1, 2, 0x53, 3, 4}, 5, "YM2612", "OPN2", {W(1, 2), W(3, 4, 1)}},
        {VgmBuilder::kYm2151, {0x54, 1, 2, 0x54, 3, 4}, 6, "YM2151", "OPM", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kYm2203, {0x55, 1, 2, 0x55, 3, 4}, 7, "YM2203", "OPN", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kYm2608, {0x56, 1, 2, 0x57, 3, 4}, 8, "YM2608", "OPNA", {W(1, 2), W(3, 4, 1)}},
        {VgmBuilder::kYm2610, {0x58, 1, 2, 0x59, 3, 4}, 9, "YM2610", "OPNB", {W(1, 2), W(3, 4, 1)}},
        {VgmBuilder::kYm3812, {0x5A, 1, 2, 0x5A, 3, 4}, 11, "YM3812", "OPL2", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kYm3526, {0x5B, 1, 2, 0x5B, 3, 4}, 12, "YM3526", "OPL", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kY8950, {0x5C, 1, 2, 0x5C, 3, 4}, 13, "Y8950", "MSX-AUDIO", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kYmf262, {0x5E, 1, 2, 0x5F, 3, 4}, 15, "YMF262", "OPL3", {W(1, 2), W(3, 4, 1)}},
        {VgmBuilder::kYmz280b, {0x5D, 1, 2, 0x5D, 3, 4}, 14, "YMZ280B", "PCMD8", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kGameBoy, {0xB3, 1, 2, 0xB3, 3, 4}, 48, "GBDMG", "DMG-CPU", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kNes, {0xB4, 0x15, 2}, 44, "RP2A0X", "NESAPU", {W(0x15, 0x0F), W(0x15, 2)}},
        {VgmBuilder::kPokey, {0xBB, 1, 2, 0xBB, 3, 4}, 36, "Pokey", "Pokey", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kK051649, {0xD2, 1, 2, 3, 0xD2, 0, 4, 5}, 59, "SCC", "SCC", {W(2, 3, 1), W(4, 5)}},
        {VgmBuilder::kSaa1099, {0xBD, 1, 2, 0xBD, 3, 4}, 53, "SAA1099", "SAA1099", {W(1, 2), W(3, 4)}},
        {VgmBuilder::kMikey, {0x40, 1, 2, 0x4E, 3, 4}, 39, "MIKEY", "MIKEY", {W(1, 2), W(3, 4)}},
    };
    for (const auto& c : kChips) {
        VgmBuilder vgm;
        vgm.clock(c.field, 1000000).raw(c.commands).end();
        VGMX log;
        ASSERT_TRUE(read(log, vgm.build())) << c.type << log.message;
        EXPECT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{c.kind}) << c.type;
        const VGMXChip& made = chip(log, c.kind);
        EXPECT_EQ(made.typeName, c.type);
        EXPECT_EQ(made.displayName, c.display);
        EXPECT_EQ(made.clock, 1000000u) << c.type;
        const std::vector<VGMXEvent> writes = vgmxtest::only(made, 'W');
        EXPECT_EQ(std::vector<VGMXEvent>(writes.begin(), writes.begin() + 2), c.writes) << c.type;
    }

    // Chips with no commands of their own are made, then dropped as unused.
    for (size_t field : {VgmBuilder::kYmf278b, VgmBuilder::kYmf271, VgmBuilder::kWonderSwan, VgmBuilder::kVsu,
                         VgmBuilder::kEs5503, VgmBuilder::kEs5506, VgmBuilder::kX1010, VgmBuilder::kC352,
                         VgmBuilder::kGa20}) {
        VgmBuilder vgm = psgLog();
        vgm.clock(field, 1000000).raw({0x50, 1, 0x50, 2, 0x66});
        VGMX log;
        ASSERT_TRUE(read(log, vgm.build()));
        EXPECT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{0}) << field;
    }
}

TEST(VGMFile, NesApuAndFds)
{
    VgmBuilder vgm;
    vgm.clock(VgmBuilder::kNes, 1789772 | 0x80000000u);
    vgm.raw({0xB4, 0x00, 0x30, 0xB4, 0x20, 0x01, 0xB4, 0x3F, 0x02, 0xB4, 0x40, 0x03, 0xB4, 0x7F, 0x04, 0x66});
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build())) << log.message;
    EXPECT_EQ(vgmxtest::only(chip(log, 44), 'W'), (std::vector<VGMXEvent>{W(0x15, 0x0F), W(0x00, 0x30)}));
    EXPECT_EQ(chip(log, 41).typeName, "RP2C33");
    EXPECT_EQ(chip(log, 41).displayName, "FDS");
    EXPECT_EQ(vgmxtest::only(chip(log, 41), 'W'),
              (std::vector<VGMXEvent>{W(0x23, 0x83), W(0x80, 0x01), W(0x23, 0x02), W(0x40, 0x03), W(0x7F, 0x04)}));
}

TEST(VGMFile, DataBlockFailures)
{
    const struct {
        const char* what;
        std::vector<uint8_t> commands;
        const char* message;
    } kCases[] = {
        {"0x67 without 0x66", {0x67, 0x00, 0x00, 4, 0, 0, 0, 1, 2, 3, 4, 0x66}, "data block not at end\n"},
        {"size past the end", {0x67, 0x66, 0x00, 40, 0, 0, 0, 1, 2, 3, 4, 0x66}, "data block busting protection\n"},
        {"0x68 without 0x66", {0x68, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x66}, "pcm ram block not at end\n"},
        {"ROM block shorter than its ROM size and offset", {0x67, 0x66, 0x80, 7, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 0x66},
         "data block busting protection\n"},
        {"RAM block shorter than its 16-bit offset", {0x67, 0x66, 0xC0, 1, 0, 0, 0, 1, 0x66},
         "data block busting protection\n"},
        {"RAM block shorter than its 32-bit offset", {0x67, 0x66, 0xE0, 3, 0, 0, 0, 1, 2, 3, 0x66},
         "data block busting protection\n"},
    };
    for (const auto& c : kCases) {
        VgmBuilder vgm = psgLog();
        vgm.raw({0x50, 1, 0x50, 2}).raw(c.commands);
        VGMX log;
        EXPECT_FALSE(read(log, vgm.build())) << c.what;
        EXPECT_EQ(log.message, c.message) << c.what;
        EXPECT_EQ(log.song.loaded, 0) << c.what;
        EXPECT_EQ(letters(chip(log, 0)), "SWW") << c.what;  // what was made stays
    }
    // A whole PCM RAM write is skipped.
    VgmBuilder ram = psgLog();
    ram.raw({0x50, 1, 0x68, 0x66, 0, 0, 0, 0, 0x66, 0x66, 0x66, 0x66, 0x66, 0x66, 0x50, 2, 0x66});
    VGMX log;
    ASSERT_TRUE(read(log, ram.build())) << log.message;
    EXPECT_EQ(letters(chip(log, 0)), "SWWE");
}

TEST(VGMFile, Ym2612SamplesComeOneBytePerCommand)
{
    VgmBuilder vgm;
    vgm.clock(VgmBuilder::kYm2612, 7670453);
    vgm.dataBlock(0x00, {0x10, 0x20, 0x30, 0x40}).raw({0xE0, 1, 0, 0, 0, 0x81, 0x81}, 2).end();
    VGMX log;
    ASSERT_TRUE(read(log, vgm.build())) << log.message;
    EXPECT_EQ(vgmxtest::only(chip(log, 5), 'W'), (std::vector<VGMXEvent>{W(0x2A, 0x20), W(0x2A, 0x30, 0, 1)}));
    EXPECT_EQ(log.ym2612SamplePosition, 3u);
    EXPECT_EQ(log.song.banks.at(0).sampleStarts, std::set<uint32_t>{1});

    // Past the bank's end nothing more is written.
    VgmBuilder past;
    past.clock(VgmBuilder::kYm2612, 7670453);
    past.dataBlock(0x00, {0x10, 0x20}).raw({0xE0, 1, 0, 0, 0, 0x80, 0x80, 0x80, 0x52, 0x2B, 0x80, 0x66});
    VGMX end;
    ASSERT_TRUE(read(end, past.build())) << end.message;
    EXPECT_EQ(vgmxtest::only(chip(end, 5), 'W'), (std::vector<VGMXEvent>{W(0x2A, 0x20), W(0x2B, 0x80)}));

    // Without a bank: said once.
    VgmBuilder none;
    none.clock(VgmBuilder::kYm2612, 7670453).raw({0x81, 0x81, 0x52, 1, 1, 0x52, 2, 2, 0x66}, 2);
    VGMX missing;
    ASSERT_TRUE(read(missing, none.build())) << missing.message;
    EXPECT_EQ(missing.message, "OPN2 Data needed but no PCM data in file?\n");
}

TEST(VGMFile, DacStreamCommands)
{
    VgmBuilder vgm = psgLog();
    vgm.raw({0x50, 1, 0x50, 2});
    vgm.raw({0x92, 0x12, 0x44, 0x33, 0x22, 0x11});  // channel 2 (the high bits are dropped)
    vgm.raw({0x93, 0x02, 0x04, 0x03, 0x02, 0x01, 0x01, 0x08, 0x07, 0x06, 0x05});
    vgm.raw({0x95, 0x05, 0x34, 0x12, 0x01, 0x94, 0x05, 0x94, 0x05});
    vgm.raw({0x94, 0xFF});  // stops the used channels, 2 and 5
    VGMX log;
    ASSERT_TRUE(read(log, vgm.end().build())) << log.message;
    EXPECT_EQ(vgmxtest::kinds(log.song), (std::vector<int32_t>{0, 86, 89}));
    EXPECT_EQ(vgmxtest::only(chip(log, 86), 'W'),
              (std::vector<VGMXEvent>{W(4, 0x11, 0x22), W(5, 0x33, 0x44), W(8, 0x01, 0x02), W(9, 0x03, 0x04),
                                      W(10, 0x05, 0x06), W(11, 0x07, 0x08), W(12, 0x01), W(14, 0)}));
    EXPECT_EQ(vgmxtest::only(chip(log, 89), 'W'),
              (std::vector<VGMXEvent>{W(13, 0x34, 0x01), W(14, 0), W(14, 0), W(14, 0)}));
}

TEST(VGMFile, AStreamSourceReadsAsTheBytesInMemory)
{
    // Long enough that commands and a data block straddle the stream reader's windows.
    VgmBuilder vgm = psgLog();
    vgm.clock(VgmBuilder::kYm2612, 7670453);
    std::vector<uint8_t> block(100000);
    for (size_t i = 0; i < block.size(); ++i)
        block[i] = uint8_t(i * 7);
    for (uint32_t i = 0; i < 20000; ++i)
        vgm.raw({0x50, uint8_t(i), 0x52, 0x28, uint8_t(i >> 3), 0x7F}, 16);
    vgm.dataBlock(0x00, block).raw({0xE0, 0x10, 0, 0, 0});
    for (uint32_t i = 0; i < 30000; ++i)
        vgm.raw({0x81, 0x61, uint8_t(i), 0x00}, 1 + uint8_t(i));
    const std::vector<uint8_t> bytes = vgm.end().build();

    VGMX memory;
    vantor::VirtualRAMFile ram(bytes.data(), bytes.size());
    ASSERT_TRUE(VGM::readVgm(memory, ram, false)) << memory.message;
    VGMX stream;
    fixtures::ForwardOnlyFile forward(bytes.data(), bytes.size());
    ASSERT_TRUE(VGM::readVgm(stream, forward, false)) << stream.message;
    EXPECT_EQ(vgmxtest::songFingerprint(stream), vgmxtest::songFingerprint(memory));
    EXPECT_EQ(stream.song.banks.at(0).raw, block);
    EXPECT_EQ(vgmxtest::only(chip(stream, 5), 'W').size(), 20000u + 30000u);
    EXPECT_EQ(vgmxtest::only(chip(stream, 5), 'W').back(), W(0x2A, block[0x10 + 29999], 0, 1 + uint8_t(29998)));
}
