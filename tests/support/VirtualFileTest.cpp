#include "support/VirtualFile.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>

using vantor::VirtualRAMFile;
using vantor::ZRGFile;

TEST(VirtualRAMFile, PositionsStayInsideTheData)
{
    const uint8_t data[10] = {0, 1, 2, 3, 4, 5, 6, 7, 0xAA, 0xBB};
    VirtualRAMFile f(data, sizeof data);
    EXPECT_TRUE(f.isOpen());
    EXPECT_TRUE(f.name.empty());
    EXPECT_EQ(f.size(), 10);
    EXPECT_TRUE(f.seek(9));
    EXPECT_FALSE(f.seek(10));
    EXPECT_FALSE(f.seek(-1));
    EXPECT_EQ(f.tell(), 9);
    EXPECT_FALSE(f.skip(1));
    EXPECT_EQ(f.tell(), 9);
    EXPECT_TRUE(f.skip(-9));  // a negative offset moves back
    EXPECT_EQ(f.tell(), 0);
    EXPECT_FALSE(f.skip(-1));
    EXPECT_TRUE(f.canSeekBackwards());

    uint8_t buffer[100];
    ASSERT_TRUE(f.seek(8));
    EXPECT_EQ(f.read(buffer, 100), 2u);
    EXPECT_EQ(buffer[1], 0xBB);
    EXPECT_EQ(f.tell(), 10);
    EXPECT_EQ(f.read(buffer, 100), 0u);
    EXPECT_EQ(f.readU8(), 0u);
    EXPECT_EQ(f.tell(), 10);
    ASSERT_TRUE(f.seek(8));
    EXPECT_EQ(f.readU32(), 0xBBAAu);  // the bytes present in the low end, the rest 0
    EXPECT_EQ(f.tell(), 10);
}

TEST(VirtualRAMFile, TypedReads)
{
    const uint8_t data[] = {0x01, 0x02, 0x03, 0x04, 0xAA, 0xBB};
    VirtualRAMFile f(data, sizeof data);
    EXPECT_EQ(f.readU32(), 0x04030201u);
    EXPECT_EQ(f.readU32(), 0xBBAAu);  // two bytes left: low end, the rest 0
    EXPECT_EQ(f.tell(), 6);
    ASSERT_TRUE(f.seek(5));
    EXPECT_EQ(f.readU16(), 0xBBu);
    ASSERT_TRUE(f.seek(1));
    EXPECT_EQ(f.readU16(), 0x0302u);
    EXPECT_EQ(f.readU8(), 0x04u);

    VirtualRAMFile empty;
    EXPECT_FALSE(empty.isOpen());
    EXPECT_EQ(empty.readU32(), 0u);
    EXPECT_FALSE(empty.seek(0));
    uint8_t byte;
    EXPECT_EQ(empty.read(&byte, 1), 0u);
}

TEST(ZRGFile, ReadsAFile)
{
    fixtures::TempDir dir;
    const std::string path = dir.write("f.bin", std::string("\x01\x02\x03\x04\x05", 5));
    ZRGFile f(path);
    ASSERT_TRUE(f.isOpen());
    EXPECT_EQ(f.getPath(), path);
    EXPECT_EQ(f.size(), 5);
    EXPECT_EQ(f.readU32(), 0x04030201u);
    EXPECT_EQ(f.readU16(), 0x05u);  // one byte left: it is the low byte
    EXPECT_EQ(f.readU8(), 0u);
    EXPECT_TRUE(f.seek(1));
    EXPECT_EQ(f.tell(), 1);
    EXPECT_TRUE(f.skip(2));
    EXPECT_EQ(f.readU8(), 4u);
    EXPECT_TRUE(f.seek(100));  // past the end is accepted
    uint8_t buffer[8];
    EXPECT_EQ(f.read(buffer, 8), 0u);
    f.close();
    EXPECT_FALSE(f.isOpen());
    EXPECT_EQ(f.tell(), -1);

    ZRGFile byText(path.c_str());
    EXPECT_TRUE(byText.isOpen());
    EXPECT_EQ(byText.size(), 5);
}

TEST(ZRGFile, AnythingButARegularFileStaysClosed)
{
    fixtures::TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string kPaths[] = {dir / "missing", dir.path(), dir / "fifo", ""};
    for (const std::string& path : kPaths) {
        ZRGFile f(path);
        EXPECT_FALSE(f.isOpen()) << path;
        EXPECT_EQ(f.size(), 0) << path;
        EXPECT_EQ(f.getPath(), "");
        uint8_t buffer[4];
        EXPECT_EQ(f.read(buffer, 4), 0u);
        EXPECT_EQ(f.readU32(), 0u);
        EXPECT_FALSE(f.seek(0));
        EXPECT_FALSE(f.skip(1));
        EXPECT_EQ(f.tell(), -1);
    }
    ZRGFile null(static_cast<const char*>(nullptr));
    EXPECT_FALSE(null.isOpen());
}
