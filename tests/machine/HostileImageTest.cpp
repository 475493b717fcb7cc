// Damaged images: seeded sweeps of truncations and bit flips over valid D64, D71, D81 and G64
// images. Every scan must end, stay inside the data (sanitizer build) and keep its invariants.
#include "fixtures/TempDir.h"
#include "fixtures/c64/D64Builder.h"
#include "machine/DirectoryListing.h"
#include "machine/DiskImages.h"
#include "machine/G64File.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

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
