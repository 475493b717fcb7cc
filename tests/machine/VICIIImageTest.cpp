// The built-in character image and the colour tables.
#include "VICIIRig.h"

#include "machine/VICIIPalette.h"

#include <set>

namespace {

const uint8_t* glyph(uint32_t set, uint32_t code)
{
    return kVICIICharacterImage.data() + set * 0x800 + code * 8;
}

bool same(const uint8_t* a, const uint8_t* b)
{
    return std::equal(a, a + 8, b);
}

bool blank(const uint8_t* g)
{
    return std::all_of(g, g + 8, [](uint8_t b) { return b == 0; });
}

TEST(VICIICharacterImage, InverseHalves)
{
    for (uint32_t set = 0; set < 2; ++set)
        for (uint32_t code = 0; code < 128; ++code)
            for (uint32_t r = 0; r < 8; ++r)
                ASSERT_EQ(glyph(set, code + 128)[r], uint8_t(~glyph(set, code)[r]))
                    << set << " " << code << " " << r;
}

TEST(VICIICharacterImage, ScreenCodeOrder)
{
    for (uint32_t set = 0; set < 2; ++set) {
        EXPECT_TRUE(blank(glyph(set, 32)));
        std::set<std::vector<uint8_t>> digits;
        for (uint32_t code = 48; code <= 57; ++code) {
            EXPECT_FALSE(blank(glyph(set, code))) << code;
            digits.insert(std::vector<uint8_t>(glyph(set, code), glyph(set, code) + 8));
        }
        EXPECT_EQ(digits.size(), 10u);
        // Everything else but the two spaces (32 and shifted 96) has pixels.
        for (uint32_t code = 0; code < 128; ++code) {
            if (code != 32 && code != 96) {
                EXPECT_FALSE(blank(glyph(set, code))) << set << " " << code;
            }
        }
    }
    std::set<std::vector<uint8_t>> letters;
    for (uint32_t i = 1; i <= 26; ++i) {
        EXPECT_TRUE(same(glyph(1, 64 + i), glyph(0, i))) << i;
        EXPECT_FALSE(same(glyph(1, i), glyph(0, i))) << i;
        letters.insert(std::vector<uint8_t>(glyph(0, i), glyph(0, i) + 8));
        letters.insert(std::vector<uint8_t>(glyph(1, i), glyph(1, i) + 8));
    }
    EXPECT_EQ(letters.size(), 52u);  // 26 upper- and 26 lower-case shapes, all different
    // The two sets share @, punctuation, digits and the graphics outside 65-90.
    for (uint32_t code : {0u, 27u, 33u, 48u, 63u, 64u, 91u, 127u})
        EXPECT_TRUE(same(glyph(1, code), glyph(0, code))) << code;
}

TEST(VICIICharacterImage, ChipDrawsFromIt)
{
    vicii_test::VicRig rig;
    rig.vic->setBank(3);  // image at $1000-$1FFF
    rig.vic->writeRegister(0x11, 0x1B);
    rig.vic->writeRegister(0x16, 0x08);
    rig.vic->writeRegister(0x18, 0x14);  // matrix $0400, characters $1000
    rig.vic->writeRegister(0x21, 0);
    rig.ram[0x0400] = 1;  // "A"
    rig.colourRam[0] = 1;
    rig.runFrames(2);
    for (uint32_t r = 0; r < 8; ++r)
        for (uint32_t i = 0; i < 8; ++i)
            EXPECT_EQ(rig.pixel(36 + r, 32 + i), (glyph(0, 1)[r] >> (7 - i) & 1) ? 1 : 0);
}

TEST(VICIIPalette, ScreenTablesFollowTheStandard)
{
    for (const bool ntsc : {false, true}) {
        vicii_test::VicRig rig(ntsc);
        const EmuScreen& screen = rig.vic->screen();
        const VICIIPalette& p = viciiPalette(ntsc);
        for (uint32_t i = 0; i < 16; ++i) {
            EXPECT_EQ(screen.red[i], p[i].red);
            EXPECT_EQ(screen.green[i], p[i].green);
            EXPECT_EQ(screen.blue[i], p[i].blue);
        }
        for (uint32_t i = 16; i < 256; ++i)
            ASSERT_EQ(screen.red[i] | screen.green[i] | screen.blue[i], 0) << i;
    }
    const VICIIColour pal14 = viciiPalette(false)[14];
    EXPECT_EQ((std::array<uint8_t, 3>{pal14.red, pal14.green, pal14.blue}),
              (std::array<uint8_t, 3>{0x6C, 0x5E, 0xB5}));
    const VICIIColour ntsc2 = viciiPalette(true)[2];
    EXPECT_EQ((std::array<uint8_t, 3>{ntsc2.red, ntsc2.green, ntsc2.blue}),
              (std::array<uint8_t, 3>{0xB4, 0x24, 0x55}));
    EXPECT_EQ(viciiPalette(false)[0].red | viciiPalette(true)[0].blue, 0);
    EXPECT_EQ(viciiPalette(true)[1].green, 0xFF);
}

}  // namespace
