// Register reads after writes, reset values and the raster interrupt.
#include "VICIIRig.h"

namespace {

using vicii_test::VicRig;

TEST(VICIIRegisters, ReadsAfterWrites)
{
    VicRig rig;
    VICII& vic = *rig.vic;
    const struct {
        uint8_t reg, value, read;
    } cases[] = {
        {0x00, 0xAB, 0xAB}, {0x0F, 0x5A, 0x5A},  // sprite X low / Y as written
        {0x10, 0x81, 0x81}, {0x15, 0x3C, 0x3C}, {0x16, 0x05, 0xC5}, {0x17, 0x11, 0x11},
        {0x18, 0x14, 0x15}, {0x1A, 0xFF, 0xFF}, {0x1B, 0x22, 0x22}, {0x1C, 0x44, 0x44},
        {0x1D, 0x88, 0x88}, {0x20, 0xFE, 0xFE}, {0x21, 0x03, 0xF3}, {0x26, 0x1F, 0xFF},
        {0x2E, 0x07, 0xF7}, {0x13, 0x55, 0x00}, {0x14, 0x55, 0x00}, {0x2F, 0x00, 0xFF},
        {0x3F, 0x00, 0xFF},
    };
    for (const auto& c : cases) {
        vic.writeRegister(c.reg, c.value);
        EXPECT_EQ(vic.readRegister(c.reg), c.read) << std::hex << int(c.reg);
        // The 64 registers repeat every $40 bytes.
        EXPECT_EQ(vic.readRegister(c.reg + 0x40), c.read) << std::hex << int(c.reg);
    }
    for (uint32_t reg = 0x30; reg <= 0x3F; ++reg)
        EXPECT_EQ(vic.readRegister(reg), 0xFF) << reg;
}

TEST(VICIIRegisters, InterruptMaskKeepsFourBits)
{
    VicRig rig;
    rig.vic->writeRegister(0x1A, 0xFF);
    EXPECT_EQ(rig.vic->readRegister(0x1A), 0xFF);
    rig.vic->writeRegister(0x1A, 0xF0);
    EXPECT_EQ(rig.vic->readRegister(0x1A), 0xF0);  // mask 0
    rig.vic->writeRegister(0x1A, 0x0F);
    EXPECT_EQ(rig.vic->readRegister(0x1A), 0xFF);
}

TEST(VICIIRegisters, SpriteXBit8IsKeptApartFromTheLowByte)
{
    VicRig rig;
    rig.vic->writeRegister(0x10, 0x01);
    rig.vic->writeRegister(0x00, 0x20);
    EXPECT_EQ(rig.vic->readRegister(0x00), 0x20);
    EXPECT_EQ(rig.vic->readRegister(0x10), 0x01);
}

TEST(VICIIRegisters, RasterLineReadsBack)
{
    VicRig rig;
    rig.vic->writeRegister(0x11, 0x1B);
    rig.runTo(300, 5);
    EXPECT_EQ(rig.vic->readRegister(0x12), 300 - 256);
    EXPECT_EQ(rig.vic->readRegister(0x11), 0x9B);
    rig.runTo(255, 5);
    EXPECT_EQ(rig.vic->readRegister(0x12), 255);
    EXPECT_EQ(rig.vic->readRegister(0x11), 0x1B);
}

TEST(VICIIRegisters, ResetValues)
{
    VicRig rig;
    VICII& vic = *rig.vic;
    for (uint32_t reg = 0x10; reg <= 0x2E; ++reg)
        vic.writeRegister(reg, 0xFF);
    vic.writeRegister(0x00, 0x42);
    rig.runTo(100, 10);
    vic.reset();
    EXPECT_EQ(vic.readRegister(0x15), 0x00);
    EXPECT_EQ(vic.readRegister(0x16), 0xC8);
    EXPECT_EQ(vic.readRegister(0x17), 0x00);
    EXPECT_EQ(vic.readRegister(0x18), 0x15);
    EXPECT_EQ(vic.readRegister(0x10), 0x00);
    EXPECT_EQ(vic.readRegister(0x11), 0x00);
    EXPECT_EQ(vic.readRegister(0x12), 0x00);
    EXPECT_EQ(vic.readRegister(0x19), 0x70);
    EXPECT_EQ(vic.readRegister(0x1A), 0xF0);
    EXPECT_EQ(vic.readRegister(0x1B), 0x00);
    EXPECT_EQ(vic.readRegister(0x1D), 0x00);
    // Sprite positions and colours survive.
    EXPECT_EQ(vic.readRegister(0x00), 0x42);
    EXPECT_EQ(vic.readRegister(0x20), 0xFF);
    EXPECT_EQ(vic.readRegister(0x2E), 0xFF);
    const VICII::View v = rig.view();
    EXPECT_EQ(v.line, 0u);
    EXPECT_EQ(v.cycle, 1u);
    EXPECT_EQ(rig.vic->screen().originX, 88);
    EXPECT_EQ(rig.vic->screen().originY, 15);
}

// ---------------------------------------------------------------------------------------------
// Raster interrupt

bool rasterLatched(VicRig& rig)
{
    return rig.vic->readRegister(0x19) & 0x01;
}

TEST(VICIIRaster, CompareMatchesAtCycleOneOrTwoOfLineZero)
{
    const struct {
        uint32_t compare, line, cycle;
    } cases[] = {{100, 100, 1}, {0, 0, 2}, {311, 311, 1}, {256, 256, 1}};
    for (const auto& c : cases) {
        VicRig rig;
        rig.vic->writeRegister(0x1A, 0x01);
        rig.vic->writeRegister(0x12, uint8_t(c.compare));
        rig.vic->writeRegister(0x11, uint8_t((c.compare >> 1) & 0x80));
        rig.runTo(5, 1);
        rig.vic->writeRegister(0x19, 0x0F);
        rig.listener.irqCalls.clear();

        // The step before the expected one.
        if (c.cycle > 1)
            rig.runTo(c.line, c.cycle - 1);
        else
            rig.runTo(c.line - 1, 63);
        EXPECT_FALSE(rasterLatched(rig)) << c.compare;
        rig.vic->step();
        EXPECT_EQ(rig.view().cycle, c.cycle);
        EXPECT_EQ(rig.vic->readRegister(0x19), 0xF1) << c.compare;  // bit 7: an enabled source
        ASSERT_EQ(rig.listener.irqCalls, std::vector<bool>{true}) << c.compare;

        // Acknowledged, it does not come back in the same line.
        rig.vic->writeRegister(0x19, 0x01);
        EXPECT_EQ(rig.listener.irqCalls, (std::vector<bool>{true, false}));
        rig.runTo(c.line, 63);
        EXPECT_FALSE(rasterLatched(rig)) << c.compare;
    }
}

TEST(VICIIRaster, CompareWrittenToTheCurrentLineMatchesOnTheNextStep)
{
    VicRig rig;
    rig.vic->writeRegister(0x1A, 0x01);
    rig.runTo(150, 30);
    rig.vic->writeRegister(0x19, 0x01);  // the compare of 0 matched in line 0
    rig.vic->writeRegister(0x12, 150);
    EXPECT_FALSE(rasterLatched(rig));
    rig.vic->step();
    EXPECT_TRUE(rasterLatched(rig));
    EXPECT_TRUE(rig.listener.irq);

    // Writing the same value again in this line changes nothing; once per line.
    rig.vic->writeRegister(0x19, 0x01);
    rig.vic->writeRegister(0x12, 150);
    rig.runTo(150, 40);
    EXPECT_FALSE(rasterLatched(rig));

    // Bit 8 of the compare through $D011 bit 7.
    rig.runTo(280, 10);
    rig.vic->writeRegister(0x12, 280 - 256);
    rig.vic->step();
    EXPECT_FALSE(rasterLatched(rig));
    rig.vic->writeRegister(0x11, 0x80);
    rig.vic->step();
    EXPECT_TRUE(rasterLatched(rig));
}

TEST(VICIIRaster, MaskedSourceLatchesWithoutCallingTheListener)
{
    VicRig rig;
    rig.vic->writeRegister(0x12, 50);
    rig.runTo(51, 1);
    EXPECT_EQ(rig.vic->readRegister(0x19), 0x71);
    EXPECT_TRUE(rig.listener.irqCalls.empty());

    // Enabling the mask afterwards raises the line at once; clearing the latch drops it.
    rig.vic->writeRegister(0x1A, 0x01);
    EXPECT_EQ(rig.listener.irqCalls, std::vector<bool>{true});
    rig.vic->writeRegister(0x19, 0xF0);  // only bits 0-3 acknowledge
    EXPECT_TRUE(rig.listener.irq);
    rig.vic->writeRegister(0x19, 0x01);
    EXPECT_EQ(rig.listener.irqCalls, (std::vector<bool>{true, false}));
    EXPECT_EQ(rig.vic->readRegister(0x19), 0x70);
}

TEST(VICIIRaster, OneMatchPerFrameForEachLine)
{
    VicRig rig;
    rig.vic->writeRegister(0x1A, 0x01);
    rig.vic->writeRegister(0x12, 200);
    int raised = 0;
    for (uint32_t i = 0; i < 3 * vicii_test::kPalFrame; ++i) {
        rig.vic->step();
        if (rig.listener.irq) {
            ++raised;
            rig.vic->writeRegister(0x19, 0x01);
        }
    }
    EXPECT_EQ(raised, 3);
}

}  // namespace
