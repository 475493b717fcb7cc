#include "media/Visualizer.h"

#include "media/VGMX.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using VGM::Visualizer;

struct CountingListener : PixelCanvasListener
{
    void canvasChanged() override { ++changes; }
    int changes = 0;
};

// The instrument's canvas size, 384 x 272, with a palette of its own.
struct Canvas
{
    explicit Canvas(uint64_t w = 384, uint64_t h = 272) : width(w), height(h), pixels(w * h, 0xEE)
    {
        for (int i = 0; i < 256; ++i) {
            red[i] = uint8_t(i);
            green[i] = uint8_t(255 - i);
            blue[i] = uint8_t(i * 3);
        }
        canvas = {red, green, blue, 0, pixels.data(), height, width, &listener};
    }
    // Lines y to y + 7 of the canvas.
    std::vector<uint8_t> band(uint64_t y) const
    {
        return std::vector<uint8_t>(pixels.begin() + int64_t(y * width), pixels.begin() + int64_t((y + 8) * width));
    }
    // The same lines of an empty canvas with `text` drawn at (8, y).
    std::vector<uint8_t> expected(const std::string& text, uint64_t y, uint8_t colour, bool transparent = true) const
    {
        std::vector<uint8_t> page(width * height, 0);
        drawBitmapText(VGM::builtInFont(), transparent, page.data(), width, height, text.data(), text.size(), 8, y,
                       1, 1, colour);
        return std::vector<uint8_t>(page.begin() + int64_t(y * width), page.begin() + int64_t((y + 8) * width));
    }
    // Register cells "%02X" on the line of cells at y: one per column of 20 pixels from x 8,
    // nothing where the value is negative.
    std::vector<uint8_t> cells(const std::vector<int>& values, uint64_t y) const
    {
        std::vector<uint8_t> page(width * height, 0);
        for (size_t i = 0; i < values.size(); ++i) {
            if (values[i] < 0)
                continue;
            char text[8];
            std::snprintf(text, sizeof text, "%02X", values[i] & 0xFF);
            drawBitmapText(VGM::builtInFont(), false, page.data(), width, height, text, 2, 20 * i + 8, y, 1, 1, 1);
        }
        return std::vector<uint8_t>(page.begin() + int64_t(y * width), page.begin() + int64_t((y + 8) * width));
    }
    bool bandIsEmpty(uint64_t y) const
    {
        const std::vector<uint8_t> b = band(y);
        return std::all_of(b.begin(), b.end(), [](uint8_t p) { return p == 0; });
    }

    uint64_t width, height;
    std::vector<uint8_t> pixels;
    uint8_t red[256], green[256], blue[256];
    CountingListener listener;
    PixelCanvas canvas{};
};

VGM::VGMXSong song(std::vector<std::pair<std::string, uint32_t>> streams, const std::string& game = "",
                   const std::string& track = "")
{
    VGM::VGMXSong s;
    int32_t kind = 0;
    for (const auto& [name, clock] : streams) {
        VGM::VGMXChip& chip = s.chips[kind];
        chip.kind = kind++;
        chip.typeName = name;
        chip.clock = clock;
    }
    s.tags[VGM::VGMXSong::kGameName] = game;
    s.tags[VGM::VGMXSong::kTrackName] = track;
    return s;
}

TEST(Visualizer, SidStreamIsPlayable)
{
    Canvas c;
    Visualizer v(&c.canvas, nullptr);
    EXPECT_TRUE(v.drawStreamList(1, 1, song({{"SID", 985248}})));
    EXPECT_EQ(c.band(56), c.expected("Stream 0:      SID (0.99MHz)", 56, 13));
    EXPECT_EQ(c.band(256), c.expected("Time:  0:00", 256, 1, false));
    EXPECT_GT(c.listener.changes, 0);
    EXPECT_EQ(c.red[200], 200);  // the canvas keeps its colours
    EXPECT_EQ(c.green[200], 55);
}

// Game "Game", track "Track": the stream at 56, the game at 88, "Song" at 104, the track at 120
// and the message 32 below the next free line.
TEST(Visualizer, OtherChipsAreNotPlayable)
{
    Canvas c;
    Visualizer v(&c.canvas, nullptr);
    EXPECT_FALSE(v.drawStreamList(2, 3, song({{"YM2612", 44100}}, "Game", "Track")));
    EXPECT_EQ(c.band(56), c.expected("Stream 0:   YM2612 (44.1kHz) -N/A-", 56, 12));
    EXPECT_EQ(c.band(88), c.expected("Game", 88, 1));
    EXPECT_EQ(c.band(104), c.expected("Song  2 /  3", 104, 1));
    EXPECT_EQ(c.band(120), c.expected("Track", 120, 1));
    EXPECT_EQ(c.band(168), c.expected("* No suitable data found! *", 168, 2));
    EXPECT_TRUE(c.bandIsEmpty(256));
}

TEST(Visualizer, ListsFourStreamsAndNoDacChannels)
{
    Canvas c;
    Visualizer v(&c.canvas, nullptr);
    const VGM::VGMXSong s = song({{"SN76489", 3579545}, {"DAC", 44100}, {"DAC", 44100}, {"YM2612", 7670453},
                                  {"AY8910", 1789772}, {"6581", 985248}, {"DAC", 8000}, {"6526", 985248}});
    EXPECT_TRUE(s.chips.size() == 8);
    EXPECT_TRUE(v.drawStreamList(1, 1, s));
    EXPECT_EQ(c.band(56), c.expected("Stream 0:  SN76489 (3.58MHz) -N/A-", 56, 12));
    EXPECT_EQ(c.band(72), c.expected("Stream 1:   YM2612 (7.67MHz) -N/A-", 72, 12));
    EXPECT_EQ(c.band(88), c.expected("Stream 2:   AY8910 (1.79MHz) -N/A-", 88, 12));
    EXPECT_EQ(c.band(104), c.expected("Stream 3:     6581 (0.99MHz)", 104, 13));
    EXPECT_TRUE(c.bandIsEmpty(120));
    EXPECT_EQ(c.band(136), c.expected("Song  1 /  1", 136, 1));
}

TEST(Visualizer, TagTextsAreLatin1AndWrapAtTheColumns)
{
    Canvas c;
    Visualizer v(&c.canvas, nullptr);
    const std::string longName = std::string(46, 'x') + "Caf\xC3\xA9";  // 46 characters a line
    v.drawStreamList(1, 1, song({{"SID", 985248}}, longName));
    EXPECT_EQ(c.band(88), c.expected(std::string(46, 'x'), 88, 1));
    EXPECT_EQ(c.band(104), c.expected("Cafe", 104, 1));
    EXPECT_EQ(c.band(120), c.expected("Song  1 /  1", 120, 1));
}

TEST(Visualizer, TimeLineMovesOnWholeSeconds)
{
    Canvas c;
    Visualizer v(&c.canvas, nullptr);
    ASSERT_TRUE(v.drawStreamList(1, 1, song({{"SID", 985248}})));
    v.addChip(77, 0, 1000000);
    c.listener.changes = 0;
    v.writeMediaRegister(77, 500000, 0, 4, 0x11, 985248.0);  // 0.5 s shows as 0:01
    EXPECT_EQ(c.listener.changes, 1);
    EXPECT_EQ(c.band(256), c.expected("Time:  0:01", 256, 1, false));
    v.writeMediaRegister(77, 500000, 0, 4, 0x11, 985248.0);
    v.writeMediaRegister(77, 0, 0, 4, 0x11, 985248.0);
    EXPECT_EQ(c.listener.changes, 1);

    v.setMediaTime(64.6);
    v.writeMediaRegister(77, 1, 0, 4, 0x11, 985248.0);
    EXPECT_EQ(c.band(256), c.expected("Time:  1:05", 256, 1, false));
    // Kinds past the timed ones leave the time alone.
    v.writeMediaRegister(150, 900000000, 0, 4, 0x11, 985248.0);
    EXPECT_EQ(c.band(256), c.expected("Time:  1:05", 256, 1, false));
}

TEST(Visualizer, RegisterPage)
{
    Canvas c;
    Visualizer v(&c.canvas, nullptr);
    v.setDisplayMode(1);
    ASSERT_TRUE(v.drawStreamList(1, 1, song({{"YM2413", 3579545}, {"SID", 985248}})));
    v.addChip(4, 0, 44100);  // the YM2413's registers 00-18, 20-28, 30-38 appear
    EXPECT_EQ(c.band(8), c.cells(std::vector<int>(16, 0), 8));
    EXPECT_EQ(c.band(24), c.cells({0, 0, 0, 0, 0, 0, 0, 0, 0}, 24));
    EXPECT_EQ(c.band(40), c.cells({0, 0, 0, 0, 0, 0, 0, 0, 0}, 40));
    EXPECT_TRUE(c.bandIsEmpty(72));
    c.listener.changes = 0;
    v.writeMediaRegister(4, 0, 0, 0x10, 0x5A, 1e6);
    v.writeMediaRegister(4, 0, 0, 0x10, 0x5A, 1e6);
    EXPECT_EQ(c.listener.changes, 1);
    EXPECT_EQ(c.band(24), c.cells({0x5A, 0, 0, 0, 0, 0, 0, 0, 0}, 24));
    v.writeMediaRegister(77, 0, 0, 0x10, 0x33, 1e6);
    v.writeMediaRegister(77, 10, 0, 0x11, 0x33, 1e6);
    EXPECT_EQ(c.listener.changes, 1);

    v.setDisplayMode(0);
    EXPECT_EQ(c.listener.changes, 2);
    EXPECT_TRUE(c.bandIsEmpty(24));
    v.setDisplayMode(1);  // the register page comes back at once
    EXPECT_EQ(c.listener.changes, 3);
    EXPECT_EQ(c.band(24), c.cells({0x5A, 0, 0, 0, 0, 0, 0, 0, 0}, 24));
    v.setDisplayMode(7);
    EXPECT_EQ(c.listener.changes, 3);
}

TEST(Visualizer, PainterPage)
{
    struct Fill : VGM::Painter
    {
        void paint(uint8_t* pixels, uint64_t width, uint64_t height, uint8_t*, uint8_t*, uint8_t*) override
        {
            ++calls;
            std::memset(pixels, 9, width * height);
        }
        int calls = 0;
    } painter;
    Canvas c;
    Visualizer v(&c.canvas, &painter);
    v.setDisplayMode(2);
    v.drawStreamList(1, 1, song({{"YM2612", 7670453}}));
    v.writeMediaRegister(5, 0, 0, 0x28, 0xF0, 1e6);
    EXPECT_EQ(painter.calls, 1);
    EXPECT_EQ(c.pixels[1000], 9);

    Canvas bare;
    Visualizer none(&bare.canvas, nullptr);
    none.setDisplayMode(2);
    none.drawStreamList(1, 1, song({{"YM2612", 7670453}}));
    none.writeMediaRegister(5, 0, 0, 0x28, 0xF0, 1e6);
    EXPECT_EQ(bare.pixels[1000], 0);  // page 2 stays as cleared
}

// Nothing is written outside the layers (checked by the sanitizer build): long tags, a canvas
// smaller than one text line, the last register cell.
TEST(Visualizer, DrawsOnlyInsideTheCanvas)
{
    const std::string huge(3000, 'G');
    for (const auto& [w, h] : std::vector<std::pair<uint64_t, uint64_t>>{{384, 272}, {64, 40}, {320, 240}, {8, 8}, {0, 0}}) {
        Canvas c(w, h);
        for (int32_t mode : {0, 1}) {
            Visualizer v(&c.canvas, nullptr);
            v.setDisplayMode(mode);
            VGM::VGMXSong s = song({{"SID", 985248}, {"YM2413", 3579545}}, huge, huge);
            s.tags[VGM::VGMXSong::kAuthor] = huge;
            s.tags[VGM::VGMXSong::kSystemName] = huge;
            v.setTitle(huge.c_str());
            v.drawStreamList(1, 1, s);
            v.addChip(4, 0, 1);
            for (uint32_t r = 0; r < 256; ++r)
                v.writeMediaRegister(4, 3600, r & 1, r, r + 1, 1e6);
            v.writeMediaRegister(4, 0, 0, 0x1FF, 1, 1e6);
        }
        EXPECT_EQ(c.pixels.size(), w * h);
    }
}

}  // namespace
