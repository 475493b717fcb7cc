// What the chip sees of memory in each bank mode and with a cartridge's Ultimax ROMH.
#include "VICIIRig.h"

namespace {

using vicii_test::VicRig;

uint8_t ramPattern(uint32_t address)
{
    return uint8_t((address * 7) ^ (address >> 8));
}

uint8_t romPattern(uint32_t offset)
{
    return uint8_t(0xA5 ^ (offset * 3) ^ (offset >> 7));
}

TEST(VICIIMemory, BankModes)
{
    VicRig rig;
    for (uint32_t a = 0; a < 0x10000; ++a)
        rig.ram[a] = ramPattern(a);
    VICII& vic = *rig.vic;
    const uint8_t* image = kVICIICharacterImage.data();
    const uint32_t probes[] = {0x0000, 0x0FFF, 0x1000, 0x1ABC, 0x1FFF, 0x2000, 0x3FFF};
    for (uint32_t mode = 0; mode < 4; ++mode) {
        vic.setBank(uint8_t(mode));
        for (const uint32_t a : probes) {
            const bool image14 = (mode & 1) && (a & 0x3000) == 0x1000;
            const uint32_t base[] = {0xC000, 0x8000, 0x4000, 0x0000};
            const uint8_t want = image14 ? image[a & 0xFFF] : ramPattern(base[mode] + a);
            EXPECT_EQ(vic.readVideoMemory(a), want) << mode << " " << std::hex << a;
            EXPECT_EQ(vic.readVideoMatrix(a), want) << mode << " " << std::hex << a;
            EXPECT_EQ(vic.lastRead(), want);
        }
    }
    vic.setBank(0xFE);  // bits above 1 are not a bank
    EXPECT_EQ(rig.view().bankMode, 2);
    EXPECT_EQ(vic.readVideoMemory(0x0123), ramPattern(0x4123));
}

TEST(VICIIMemory, UltimaxShowsRomhAt3000InEveryBank)
{
    VicRig rig;
    for (uint32_t a = 0; a < 0x10000; ++a)
        rig.ram[a] = ramPattern(a);
    std::vector<uint8_t> romh(0x2000);
    for (uint32_t i = 0; i < romh.size(); ++i)
        romh[i] = romPattern(i);
    VICII& vic = *rig.vic;
    vic.setBank(2);
    vic.setUltimax(romh.data());
    for (const uint8_t bank : {0, 1, 2, 3}) {
        vic.setBank(bank);  // ignored while the override holds
        EXPECT_EQ(vic.readVideoMemory(0x3000), romPattern(0x1000));
        EXPECT_EQ(vic.readVideoMemory(0x3FFF), romPattern(0x1FFF));
        EXPECT_EQ(vic.readVideoMemory(0x2FFF), ramPattern(0x2FFF));
        EXPECT_EQ(vic.readVideoMemory(0x1000), ramPattern(0x1000));
    }
    vic.clearUltimax();
    vic.setBank(1);
    EXPECT_EQ(vic.readVideoMemory(0x3000), ramPattern(0xB000));
    EXPECT_EQ(vic.readVideoMemory(0x1000), kVICIICharacterImage[0]);
}

TEST(VICIIMemory, ColourRamWrapsAt1K)
{
    VicRig rig;
    rig.colourRam[0x005] = 0x3C;
    EXPECT_EQ(rig.vic->readColourRam(0x405), 0x3C);
}

TEST(VICIIMemory, IdleAndRefreshAccesses)
{
    VicRig rig;
    rig.vic->setBank(3);
    rig.ram[0x3FFF] = 0x11;
    rig.ram[0x39FF] = 0x22;
    rig.runTo(100, 57);  // an idle access
    EXPECT_EQ(rig.vic->lastRead(), 0x11);
    rig.vic->writeRegister(0x11, 0x40);  // ECM
    rig.runTo(101, 57);
    EXPECT_EQ(rig.vic->lastRead(), 0x22);

    // Refresh reads $3F00 | counter, the counter counting down from 255 at line 0.
    for (uint32_t i = 0; i < 256; ++i)
        rig.ram[0x3F00 + i] = uint8_t(i);
    rig.runTo(0, 11);
    EXPECT_EQ(rig.vic->lastRead(), 0xFF);
    rig.runTo(0, 13);
    EXPECT_EQ(rig.vic->lastRead(), 0xFD);
    rig.runTo(1, 11);
    EXPECT_EQ(rig.vic->lastRead(), 0xFA);
}

TEST(VICIIMemory, MissingMemoryReadsAsZero)
{
    PixelCanvas canvas{};
    VICII vic(nullptr, nullptr, nullptr, &canvas, false);
    vic.writeRegister(0x11, 0x1B);
    vic.writeRegister(0x15, 0xFF);
    vic.run(2 * vicii_test::kPalFrame);
    EXPECT_EQ(vic.readVideoMemory(0x0000), 0);
    EXPECT_EQ(vic.readColourRam(0x3FF), 0);
    vic.setUltimax(nullptr);
    EXPECT_EQ(vic.readVideoMemory(0x3FFF), 0);
}

}  // namespace
