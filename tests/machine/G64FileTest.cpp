// G64 images: the builder's file layout, scanning back half-tracks, header and bounds checks.
#include "machine/G64File.h"

#include "MemoryStream.h"
#include "fixtures/TempDir.h"
#include "fixtures/c64/D64Builder.h"
#include "machine/DiskImages.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

using Bytes = std::vector<uint8_t>;

namespace {

constexpr size_t kTrack18 = 34;  // half-track index of track 18

// Track 18 of a D64 whose sectors all differ, encoded to GCR.
GcrBits track18Bits()
{
    const Bytes image = fixtures::D64Builder::distinctSectors();
    vantor::VirtualRAMFile source(image.data(), image.size());
    D64File disk(&source);
    GcrBits bits;
    disk.encodeTrack(18, bits);
    return bits;
}

Bytes writeAndRead(G64Builder& builder, const fixtures::TempDir& dir)
{
    const std::string path = dir / "disk.g64";
    EXPECT_TRUE(builder.writeG64(path));
    const std::string text = fixtures::readFile(path);
    return Bytes(text.begin(), text.end());
}

struct Scanned
{
    bool ok;
    std::unique_ptr<G64File> file;
};

Scanned scan(const Bytes& bytes)
{
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    Scanned s{false, std::make_unique<G64File>(&source)};
    s.ok = s.file->scan();
    return s;
}

uint32_t u32At(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | uint32_t(b[at + 3]) << 24; }

bool isEmptyRecord(const G64File::Track& t)
{
    return t.length == 0 && t.speedZone == 0 && t.data == nullptr && t.flags == 0;
}

}  // namespace

TEST(G64File, WrittenImageScansBackToTheSameHalfTracks)
{
    fixtures::TempDir dir;
    G64Builder builder;
    const GcrBits bits = track18Bits();
    builder.storeHalfTrackBits(bits, kTrack18);
    builder.storeHalfTrackBits(GcrBits(16, 1), 70);  // a bare sync: no sector in it
    ASSERT_EQ(builder.halfTracks[kTrack18].size(), 19u * 2824 / 8);
    const Bytes bytes = writeAndRead(builder, dir);
    ASSERT_EQ(bytes.size(), 684u + 2 + 6707 + 2 + 2);
    EXPECT_EQ(u32At(bytes, 12 + 4 * kTrack18), 684u);
    EXPECT_EQ(u32At(bytes, 12 + 4 * 70), 684u + 2 + 6707);

    const auto before = fixtures::folderEntries(".");
    Scanned s = scan(bytes);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(fixtures::folderEntries("."), before);  // no decode logs left behind
    EXPECT_TRUE(s.file->files.empty());
    EXPECT_EQ(s.file->diskName, "");
    ASSERT_EQ(s.file->tracks.size(), 84u);
    for (size_t i = 0; i < 84; ++i) {
        const G64File::Track& t = s.file->tracks[i];
        if (i == kTrack18 || i == 70) {
            ASSERT_EQ(t.length, builder.halfTracks[i].size()) << i;
            EXPECT_TRUE(std::equal(t.data, t.data + t.length, builder.halfTracks[i].begin())) << i;
            EXPECT_EQ(t.speedZone, i == kTrack18 ? 2 : 0) << i;
        } else {
            EXPECT_TRUE(isEmptyRecord(t)) << i;
        }
    }
    // Half-track 70 holds no sector, and the last half-track with data decides.
    EXPECT_FALSE(s.file->hasDecodedSectors);

    G64Builder one;
    one.storeHalfTrackBits(bits, kTrack18);
    Scanned single = scan(writeAndRead(one, dir));
    ASSERT_TRUE(single.ok);
    EXPECT_TRUE(single.file->hasDecodedSectors);
}

TEST(G64File, DecodeLogGoesOnlyToTheGivenStream)
{
    fixtures::TempDir dir;
    G64Builder builder;
    builder.storeHalfTrackBits(track18Bits(), kTrack18);
    const Bytes bytes = writeAndRead(builder, dir);
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    G64File file(&source);
    MemoryStream log;
    file.setDecodeLog(log.file());
    ASSERT_TRUE(file.scan());
    const std::string text = log.text();
    size_t good = 0;
    for (size_t at = 0; (at = text.find("!! Good Sector !!\n", at)) != std::string::npos; ++at)
        ++good;
    EXPECT_EQ(good, 19u);
    EXPECT_NE(text.find("!! TRACK 18 SECTOR 18 (ABS 375)!!\n"), std::string::npos);
}

TEST(G64File, HeaderAndBoundsChecks)
{
    fixtures::TempDir dir;
    G64Builder builder;
    builder.storeHalfTrackBits(track18Bits(), kTrack18);
    const Bytes good = writeAndRead(builder, dir);
    const size_t entry = 12 + 4 * kTrack18;
    const size_t track = 684;

    struct Case
    {
        const char* what;
        void (*edit)(Bytes&, size_t entry, size_t track);
        bool ok;
        size_t tracks;
        bool track18Kept;
    } const kCases[] = {
        {"as written", [](Bytes&, size_t, size_t) {}, true, 84, true},
        {"count 0", [](Bytes& b, size_t, size_t) { b[9] = 0; }, true, 0, false},
        {"count 35", [](Bytes& b, size_t, size_t) { b[9] = 35; }, true, 35, true},
        {"count 85", [](Bytes& b, size_t, size_t) { b[9] = 85; }, false, 0, false},
        {"version 1", [](Bytes& b, size_t, size_t) { b[8] = 1; }, false, 0, false},
        {"signature", [](Bytes& b, size_t, size_t) { b[4] = '5'; }, false, 0, false},
        {"600 bytes", [](Bytes& b, size_t, size_t) { b.resize(600); }, false, 0, false},
        {"header only", [](Bytes& b, size_t, size_t) { b.resize(684); }, true, 84, false},
        {"length past the end", [](Bytes& b, size_t, size_t t) { b[t + 1] = 0x7F; }, true, 84, false},
        {"one byte short", [](Bytes& b, size_t, size_t) { b.pop_back(); }, true, 84, false},
        {"length cut off", [](Bytes& b, size_t, size_t t) { b.resize(t + 1); }, true, 84, false},
        {"offset past the end", [](Bytes& b, size_t e, size_t) { b[e + 3] = 0x80; }, true, 84, false},
        {"offset at the end", [](Bytes& b, size_t e, size_t) {
             const uint32_t end = uint32_t(b.size());
             memcpy(&b[e], &end, 4);
         }, true, 84, false},
    };
    for (const Case& c : kCases) {
        Bytes bytes = good;
        c.edit(bytes, entry, track);
        Scanned s = scan(bytes);
        EXPECT_EQ(s.ok, c.ok) << c.what;
        if (!c.ok)
            continue;
        ASSERT_EQ(s.file->tracks.size(), c.tracks) << c.what;
        if (c.tracks > kTrack18) {
            EXPECT_EQ(!isEmptyRecord(s.file->tracks[kTrack18]), c.track18Kept) << c.what;
        }
        EXPECT_EQ(s.file->hasDecodedSectors, c.track18Kept) << c.what;
    }

    const Bytes nothing;
    EXPECT_FALSE(scan(nothing).ok);
}

TEST(G64Builder, LongTracksAreCutAndUnwritableFilesFail)
{
    fixtures::TempDir dir;
    G64Builder builder;
    builder.halfTracks[0] = Bytes(8000, 0x55);
    builder.halfTracks[83] = Bytes(10, 0xFF);
    const Bytes bytes = writeAndRead(builder, dir);
    ASSERT_EQ(bytes.size(), 684u + 2 + 7928 + 2 + 10);
    Scanned s = scan(bytes);
    ASSERT_TRUE(s.ok);
    EXPECT_EQ(s.file->tracks[0].length, 7928);
    EXPECT_EQ(s.file->tracks[83].length, 10);
    EXPECT_EQ(s.file->tracks[83].data[9], 0xFF);

    EXPECT_FALSE(builder.writeG64(dir / "missing/disk.g64"));
}

TEST(G64Builder, FindFirstSync)
{
    EXPECT_EQ(G64Builder::findFirstSync({0x55, 0x52, 0xFF, 0xFF}), 2u);
    EXPECT_EQ(G64Builder::findFirstSync({0x55, 0x7F}), 2u);
    EXPECT_EQ(G64Builder::findFirstSync({}), 0u);
}
