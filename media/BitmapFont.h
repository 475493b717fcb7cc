#pragma once
// Fixed-cell bitmap text for 8-bit indexed pixel buffers, with the built-in 8 x 8 font of 96
// glyphs indexed by Windows Latin-1 byte.

#include <cstddef>
#include <cstdint>

namespace VGM {

// Glyphs stand in bands of (sheet width / glyph width) glyphs: a band holds, for each glyph row,
// one byte per glyph, bit 7 the leftmost pixel.
struct BitmapFont
{
    uint64_t glyphWidth = 8;
    uint64_t glyphHeight = 8;
    uint64_t sheetWidth = 256;
    const uint8_t* characterMap = nullptr;  // 256 glyph numbers, one per character byte
    const uint8_t* sheet = nullptr;
    uint64_t sheetSize = 0;  // bytes
};

// The 8 x 8 font: "!" to DEL are glyphs 0-94, space the blank glyph 95; other bytes fall back to
// a plain letter or to glyph 0.
BitmapFont builtInFont();

// Draws `length` bytes of text with its top-left corner at (x, y) of a buffer of `width` pixels
// per line (the line stride) and `height` lines. Each glyph pixel covers `horizontalFactor`
// pixels of a line; glyph rows are `verticalFactor` lines apart, the lines between them are left
// alone. Set bits write `colour`, clear bits write 0 unless `transparent`. Only pixels inside the
// buffer are written.
void drawBitmapText(const BitmapFont& font, bool transparent, uint8_t* pixels, uint64_t width,
                    uint64_t height, const char* text, size_t length, uint64_t x, uint64_t y,
                    uint32_t horizontalFactor, uint32_t verticalFactor, uint8_t colour);

}  // namespace VGM
