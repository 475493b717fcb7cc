// What reaches the canvas: text and bitmap modes, scrolling, the border unit, sprites and their
// collisions. Canvas row = raster line - 15, column = X coordinate + 8 for X below 400.
#include "VICIIRig.h"

#include <string>

namespace {

using vicii_test::VicRig;

constexpr uint32_t kBank = 0x4000;     // bank mode 2
constexpr uint32_t kMatrix = 0x4400;   // $D018 = $12
constexpr uint32_t kChars = 0x4800;
constexpr uint32_t kPointers = kMatrix + 0x3F8;

constexpr uint8_t kBorder = 14;
constexpr uint8_t kBackground = 6;

// 40 x 25 text at $4400 with characters at $4800, colour RAM 7, border 14, background 6.
void setUpText(VicRig& rig)
{
    rig.vic->setBank(2);
    std::fill(rig.colourRam.begin(), rig.colourRam.end(), 7);
    rig.vic->writeRegister(0x11, 0x1B);
    rig.vic->writeRegister(0x16, 0x08);
    rig.vic->writeRegister(0x18, 0x12);
    rig.vic->writeRegister(0x20, kBorder);
    rig.vic->writeRegister(0x21, kBackground);
}

void setGlyph(VicRig& rig, uint8_t code, uint8_t rowBits)
{
    for (uint32_t r = 0; r < 8; ++r)
        rig.ram[kChars + code * 8u + r] = rowBits;
}

uint32_t runLength(const VicRig& rig, uint32_t row, uint32_t column, uint8_t colour);

// The eight pixels of canvas row `row` from `column`, as a string of hex digits.
std::string span(const VicRig& rig, uint32_t row, uint32_t column, uint32_t n = 8)
{
    std::string s;
    for (uint32_t i = 0; i < n; ++i)
        s += "0123456789ABCDEF"[rig.pixel(row, column + i) & 15];
    return s;
}

TEST(VICIIPicture, TextFrame)
{
    VicRig rig;
    setUpText(rig);
    rig.ram[kMatrix + 0] = 1;
    rig.ram[kMatrix + 24 * 40 + 39] = 2;
    setGlyph(rig, 1, 0x80);
    setGlyph(rig, 2, 0x01);
    rig.runFrames(2);  // the first frame starts with the border flip-flops open

    const struct {
        uint32_t row, column;
        uint8_t colour;
    } expected[] = {
        {36, 32, 7},   {36, 33, kBackground}, {36, 31, kBorder}, {35, 32, kBorder},
        {43, 32, 7},   {44, 32, kBackground},           {235, 351, 7},     {235, 352, kBorder},
        {236, 351, kBorder}, {235, 350, kBackground}, {0, 0, 0}, {271, 383, kBorder},
    };
    for (const auto& e : expected)
        EXPECT_EQ(rig.pixel(e.row, e.column), e.colour) << e.row << "," << e.column;

    // The canvas carries the PAL colours.
    EXPECT_EQ(rig.red[14], 0x6C);
    EXPECT_EQ(rig.green[14], 0x5E);
    EXPECT_EQ(rig.blue[14], 0xB5);
}

TEST(VICIIPicture, XscrollDelaysTheGraphicsNotTheBorder)
{
    VicRig rig;
    setUpText(rig);
    rig.ram[kMatrix + 0] = 1;
    rig.ram[kMatrix + 39] = 2;
    setGlyph(rig, 1, 0x80);
    setGlyph(rig, 2, 0x01);
    rig.vic->writeRegister(0x16, 0x0B);
    rig.runFrames(2);
    EXPECT_EQ(span(rig, 36, 31, 6), "E66676");  // border, background from the delay line, glyph
    // The last column's pixel moves under the right border.
    EXPECT_EQ(span(rig, 36, 348, 6), "6666EE");
}

TEST(VICIIPicture, ModesColourTheirPixels)
{
    // Graphics byte $A5 in hi-res modes (1 0 1 0 0 1 0 1), $1B in multicolour ones (00 01 10 11).
    const struct {
        const char* name;
        uint8_t d011, d016, matrixByte, colour, bits;
        const char* pixels;
    } cases[] = {
        {"text", 0x1B, 0x08, 0x01, 7, 0xA5, "76766767"},
        {"multicolour text", 0x1B, 0x18, 0x01, 13, 0x1B, "66112255"},
        {"multicolour text, colour bit 3 clear", 0x1B, 0x18, 0x01, 5, 0xA5, "56566565"},
        {"bitmap", 0x3B, 0x08, 0x4C, 7, 0xA5, "4C4CC4C4"},
        {"multicolour bitmap", 0x3B, 0x18, 0x4C, 9, 0x1B, "6644CC99"},
        {"extended colour", 0x5B, 0x08, 0xC1, 7, 0xA5, "73733737"},
        {"ECM + MCM", 0x5B, 0x18, 0x01, 13, 0xA5, "00000000"},
        {"ECM + BMM", 0x7B, 0x08, 0x4C, 7, 0xA5, "00000000"},
        {"ECM + BMM + MCM", 0x7B, 0x18, 0x4C, 7, 0x1B, "00000000"},
    };
    for (const auto& c : cases) {
        VicRig rig;
        setUpText(rig);
        rig.vic->writeRegister(0x22, 1);
        rig.vic->writeRegister(0x23, 2);
        rig.vic->writeRegister(0x24, 3);
        rig.vic->writeRegister(0x11, c.d011);
        rig.vic->writeRegister(0x16, c.d016);
        rig.ram[kMatrix] = c.matrixByte;
        rig.colourRam[0] = c.colour;
        setGlyph(rig, 1, c.bits);   // text glyph 1 (ECM: code $C1 is glyph 1)
        for (uint32_t r = 0; r < 8; ++r)
            rig.ram[kBank + r] = c.bits;  // bitmap at $0000 of the bank, cell 0
        rig.runFrames(2);
        EXPECT_EQ(span(rig, 36, 32), c.pixels) << c.name;
    }
}

TEST(VICIIPicture, IdleStateShowsTheLastByteOfTheBankInBlack)
{
    VicRig rig;
    setUpText(rig);
    rig.vic->writeRegister(0x11, 0x1F);  // YSCROLL 7: lines 51-54 are idle inside the window
    rig.ram[kBank + 0x3FFF] = 0xC3;
    rig.ram[kBank + 0x39FF] = 0x18;
    rig.runFrames(2);
    EXPECT_EQ(span(rig, 37, 32), "00666600");
    EXPECT_EQ(span(rig, 37, 40), "00666600");

    rig.vic->writeRegister(0x11, 0x5F);  // ECM: the idle address drops bits 9 and 10
    rig.runFrames(1);
    EXPECT_EQ(span(rig, 37, 32), "66600666");
}

TEST(VICIIPicture, BorderCompareValues)
{
    // Columns and rows just inside and outside the window for RSEL/CSEL 1 and 0.
    const struct {
        uint8_t d011, d016;
        uint32_t firstRow, lastRow, firstColumn, lastColumn;
    } cases[] = {
        {0x1B, 0x08, 36, 235, 32, 351},
        {0x13, 0x00, 40, 231, 39, 342},
    };
    for (const auto& c : cases) {
        VicRig rig;
        setUpText(rig);
        rig.vic->writeRegister(0x11, c.d011);
        rig.vic->writeRegister(0x16, c.d016);
        rig.runFrames(2);
        const uint32_t mid = 150;
        EXPECT_EQ(rig.pixel(c.firstRow, mid), kBackground) << int(c.d011);
        EXPECT_EQ(rig.pixel(c.firstRow - 1, mid), kBorder) << int(c.d011);
        EXPECT_EQ(rig.pixel(c.lastRow, mid), kBackground) << int(c.d011);
        EXPECT_EQ(rig.pixel(c.lastRow + 1, mid), kBorder) << int(c.d011);
        EXPECT_EQ(rig.pixel(mid, c.firstColumn), kBackground) << int(c.d016);
        EXPECT_EQ(rig.pixel(mid, c.firstColumn - 1), kBorder) << int(c.d016);
        EXPECT_EQ(rig.pixel(mid, c.lastColumn), kBackground) << int(c.d016);
        EXPECT_EQ(rig.pixel(mid, c.lastColumn + 1), kBorder) << int(c.d016);
    }
}

TEST(VICIIPicture, SwitchingRselPastTheBottomCompareKeepsTheBorderOpen)
{
    VicRig rig;
    setUpText(rig);
    rig.runFrames(1);
    rig.runTo(249, 10);
    rig.vic->writeRegister(0x11, 0x13);  // bottom compare becomes 247: already passed
    rig.runTo(270, 10);
    rig.vic->writeRegister(0x11, 0x1B);
    rig.runFrames(1);
    // The lower border shows the idle graphics ($3FFF = 0) on background 0.
    EXPECT_EQ(rig.pixel(260 - 15, 150), kBackground);
    EXPECT_EQ(rig.pixel(260 - 15, 20), kBorder);  // the side border still closes
    rig.runFrames(1);  // without the trick the next frame closes again
    EXPECT_EQ(rig.pixel(260 - 15, 150), kBorder);
}

TEST(VICIIPicture, WritesTakeEffectFromTheCycleTheyHappenIn)
{
    // Line 100 (row 85): cycle k's pixels start at column 8 k - 96.
    for (const bool sprite : {false, true}) {
        VicRig rig;
        setUpText(rig);
        if (sprite) {
            rig.ram[kPointers] = 0x80;
            rig.vic->writeRegister(0x00, 0x40);  // columns 72-95 on lines 96-116, no pixels set
            rig.vic->writeRegister(0x01, 95);
            rig.vic->writeRegister(0x15, 0x01);
        }
        rig.runFrames(1);
        rig.runTo(100, 30);
        rig.vic->writeRegister(0x21, 2);
        rig.runTo(100, 40);
        rig.vic->writeRegister(0x21, kBackground);
        rig.runTo(100, 57);
        rig.vic->writeRegister(0x20, 5);  // the right border from cycle 57
        rig.runTo(101, 20);
        rig.vic->writeRegister(0x20, kBorder);
        rig.runFrames(1);
        EXPECT_EQ(rig.pixel(85, 143), kBackground) << sprite;
        EXPECT_EQ(runLength(rig, 85, 144, 2), 80u) << sprite;  // cycles 30-39
        EXPECT_EQ(rig.pixel(85, 224), kBackground) << sprite;
        EXPECT_EQ(rig.pixel(85, 359), kBorder) << sprite;  // cycle 56
        EXPECT_EQ(runLength(rig, 85, 360, 5), 24u) << sprite;  // cycles 57-59, up to the edge
        EXPECT_EQ(runLength(rig, 86, 0, 5), 32u) << sprite;  // line 101: the left border
        EXPECT_EQ(rig.pixel(87, 0), kBorder) << sprite;
    }
}

// ---------------------------------------------------------------------------------------------
// Sprites

// Sprite n at (x, y) with data at $6000 + 64 n: `rows` rows of 24 pixels given by three bytes.
void placeSprite(VicRig& rig, uint32_t n, uint32_t x, uint8_t y, uint8_t colour, uint8_t b0,
                 uint8_t b1, uint8_t b2)
{
    rig.ram[kPointers + n] = uint8_t(0x80 + n);
    for (uint32_t r = 0; r < 21; ++r) {
        const uint32_t at = 0x6000 + 64 * n + 3 * r;
        rig.ram[at] = b0;
        rig.ram[at + 1] = b1;
        rig.ram[at + 2] = b2;
    }
    rig.vic->writeRegister(2 * n, uint8_t(x));
    const uint8_t high = rig.vic->readRegister(0x10);
    rig.vic->writeRegister(0x10, uint8_t(x & 0x100 ? high | (1 << n) : high & ~(1 << n)));
    rig.vic->writeRegister(2 * n + 1, y);
    rig.vic->writeRegister(0x27 + n, colour);
    rig.vic->writeRegister(0x15, uint8_t(rig.vic->readRegister(0x15) | (1 << n)));
}

// Length of the run of `colour` in a canvas row starting at `column`.
uint32_t runLength(const VicRig& rig, uint32_t row, uint32_t column, uint8_t colour)
{
    uint32_t n = 0;
    while (column + n < 384 && rig.pixel(row, column + n) == colour)
        ++n;
    return n;
}

TEST(VICIISprites, PositionSizeAndExpansion)
{
    const struct {
        bool xExpand, yExpand;
        uint32_t width, height;
    } cases[] = {{false, false, 24, 21}, {true, false, 48, 21}, {false, true, 24, 42}, {true, true, 48, 42}};
    for (const auto& c : cases) {
        VicRig rig;
        setUpText(rig);
        placeSprite(rig, 0, 100, 100, 2, 0xFF, 0xFF, 0xFF);
        rig.vic->writeRegister(0x1D, c.xExpand);
        rig.vic->writeRegister(0x17, c.yExpand);
        rig.runFrames(2);
        // First line 101 (row 86), first X 100 (column 108).
        EXPECT_EQ(rig.pixel(85, 108), kBackground);
        EXPECT_EQ(runLength(rig, 86, 108, 2), c.width) << c.xExpand;
        EXPECT_EQ(rig.pixel(86, 107), kBackground);
        uint32_t height = 0;
        while (rig.pixel(86 + height, 110) == 2)
            ++height;
        EXPECT_EQ(height, c.height) << c.yExpand;
    }
}

TEST(VICIISprites, HiresAndMulticolourPixels)
{
    VicRig rig;
    setUpText(rig);
    rig.vic->writeRegister(0x25, 10);  // sprite multicolour 0
    rig.vic->writeRegister(0x26, 11);  // sprite multicolour 1
    placeSprite(rig, 0, 100, 100, 2, 0xA5, 0x00, 0x81);
    placeSprite(rig, 1, 200, 100, 3, 0x1B, 0x00, 0xE4);
    rig.vic->writeRegister(0x1C, 0x02);
    rig.runFrames(2);
    EXPECT_EQ(span(rig, 90, 108), "26266262");
    EXPECT_EQ(span(rig, 90, 124), "26666662");
    EXPECT_EQ(span(rig, 90, 208), "66AA33BB");
    EXPECT_EQ(span(rig, 90, 224), "BB33AA66");
}

TEST(VICIISprites, SpritesBeyondTheWindowAndInTheBorder)
{
    VicRig rig;
    setUpText(rig);
    placeSprite(rig, 0, 0x1F8, 100, 2, 0xFF, 0xFF, 0xFF);  // X 504: never reached
    placeSprite(rig, 1, 0, 20, 3, 0xFF, 0xFF, 0xFF);       // in the left and top border
    placeSprite(rig, 2, 0x1E0, 120, 4, 0xFF, 0xFF, 0xFF);  // X 480-503, left of the window
    placeSprite(rig, 3, 0x1EA, 120, 5, 0xFF, 0xFF, 0xFF);  // X 490-503 and 0-9
    rig.runFrames(2);
    for (uint32_t row = 1; row < 272; ++row)  // row 0 (line 15) is never drawn
        for (uint32_t column = 0; column < 384; ++column)
            ASSERT_TRUE(rig.pixel(row, column) == kBorder || rig.pixel(row, column) == kBackground)
                << row << "," << column;
    // Hidden by the border, they still collide with each other.
    EXPECT_EQ(rig.vic->readRegister(0x1E), 0x0C);
}

TEST(VICIISprites, LowerNumberWinsAndOverlapCollides)
{
    VicRig rig;
    setUpText(rig);
    placeSprite(rig, 0, 100, 100, 2, 0xFF, 0xFF, 0xFF);
    placeSprite(rig, 1, 110, 100, 3, 0xFF, 0xFF, 0xFF);
    rig.vic->writeRegister(0x1A, 0x04);
    rig.runFrames(2);
    EXPECT_EQ(runLength(rig, 90, 108, 2), 24u);
    EXPECT_EQ(runLength(rig, 90, 132, 3), 10u);
    EXPECT_EQ(rig.vic->readRegister(0x19) & 0x86, 0x84);  // bit 0 is the raster compare at 0
    EXPECT_TRUE(rig.listener.irq);
    EXPECT_EQ(rig.vic->readRegister(0x1F), 0x00);

    // While $1E is unread, further overlaps do not latch again.
    rig.vic->writeRegister(0x19, 0x04);
    rig.runFrames(1);
    EXPECT_EQ(rig.vic->readRegister(0x19) & 0x04, 0);
    EXPECT_EQ(rig.vic->readRegister(0x1E), 0x03);
    EXPECT_EQ(rig.vic->readRegister(0x1E), 0x00);
    rig.runFrames(1);
    EXPECT_EQ(rig.vic->readRegister(0x19) & 0x04, 0x04);
}

TEST(VICIISprites, ForegroundPriorityAndCollision)
{
    for (const bool behind : {false, true}) {
        VicRig rig;
        setUpText(rig);
        // Text row 5 (lines 91-98): glyph 1 with its left half set, in every column.
        for (uint32_t col = 0; col < 40; ++col)
            rig.ram[kMatrix + 5 * 40 + col] = 1;
        setGlyph(rig, 1, 0xF0);
        placeSprite(rig, 0, 96, 85, 2, 0xFF, 0xFF, 0xFF);  // lines 86-106, columns 104-127
        rig.vic->writeRegister(0x1B, behind);
        rig.vic->writeRegister(0x1A, 0x02);
        rig.runFrames(2);
        const uint32_t row = 91 - 15;
        // Cell 9 starts at column 104: four foreground pixels, then four background.
        EXPECT_EQ(span(rig, row, 104), behind ? "77772222" : "22222222") << behind;
        EXPECT_EQ(span(rig, row - 1, 104), "22222222") << behind;
        EXPECT_EQ(rig.vic->readRegister(0x1F), 0x01) << behind;
        EXPECT_EQ(rig.vic->readRegister(0x1F), 0x00) << behind;
        EXPECT_EQ(rig.vic->readRegister(0x19) & 0x86, 0x82) << behind;
        EXPECT_EQ(rig.vic->readRegister(0x1E), 0x00) << behind;
    }
}

TEST(VICIISprites, NoBackgroundCollisionInsideTheVerticalBorder)
{
    VicRig rig;
    setUpText(rig);
    rig.vic->writeRegister(0x11, 0x0B);  // display off: the vertical border stays shut
    for (uint32_t a = 0; a < 0x4000; ++a)
        rig.ram[kBank + a] = 0xFF;  // idle graphics all foreground, sprite data all set
    rig.vic->writeRegister(0x00, 100);
    rig.vic->writeRegister(0x01, 50);  // lines 51-71: the top compare line loads graphics
    rig.vic->writeRegister(0x15, 0x01);
    rig.runFrames(1);  // from reset the window starts open
    rig.vic->readRegister(0x1F);
    rig.runFrames(1);
    EXPECT_EQ(rig.vic->readRegister(0x1F), 0x00);
    EXPECT_EQ(rig.pixel(51 - 15, 110), kBorder);

    rig.vic->writeRegister(0x11, 0x1B);  // with the window open the same sprite collides
    rig.runFrames(2);
    EXPECT_EQ(rig.vic->readRegister(0x1F), 0x01);
}

}  // namespace
