// Damaged images: seeded sweeps of truncations and bit flips over valid D64, D71, D81 and G64
// images. Every scan must end, stay inside the data (sanitizer build) and keep its invariants.
#include "fixtures/TempDir.h"
#include "fixtures/c64/D64Builder.h"
#include "machine/DirectoryListing.h"
#include "machine/DiskImages.h"
#include "machine/G64File.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint32_t kSeed = 0x1541;

Bytes sampleD64()
{
    fixtures::D64Builder builder;
    builder.name("HOSTILE").id('H', 'X');
    for (int i = 0; i < 12; ++i) {
        fixtures::D64Builder::FileSpec spec{"F" + std::to_string(i), Bytes(size_t(i) * 180 + 3, uint8_t(i)),
                                            uint8_t(0x80 + i % 5)};
        spec.loop = i == 4;
        builder.addFile(spec);
    }
    return builder.image();
}

void flipBits(Bytes& bytes, std::mt19937& random, size_t from, size_t to, int count)
{
    std::uniform_int_distribution<size_t> where(from, to - 1);
    for (int i = 0; i < count; ++i)
        bytes[where(random)] ^= uint8_t(1u << (random() % 8));
}

template <class Image>
void checkSectorImage(const Bytes& bytes, const char* what)
{
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    Image image(&source);
    image.scan();
    ASSERT_LE(image.files.size(), 8 * image.sectorCount()) << what;
    for (const DiskFileEntry& file : image.files) {
        ASSERT_LE(file.bytes.size(), 254 * image.sectorCount()) << what;
        ASSERT_LE(file.name.size(), 16u) << what;
    }
    DiskFileEntry listing;
    ASSERT_TRUE(buildDirectoryListing(&image, listing));
    ASSERT_EQ(listing.bytes.size(), 64 + 32 * image.files.size()) << what;
}

void checkG64(const Bytes& bytes)
{
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    G64File image(&source);
    if (!image.scan())
        return;
    ASSERT_LE(image.tracks.size(), 84u);
    for (const G64File::Track& t : image.tracks) {
        if (!t.data)
            continue;
        ASSERT_GE(t.data, image.fileData.data() + 2);
        ASSERT_LE(t.data + t.length, image.fileData.data() + image.fileData.size());
    }
    EXPECT_TRUE(image.files.empty());
}

}  // namespace

TEST(HostileImages, D64BitFlipsAndSizes)
{
    std::mt19937 random(kSeed);
    const Bytes good = sampleD64();
    for (int round = 0; round < 400; ++round) {
        Bytes bytes = good;
        // Mostly the directory track, where the links and entries live; sometimes the chains.
        if (round % 3)
            flipBits(bytes, random, 0x16500, 0x17800, 1 + int(random() % 24));
        else
            flipBits(bytes, random, 0, 0x1A000, 1 + int(random() % 64));
        const size_t size = random() % 4 ? bytes.size() : random() % bytes.size();
        bytes.resize(size);
        SCOPED_TRACE("round " + std::to_string(round));
        checkSectorImage<D64File>(bytes, "D64");
    }
}

TEST(HostileImages, D64WithRandomLinks)
{
    // Every sector's link points at a random sector, most of them data sectors of a full chain.
    std::mt19937 random(kSeed + 1);
    for (int round = 0; round < 40; ++round) {
        Bytes bytes = sampleD64();
        for (size_t s = 0; s < 683; ++s) {
            bytes[s * 256] = uint8_t(random() % 37);
            bytes[s * 256 + 1] = uint8_t(random() % 22);
        }
        SCOPED_TRACE("round " + std::to_string(round));
        checkSectorImage<D64File>(bytes, "D64 links");
    }
}

TEST(HostileImages, D71AndD81)
{
    std::mt19937 random(kSeed + 2);
    for (int round = 0; round < 40; ++round) {
        Bytes bytes = sampleD64();
        bytes.resize(349696);
        flipBits(bytes, random, 0, bytes.size(), 2000);
        flipBits(bytes, random, 0x16500, 0x17800, 40);
        checkSectorImage<D71File>(bytes, "D71");
        bytes.resize(819200, uint8_t(round));
        checkSectorImage<D81File>(bytes, "D81");
    }
}

// Every sector but 0 in one ring, each a directory sector whose 8 entries start files on the
// ring: 8 files per sector, each running round the whole image.
template <class Image>
Bytes crossLinkedRing()
{
    const Image geometry(nullptr);
    const uint64_t sectors = geometry.sectorCount();
    // A link naming sector n: sector numbers 1-254 on an earlier track start (0 or 0xFF would
    // end the directory walk).
    const auto link = [&](uint64_t n, uint8_t* to) {
        for (uint64_t track = geometry.trackCount(); track >= 1; --track) {
            const uint64_t first = geometry.sectorIndex(track, 0);
            if (first < n && n - first <= 254) {
                to[0] = uint8_t(track);
                to[1] = uint8_t(n - first);
                return;
            }
        }
        FAIL() << "no link to sector " << n;
    };
    Bytes bytes(sectors * 256, 0);
    for (uint64_t n = 1; n < sectors; ++n) {
        uint8_t* sector = &bytes[n * 256];
        for (uint64_t entry = 0; entry < 8; ++entry) {
            sector[32 * entry + 2] = 0x82;
            link(1 + (n * 8 + entry) % (sectors - 1), sector + 32 * entry + 3);
        }
        link(n + 1 < sectors ? n + 1 : 1, sector);
    }
    return bytes;
}

template <class Image>
void checkScanBudget(const char* what)
{
    SCOPED_TRACE(what);
    const Bytes bytes = crossLinkedRing<Image>();
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    Image image(&source);
    // Without a budget the files would add up to 8 x sectors^2 x 254 bytes (1 GB for a D64).
    EXPECT_FALSE(image.scan());
    uint64_t total = 0;
    for (const DiskFileEntry& file : image.files) {
        EXPECT_EQ(file.bytes.size(), 254 * (image.sectorCount() - 1));
        total += file.bytes.size();
    }
    EXPECT_LE(total, CBMDOS::File::kMaxScanBytes);
    EXPECT_GT(total + 254 * image.sectorCount(), CBMDOS::File::kMaxScanBytes);
    DiskFileEntry listing;
    ASSERT_TRUE(buildDirectoryListing(&image, listing));
    EXPECT_EQ(listing.bytes.size(), 64 + 32 * image.files.size());
}

TEST(HostileImages, CrossLinkedFilesStopAtTheScanBudget)
{
    checkScanBudget<D64File>("D64");
    checkScanBudget<D71File>("D71");
}

TEST(HostileImages, FullDirectorySharingOneLongFileIsReadWhole)
{
    // 144 entries (all of track 18) naming one 400-block file: 14.6 MB, inside the budget.
    fixtures::D64Builder builder;
    const Bytes data(400 * 254, 0x33);
    const auto chain = builder.addFile("LONG", data);
    for (int i = 1; i < 144; ++i) {
        fixtures::D64Builder::FileSpec alias{"ALIAS" + std::to_string(i), {}};
        alias.start = chain.front();
        builder.addFile(alias);
    }
    const Bytes bytes = builder.image();
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    D64File image(&source);
    ASSERT_TRUE(image.scan());
    ASSERT_EQ(image.files.size(), 144u);
    for (const DiskFileEntry& file : image.files)
        ASSERT_TRUE(file.bytes == data) << file.name;
}

TEST(HostileImages, G64HalfTracksSharingOneLongTrack)
{
    // All 84 offsets name one 65535-byte track of 3-byte sync blocks: the most one header can
    // make the decoder read.
    Bytes bytes(684, 0);
    memcpy(bytes.data(), "GCR-1541", 8);
    bytes[9] = 84;
    for (size_t i = 0; i < 84; ++i)
        bytes[12 + 4 * i + 1] = 684 >> 8, bytes[12 + 4 * i] = 684 & 0xFF;
    bytes.push_back(0xFF);
    bytes.push_back(0xFF);
    for (size_t i = 0; i < 65535; ++i)
        bytes.push_back(i % 3 == 2 ? 0x52 : 0xFF);
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    G64File image(&source);
    ASSERT_TRUE(image.scan());
    ASSERT_EQ(image.tracks.size(), 84u);
    for (const G64File::Track& t : image.tracks) {
        EXPECT_EQ(t.length, 65535);
        EXPECT_EQ(t.data, image.fileData.data() + 686);
    }
    EXPECT_FALSE(image.hasDecodedSectors);
}

TEST(HostileImages, G64TruncationsAndBitFlips)
{
    fixtures::TempDir dir;
    const Bytes image = fixtures::D64Builder::distinctSectors(3);
    vantor::VirtualRAMFile source(image.data(), image.size());
    D64File disk(&source);
    G64Builder builder;
    for (const size_t track : {1u, 18u, 35u}) {
        GcrBits bits;
        disk.encodeTrack(track, bits);
        builder.storeHalfTrackBits(bits, 2 * (track - 1));
    }
    ASSERT_TRUE(builder.writeG64(dir / "sweep.g64"));
    const std::string text = fixtures::readFile(dir / "sweep.g64");
    const Bytes good(text.begin(), text.end());

    std::mt19937 random(kSeed + 3);
    for (size_t length = 0; length < 700; length += 7)
        checkG64(Bytes(good.begin(), good.begin() + length));
    for (int round = 0; round < 60; ++round)
        checkG64(Bytes(good.begin(), good.begin() + random() % good.size()));
    for (int round = 0; round < 200; ++round) {
        Bytes bytes = good;
        if (round % 2)
            flipBits(bytes, random, 8, 684, 1 + int(random() % 8));  // counts and offsets
        else
            flipBits(bytes, random, 684, bytes.size(), 1 + int(random() % 200));
        SCOPED_TRACE("round " + std::to_string(round));
        checkG64(bytes);
    }
}
