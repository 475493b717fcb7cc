// Cartridges plugged into the machine without ROM images.
#include "C64TestSupport.h"

#include "fixtures/c64/CrtBuilder.h"

#include <gtest/gtest.h>

namespace {

using namespace c64_test;
using fixtures::CrtBuilder;
using fixtures::CrtChip;

// An Ultimax cartridge: 8 KB of ROMH at $E000 whose reset vector runs
// $E000 LDA #$0F / STA $D418 / INC $D400 / JMP $E005.
Bytes ultimaxCartridge()
{
    Bytes rom(0x2000, 0xEA);
    const Bytes code = {0xA9, 0x0F, 0x8D, 0x18, 0xD4, 0xEE, 0x00, 0xD4, 0x4C, 0x05, 0xE0};
    std::copy(code.begin(), code.end(), rom.begin());
    rom[0x1FFC] = 0x00;
    rom[0x1FFD] = 0xE0;
    CrtChip chip;
    chip.loadAddress = 0xE000;
    chip.data = rom;
    return CrtBuilder(0).lines(1, 0).chip(chip).bytes();
}

TEST(C64CartridgeMachine, UltimaxCartridgeRunsWithoutRoms)
{
    C64Rig rig;
    const Bytes crt = ultimaxCartridge();
    ASSERT_TRUE(rig.machine->insertCartridge(crt.data(), crt.size()));
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_RUNNING);
    ASSERT_FALSE(rig.media.calls.empty());
    EXPECT_EQ(rig.media.calls[0].op, MediaCall::MediaStarted);
    EXPECT_EQ(rig.media.calls[0].value, crt.size());
    EXPECT_EQ(rig.machine->getBankMode() >> 3, 2u);  // EXROM 1, GAME 0
    rig.run(5000);
    const auto volume = writesTo(rig.media, 24);
    ASSERT_EQ(volume.size(), 1u);
    EXPECT_EQ(volume[0].data, 0x0Fu);
    EXPECT_GT(writesTo(rig.media, 0).size(), 100u);
    // $1000-$7FFF stays RAM in Ultimax mode.
    rig.machine->writeMemory(0x4000, 0x99);
    EXPECT_EQ(rig.machine->readMemory(0x4000), 0x99);
}

TEST(C64CartridgeMachine, FastloadCartridgeSwitchesItselfOff)
{
    C64Rig rig;
    // Type 10: off after more than 10,000 cycles without a ROML or I/O-1 access. With no
    // KERNAL the CPU spins on BRK at $0000 and never touches $8000.
    const Bytes crt = CrtBuilder(10).lines(0, 1).chip(0, 0x8000, 0x2000).bytes();
    ASSERT_TRUE(rig.machine->insertCartridge(crt.data(), crt.size()));
    EXPECT_EQ(rig.machine->getBankMode() >> 3, 1u);  // EXROM 0, GAME 1
    rig.run(9900);
    EXPECT_EQ(rig.machine->getBankMode() >> 3, 1u);
    rig.run(200);
    EXPECT_EQ(rig.machine->getBankMode() >> 3, 3u);  // both lines released
    // ROML has gone: $8000 reads RAM.
    rig.machine->writeMemory(0x8000, 0x3C);
    EXPECT_EQ(rig.machine->readMemory(0x8000), 0x3C);
}

// An 8K cartridge with the port at $35 (KERNAL and BASIC banked out, ROML at $8000 off) keeps
// I/O at $D000, as at $37: the SID store reaches the chip, the border colour reads back.
TEST(C64CartridgeMachine, EightKCartridgeKeepsIoWithTheKernalBankedOut)
{
    C64Rig rig;
    const Bytes crt = CrtBuilder(0).lines(0, 1).chip(0, 0x8000, 0x2000).bytes();
    ASSERT_TRUE(rig.machine->insertCartridge(crt.data(), crt.size()));
    C64Emu& m = *rig.machine;
    m.writeMemory(0x0000, 0x2F);
    const struct {
        uint8_t port;
        uint32_t mode;
        uint8_t volume;
        uint8_t border;
    } kCases[] = {{0x35, 13, 0x0A, 0x06}, {0x37, 15, 0x0B, 0x02}};
    for (const auto& c : kCases) {
        m.writeMemory(0x0001, c.port);
        ASSERT_EQ(m.getBankMode(), c.mode);
        rig.media.calls.clear();
        m.writeMemory(0xD418, c.volume);
        const auto volume = writesTo(rig.media, 24);
        ASSERT_EQ(volume.size(), 1u) << "port " << int(c.port);
        EXPECT_EQ(volume[0].data, c.volume) << "port " << int(c.port);
        m.writeMemory(0xD020, c.border);
        EXPECT_EQ(m.readMemory(0xD020) & 0x0F, c.border) << "port " << int(c.port);
        EXPECT_EQ(m.getVic()->readRegister(0x20) & 0x0F, c.border) << "port " << int(c.port);
    }
}

TEST(C64CartridgeMachine, RefusedImagesLeaveNoCartridge)
{
    C64Rig rig;
    const Bytes good = ultimaxCartridge();
    ASSERT_TRUE(rig.machine->insertCartridge(good.data(), good.size()));
    const Bytes truncated(good.begin(), good.begin() + 70);
    const Bytes unknownType = CrtBuilder(9999).chip(0, 0x8000, 0x2000).bytes();
    for (const Bytes* bad : {&truncated, &unknownType}) {
        EXPECT_FALSE(rig.machine->insertCartridge(bad->data(), bad->size()));
        EXPECT_EQ(rig.machine->getCartridge(), nullptr);
        // The old cartridge's lines went with it.
        EXPECT_EQ(rig.machine->getBankMode() >> 3, 3u);
    }
    EXPECT_FALSE(rig.machine->insertCartridge(nullptr, 0));
    EXPECT_TRUE(rig.machine->bootMachine());
    EXPECT_EQ(rig.machine->advance(20000, kPal), 20000u);
}

// An Ocean board through the machine's memory map: an IO1 write at $DE00 selects the bank that
// $8000 and, in the 16 KB configuration, $A000 show. Without ROMs BASIC reads 0.
TEST(C64CartridgeMachine, OceanBankAtBothWindows)
{
    const auto image = [](unsigned count, unsigned firstAtA000) {
        CrtBuilder builder(5);
        for (unsigned bank = 0; bank < count; ++bank)
            builder.chip(uint16_t(bank), bank < firstAtA000 ? 0x8000 : 0xA000, 0x2000);
        return builder.bytes();
    };
    const struct {
        const char* name;
        Bytes crt;
        uint32_t lines;  // EXROM << 1 | GAME
        uint8_t select, at8000, atA000;
    } cases[] = {
        {"4 banks at $8000", image(4, 4), 0, 2, 2, 2},
        {"32 banks, 16-31 at $A000", image(32, 16), 0, 20, 0x94, 0x94},
        {"64 banks: BASIC stays at $A000", image(64, 64), 1, 5, 5, 0},
    };
    for (const auto& c : cases) {
        C64Rig rig;
        C64Emu& m = *rig.machine;
        ASSERT_TRUE(m.insertCartridge(c.crt.data(), c.crt.size())) << c.name;
        m.writeMemory(0x0000, 0x2F);
        m.writeMemory(0x0001, 0x37);
        EXPECT_EQ(m.getBankMode() >> 3, c.lines) << c.name;
        m.writeMemory(0xA000, 0x77);  // RAM under the window never shows
        m.writeMemory(0xDE00, c.select);
        for (const uint16_t address : {0x8000, 0x9FFF})
            EXPECT_EQ(m.readMemory(address), c.at8000) << c.name << " $" << std::hex << address;
        for (const uint16_t address : {0xA000, 0xBFFF})
            EXPECT_EQ(m.readMemory(address), c.atA000) << c.name << " $" << std::hex << address;
    }
}

}  // namespace
