#include "media/EmuScreen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

struct CountingListener : PixelCanvasListener {
    int changes = 0;
    void canvasChanged() override { ++changes; }
};

// A 384 x 272 canvas with its own colour tables, as the instrument hands it over.
struct TestCanvas {
    std::vector<uint8_t> pixels;
    uint8_t red[256] = {}, green[256] = {}, blue[256] = {};
    CountingListener listener;
    PixelCanvas canvas;

    explicit TestCanvas(uint64_t rows = 272, uint64_t columns = 384)
        : pixels(rows * columns, 0xEE)
    {
        canvas = {red, green, blue, 0, pixels.data(), rows, columns, &listener};
    }
};

// The video chip's window: origin (88, 15).
void attachAtOrigin(EmuScreen& s, TestCanvas& c)
{
    s.originX = 88;
    s.originY = 15;
    s.attach(&c.canvas, "test");
}

TEST(EmuScreen, AttachTakesTheCanvasSizeAndAZeroedBuffer)
{
    TestCanvas c;
    EmuScreen s;
    s.attach(&c.canvas, "test");
    EXPECT_EQ(s.canvas, &c.canvas);
    EXPECT_EQ(s.columns, 384u);
    EXPECT_EQ(s.rows, 272u);
    EXPECT_EQ(s.pixelCount, 384u * 272u);
    ASSERT_TRUE(s.pixels);
    EXPECT_TRUE(std::all_of(s.pixels.get(), s.pixels.get() + s.pixelCount,
                            [](uint8_t b) { return b == 0; }));
    EXPECT_FALSE(s.dirty);

    // A second attach replaces the buffer with a fresh one.
    s.setPixel(0, 0, 9);
    TestCanvas small(2, 3);
    s.attach(&small.canvas, "again");
    EXPECT_EQ(s.pixelCount, 6u);
    EXPECT_EQ(s.pixels[0], 0);
}

TEST(EmuScreen, SetPixelStoresInsideTheWindowOnly)
{
    TestCanvas c;
    EmuScreen s;
    attachAtOrigin(s, c);
    s.setPixel(15, 88, 5);
    EXPECT_EQ(s.pixels[0], 5);
    EXPECT_TRUE(s.dirty);
    s.setPixel(286, 471, 7);  // last row, last column
    EXPECT_EQ(s.pixels[s.pixelCount - 1], 7);

    s.dirty = false;
    const std::vector<uint8_t> before(s.pixels.get(), s.pixels.get() + s.pixelCount);
    const struct {
        int32_t row, column;
    } outside[] = {{14, 88}, {15, 87}, {287, 88}, {15, 472}, {INT32_MIN, INT32_MIN}, {INT32_MAX, 88}};
    for (const auto& p : outside) {
        s.setPixel(p.row, p.column, 3);
        EXPECT_FALSE(s.dirty) << p.row << "," << p.column;
    }
    EXPECT_TRUE(std::equal(before.begin(), before.end(), s.pixels.get()));
}

TEST(EmuScreen, FlushCopiesOnceAfterAChange)
{
    TestCanvas c;
    EmuScreen s;
    attachAtOrigin(s, c);
    s.red[3] = 0x11;
    s.green[3] = 0x22;
    s.blue[255] = 0x33;
    s.flush();  // nothing drawn yet
    EXPECT_EQ(c.listener.changes, 0);
    EXPECT_EQ(c.pixels[0], 0xEE);

    s.setPixel(16, 90, 4);
    s.flush();
    EXPECT_EQ(c.listener.changes, 1);
    EXPECT_EQ(c.pixels[384 + 2], 4);
    EXPECT_EQ(c.pixels[0], 0);  // the whole buffer is copied
    EXPECT_EQ(c.red[3], 0x11);
    EXPECT_EQ(c.green[3], 0x22);
    EXPECT_EQ(c.blue[255], 0x33);
    EXPECT_FALSE(s.dirty);

    c.pixels[0] = 0xEE;
    s.flush();
    EXPECT_EQ(c.listener.changes, 1);
    EXPECT_EQ(c.pixels[0], 0xEE);
}

TEST(EmuScreen, CanvasThatKeepsItsPaletteStillGetsPixels)
{
    TestCanvas c;
    c.canvas.keepsOwnPalette = 1;
    c.red[1] = 0x77;
    EmuScreen s;
    attachAtOrigin(s, c);
    s.red[1] = 0x10;
    s.clear(1);
    s.flush();
    EXPECT_EQ(c.red[1], 0x77);
    EXPECT_EQ(c.pixels[1000], 1);
    EXPECT_EQ(c.listener.changes, 1);
}

TEST(EmuScreen, ClearFillsEveryByte)
{
    TestCanvas c;
    EmuScreen s;
    attachAtOrigin(s, c);
    s.clear(3);
    EXPECT_TRUE(s.dirty);
    EXPECT_TRUE(std::all_of(s.pixels.get(), s.pixels.get() + s.pixelCount,
                            [](uint8_t b) { return b == 3; }));
}

TEST(EmuScreen, NoListenerStillCopies)
{
    TestCanvas c;
    c.canvas.listener = nullptr;
    EmuScreen s;
    attachAtOrigin(s, c);
    s.clear(2);
    s.flush();
    EXPECT_EQ(c.pixels[5], 2);
    EXPECT_FALSE(s.dirty);
}

TEST(EmuScreen, EmptyOrMissingCanvasDrawsNothing)
{
    TestCanvas empty(0, 384);
    TestCanvas huge(1, 1);
    huge.canvas.rows = uint64_t(1) << 40;  // claims more than anyone could hold
    huge.canvas.columns = uint64_t(1) << 40;
    for (PixelCanvas* canvas : {&empty.canvas, &huge.canvas, static_cast<PixelCanvas*>(nullptr)}) {
        EmuScreen s;
        s.originX = 0;
        s.originY = 0;
        s.attach(canvas, "test");
        EXPECT_EQ(s.pixelCount, 0u);
        s.setPixel(0, 0, 1);
        EXPECT_FALSE(s.dirty);
        s.clear(4);
        s.flush();  // copies no pixels, must not touch memory it does not have
    }
    EXPECT_EQ(empty.listener.changes, 1);
    EXPECT_EQ(huge.pixels[0], 0xEE);
}

TEST(EmuScreen, FlushNeverWritesPastACanvasShrunkAfterAttach)
{
    TestCanvas c(4, 4);
    EmuScreen s;
    s.attach(&c.canvas, "test");
    s.clear(9);
    c.canvas.rows = 1;  // the owner now says the surface is smaller
    s.flush();
    EXPECT_EQ(c.pixels[3], 9);
    EXPECT_EQ(c.pixels[4], 0xEE);
}

}  // namespace
