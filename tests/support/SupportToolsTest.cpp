#include "support/SupportTools.h"

#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(ByteOrder, SwapsEveryElement)
{
    EXPECT_TRUE(isHostLittleEndian());
    uint16_t halves[17];
    uint32_t words[17];
    for (int i = 0; i < 17; ++i) {
        halves[i] = uint16_t(0x0102 + i);
        words[i] = 0x01020304u + uint32_t(i);
    }
    swapBytes16InPlace(halves, 17);
    swapBytes32InPlace(words, 17);
    for (int i = 0; i < 17; ++i) {
        const uint16_t h = uint16_t(0x0102 + i);
        const uint32_t w = 0x01020304u + uint32_t(i);
        EXPECT_EQ(halves[i], uint16_t((h >> 8) | (h << 8))) << i;
        EXPECT_EQ(words[i], (w >> 24) | ((w >> 8) & 0xFF00u) | ((w << 8) & 0xFF0000u) | (w << 24)) << i;
    }
    swapBytes16InPlace(halves, 0);
    EXPECT_EQ(halves[0], 0x0201);
}

TEST(ByteOrder, ReversedBits)
{
    const struct { uint8_t in, out; } kCases[] = {
        {0x01, 0x80}, {0x0F, 0xF0}, {0xA5, 0xA5}, {0x00, 0x00}, {0x12, 0x48}};
    for (const auto& c : kCases) {
        const uint8_t byte = c.in;
        EXPECT_EQ(reverseBits8(&byte), c.out) << int(c.in);
        EXPECT_EQ(byte, c.in);
    }
    for (int v = 0; v < 256; ++v) {
        const uint8_t b = uint8_t(v);
        const uint8_t r = reverseBits8(&b);
        EXPECT_EQ(reverseBits8(&r), b);
    }
}

TEST(Numbers, NextPowerOfTwo)
{
    const struct { uint64_t in, out; } kCases[] = {
        {0, 0},
        {1, 1},
        {3, 4},
        {5, 8},
        {4096, 4096},
        {1ull << 32, 1ull << 32},
        {(1ull << 32) + 1, 1ull << 33},
        {(1ull << 40) + 7, 1ull << 41},
        {1ull << 63, 1ull << 63},
        {(1ull << 63) + 1, 0},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(nextPowerOfTwo(c.in), c.out) << c.in;
}

TEST(Buffers, ZeroFilled)
{
    auto* p = static_cast<uint8_t*>(allocBuffer(64));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(p[i], 0);
    memset(p, 7, 64);
    p = static_cast<uint8_t*>(reallocBuffer(p, 128));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p[63], 7);
    freeBuffer(p);
    freeBuffer(nullptr);
}

TEST(Folders, SizesAndListings)
{
    fixtures::TempDir dir;
    dir.write("a.bin", std::string(10, 'a'));
    dir.write("sub/b.txt", std::string(20, 'b'));
    dir.makeFolder("empty");
    EXPECT_EQ(folderTotalSize(dir.path()), 30);
    EXPECT_EQ(folderTotalSize(dir / "empty"), 0);
    EXPECT_EQ(folderTotalSize(dir / "missing"), 0);

    std::set<std::string> out;
    listFiles(dir.path(), "*.bin", out, nullptr);
    EXPECT_EQ(out, std::set<std::string>{dir / "a.bin"});
    out.clear();
    listFilesWithExtensions(dir.path(), {"TXT"}, out, nullptr);
    EXPECT_EQ(out, std::set<std::string>{dir / "sub/b.txt"});
    out.clear();
    listSubfolders(dir.path(), out);
    EXPECT_EQ(out, (std::set<std::string>{dir / "sub", dir / "empty"}));
}
