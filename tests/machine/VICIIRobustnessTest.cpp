// Any register value, any memory, odd canvases: the chip stays inside its buffers (checked by the
// sanitizer build) and only writes colour indices 0-15.
#include "VICIIRig.h"

#include <random>

namespace {

struct Geometry {
    uint64_t rows, columns;
    int32_t originX, originY;
};

void sweep(uint32_t seed, bool ntsc, const Geometry& g)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> ram(0x10000), colourRam(0x400), romh(0x2000);
    for (auto& b : ram)
        b = uint8_t(rng());
    for (auto& b : colourRam)
        b = uint8_t(rng());
    for (auto& b : romh)
        b = uint8_t(rng());
    std::vector<uint8_t> pixels(g.rows * g.columns, 0xEE);
    uint8_t red[256], green[256], blue[256];
    PixelCanvas canvas{red, green, blue, 0, pixels.data(), g.rows, g.columns, nullptr};
    vicii_test::RecordingListener listener;
    VICII vic(&listener, colourRam.data(), ram.data(), &canvas, ntsc);
    vic.screen().originX = g.originX;
    vic.screen().originY = g.originY;

    const uint32_t frame = ntsc ? vicii_test::kNtscFrame : vicii_test::kPalFrame;
    for (uint32_t cycle = 0; cycle < 20 * frame;) {
        const uint32_t gap = rng() % 200;
        vic.run(gap);
        cycle += gap + 1;
        vic.step();
        const uint32_t what = rng() % 100;
        if (what < 90) {
            vic.writeRegister(rng() % 256, uint8_t(rng()));
        } else if (what < 95) {
            vic.readRegister(rng() % 256);
        } else if (what < 97) {
            vic.setBank(uint8_t(rng()));
        } else if (what < 98) {
            vic.setUltimax(romh.data());
        } else if (what < 99) {
            vic.clearUltimax();
        } else if (rng() % 8 == 0) {
            vic.reset();
        }
    }
    for (const uint8_t p : pixels)
        ASSERT_TRUE(p < 16 || p == 0xEE) << "seed " << seed;
    EXPECT_GT(listener.frames, 15) << "seed " << seed;
}

TEST(VICIIRobustness, RandomRegistersAndMemory)
{
    sweep(1, false, {272, 384, 88, 15});
    sweep(2, true, {272, 384, 88, 40});
}

TEST(VICIIRobustness, CanvasesOfOtherSizesAndOrigins)
{
    sweep(3, false, {300, 520, 0, 0});       // wider than any line: partial stores at both ends
    sweep(4, false, {7, 5, 91, 100});         // a few pixels inside the picture
    sweep(5, true, {40, 600, -30, 250});      // origin left of column 0, rows past the frame
    sweep(6, false, {1, 1, INT32_MIN, INT32_MAX});
}

TEST(VICIIRobustness, ScreenReattachedMidLine)
{
    vicii_test::VicRig rig;
    rig.vic->writeRegister(0x11, 0x1B);
    rig.vic->writeRegister(0x16, 0x08);
    rig.vic->writeRegister(0x20, 3);
    rig.runTo(100, 30);
    std::vector<uint8_t> small(20 * 10, 0xEE);
    uint8_t red[256], green[256], blue[256];
    PixelCanvas canvas{red, green, blue, 0, small.data(), 20, 10, nullptr};
    rig.vic->screen().attach(&canvas, "smaller");  // the old buffer is gone
    rig.runFrames(2);
    EXPECT_EQ(small[0], 0);    // row 0 (line 15) is never drawn
    EXPECT_EQ(small[10], 3);   // line 16, left border
    EXPECT_EQ(small[199], 3);  // line 34, still in the top border
}

TEST(VICIIRobustness, NullOrEmptyCanvasDrawsNothing)
{
    std::vector<uint8_t> ram(0x10000, 0xFF), colourRam(0x400, 1);
    PixelCanvas empty{nullptr, nullptr, nullptr, 0, nullptr, 0, 384, nullptr};
    for (PixelCanvas* canvas : {&empty, static_cast<PixelCanvas*>(nullptr)}) {
        vicii_test::RecordingListener listener;
        VICII vic(&listener, colourRam.data(), ram.data(), canvas, false);
        vic.writeRegister(0x11, 0x1B);
        vic.writeRegister(0x15, 0xFF);
        vic.run(3 * vicii_test::kPalFrame);
        EXPECT_EQ(vic.screen().pixelCount, 0u);
        EXPECT_FALSE(vic.screen().dirty);
        EXPECT_EQ(listener.frames, 3);
    }
}

}  // namespace
