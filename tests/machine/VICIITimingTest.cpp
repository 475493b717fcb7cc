// Frame length, bad lines and BA, sprite DMA and its counters.
#include "VICIIRig.h"

#include <map>
#include <set>
#include <utility>

namespace {

using vicii_test::kNtscFrame;
using vicii_test::kPalFrame;
using vicii_test::VicRig;

TEST(VICIIFrames, FrameEndsEveryLinesTimesCycles)
{
    for (const bool ntsc : {false, true}) {
        VicRig rig(ntsc);
        const uint32_t frame = ntsc ? kNtscFrame : kPalFrame;
        EXPECT_EQ(rig.vic->linesPerFrame() * rig.vic->cyclesPerLine(), frame);
        // From reset (line 0, cycle 1) the first wrap is one frame less one step away.
        rig.vic->run(frame - 1);
        EXPECT_EQ(rig.listener.frames, 0);
        for (int f = 1; f <= 3; ++f) {
            rig.vic->step();
            EXPECT_EQ(rig.listener.frames, f) << ntsc;
            EXPECT_EQ(rig.canvasCounter.changes, f) << ntsc;  // one flush per drawn frame
            EXPECT_EQ(rig.view().line, 0u);
            rig.vic->run(frame - 1);
            EXPECT_EQ(rig.listener.frames, f) << ntsc;
        }
        rig.vic->run(0);
        EXPECT_EQ(rig.listener.frames, 3);
    }
}

TEST(VICIIFrames, NtscDrawsLines41To262)
{
    VicRig rig(true);
    rig.vic->writeRegister(0x20, 5);
    rig.runFrames(2);
    EXPECT_EQ(rig.vic->screen().originY, 40);
    EXPECT_EQ(rig.pixel(0, 0), 0);  // line 40 is not drawn
    EXPECT_EQ(rig.pixel(1, 0), 5);
    EXPECT_EQ(rig.pixel(222, 383), 5);
    EXPECT_EQ(rig.pixel(223, 0), 0);  // beyond the frame
}

// Cycles with BA low over one frame, from the listener's level after every step.
std::map<uint32_t, std::set<uint32_t>> baLowCycles(VicRig& rig, uint32_t frame)
{
    std::map<uint32_t, std::set<uint32_t>> low;
    for (uint32_t i = 0; i < frame; ++i) {
        rig.vic->step();
        if (rig.listener.ba) {
            const VICII::View v = rig.view();
            low[v.line].insert(v.cycle);
        }
    }
    return low;
}

size_t count(const std::map<uint32_t, std::set<uint32_t>>& low)
{
    size_t n = 0;
    for (const auto& [line, cycles] : low)
        n += cycles.size();
    return n;
}

std::set<uint32_t> range(uint32_t first, uint32_t last)
{
    std::set<uint32_t> s;
    for (uint32_t i = first; i <= last; ++i)
        s.insert(i);
    return s;
}

TEST(VICIIBadLines, TwentyFiveBadLinesHoldBaOnCycles12To54)
{
    VicRig rig;
    rig.vic->writeRegister(0x11, 0x1B);
    rig.vic->run(kPalFrame - 1);  // to the end of the first frame
    const auto low = baLowCycles(rig, kPalFrame);
    EXPECT_EQ(count(low), 1075u);
    ASSERT_EQ(low.size(), 25u);
    uint32_t line = 51;
    for (const auto& [l, cycles] : low) {
        EXPECT_EQ(l, line);
        EXPECT_EQ(cycles, range(12, 54)) << l;
        line += 8;
    }
}

TEST(VICIIBadLines, YscrollMovesThem)
{
    const struct {
        uint8_t d011;
        uint32_t first, last, lines;
    } cases[] = {{0x18, 48, 240, 25}, {0x1F, 55, 247, 25}, {0x1C, 52, 244, 25}};
    for (const auto& c : cases) {
        VicRig rig;
        rig.vic->writeRegister(0x11, c.d011);
        rig.vic->run(kPalFrame - 1);
        const auto low = baLowCycles(rig, kPalFrame);
        ASSERT_EQ(low.size(), c.lines) << int(c.d011);
        EXPECT_EQ(low.begin()->first, c.first);
        EXPECT_EQ(low.rbegin()->first, c.last);
    }
}

TEST(VICIIBadLines, NoneWithoutDenInLine48)
{
    VicRig rig;
    rig.vic->run(kPalFrame - 1);
    rig.vic->writeRegister(0x11, 0x0B);
    rig.runTo(49, 1);  // DEN clear through line 48
    rig.vic->writeRegister(0x11, 0x1B);
    std::map<uint32_t, std::set<uint32_t>> low;
    for (uint32_t i = 0; i < kPalFrame - 49 * 63; ++i) {
        rig.vic->step();
        if (rig.listener.ba)
            low[rig.view().line].insert(rig.view().cycle);
    }
    EXPECT_EQ(count(low), 0u);

    // DEN set during line 48 is enough.
    rig.runTo(40, 1);
    rig.vic->writeRegister(0x11, 0x0B);
    rig.runTo(48, 40);
    rig.vic->writeRegister(0x11, 0x1B);
    rig.runTo(51, 20);
    EXPECT_TRUE(rig.listener.ba);
}

TEST(VICIIBadLines, DisplayStateFollowsBadLinesAndRowCounter)
{
    VicRig rig;
    rig.vic->writeRegister(0x11, 0x1B);
    rig.runTo(50, 60);
    EXPECT_FALSE(rig.view().displayState);
    rig.runTo(51, 14);
    EXPECT_EQ(rig.view().rc, 0);
    EXPECT_TRUE(rig.view().displayState);
    rig.runTo(51, 58);
    EXPECT_EQ(rig.view().vc, 40);
    EXPECT_EQ(rig.view().rc, 1);
    rig.runTo(59, 15);
    EXPECT_EQ(rig.view().vcbase, 40);  // RC wrapped at cycle 58 of line 58
    rig.runTo(250, 59);
    EXPECT_EQ(rig.view().vcbase, 1000);
    EXPECT_FALSE(rig.view().displayState);  // idle after the last row
}

// ---------------------------------------------------------------------------------------------
// Sprite DMA

struct SpriteCase {
    uint8_t y;
    bool yExpand;
    uint32_t firstLine, lastLine;
};

TEST(VICIISpriteDma, BaLowOnCycles55To59WhileSpriteZeroFetches)
{
    const SpriteCase cases[] = {{100, false, 100, 120}, {100, true, 100, 141}, {5, false, 5, 25}};
    for (const auto& c : cases) {
        VicRig rig;
        rig.vic->writeRegister(0x01, c.y);
        rig.vic->writeRegister(0x17, c.yExpand ? 0x01 : 0x00);
        rig.vic->writeRegister(0x15, 0x01);
        rig.vic->run(kPalFrame - 1);
        const auto low = baLowCycles(rig, kPalFrame);
        const uint32_t lines = c.lastLine - c.firstLine + 1;
        EXPECT_EQ(count(low), 5 * lines) << int(c.y) << c.yExpand;
        ASSERT_EQ(low.size(), lines);
        EXPECT_EQ(low.begin()->first, c.firstLine);
        EXPECT_EQ(low.rbegin()->first, c.lastLine);  // never in 256-311 for Y = 5
        for (const auto& [line, cycles] : low)
            EXPECT_EQ(cycles, range(55, 59)) << line;
    }
}

TEST(VICIISpriteDma, EachSpriteHoldsBaInItsOwnSlot)
{
    // First and last BA-low cycle around each sprite's fetch (line wrap for 3-7).
    const struct {
        uint32_t sprite;
        std::set<uint32_t> cycles;
    } cases[] = {
        {0, range(55, 59)},
        {1, range(57, 61)},
        {2, range(59, 63)},
        {3, {61, 62, 63, 1, 2}},
        {4, {63, 1, 2, 3, 4}},
        {5, range(2, 6)},
        {6, range(4, 8)},
        {7, range(6, 10)},
    };
    for (const auto& c : cases) {
        VicRig rig;
        rig.vic->writeRegister(2 * c.sprite + 1, 100);
        rig.vic->writeRegister(0x15, uint8_t(1 << c.sprite));
        rig.vic->run(kPalFrame - 1);
        const auto low = baLowCycles(rig, kPalFrame);
        std::set<uint32_t> cycles;
        for (const auto& [line, set] : low)
            if (line == 110)
                cycles = set;
        std::set<uint32_t> expected = c.cycles;
        EXPECT_EQ(cycles, expected) << "sprite " << c.sprite;
    }
}

TEST(VICIISpriteDma, CountersStepThreeBytesPerLineAndStopAt63)
{
    VicRig rig;
    rig.vic->writeRegister(0x01, 80);
    rig.vic->writeRegister(0x15, 0x01);
    rig.runTo(80, 58);
    EXPECT_TRUE(rig.view().sprites[0].dma);
    EXPECT_TRUE(rig.view().sprites[0].display);
    rig.runTo(81, 16);
    EXPECT_EQ(rig.view().sprites[0].mcbase, 3);
    rig.runTo(100, 16);
    EXPECT_EQ(rig.view().sprites[0].mcbase, 60);
    EXPECT_TRUE(rig.view().sprites[0].dma);
    rig.runTo(101, 16);
    EXPECT_EQ(rig.view().sprites[0].mcbase, 63);
    EXPECT_FALSE(rig.view().sprites[0].dma);
    EXPECT_TRUE(rig.view().sprites[0].display);
    rig.runTo(101, 58);
    EXPECT_FALSE(rig.view().sprites[0].display);
}

// Sprite 0, Y-expanded from line Y: at cycle 15 of line Y + 9 MCBASE is 12 and MC 15.
TEST(VICIISpriteDma, ClearingYExpandInCycle15MixesTheCounters)
{
    for (const uint32_t cycle : {15u, 14u, 16u, 30u}) {
        VicRig rig;
        rig.vic->writeRegister(0x01, 60);
        rig.vic->writeRegister(0x17, 0x01);
        rig.vic->writeRegister(0x15, 0x01);
        rig.runTo(69, cycle);
        const VICII::SpriteView before = rig.view().sprites[0];
        if (cycle == 15) {
            EXPECT_EQ(before.mcbase, 12);
            EXPECT_EQ(before.mc, 15);
            EXPECT_FALSE(before.expandFlop);
        }
        rig.vic->writeRegister(0x17, 0x00);
        const VICII::SpriteView after = rig.view().sprites[0];
        EXPECT_EQ(after.mc, cycle == 15 ? 13 : before.mc) << cycle;
        EXPECT_TRUE(after.expandFlop) << cycle;
    }
}

}  // namespace
