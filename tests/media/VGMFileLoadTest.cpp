#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/TempDir.h"
#include "fixtures/VgmBuilder.h"

#include <gtest/gtest.h>

#include <string>

using fixtures::VgmBuilder;
using VGM::VGMX;

namespace {

// Two logs told apart by their chips and titles.
std::string firstLog()
{
    VgmBuilder vgm;
    vgm.clock(VgmBuilder::kSn76489, 3579545).raw({0x50, 1}).wait(441).raw({0x50, 2, 0x66}).gd3({u"First"});
    return vgm.text();
}

std::string secondLog()
{
    VgmBuilder vgm;
    vgm.clock(VgmBuilder::kYm2612, 7670453).clock(VgmBuilder::kAy8910, 1789772);
    vgm.write(0x52, 0x28, 0xF0).write(0xA0, 7, 0x38).wait(735).write(0x53, 0x28, 0).write(0xA0, 8, 15).end();
    vgm.gd3({u"Second \u00e9", u"", u"Game"});
    return vgm.text();
}

std::string bytesOf(const fixtures::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(VGMFileLoad, ArchivesOfLogsPlayTheChosenSong)
{
    fixtures::TempDir dir;
    const std::vector<std::pair<std::string, fixtures::Bytes>> kArchives = {
        {"set.zip", fixtures::makeZip({{"a.vgm", firstLog()}, {"b.vgm", secondLog()}})},
        {"set.7z", fixtures::make7z({{"a.vgm", firstLog()}, {"b.vgz", bytesOf(fixtures::makeGzip(secondLog()))}})},
    };
    for (const auto& [name, bytes] : kArchives) {
        VGMX log;
        ASSERT_TRUE(log.open(dir.write(name, bytesOf(bytes)))) << name;
        ASSERT_EQ(log.getSongCount(), 2u) << name;
        const VGM::VGMXSong& song = log.loadSong(1);
        EXPECT_EQ(song.loaded, 1) << name << log.message;
        EXPECT_EQ(vgmxtest::kinds(song), (std::vector<int32_t>{5, 31})) << name;
        EXPECT_EQ(song.tags[VGM::VGMXSong::kTrackName], "Second \xC3\xA9") << name;
        EXPECT_EQ(song.tags[VGM::VGMXSong::kGameName], "Game") << name;
        log.loadSong(0);
        EXPECT_EQ(vgmxtest::kinds(log.song), std::vector<int32_t>{0}) << name;
        EXPECT_EQ(log.song.tags[VGM::VGMXSong::kTrackName], "First") << name;
    }
}

TEST(VGMFileLoad, AVgzIsTheSameSongAsThePlainFile)
{
    fixtures::TempDir dir;
    VGMX plain, packed, gz, memory, zipped;
    ASSERT_TRUE(plain.open(dir.write("song.vgm", secondLog()))) << plain.message;
    ASSERT_TRUE(packed.open(dir.write("song.VGZ", bytesOf(fixtures::makeGzip(secondLog()))))) << packed.message;
    ASSERT_TRUE(gz.open(dir.write("song.vgm.gz", bytesOf(fixtures::makeGzip(secondLog())))));
    const fixtures::Bytes gzip = fixtures::makeGzip(secondLog());
    ASSERT_TRUE(memory.loadFromMemory(gzip.data(), gzip.size()));
    // A zip named ".vgm": its first entry.
    ASSERT_TRUE(zipped.open(dir.write("zip.vgm", bytesOf(fixtures::makeZip({{"x.vgm", secondLog()}, {"y.vgm", firstLog()}})))));
    for (const VGMX* other : {&packed, &gz, &memory, &zipped})
        EXPECT_EQ(vgmxtest::songFingerprint(*other), vgmxtest::songFingerprint(plain));
    EXPECT_EQ(plain.path, dir / "song.vgm");
    EXPECT_EQ(packed.path, dir / "song.VGZ");
    EXPECT_EQ(plain.song.chips.at(5).total, 735u);
}

TEST(VGMFileLoad, Failures)
{
    fixtures::TempDir dir;
    // An archive without entries, a member that is no log, a missing file.
    VGMX empty;
    vgmxtest::fillSentinel(empty);
    EXPECT_FALSE(empty.loadFromArchive(dir.write("empty.vgm", bytesOf(fixtures::makeZip({})))));
    EXPECT_TRUE(vgmxtest::isSentinel(empty));
    VGMX text;
    EXPECT_FALSE(text.open(dir.write("text.vgz", bytesOf(fixtures::makeGzip(std::string(300, 'x'))))));
    EXPECT_EQ(text.message, "VGM: marker not found\n");
    VGMX missing;
    EXPECT_FALSE(missing.loadFromPlainFile(dir / "none.vgm"));
    EXPECT_FALSE(missing.loadFromArchive(dir / "none.vgm"));

    // A member that cannot be extracted reads as zeros.
    fixtures::Bytes zip = fixtures::makeZip({{"a.vgm", secondLog(), false}});
    zip[30 + 5 + 10] ^= 0x01;  // inside the stored member: its checksum fails
    VGMX broken;
    EXPECT_FALSE(broken.loadFromArchive(dir.write("broken.vgm", bytesOf(zip))));
    EXPECT_EQ(broken.message, "VGM: marker not found\n");
    VGMX brokenInMemory;
    EXPECT_FALSE(brokenInMemory.loadFromMemory(zip.data(), zip.size()));
    EXPECT_EQ(brokenInMemory.message, "");

    VGMX nothing;
    EXPECT_FALSE(nothing.loadFromMemory(nullptr, 0));
    EXPECT_EQ(nothing.message, "VGM: File too short\n");
}
