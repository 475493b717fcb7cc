// The "$" program: exact bytes of its lines, read back as a BASIC program.
#include "machine/DirectoryListing.h"

#include "fixtures/c64/D64Builder.h"
#include "machine/DiskImages.h"
#include "support/VirtualFile.h"

#include <gtest/gtest.h>

using Bytes = std::vector<uint8_t>;

namespace {

class TestDisk : public DiskFile
{
public:
    bool scan() override { return true; }
};

struct Line
{
    uint16_t address, link, number;
    std::string text;
};

// Follows the links from $0801 as LIST does, until the 00 00 end; each line must end in 0.
std::vector<Line> basicLines(const Bytes& program)
{
    std::vector<Line> lines;
    EXPECT_GE(program.size(), 4u);
    EXPECT_EQ(program[0], 0x01);
    EXPECT_EQ(program[1], 0x08);
    size_t at = 2;
    uint16_t address = 0x0801;
    while (at + 2 <= program.size()) {
        const uint16_t link = uint16_t(program[at] | program[at + 1] << 8);
        if (link == 0) {
            EXPECT_EQ(at + 2, program.size()) << "bytes after the end";
            return lines;
        }
        const size_t length = uint16_t(link - address);
        if (length < 5 || at + length > program.size()) {
            ADD_FAILURE() << "bad link " << link << " at " << address;
            return lines;
        }
        EXPECT_EQ(program[at + length - 1], 0) << "line at " << address;
        lines.push_back({address, link, uint16_t(program[at + 2] | program[at + 3] << 8),
                         std::string(program.begin() + at + 4, program.begin() + at + length - 1)});
        at += length;
        address = link;
    }
    ADD_FAILURE() << "program ends without 00 00";
    return lines;
}

DiskFileEntry fileOf(const std::string& name, size_t bytes, uint8_t type)
{
    return {Bytes(bytes, 0x33), name, type};
}

std::string listedLine(const DiskFileEntry& file, uint16_t* number = nullptr)
{
    TestDisk disk;
    disk.files.push_back(file);
    DiskFileEntry out;
    EXPECT_TRUE(buildDirectoryListing(&disk, out));
    const auto lines = basicLines(out.bytes);
    EXPECT_EQ(lines.size(), 3u);
    if (lines.size() < 2)
        return "";
    if (number)
        *number = lines[1].number;
    return lines[1].text;
}

}  // namespace

TEST(DirectoryListing, EmptyDiskIsExactly64Bytes)
{
    fixtures::D64Builder builder;
    builder.name("EMPTY").id('I', 'D').dosType('2', 'A');
    const Bytes bytes = builder.image();
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    D64File disk(&source);
    ASSERT_TRUE(disk.scan());

    DiskFileEntry entry;
    ASSERT_TRUE(buildDirectoryListing(&disk, entry));
    Bytes want = {0x01, 0x08, 0x1F, 0x08, 0x00, 0x00, 0x12, 0x22, 'E', 'M', 'P', 'T', 'Y'};
    want.insert(want.end(), 11, 0x20);
    want.insert(want.end(), {0x22, 0x20, 'I', 'D', 0x20, '2', 'A', 0x00});
    want.insert(want.end(), {0x3D, 0x08, 0x98, 0x02});
    for (const char c : std::string("BLOCKS FREE.") + std::string(13, ' '))
        want.push_back(uint8_t(c));
    want.insert(want.end(), {0x00, 0x00, 0x00});
    EXPECT_EQ(entry.bytes, want);
    EXPECT_EQ(entry.bytes.size(), 64u);
    EXPECT_EQ(entry.name, "");
    EXPECT_EQ(entry.type, 0);
}

TEST(DirectoryListing, TypeNamesAndMarkers)
{
    const struct
    {
        uint8_t type;
        const char* shown;
    } kCases[] = {{0x82, "PRG "}, {0x02, "PRG*"}, {0xC2, "PRG<"}, {0x42, "PRG*"}, {0x85, "WTF "},
                  {0x80, "DEL "}, {0x81, "SEQ "}, {0x83, "USR "}, {0x84, "REL "}, {0x8F, "WTF "},
                  {0xC0, "DEL<"}, {0x00, "DEL*"}};
    for (const auto& c : kCases) {
        const std::string text = listedLine(fileOf("NAME", 10, c.type));
        EXPECT_EQ(text.substr(3 + 1 + 16 + 1 + 1, 4), c.shown) << std::hex << int(c.type);
    }
}

TEST(DirectoryListing, BlockCountsAndTheirIndent)
{
    const struct
    {
        size_t bytes;
        uint16_t blocks;
        size_t indent;
    } kCases[] = {{0, 0, 3}, {1, 1, 3}, {254, 1, 3}, {255, 2, 3}, {7 * 254, 7, 3}, {9 * 254 + 1, 10, 2},
                  {99 * 254, 99, 2}, {100 * 254, 100, 1}, {300 * 254, 300, 1}};
    for (const auto& c : kCases) {
        uint16_t number = 0xFFFF;
        const std::string text = listedLine(fileOf("N", c.bytes, 0x82), &number);
        EXPECT_EQ(number, c.blocks) << c.bytes;
        EXPECT_EQ(text.find('"'), c.indent) << c.bytes;
    }
    // 300 blocks: line number bytes 2C 01.
    TestDisk disk;
    disk.files.push_back(fileOf("BIG", 300 * 254, 0x82));
    DiskFileEntry out;
    ASSERT_TRUE(buildDirectoryListing(&disk, out));
    EXPECT_EQ(out.bytes[32 + 2], 0x2C);
    EXPECT_EQ(out.bytes[32 + 3], 0x01);
}

TEST(DirectoryListing, NamesArePaddedToOneColumn)
{
    const std::string full = "ABCDEFGHIJKLMNOP";
    EXPECT_EQ(listedLine(fileOf(full, 10, 0x82)), "   \"" + full + "\" PRG  ");
    EXPECT_EQ(listedLine(fileOf("A", 10, 0x82)), "   \"A\"" + std::string(16, ' ') + "PRG  ");
    EXPECT_EQ(listedLine(fileOf("", 10, 0x02)), "   \"\"" + std::string(17, ' ') + "PRG* ");
}

TEST(DirectoryListing, HeaderShowsIdBytesBelow80AndDosTypeAsStored)
{
    TestDisk disk;
    disk.diskName = "SIXTEEN CHARS!!!";
    disk.diskId = {0xA0, 0xA0};
    disk.dosType = {0xA0, 0x01};
    DiskFileEntry out;
    ASSERT_TRUE(buildDirectoryListing(&disk, out));
    const auto lines = basicLines(out.bytes);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "\x12\"SIXTEEN CHARS!!!\"    \xA0\x01");
    disk.diskId = {0x7F, 0x80};
    out.bytes.clear();
    buildDirectoryListing(&disk, out);
    EXPECT_EQ(basicLines(out.bytes)[0].text.substr(20, 3), "\x7F  ");
}

TEST(DirectoryListing, EveryFileLineIs32BytesInDirectoryOrder)
{
    fixtures::D64Builder builder;
    builder.name("FULL").id('0', '1');
    for (int i = 0; i < 20; ++i)
        builder.addFile("F" + std::to_string(i), Bytes(size_t(i) * 100, uint8_t(i)));
    for (unsigned track = 1; track <= 35; ++track)
        builder.freeBlocks(track, 0);
    builder.freeBlocks(1, 3);
    const Bytes bytes = builder.image();
    vantor::VirtualRAMFile source(bytes.data(), bytes.size());
    D64File disk(&source);
    ASSERT_TRUE(disk.scan());

    DiskFileEntry out;
    out.bytes = {0xAA};  // appended after what is there
    ASSERT_TRUE(buildDirectoryListing(&disk, out));
    ASSERT_EQ(out.bytes.size(), 1 + 64 + 32u * 20);
    EXPECT_EQ(out.bytes[0], 0xAA);
    const auto lines = basicLines(Bytes(out.bytes.begin() + 1, out.bytes.end()));
    ASSERT_EQ(lines.size(), 22u);
    for (int i = 0; i < 20; ++i) {
        const Line& line = lines[1 + i];
        EXPECT_EQ(line.address, 0x081F + 32 * i);
        EXPECT_EQ(line.text.size(), 27u) << i;  // 32 less link, number and end
        EXPECT_EQ(line.number, (i * 100 + 253) / 254) << i;
        EXPECT_NE(line.text.find("\"F" + std::to_string(i) + "\""), std::string::npos) << i;
    }
    EXPECT_EQ(lines[21].number, 3);
    EXPECT_EQ(lines[21].text, "BLOCKS FREE.             ");
}

TEST(DirectoryListing, NoDiskLeavesTheEntryAlone)
{
    DiskFileEntry entry{{1, 2, 3}, "KEEP", 0x82};
    EXPECT_FALSE(buildDirectoryListing(nullptr, entry));
    EXPECT_EQ(entry.bytes, (Bytes{1, 2, 3}));
    EXPECT_EQ(entry.name, "KEEP");
}
