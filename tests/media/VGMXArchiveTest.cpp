#include "media/VGMX.h"

#include "VGMXTestSupport.h"
#include "fixtures/ArchiveWriters.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>

using VGM::VGMX;

namespace {

// Records the song bytes handed to the VGM reader and accepts them.
class RecordingLog : public VGMX
{
public:
    bool loadFromMemory(const uint8_t* data, uint64_t size) override
    {
        received.emplace_back(reinterpret_cast<const char*>(data), size);
        return true;
    }
    std::vector<std::string> received;
};

const std::string kPicture = std::string("\x89PNG\r\n\x1a\n", 8) + std::string(40, '\x07');

std::vector<fixtures::ZipItem> collectionItems()
{
    return {
        {"a.vgm", "song a"},          {"b.VGM", "upper case"},     {"notes.txt", "Notes"},
        {"c.vgz", "song c"},          {"list.m3u", "a.vgm\nc.vgz\n"}, {"cover.png", kPicture},
        {"dir/d.gz", "song d", false}, {"e.md", "readme"},
    };
}

std::string bytesOf(const fixtures::Bytes& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(VGMXArchive, ZipCollectionListsSongsAndKeepsTextsAndPicture)
{
    fixtures::TempDir dir;
    RecordingLog log;
    ASSERT_TRUE(log.open(dir.write("set.ZIP", bytesOf(fixtures::makeZip(collectionItems())))));
    ASSERT_EQ(log.songEntries.size(), 3u);
    EXPECT_EQ(log.songEntries[0].name, "a.vgm");
    EXPECT_EQ(log.songEntries[1].name, "c.vgz");
    EXPECT_EQ(log.songEntries[2].name, "dir/d.gz");
    EXPECT_EQ(log.getSongCount(), 3u);
    ASSERT_NE(log.notesText(), nullptr);
    EXPECT_EQ(log.notes, (std::vector<char>{'N', 'o', 't', 'e', 's', '\0'}));
    ASSERT_NE(log.playlistText(), nullptr);
    EXPECT_STREQ(log.playlistText(), "a.vgm\nc.vgz\n");
    EXPECT_EQ(log.playlist.size(), 13u);
    EXPECT_EQ(std::string(log.image.begin(), log.image.end()), kPicture);
    EXPECT_TRUE(log.song.chips.empty());  // nothing is loaded until a song is chosen

    VGM::VGMXSong& song = log.loadSong(2);
    EXPECT_EQ(&song, &log.song);
    EXPECT_EQ(log.received, std::vector<std::string>{"song d"});
    EXPECT_EQ(song.loaded, 1);
    log.loadSong(0);
    EXPECT_EQ(log.received.back(), "song a");

    vgmxtest::fillSentinel(log);
    EXPECT_EQ(&log.loadSong(3), &log.song);
    EXPECT_EQ(log.received.size(), 2u);
    EXPECT_TRUE(vgmxtest::isSentinel(log));
}

TEST(VGMXArchive, SevenZipAndGzipAreCollectionsToo)
{
    fixtures::TempDir dir;
    RecordingLog seven;
    ASSERT_TRUE(seven.open(dir.write("set.vgm7z", bytesOf(fixtures::make7z({{"x.txt", "t"}, {"s.vgz", "seven"}})))));
    EXPECT_EQ(seven.getSongCount(), 1u);
    EXPECT_STREQ(seven.notesText(), "t");
    seven.loadSong(0);
    EXPECT_EQ(seven.received, std::vector<std::string>{"seven"});

    RecordingLog gzip;
    fixtures::GzipOptions options;
    options.name = "tune.vgm";
    EXPECT_TRUE(gzip.scanArchive(dir.write("tune.zip", bytesOf(fixtures::makeGzip("gzip song", options)))));
    gzip.loadSong(0);
    EXPECT_EQ(gzip.received, std::vector<std::string>{"gzip song"});
}

TEST(VGMXArchive, ArchivesWithoutSongsFail)
{
    fixtures::TempDir dir;
    const struct {
        std::string name;
        fixtures::Bytes bytes;
        uint64_t songCount;
    } kCases[] = {
        {"empty.zip", fixtures::makeZip({}), 1},
        {"nosongs.zip", fixtures::makeZip({{"b.VGM", "x"}, {"n.txt", "y"}, {"a.vgmx", "z"}}), 0},
        {"plain.zip", fixtures::toBytes("just text"), 1},
        {"x.rar", fixtures::toBytes("Rar!\x1a\x07\x01"), 1},
    };
    for (const auto& c : kCases) {
        VGMX log;
        vgmxtest::fillSentinel(log);
        EXPECT_FALSE(log.open(dir.write(c.name, bytesOf(c.bytes)))) << c.name;
        EXPECT_EQ(log.getSongCount(), c.songCount) << c.name;
        EXPECT_TRUE(vgmxtest::isSentinel(log)) << c.name;
        EXPECT_EQ(&log.loadSong(0), &log.song);
        EXPECT_TRUE(vgmxtest::isSentinel(log)) << c.name;
    }
}

TEST(VGMXArchive, ANewScanReplacesTheOldCollection)
{
    fixtures::TempDir dir;
    RecordingLog log;
    ASSERT_TRUE(log.scanArchive(dir.write("one.zip", bytesOf(fixtures::makeZip(collectionItems())))));
    ASSERT_TRUE(log.scanArchive(dir.write("two.zip", bytesOf(fixtures::makeZip({{"z.vgm", "zz"}})))));
    EXPECT_EQ(log.getSongCount(), 1u);
    EXPECT_EQ(log.notesText(), nullptr);
    EXPECT_TRUE(log.image.empty());
    log.loadSong(0);
    EXPECT_EQ(log.received, std::vector<std::string>{"zz"});

    EXPECT_FALSE(log.scanArchive(dir.write("three.zip", "not an archive")));
    EXPECT_EQ(log.getSongCount(), 1u);  // no archive left
    EXPECT_EQ(log.container, nullptr);
    EXPECT_EQ(log.path, dir / "three.zip");
}

TEST(VGMXArchive, AnEntryThatCannotBeExtractedClearsLoadedAndKeepsTheChips)
{
    fixtures::Bytes zip = fixtures::makeZip({{"a.vgm", "stored song", false}, {"b.vgm", "fine", false}});
    ASSERT_GT(zip.size(), 40u);
    zip[30 + 5 + 3] ^= 0x20;  // inside a.vgm's stored bytes: its checksum no longer matches
    fixtures::TempDir dir;
    RecordingLog log;
    ASSERT_TRUE(log.scanArchive(dir.write("bad.zip", bytesOf(zip))));
    vgmxtest::fillSentinel(log);
    log.loadSong(0);
    EXPECT_EQ(log.song.loaded, 0);
    EXPECT_EQ(log.song.chips.size(), 1u);
    EXPECT_EQ(log.song.chips.at(77).events.size(), 2u);
    EXPECT_TRUE(log.received.empty());
    log.loadSong(1);
    EXPECT_EQ(log.song.loaded, 1);
    EXPECT_EQ(log.received, std::vector<std::string>{"fine"});
}

TEST(VGMXArchive, SongsFailUntilTheVgmReaderReadsThem)
{
    fixtures::TempDir dir;
    VGMX log;
    ASSERT_TRUE(log.scanArchive(dir.write("set.zip", bytesOf(fixtures::makeZip({{"a.vgm", "Vgm "}})))));
    log.song.loaded = 1;
    log.loadSong(0);
    EXPECT_EQ(log.song.loaded, 0);
}
