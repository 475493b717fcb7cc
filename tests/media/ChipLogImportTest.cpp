#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/ChipLogWriters.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using fixtures::asString;
using VGM::VGMX;
using VGM::VGMXChip;
using VGM::VGMXSong;
using vgmxtest::letters;

namespace {

std::string bytesOf(const fixtures::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::string ymFrames(const char* tag, uint32_t frames)
{
    fixtures::YmFile ym;
    ym.tag = tag;
    ym.frames = frames;
    return asString(fixtures::makeYm(ym));
}

std::string gzipped(const std::string& data)
{
    return bytesOf(fixtures::makeGzip(data));
}

// Checks that the chip holds, after its "S", the register writes of `frames` frames read
// interleaved from `data`, with an "L" before loopFrame when it is in range.
void expectFrames(const VGMXChip& chip, const uint8_t* data, uint32_t frames, int64_t loopFrame)
{
    size_t at = 1;
    for (uint32_t f = 0; f < frames; ++f) {
        if (f == loopFrame) {
            ASSERT_EQ(chip.events.at(at).kind(), 'L');
            EXPECT_EQ(chip.loopIndex, at);
            ++at;
        }
        for (uint32_t r = 0; r < 14; ++r, ++at) {
            ASSERT_LT(at, chip.events.size());
            EXPECT_EQ(chip.events[at], VGMXEvent::pack(r == 0 ? 1 : 0, 'W', uint8_t(r), data[r * frames + f], 0))
                << "frame " << f << " register " << r;
        }
    }
}

}  // namespace

TEST(YmImport, GzippedYm3GivesOneWritePerRegisterAndFrame)
{
    fixtures::TempDir dir;
    const std::string ym = ymFrames("YM3!", 100);
    ASSERT_EQ(ym.size(), 4u + 14 * 100);
    VGMX log;
    ASSERT_TRUE(log.open(dir.write("tune.ym", gzipped(ym))));
    ASSERT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{31});
    const VGMXChip& ay = log.song.chips.at(31);
    EXPECT_EQ(ay.typeName, "AY-3-8910");
    EXPECT_EQ(ay.displayName, "");
    EXPECT_EQ(ay.clock, 1789772u);
    EXPECT_EQ(ay.rate, 60u);
    EXPECT_EQ(letters(ay), "S" + std::string(1400, 'W'));
    expectFrames(ay, reinterpret_cast<const uint8_t*>(ym.data()) + 4, 100, -1);
    EXPECT_EQ(ay.loopIndex, VGMXChip::kNoLoop);
    EXPECT_EQ(ay.total, 100u);
    EXPECT_EQ(log.song.loopEnd, VGMXChip::kNoLoop);
    EXPECT_EQ(log.song.tags[VGMXSong::kTrackName], "tune");
    EXPECT_EQ(log.song.tags[VGMXSong::kGameName], "YM3! import");
    EXPECT_EQ(log.song.loaded, 1);
    EXPECT_EQ(log.path, dir / "tune.ym");
}

TEST(YmImport, NeedsExactlyOneMemberInAContainer)
{
    fixtures::TempDir dir;
    const std::string ym = ymFrames("YM2!", 3);
    const struct {
        const char* name;
        std::string file;
        bool loads;
    } kCases[] = {
        {"zip of one", bytesOf(fixtures::makeZip({{"a.ym", ym}})), true},
        {"7z of one", bytesOf(fixtures::make7z({{"a.ym", ym}})), true},
        {"zip of two", bytesOf(fixtures::makeZip({{"a.ym", ym}, {"b.ym", ym}})), false},
        {"empty zip", bytesOf(fixtures::makeZip({})), false},
        {"plain", ym, false},
    };
    for (const auto& c : kCases) {
        VGMX log;
        vgmxtest::fillSentinel(log);
        EXPECT_EQ(log.importYm(dir.write("t.ym", c.file)), c.loads) << c.name;
        EXPECT_EQ(log.song.chips.contains(31), c.loads) << c.name;
        if (!c.loads)
            EXPECT_TRUE(vgmxtest::isSentinel(log)) << c.name;
        else
            EXPECT_TRUE(log.song.chips.contains(77)) << c.name;  // earlier chips stay
    }
}

TEST(YmImport, Version5LoopsTextsAndClock)
{
    fixtures::YmFile ym;
    ym.tag = "YM5!";
    ym.frames = 20;
    ym.loopFrame = 10;
    ym.digidrums = {"abc"};
    ym.extraHeader = "xy";
    ym.clock = 2000000;
    ym.frameRate = 50;
    VGMX log;
    const auto bytes = fixtures::makeYm(ym);
    const auto gz = fixtures::makeGzip(asString(bytes));
    ASSERT_TRUE(log.importYmFromMemory(gz.data(), gz.size(), "/music/Song.YM"));
    const VGMXChip& ay = log.song.chips.at(31);
    EXPECT_EQ(ay.clock, 2000000u);
    EXPECT_EQ(ay.rate, 50u);
    EXPECT_EQ(ay.events.size(), 1u + 1 + 20 * 14 + 1);
    EXPECT_EQ(ay.loopIndex, 1u + 10 * 14);
    EXPECT_EQ(ay.events.back(), VGMXEvent::pack(0, 'E', 0, 0, 0));
    const size_t dataAt = bytes.size() - 4 - 16 * 20;
    expectFrames(ay, bytes.data() + dataAt, 20, 10);
    EXPECT_EQ(ay.events[1].value(), fixtures::ymRegisterValue(0, 0));
    EXPECT_EQ(log.song.loopStart, 10u);
    EXPECT_EQ(log.song.loopEnd, 20u);
    EXPECT_EQ(log.song.tags[VGMXSong::kAuthor], "Author");
    EXPECT_EQ(log.song.tags[VGMXSong::kNotes], "Comment");
    EXPECT_EQ(log.song.tags[VGMXSong::kTrackName], "Song");
    EXPECT_EQ(log.song.tags[VGMXSong::kGameName], "YM5! import");
}

TEST(YmImport, OtherVersionsAndLoopFrames)
{
    const struct {
        const char* name;
        fixtures::YmFile ym;
        int64_t loopFrame;  // -1: no "L"
        bool end;           // an "E" closes the chip
    } kCases[] = {
        {"YM4", {.tag = "YM4!", .frames = 6, .loopFrame = 2, .digidrums = {"d1", "drum2"}}, 2, true},
        {"YM6 loop 0", {.tag = "YM6!", .frames = 4, .loopFrame = 0, .clock = 1000000}, 0, true},
        {"YM6 loop past the end", {.tag = "YM6!", .frames = 4, .loopFrame = 9}, -1, true},
        {"YM3b", {.tag = "YM3b", .frames = 8, .loopFrame = 5}, 5, true},
        {"YM2", {.tag = "YM2!", .frames = 2}, -1, false},
    };
    for (const auto& c : kCases) {
        const auto bytes = fixtures::makeYm(c.ym);
        const auto gz = fixtures::makeGzip(asString(bytes));
        VGMX log;
        ASSERT_TRUE(log.importYmFromMemory(gz.data(), gz.size(), "x.ym")) << c.name;
        const VGMXChip& ay = log.song.chips.at(31);
        const bool old = c.ym.tag == "YM3b" || c.ym.tag == "YM2!";
        const size_t dataAt = old ? 4 : bytes.size() - 4 - 16 * c.ym.frames;
        expectFrames(ay, bytes.data() + dataAt, c.ym.frames, c.loopFrame);
        EXPECT_EQ(ay.events.back().kind(), c.end ? 'E' : 'W') << c.name;
        if (c.loopFrame < 0) {
            EXPECT_EQ(ay.loopIndex, VGMXChip::kNoLoop) << c.name;
        }
    }
    // The last four bytes of a "YM3b" file are its loop frame, little-endian.
    const auto ym3b = fixtures::makeYm({.tag = "YM3b", .frames = 8, .loopFrame = 5});
    ASSERT_EQ(std::vector<uint8_t>(ym3b.end() - 4, ym3b.end()), (std::vector<uint8_t>{5, 0, 0, 0}));

    // An unknown tag makes a song without frames.
    const auto unknown = fixtures::makeGzip("ABCD and more");
    VGMX log;
    ASSERT_TRUE(log.importYmFromMemory(unknown.data(), unknown.size(), "u.ym"));
    EXPECT_EQ(letters(log.song.chips.at(31)), "S");
    EXPECT_EQ(log.song.tags[VGMXSong::kGameName], "ABCD import");
}

TEST(YmImport, MembersThatRunShortFailAndAddNothing)
{
    auto withFrames = [](const char* tag, uint32_t frames) {
        fixtures::YmFile ym;
        ym.tag = tag;
        ym.frames = frames;
        return fixtures::makeYm(ym);
    };
    auto cutBefore = [](fixtures::Bytes bytes, size_t keep) {
        bytes.resize(keep);
        return bytes;
    };
    fixtures::Bytes tooManyFrames = withFrames("YM5!", 4);
    tooManyFrames[15] = 200;  // frame count
    fixtures::Bytes hugeDrum = fixtures::makeYm({.tag = "YM5!", .frames = 2, .digidrums = {"abc"}});
    hugeDrum[34 + 0] = 0x7F;  // size of the first digidrum
    fixtures::Bytes manyDrums = withFrames("YM6!", 2);
    manyDrums[21] = 50;  // digidrum count
    fixtures::Bytes extraHeader = withFrames("YM5!", 2);
    extraHeader[32] = 0xFF;  // extra header size past the member
    fixtures::Bytes noTextEnd = fixtures::makeYm({.tag = "YM4!", .frames = 0, .comment = "C"});
    noTextEnd[noTextEnd.size() - 5] = 'x';  // the comment's zero
    const struct {
        const char* name;
        fixtures::Bytes member;
    } kCases[] = {
        {"YM2 under 4 bytes", fixtures::toBytes("YM2")},
        {"YM3 under 4 bytes", fixtures::toBytes("YM")},
        {"empty", {}},
        {"YM3b under 8 bytes", fixtures::toBytes("YM3b123")},
        {"YM6 without End!", fixtures::makeYm({.tag = "YM6!", .frames = 3, .endMarker = false})},
        {"YM4 without End!", fixtures::makeYm({.tag = "YM4!", .frames = 3, .endMarker = false})},
        {"YM5 header cut", cutBefore(withFrames("YM5!", 0), 20)},
        {"YM5 only End!", fixtures::toBytes("YM5!End!")},
        {"frames past the member", tooManyFrames},
        {"digidrum past the member", hugeDrum},
        {"digidrum count past the member", manyDrums},
        {"extra header past the member", extraHeader},
        {"text without its zero", noTextEnd},
    };
    for (const auto& c : kCases) {
        const auto gz = fixtures::makeGzip(asString(c.member));
        VGMX log;
        vgmxtest::fillSentinel(log);
        EXPECT_FALSE(log.importYmFromMemory(gz.data(), gz.size(), "bad.ym")) << c.name;
        EXPECT_TRUE(vgmxtest::isSentinel(log)) << c.name;
        EXPECT_TRUE(log.song.tags[VGMXSong::kGameName].empty()) << c.name;
    }
}

TEST(DroImport, Version2DelaysBanksAndCodeMap)
{
    fixtures::DroV2 dro;
    dro.hardware = 2;
    dro.codeMap = {0x20, 0x40};
    dro.pairs = {{0x7D, 0x09}, {0x81, 0x33}, {0x7E, 0x01}, {0x00, 0x11}, {0x05, 0x01}};
    fixtures::TempDir dir;
    VGMX log;
    ASSERT_TRUE(log.open(dir.write("opl3.dro", asString(fixtures::makeDroV2(dro)))));
    ASSERT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{15});
    const VGMXChip& opl = log.song.chips.at(15);
    EXPECT_EQ(opl.typeName, "YMF262");
    EXPECT_EQ(opl.displayName, "OPL3");
    EXPECT_EQ(opl.clock, 14318182u);
    EXPECT_EQ(opl.rate, 1000u);
    ASSERT_EQ(letters(opl), "SWW");
    EXPECT_EQ(opl.events[1], VGMXEvent::pack(10, 'W', 0x40, 0x33, 1));
    EXPECT_EQ(opl.events[2], VGMXEvent::pack(512, 'W', 0x20, 0x11, 0));
    EXPECT_EQ(log.song.loaded, 1);

    for (uint8_t hardware : {0, 1}) {
        dro.hardware = hardware;
        const auto bytes = fixtures::makeDroV2(dro);
        VGMX opl2;
        ASSERT_TRUE(opl2.importDroFromMemory(bytes.data(), bytes.size()));
        EXPECT_EQ(opl2.song.chips.at(11).typeName, "YM3812");
        EXPECT_EQ(opl2.song.chips.at(11).displayName, "OPL2");
        EXPECT_EQ(opl2.song.chips.at(11).clock, 3579545u);
    }
}

TEST(DroImport, Version1Commands)
{
    const std::vector<uint8_t> commands = {0x00, 0x09, 0x01, 0x10, 0x00, 0x02, 0x20, 0x3F,
                                           0x03, 0x04, 0x05, 0x07};
    const struct {
        const char* name;
        fixtures::DroV1 dro;
        std::vector<VGMXEvent> writes;
    } kCases[] = {
        {"length first", {.lengthFirst = true, .commands = commands},
         {VGMXEvent::pack(27, 'W', 0x20, 0x3F, 0), VGMXEvent::pack(0, 'W', 5, 7, 1)}},
        {"no length first, dual OPL2", {.lengthFirst = false, .hardware = 1, .commands = commands},
         {VGMXEvent::pack(27, 'W', 0x20, 0x3F, 0), VGMXEvent::pack(0, 'W', 5, 7, 1)}},
        {"32-bit hardware type", {.hardwareAs32Bits = true, .commands = {0x00, 0x01, 0x30, 0x01}},
         {VGMXEvent::pack(2, 'W', 0x30, 0x01, 0)}},
        {"data length stops early", {.commands = commands, .dataLength = 8},
         {VGMXEvent::pack(27, 'W', 0x20, 0x3F, 0)}},
        {"data length past the file", {.commands = commands, .dataLength = 5000},
         {VGMXEvent::pack(27, 'W', 0x20, 0x3F, 0), VGMXEvent::pack(0, 'W', 5, 7, 1)}},
        {"last command cut", {.commands = {0x40, 0x01, 0x04, 0x05}},
         {VGMXEvent::pack(0, 'W', 0x40, 0x01, 0)}},
        {"wait cut", {.commands = {0x41, 0x02, 0x01, 0x05}}, {VGMXEvent::pack(0, 'W', 0x41, 0x02, 0)}},
        {"data length 0", {.commands = commands, .dataLength = 0}, {}},
    };
    for (const auto& c : kCases) {
        const auto bytes = fixtures::makeDroV1(c.dro);
        VGMX log;
        ASSERT_TRUE(log.importDroFromMemory(bytes.data(), bytes.size())) << c.name;
        const VGMXChip& opl = log.song.chips.at(11);
        EXPECT_EQ(opl.typeName, "YM3812");
        EXPECT_EQ(opl.displayName, "OPL2");
        EXPECT_EQ(opl.clock, 3579545u);
        EXPECT_EQ(opl.rate, 1000u);
        ASSERT_EQ(opl.events.size(), c.writes.size() + 1) << c.name;
        EXPECT_EQ(opl.events[0].kind(), 'S');
        for (size_t i = 0; i < c.writes.size(); ++i)
            EXPECT_EQ(opl.events[i + 1], c.writes[i]) << c.name << " write " << i;
        EXPECT_EQ(log.song.loaded, 1);
    }
}

TEST(DroImport, RefusedFilesLeaveTheSong)
{
    auto patched = [](fixtures::Bytes bytes, size_t at, uint8_t value) {
        bytes[at] = value;
        return bytes;
    };
    const fixtures::Bytes v2 = fixtures::makeDroV2({.codeMap = {0x20}, .pairs = {{0, 1}}});
    const fixtures::Bytes v1 = fixtures::makeDroV1({.commands = {0x20, 0x01}});
    fixtures::Bytes v1Header = fixtures::makeDroV1({});
    v1Header.resize(19);  // hardware type at 20 is missing
    const struct {
        const char* name;
        fixtures::Bytes file;
    } kCases[] = {
        {"12 bytes", fixtures::Bytes(v1.begin(), v1.begin() + 12)},
        {"another magic", patched(v1, 0, 'X')},
        {"version 3", patched(patched(v2, 8, 3), 10, 0)},
        {"version 2.1", patched(v2, 10, 2)},
        {"v1 hardware 3", fixtures::makeDroV1({.hardware = 3, .commands = {0x20, 0x01}})},
        {"v2 hardware 3", patched(v2, 20, 3)},
        {"v1 header cut", v1Header},
        {"v2 header cut", fixtures::Bytes(v2.begin(), v2.begin() + 25)},
        {"v2 code map past the file", patched(v2, 25, 40)},
        {"v2 pairs past the file", fixtures::makeDroV2({.codeMap = {0x20}, .pairs = {{0, 1}}, .pairCount = 2})},
        {"v2 pair count near 2^32", fixtures::makeDroV2({.pairs = {{0, 1}}, .pairCount = 0xFFFFFFFF})},
    };
    for (const auto& c : kCases) {
        VGMX log;
        vgmxtest::fillSentinel(log);
        EXPECT_FALSE(log.importDroFromMemory(c.file.data(), c.file.size())) << c.name;
        EXPECT_TRUE(vgmxtest::isSentinel(log)) << c.name;
    }
    VGMX log;
    fixtures::TempDir dir;
    EXPECT_FALSE(log.importDro(dir / "missing.dro"));
}

TEST(RegisterDumpImport, RecordsBecomeTimedWrites)
{
    fixtures::TempDir dir;
    const std::string dump("\x00\x05\x10\x20\x01\x2C\x11\x22", 8);
    VGMX log;
    ASSERT_TRUE(log.open(dir.write("opk2.bin", dump)));
    const VGMXChip& opk = log.song.chips.at(60);
    EXPECT_EQ(opk.typeName, "YM7129");
    EXPECT_EQ(opk.displayName, "OPK2");
    EXPECT_EQ(opk.clock, 3579545u);
    EXPECT_EQ(opk.rate, 180000u);
    ASSERT_EQ(letters(opk), "SWW");
    EXPECT_EQ(opk.events[1], VGMXEvent::pack(0, 'W', 0x10, 0x20, 0));
    EXPECT_EQ(opk.events[2], VGMXEvent::pack(300, 'W', 0x11, 0x22, 0));
    EXPECT_EQ(log.song.loaded, 1);

    for (const std::string& file : {std::string(), std::string("\x00\x05\x10", 3), dump + "\x01\x02"}) {
        VGMX other;
        vgmxtest::fillSentinel(other);
        ASSERT_TRUE(other.importRegisterDump(dir.write("d.bin", file)));
        EXPECT_EQ(letters(other.song.chips.at(60)), file.size() >= 8 ? "SWW" : "S");
        EXPECT_TRUE(other.song.chips.contains(77));
    }
    VGMX missing;
    EXPECT_FALSE(missing.importRegisterDump(dir / "none.bin"));
    EXPECT_TRUE(missing.song.chips.empty());
}
