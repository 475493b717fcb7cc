// The ROM loader over a folder, into images of the test's own (the process-wide set is left to
// the standalone tests).
#include "machine/C64RomSet.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace {

void writeFile(const std::string& path, size_t size, uint8_t first)
{
    std::vector<char> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = char(uint8_t(first + i / 4096));  // each 4 KB its own value
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(size));
}

TEST(C64RomSet, LongerFileIsCutToTheImage)
{
    fixtures::TempDir dir;
    writeFile(dir / "basic.rom", 16384, 0x10);
    C64RomImages images;
    loadRomSet(dir.path(), images);
    EXPECT_EQ(images.basicRom[0], 0x10);
    EXPECT_EQ(images.basicRom[4096], 0x11);
    EXPECT_EQ(images.basicRom[8191], 0x11);
    EXPECT_EQ(images.kernalRom[0], 0x00);
    EXPECT_EQ(images.charRom[0], 0x00);
}

TEST(C64RomSet, ShortFileIsSkippedForTheNextName)
{
    fixtures::TempDir dir;
    writeFile(dir / "kernal.rom", 4000, 0x20);
    writeFile(dir / "kernal.c64", 8192, 0x30);
    writeFile(dir / "kernal_generic.rom", 8192, 0x40);
    C64RomImages images;
    loadRomSet(dir.path(), images);
    EXPECT_EQ(images.kernalRom[0], 0x30);
    EXPECT_EQ(images.kernalRom[8191], 0x31);
}

TEST(C64RomSet, LastCandidateAloneIsFound)
{
    fixtures::TempDir dir;
    writeFile(dir / "chargen_openroms.rom", 4096, 0x50);
    writeFile(dir / "basic_generic.rom", 8192, 0x60);
    C64RomImages images;
    loadRomSet(dir.path(), images);
    EXPECT_EQ(images.charRom[0], 0x50);
    EXPECT_EQ(images.charRom[4095], 0x50);
    EXPECT_EQ(images.basicRom[0], 0x60);
}

TEST(C64RomSet, NothingThereKeepsTheImages)
{
    fixtures::TempDir dir;
    writeFile(dir / "chargen", 4095, 0x70);  // one byte short
    C64RomImages images;
    loadRomSet(dir.path(), images);
    for (uint32_t i = 0; i < 4096; ++i)
        ASSERT_EQ(images.charRom[i], 0) << i;
    images.kernalRom[5] = 0xAA;
    loadRomSet(dir.path() + "/missing", images);
    EXPECT_EQ(images.kernalRom[5], 0xAA);
}

}  // namespace
