#include "media/BitmapFont.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using VGM::BitmapFont;
using VGM::builtInFont;
using VGM::drawBitmapText;

constexpr uint64_t kWidth = 64, kHeight = 32;
constexpr uint8_t kBackground = 7;

struct Buffer
{
    std::vector<uint8_t> pixels = std::vector<uint8_t>(kWidth * kHeight, kBackground);
    uint8_t at(uint64_t x, uint64_t y) const { return pixels[y * kWidth + x]; }
    void draw(const std::string& text, uint64_t x, uint64_t y, bool transparent = false,
              uint32_t horizontal = 1, uint32_t vertical = 1)
    {
        drawBitmapText(builtInFont(), transparent, pixels.data(), kWidth, kHeight, text.data(),
                       text.size(), x, y, horizontal, vertical, 1);
    }
};

// Bit (row, column) of glyph g, read from the sheet as the font record describes it.
bool glyphBit(const BitmapFont& font, uint32_t glyph, uint32_t row, uint32_t column)
{
    const uint64_t perBand = font.sheetWidth / font.glyphWidth;
    const uint64_t at = glyph / perBand * font.glyphHeight * perBand + row * perBand + glyph % perBand;
    return font.sheet[at] & (0x80 >> column);
}

TEST(BitmapFont, RecordOfTheBuiltInFont)
{
    const BitmapFont font = builtInFont();
    EXPECT_EQ(font.glyphWidth, 8u);
    EXPECT_EQ(font.glyphHeight, 8u);
    EXPECT_EQ(font.sheetWidth, 256u);
    EXPECT_EQ(font.sheetSize, 768u);
    ASSERT_NE(font.sheet, nullptr);
    ASSERT_NE(font.characterMap, nullptr);
}

TEST(BitmapFont, CharacterMap)
{
    const BitmapFont font = builtInFont();
    const struct { uint8_t byte; uint8_t glyph; } cases[] = {
        {0x21, 0}, {0x41, 'A' - 0x21}, {0x7E, 93}, {0x7F, 94}, {0x20, 95},
        {0xE9, 'e' - 0x21}, {0xC5, 'A' - 0x21}, {0xD1, 'N' - 0x21}, {0xF6, 'o' - 0x21},
        {0xDF, 'B' - 0x21}, {0xD8, '0' - 0x21}, {0x93, '"' - 0x21}, {0xFF, 'y' - 0x21},
        {0x05, 0}, {0x00, 0}, {0xA9, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(font.characterMap[c.byte], c.glyph) << std::hex << int(c.byte);
}

TEST(BitmapFont, PrintableGlyphsAreDistinctAndTheSpaceIsBlank)
{
    const BitmapFont font = builtInFont();
    std::set<std::vector<bool>> shapes;
    for (uint32_t g = 0; g < 96; ++g) {
        std::vector<bool> bits;
        for (uint32_t r = 0; r < 8; ++r)
            for (uint32_t c = 0; c < 8; ++c)
                bits.push_back(glyphBit(font, g, r, c));
        const bool empty = std::find(bits.begin(), bits.end(), true) == bits.end();
        if (g == 95) {
            EXPECT_TRUE(empty);
            continue;
        }
        EXPECT_FALSE(empty) << "glyph " << g;
        if (g < 94) {
            EXPECT_TRUE(shapes.insert(bits).second) << "glyph of " << char(0x21 + g) << " repeats";
        }
    }
}

TEST(BitmapFont, OpaqueAndTransparentLetter)
{
    const BitmapFont font = builtInFont();
    const uint32_t a = font.characterMap['A'];
    Buffer opaque, transparent;
    opaque.draw("A", 8, 8);
    transparent.draw("A", 8, 8, true);
    int set = 0;
    for (uint64_t y = 0; y < kHeight; ++y)
        for (uint64_t x = 0; x < kWidth; ++x) {
            const bool inCell = x >= 8 && x < 16 && y >= 8 && y < 16;
            const bool bit = inCell && glyphBit(font, a, uint32_t(y - 8), uint32_t(x - 8));
            set += bit;
            EXPECT_EQ(opaque.at(x, y), bit ? 1 : inCell ? 0 : kBackground) << x << "," << y;
            EXPECT_EQ(transparent.at(x, y), bit ? 1 : kBackground) << x << "," << y;
        }
    EXPECT_GT(set, 8);
}

TEST(BitmapFont, FactorsSpreadTheGlyph)
{
    const BitmapFont font = builtInFont();
    const uint32_t h = font.characterMap['H'];
    Buffer wide;
    wide.draw("HH", 0, 0, false, 2, 1);
    for (uint64_t y = 0; y < 8; ++y)
        for (uint64_t x = 0; x < 32; ++x)  // the second glyph starts 16 pixels on
            EXPECT_EQ(wide.at(x, y), glyphBit(font, h, uint32_t(y), uint32_t(x % 16 / 2)) ? 1 : 0);
    EXPECT_EQ(wide.at(32, 0), kBackground);

    Buffer tall;
    tall.draw("H", 0, 4, false, 1, 2);
    for (uint64_t y = 4; y < 20; ++y)
        for (uint64_t x = 0; x < 8; ++x) {
            const uint8_t want = (y - 4) % 2 ? kBackground : glyphBit(font, h, uint32_t((y - 4) / 2), uint32_t(x));
            EXPECT_EQ(tall.at(x, y), want) << x << "," << y;
        }
}

TEST(BitmapFont, SpaceAndNothingToDraw)
{
    Buffer opaque, transparent, untouched;
    opaque.draw(" ", 0, 0);
    transparent.draw(" ", 0, 0, true);
    for (uint64_t y = 0; y < 8; ++y)
        for (uint64_t x = 0; x < 8; ++x)
            EXPECT_EQ(opaque.at(x, y), 0);
    EXPECT_EQ(transparent.pixels, untouched.pixels);

    Buffer b;
    const BitmapFont font = builtInFont();
    drawBitmapText(font, false, b.pixels.data(), kWidth, kHeight, "A", 0, 0, 0, 1, 1, 1);
    drawBitmapText(font, false, nullptr, kWidth, kHeight, "A", 1, 0, 0, 1, 1, 1);
    BitmapFont noSheet = font;
    noSheet.sheet = nullptr;
    drawBitmapText(noSheet, false, b.pixels.data(), kWidth, kHeight, "A", 1, 0, 0, 1, 1, 1);
    EXPECT_EQ(b.pixels, untouched.pixels);
}

// Text that runs past the right edge or the last line writes only pixels inside; the buffer sits
// inside a larger one whose border must stay as it was.
TEST(BitmapFont, ClipsToTheBuffer)
{
    constexpr uint64_t w = 20, h = 12, border = 16;
    std::vector<uint8_t> outer((w + 2 * border) * (h + 2 * border), 9);
    // Rows of the inner buffer are w apart inside `outer` (a tight block at its middle).
    uint8_t* inner = outer.data() + outer.size() / 2;
    std::memset(inner, 0, w * h);
    const std::vector<uint8_t> before = outer;
    const std::string text(50, 'W');
    for (const auto& [x, y, hf, vf] : std::vector<std::array<uint64_t, 4>>{
             {0, 0, 1, 1}, {15, 6, 3, 2}, {19, 11, 1, 1}, {20, 0, 1, 1}, {0, 12, 1, 1}, {3, 9, 2, 5}})
        drawBitmapText(builtInFont(), false, inner, w, h, text.data(), text.size(), x, y,
                       uint32_t(hf), uint32_t(vf), 1);
    for (size_t i = 0; i < outer.size(); ++i) {
        const bool inside = outer.data() + i >= inner && outer.data() + i < inner + w * h;
        if (!inside) {
            ASSERT_EQ(outer[i], before[i]) << "byte " << i;
        }
    }
    EXPECT_NE(std::vector<uint8_t>(inner, inner + w * h), std::vector<uint8_t>(w * h, 0));
}

}  // namespace
