// D64, D71 and D81 sector images: header fields, directory and chain walks, geometry, the
// sector map and writes.
#include "machine/DiskImages.h"

#include "MemoryStream.h"
#include "fixtures/c64/D64Builder.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>

using fixtures::D64Builder;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes counting(size_t count, uint8_t seed)
{
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

template <class Image>
std::unique_ptr<Image> open(const Bytes& bytes)
{
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    return std::make_unique<Image>(&source);
}

struct ExpectedFile
{
    std::string name;
    uint8_t type;
    Bytes bytes;
};

// Nine entries over two directory sectors: the chain shapes that end a file.
struct MainDisk
{
    D64Builder builder;
    std::vector<ExpectedFile> expected;

    MainDisk()
    {
        builder.name("TESTDISK").id('A', 'B').dosType('2', 'A');

        const Bytes program = counting(600, 1);
        const auto chain = builder.addFile("PROGRAM", program);
        EXPECT_EQ(chain.size(), 3u);
        EXPECT_EQ(builder.sector(chain[2].track, chain[2].sector)[1], 93);  // 1 + 92 bytes used
        expected.push_back({"PROGRAM", 0x82, program});

        D64Builder::FilePlan indexOne{"INDEX ONE", counting(600, 2), 0x81};
        indexOne.lastIndex = 1;
        builder.addFile(indexOne);
        expected.push_back({"INDEX ONE", 0x81, counting(508, 2)});

        D64Builder::FilePlan noStart{"NO START", {}, 0x82};
        noStart.start = D64Builder::Place{0, 0};
        builder.addFile(noStart);
        expected.push_back({"NO START", 0x82, {}});

        D64Builder::FilePlan loop{"LOOP", counting(3 * 254, 3), 0x82};
        loop.loop = true;
        builder.addFile(loop);
        expected.push_back({"LOOP", 0x82, counting(3 * 254, 3)});

        // A link past the last track ends the chain after the sector's 254 bytes.
        D64Builder::FilePlan offDisk{"OFF DISK", counting(254, 4), 0x82};
        offDisk.lastLink = D64Builder::Place{36, 0};
        builder.addFile(offDisk);
        expected.push_back({"OFF DISK", 0x82, counting(254, 4)});

        for (uint8_t i = 0; i < 4; ++i) {
            const std::string name = "FILE " + std::to_string(i);
            builder.addFile(name, counting(10 + i, i), uint8_t(0x80 + i));
            expected.push_back({name, uint8_t(0x80 + i), counting(10 + i, i)});
        }
        EXPECT_EQ(builder.directorySectors(), 2u);
    }
};

void expectFiles(const DiskFile& disk, const std::vector<ExpectedFile>& expected)
{
    ASSERT_EQ(disk.files.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(disk.files[i].name, expected[i].name) << "file " << i;
        EXPECT_EQ(disk.files[i].type, expected[i].type) << "file " << i;
        EXPECT_EQ(disk.files[i].bytes, expected[i].bytes) << "file " << i;
    }
}

}  // namespace

TEST(D64File, ScanReadsHeaderAndEveryChainShape)
{
    MainDisk disk;
    auto image = open<D64File>(disk.builder.image());
    ASSERT_TRUE(image->scan());
    EXPECT_EQ(image->diskName, "TESTDISK");
    EXPECT_EQ(image->diskId[0], 'A');
    EXPECT_EQ(image->diskId[1], 'B');
    EXPECT_EQ(image->dosType[0], '2');
    EXPECT_EQ(image->dosType[1], 'A');
    EXPECT_EQ(image->freeDataBytes, 664u * 254);
    EXPECT_EQ(image->freeBytes, 664u * 256);
    EXPECT_EQ(image->imageSize, 174848u);
    EXPECT_EQ(image->dataCapacity, 168656u);
    expectFiles(*image, disk.expected);
}

TEST(D64File, EverySizeReadsAsTheFirst35Tracks)
{
    MainDisk disk;
    for (const size_t size : D64Builder::kFileSizes) {
        const Bytes bytes = disk.builder.image(size);
        ASSERT_EQ(bytes.size(), size);
        auto image = open<D64File>(bytes);
        ASSERT_TRUE(image->scan()) << size;
        EXPECT_EQ(image->image(), disk.builder.image()) << size;
        EXPECT_EQ(image->diskName, "TESTDISK") << size;
        EXPECT_EQ(image->freeDataBytes, 664u * 254) << size;
        expectFiles(*image, disk.expected);
    }
}

TEST(D64File, ShortSourceLeavesTheRestZero)
{
    const Bytes source = counting(1000, 7);
    auto image = open<D64File>(source);
    ASSERT_EQ(image->image().size(), 174848u);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), image->image().begin()));
    EXPECT_TRUE(std::all_of(image->image().begin() + 1000, image->image().end(),
                            [](uint8_t b) { return b == 0; }));
    EXPECT_TRUE(image->scan());
    EXPECT_TRUE(image->files.empty());

    D64File none(nullptr);
    EXPECT_TRUE(std::all_of(none.image().begin(), none.image().end(), [](uint8_t b) { return b == 0; }));
    for (uint64_t i = 0; i < none.sectorCount(); ++i)
        ASSERT_FALSE(none.isSectorValid(i));
}

TEST(D64File, EmptyDirectoryListsNothing)
{
    D64Builder builder;
    builder.linkDirectorySector(0, {0, 0});
    // Only the type byte marks a used slot.
    uint8_t* directory = builder.sector(18, 1);
    for (int e = 0; e < 8; ++e)
        for (int b = 3; b < 32; ++b)
            directory[32 * e + b] = uint8_t(0x41 + b);
    auto image = open<D64File>(builder.image());
    EXPECT_TRUE(image->scan());
    EXPECT_TRUE(image->files.empty());
}

TEST(D64File, DirectoryThatRevisitsASectorListsEachEntryOnce)
{
    struct Case
    {
        const char* what;
        size_t entries;
        D64Builder::Place lastLink;
    } const kCases[] = {
        {"18/1 links to itself", 3, {18, 1}},
        {"18/2 links back to 18/1", 12, {18, 1}},
        {"18/2 links to itself", 12, {18, 2}},
    };
    for (const Case& c : kCases) {
        D64Builder builder;
        for (size_t i = 0; i < c.entries; ++i)
            builder.addFile("F" + std::to_string(i), counting(20, uint8_t(i)));
        builder.linkDirectorySector(builder.directorySectors() - 1, c.lastLink);
        auto image = open<D64File>(builder.image());
        EXPECT_TRUE(image->scan()) << c.what;
        ASSERT_EQ(image->files.size(), c.entries) << c.what;
        for (size_t i = 0; i < c.entries; ++i)
            EXPECT_EQ(image->files[i].name, "F" + std::to_string(i)) << c.what;
    }
}

TEST(D64File, DirectoryLinkOutOfRangeEndsTheWalk)
{
    const D64Builder::Place kEnds[] = {{0, 1}, {36, 1}, {18, 0}, {18, 0xFF}, {35, 20}};
    for (const auto link : kEnds) {
        D64Builder builder;
        builder.addFile("ONLY", counting(5, 0));
        builder.linkDirectorySector(0, link);
        auto image = open<D64File>(builder.image());
        EXPECT_TRUE(image->scan()) << int(link.track) << "/" << int(link.sector);
        EXPECT_EQ(image->files.size(), 1u);
    }
}

TEST(D64File, LastSectorWithIndexZeroFailsTheScanKeepingEarlierFiles)
{
    D64Builder builder;
    builder.addFile("ONE", counting(300, 1));
    builder.addFile("TWO", counting(20, 2));
    D64Builder::FilePlan bad{"BAD", counting(600, 3), 0x82};
    bad.lastIndex = 0;
    builder.addFile(bad);
    builder.addFile("AFTER", counting(20, 4));
    auto image = open<D64File>(builder.image());
    EXPECT_FALSE(image->scan());
    ASSERT_EQ(image->files.size(), 2u);
    EXPECT_EQ(image->files[0].bytes, counting(300, 1));
    EXPECT_EQ(image->files[1].bytes, counting(20, 2));
}

TEST(D64File, ChainRevisitingALaterSectorStopsThere)
{
    // Five sectors; the last links back to the third.
    D64Builder builder;
    D64Builder::FilePlan plan{"BACK", counting(5 * 254, 9), 0x82};
    plan.lastLink = D64Builder::Place{1, 2};
    const auto chain = builder.addFile(plan);
    ASSERT_EQ(chain[2].track, 1);
    ASSERT_EQ(chain[2].sector, 2);
    auto image = open<D64File>(builder.image());
    ASSERT_TRUE(image->scan());
    ASSERT_EQ(image->files.size(), 1u);
    EXPECT_EQ(image->files[0].bytes, counting(5 * 254, 9));
}

TEST(D64File, StartOutOfRangeListsAnEmptyFile)
{
    const D64Builder::Place kStarts[] = {{0, 0}, {36, 0}, {35, 17}, {255, 255}};
    for (const auto start : kStarts) {
        D64Builder builder;
        D64Builder::FilePlan plan{"X", {}, 0x82};
        plan.start = start;
        builder.addFile(plan);
        auto image = open<D64File>(builder.image());
        ASSERT_TRUE(image->scan());
        ASSERT_EQ(image->files.size(), 1u);
        EXPECT_TRUE(image->files[0].bytes.empty());
    }
}

TEST(D64File, LinkSectorIsCheckedOnlyAgainstTheImage)
{
    // 17/21 is the header sector 18/0 by sector number: a chain may go there.
    D64Builder builder;
    builder.name("HDR");
    D64Builder::FilePlan plan{"WRAP", counting(254, 0), 0x82};
    plan.lastLink = D64Builder::Place{17, 21};
    builder.addFile(plan);
    const Bytes bytes = builder.image();
    auto image = open<D64File>(bytes);
    ASSERT_TRUE(image->scan());
    ASSERT_EQ(image->files.size(), 1u);
    // The header sector's link is 18/1, which then ends the chain at the directory.
    ASSERT_GT(image->files[0].bytes.size(), 2u * 254);
    EXPECT_TRUE(std::equal(bytes.begin() + 0x16502, bytes.begin() + 0x16600,
                           image->files[0].bytes.begin() + 254));
}

TEST(D64File, ScanTwiceGivesTheSameFiles)
{
    MainDisk disk;
    auto image = open<D64File>(disk.builder.image());
    ASSERT_TRUE(image->scan());
    ASSERT_TRUE(image->scan());
    expectFiles(*image, disk.expected);
}

TEST(CbmName, CutsAtPaddingAndZero)
{
    struct Case
    {
        Bytes raw;
        std::string want;
    } const kCases[] = {
        {{'A', 'B', 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0}, "AB"},
        {counting(16, 0x41), "ABCDEFGHIJKLMNOP"},
        {{'A', 0, 'B', 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0, 0xA0}, "A"},
        {{0xA0, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L', 'M', 'N', 'O'}, ""},
    };
    for (const Case& c : kCases)
        EXPECT_EQ(cbmName(c.raw.data()), c.want);
}

TEST(SectorGeometry, PointersAndValidityPerImageKind)
{
    D64File d64(nullptr);
    D71File d71(nullptr);
    D81File d81(nullptr);
    struct Case
    {
        const char* kind;
        CBMDOS::File* disk;
        uint64_t track, sector;
        int64_t offset;  // -1: no pointer
        bool valid;
    } const kCases[] = {
        {"D64", &d64, 18, 0, 0x16500, true},
        {"D64", &d64, 1, 0, 0, true},
        {"D64", &d64, 17, 20, 356 * 256, true},
        {"D64", &d64, 17, 21, 357 * 256, false},  // pointer by sector number only
        {"D64", &d64, 18, 19, 376 * 256, false},
        {"D64", &d64, 35, 16, 682 * 256, true},
        {"D64", &d64, 35, 17, -1, false},
        {"D64", &d64, 0, 0, -1, false},
        {"D64", &d64, 36, 0, -1, false},
        {"D71", &d71, 36, 0, 683 * 256, true},
        {"D71", &d71, 53, 0, (683 + 357) * 256, true},
        {"D71", &d71, 52, 20, (683 + 356) * 256, true},
        {"D71", &d71, 53, 19, (683 + 376) * 256, false},
        {"D71", &d71, 70, 16, 1365 * 256, true},
        {"D71", &d71, 70, 17, -1, false},
        {"D71", &d71, 71, 0, -1, false},
        {"D81", &d81, 1, 39, 39 * 256, true},
        {"D81", &d81, 0, 39, -1, true},
        {"D81", &d81, 80, 39, 3199 * 256, true},
        {"D81", &d81, 81, 0, -1, false},
        {"D81", &d81, 1, 40, -1, false},
    };
    for (const Case& c : kCases) {
        const uint8_t* p = c.disk->sectorPointer(c.track, c.sector);
        const int64_t offset = p ? p - c.disk->image().data() : -1;
        EXPECT_EQ(offset, c.offset) << c.kind << " " << c.track << "/" << c.sector;
        EXPECT_EQ(c.disk->isValidTrackSector(c.track, c.sector), c.valid)
            << c.kind << " " << c.track << "/" << c.sector;
    }
    EXPECT_EQ(d64.image().size(), 174848u);
    EXPECT_EQ(d71.image().size(), 349696u);
    EXPECT_EQ(d81.image().size(), 819200u);
}

TEST(SectorGeometry, WriteSectorMarksValidAndIgnoresPlacesOutsideTheImage)
{
    const Bytes data = counting(256, 0x10);
    D64File d64(nullptr);
    d64.writeSector(36, 0, data.data());  // sector number 683
    d64.writeSector(35, 17, data.data());
    d64.writeSector(200, 0, data.data());
    D81File d81(nullptr);
    d81.writeSector(0, 0, data.data());  // before track 1
    for (const CBMDOS::File* disk : {static_cast<CBMDOS::File*>(&d64), static_cast<CBMDOS::File*>(&d81)}) {
        EXPECT_TRUE(std::all_of(disk->image().begin(), disk->image().end(), [](uint8_t b) { return b == 0; }));
        for (uint64_t i = 0; i < disk->sectorCount(); ++i)
            ASSERT_FALSE(disk->isSectorValid(i));
    }

    d64.writeSector(35, 16, data.data());
    EXPECT_TRUE(d64.isSectorValid(682));
    EXPECT_EQ(0, memcmp(d64.image().data() + 682 * 256, data.data(), 256));
    d81.writeSector(80, 39, data.data());
    EXPECT_TRUE(d81.isSectorValid(3199));
    EXPECT_EQ(0, memcmp(d81.image().data() + 3199 * 256, data.data(), 256));
}

TEST(SectorMap, ShowsValidSectorsTrackByTrack)
{
    const Bytes data(256, 0x5A);
    D64File disk(nullptr);
    disk.writeSector(1, 0, data.data());
    disk.writeSector(35, 16, data.data());
    MemoryStream out;
    disk.printSectorMap(out.file());

    const std::string rule(58, '-');
    std::string want = rule + "\n01 ." + std::string(20, 'X');
    // Sectors per track: 21 up to 17, 19 up to 24, 18 up to 30, 17 after.
    for (int track = 2; track <= 35; ++track) {
        const int count = track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
        char label[16];
        snprintf(label, sizeof label, "\n%02d ", track);
        want += label + std::string(count - (track == 35), 'X') + (track == 35 ? "." : "");
    }
    want += "\n" + rule + "\nTotal valid DOS sectors 2/683\n";
    EXPECT_EQ(out.text(), want);

    MemoryStream none;
    D81File(nullptr).printSectorMap(none.file());
    EXPECT_EQ(none.text(), "");

    MemoryStream d71;
    D71File(nullptr).printSectorMap(d71.file());
    const std::string text71 = d71.text();
    EXPECT_EQ(std::count(text71.begin(), text71.end(), 'X'), 1366);
    EXPECT_NE(text71.find("\n70 XXXXXXXXXXXXXXXXX\n"), std::string::npos);
    EXPECT_TRUE(text71.ends_with("Total valid DOS sectors 0/1366\n"));
}

TEST(D71File, ScanReadsBothSides)
{
    D64Builder builder;
    builder.name("TWO SIDES").id('C', 'D');
    // The file's second sector is the second side's first.
    D64Builder::FilePlan plan{"SIDES", counting(254, 1), 0x82};
    plan.lastLink = D64Builder::Place{36, 0};
    builder.addFile(plan);
    Bytes bytes = builder.image();
    bytes.resize(349696, 0);
    uint8_t* second = bytes.data() + 683 * 256;
    second[0] = 0;
    second[1] = 11;  // 10 bytes used
    memset(second + 2, 0x77, 10);
    // Second side free counts: one byte per track 36-70 from header byte $DD.
    for (int i = 0; i < 35; ++i)
        bytes[0x16500 + 0xDD + i] = 2;

    auto image = open<D71File>(bytes);
    ASSERT_TRUE(image->scan());
    EXPECT_EQ(image->diskName, "TWO SIDES");
    EXPECT_EQ(image->imageSize, 349696u);
    EXPECT_EQ(image->dataCapacity, 337312u);
    EXPECT_EQ(image->freeDataBytes, (664u + 70) * 254);
    EXPECT_EQ(image->freeBytes, (664u + 70) * 256);
    ASSERT_EQ(image->files.size(), 1u);
    Bytes want = counting(254, 1);
    want.insert(want.end(), 10, 0x77);
    EXPECT_EQ(image->files[0].bytes, want);

    // The same bytes as a D64 stop at the link to track 36.
    auto single = open<D64File>(bytes);
    ASSERT_TRUE(single->scan());
    EXPECT_EQ(single->files[0].bytes, counting(254, 1));
}

TEST(D81File, ListsNothing)
{
    Bytes bytes(819200);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = uint8_t(i * 7 + 3);
    auto image = open<D81File>(bytes);
    EXPECT_TRUE(image->scan());
    EXPECT_TRUE(image->files.empty());
    EXPECT_EQ(image->diskName, "");
    EXPECT_EQ(image->image(), bytes);
}
