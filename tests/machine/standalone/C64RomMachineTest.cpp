// The machine with a ROM set: marker BASIC ($B0) and character ROM ($C0) images and the tests'
// own mini KERNAL, loaded once for the whole process.
#include "../C64TestSupport.h"
#include "../DriveRig.h"

#include "fixtures/TempDir.h"
#include "fixtures/c64/CrtBuilder.h"
#include "fixtures/c64/SerialLoadProgram.h"
#include "machine/C1541.h"
#include "machine/C64RomSet.h"
#include "machine/DirectoryListing.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

namespace {

using namespace c64_test;
using fixtures::CrtBuilder;
using fixtures::CrtChip;

Bytes readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const Bytes& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

const Bytes& miniKernal()
{
    static const Bytes image = readFile(std::string(MACHINE_TEST_PROGRAM_DIR) + "/mini_kernal.bin");
    return image;
}

// The folder every machine of this process is built with.
const std::string& romFolder()
{
    static fixtures::TempDir dir;
    static const bool written = [] {
        writeFile(dir / "basic.rom", Bytes(8192, 0xB0));
        writeFile(dir / "chargen", Bytes(4096, 0xC0));
        writeFile(dir / "kernal.rom", miniKernal());
        return true;
    }();
    (void)written;
    return dir.path();
}

class C64RomMachine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(miniKernal().size(), 8192u); }
};

TEST_F(C64RomMachine, TheSetLoadsOncePerProcess)
{
    C64Rig rig(romFolder());
    EXPECT_EQ(c64RomSet().basicRom[0], 0xB0);
    EXPECT_EQ(c64RomSet().charRom[4095], 0xC0);
    EXPECT_EQ(c64RomSet().kernalRom[0], miniKernal()[0]);
    // A later machine with another folder reads the same images.
    fixtures::TempDir other;
    writeFile(other / "basic", Bytes(8192, 0x11));
    C64Rig later(other.path());
    EXPECT_EQ(c64RomSet().basicRom[0], 0xB0);
}

TEST_F(C64RomMachine, BankTableForAll32Modes)
{
    // Expected sources at $8000, $A000, $D000, $E000 by mode (EXROM GAME CHAREN HIRAM LORAM):
    // R RAM, L ROML, H ROMH, B BASIC, G character ROM, I I/O, K KERNAL, U unmapped.
    const char* kExpected[32] = {
        "RRRR", "RRRR", "RHGK", "LHGK", "RRRR", "RRIR", "RHIK", "LHIK",  // 16K cartridge
        "RRRR", "RRRR", "RRGK", "LBGK", "RRRR", "RRIR", "RRIK", "LBIK",  // 8K cartridge
        "LUIH", "LUIH", "LUIH", "LUIH", "LUIH", "LUIH", "LUIH", "LUIH",  // Ultimax
        "RRRR", "RRGR", "RRGK", "RBGK", "RRRR", "RRIR", "RRIK", "RBIK",  // no cartridge
    };
    CrtChip chip;
    chip.size = 0x4000;
    chip.data = Bytes(0x2000, 0xD1);
    chip.data->insert(chip.data->end(), 0x2000, 0xD2);
    const Bytes crt = CrtBuilder(0).lines(0, 0).chip(chip).bytes();

    C64Rig rig(romFolder());
    C64Emu& m = *rig.machine;
    ASSERT_TRUE(m.insertCartridge(crt.data(), crt.size()));
    m.seedOpenBus(99);
    m.getVic()->writeRegister(0, 0x5A);  // sprite 0 X, read at $D000 as I/O

    auto setMode = [&m](uint32_t mode) {
        m.setExromGame(mode >> 3 & 1, mode >> 4 & 1);
        m.writeMemory(0x0000, 0x07);
        m.writeMemory(0x0001, uint8_t(mode & 7));
        ASSERT_EQ(m.getBankMode(), mode);
    };
    const uint16_t addresses[4] = {0x8000, 0xA000, 0xD000, 0xE000};
    const uint8_t ramValues[4] = {0x11, 0x22, 0x33, 0x44};
    setMode(24);
    for (int i = 0; i < 4; ++i)
        m.writeMemory(addresses[i], ramValues[i]);
    m.writeMemory(0x4000, 0x55);
    m.writeMemory(0xC123, 0x66);

    for (uint32_t mode = 0; mode < 32; ++mode) {
        setMode(mode);
        for (int i = 0; i < 4; ++i) {
            const uint8_t got = uint8_t(m.readMemory(addresses[i]));
            const char source = kExpected[mode][i];
            const std::string where = "mode " + std::to_string(mode) + " at " + std::to_string(addresses[i]);
            switch (source) {
            case 'R': EXPECT_EQ(got, ramValues[i]) << where; break;
            case 'L': EXPECT_EQ(got, 0xD1) << where; break;
            case 'H': EXPECT_EQ(got, 0xD2) << where; break;
            case 'B': EXPECT_EQ(got, 0xB0) << where; break;
            case 'G': EXPECT_EQ(got, 0xC0) << where; break;
            case 'I': EXPECT_EQ(got, 0x5A) << where; break;
            case 'K': EXPECT_EQ(got, miniKernal()[0]) << where; break;
            default: EXPECT_NE(got, ramValues[i]) << where; break;  // the open bus
            }
        }
        EXPECT_EQ(m.readMemory(0x4000), 0x55) << "mode " << mode;
        EXPECT_EQ(m.readMemory(0xC123), 0x66) << "mode " << mode;
    }

    // Writes under whatever is mapped reach RAM (I/O at $D000 takes its own).
    for (uint32_t mode = 0; mode < 32; ++mode) {
        setMode(mode);
        for (int i = 0; i < 4; ++i)
            if (kExpected[mode][i] != 'I')
                m.writeMemory(addresses[i], uint8_t(mode * 4 + i));
        setMode(24);
        for (int i = 0; i < 4; ++i) {
            if (kExpected[mode][i] != 'I') {
                EXPECT_EQ(m.readMemory(addresses[i]), mode * 4 + i) << "mode " << mode << " at " << addresses[i];
            }
        }
    }
}

TEST_F(C64RomMachine, ResetEndsInTheIdleLoop)
{
    C64Rig rig(romFolder());
    ASSERT_TRUE(rig.machine->bootMachine());
    EXPECT_LT(rig.machine->getTotalCycles(), 10'000u);
    EXPECT_GE(rig.machine->getIdleLoopHits(), 2u);
    const uint16_t pc = rig.machine->getCpu()->PC;
    EXPECT_GE(pc, 0xE5CD);
    EXPECT_LE(pc, 0xE5D0);
    // The mini KERNAL set up the port and the RAM vectors.
    EXPECT_EQ(rig.machine->readMemory(0x0000), 0x2F);
    EXPECT_EQ(rig.machine->readMemory(0x0001) & 0x07, 0x07);
}

TEST_F(C64RomMachine, BasicTuneRunsThroughTheKernal)
{
    C64Rig rig(romFolder());
    const Bytes program = basicProgram(basicSidLoop());
    ASSERT_TRUE(rig.install(fixtures::PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0801).code(program)));
    rig.media.calls.clear();
    rig.run(20'000);
    const auto volume = writesTo(rig.media, 24);
    ASSERT_EQ(volume.size(), 1u);
    EXPECT_EQ(volume[0].data, 0x0Fu);
    EXPECT_GT(writesTo(rig.media, 0).size(), 500u);
    EXPECT_EQ(rig.peek(0xC6), 0);
    // The KERNAL's timer interrupt keeps coming: one capture frame per 16421 cycles.
    rig.media.calls.clear();
    rig.run(10 * 16421);
    const auto frames = captureTimes(rig.media);
    ASSERT_GE(frames.size(), 9u);
    EXPECT_NEAR(double(frames[8] - frames[0]) / 8.0, 16421.0, 1.0);
}

TEST_F(C64RomMachine, AutostartCartridgeStartsThroughTheKernal)
{
    // ROML: start vector $8009, the autostart bytes, then $8009 LDA #$0F / STA $D418 / JMP $800E.
    Bytes rom(0x2000, 0xEA);
    const Bytes head = {0x09, 0x80, 0x09, 0x80, 0xC3, 0xC2, 0xCD, 0x38, 0x30,
                        0xA9, 0x0F, 0x8D, 0x18, 0xD4, 0x4C, 0x0E, 0x80};
    std::copy(head.begin(), head.end(), rom.begin());
    CrtChip chip;
    chip.data = rom;
    const Bytes crt = CrtBuilder(0).lines(0, 1).chip(chip).bytes();

    C64Rig rig(romFolder());
    ASSERT_TRUE(rig.machine->insertCartridge(crt.data(), crt.size()));
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_RUNNING);
    rig.run(2000);
    const auto volume = writesTo(rig.media, 24);
    ASSERT_EQ(volume.size(), 1u);
    EXPECT_EQ(volume[0].data, 0x0Fu);
    const uint16_t pc = rig.machine->getCpu()->PC;
    EXPECT_GE(pc, 0x800E);
    EXPECT_LE(pc, 0x8010);
}

TEST_F(C64RomMachine, PsidPlaysOverTheKernal)
{
    C64Rig rig(romFolder());
    ASSERT_TRUE(rig.install(counterTune()));
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_PLAYING);
    rig.run(10 * kPalFrame + 2000);
    EXPECT_EQ(rig.peek(kCounter), 11);
    EXPECT_EQ(rig.media.registers[0][0], 11);
}

// The tests' LOAD routine, started by the mini KERNAL as a BASIC program, loads through CIA2
// port A from the drive: the bytes at $C000, their count and the status byte.
TEST_F(C64RomMachine, SerialLoadThroughCia2)
{
    namespace sl = fixtures::serial_load;
    const Bytes image = drive_rig::standardImage();
    const auto disk = drive_rig::openD64(image);
    DiskFileEntry listing;
    ASSERT_TRUE(buildDirectoryListing(disk.get(), listing));
    const struct {
        const char* name;
        const Bytes& bytes;
        uint8_t status;
    } kCases[] = {
        {"HELLO", drive_rig::helloBytes(), 0},
        {"$", listing.bytes, 0},
        {"NOPE", {}, sl::kReadTimeOut},
    };
    for (const auto& c : kCases) {
        const Bytes program = sl::program(std::string(MACHINE_TEST_PROGRAM_DIR) + "/serial_load.bin", c.name);
        ASSERT_FALSE(program.empty());
        C64Rig rig(romFolder(), false, disk.get());
        ASSERT_TRUE(rig.install(fixtures::PsidBuilder().rsid().flags(psid::kFlagBasic).load(sl::kStart).code(program)));
        for (uint64_t ran = 0; ran < 3'000'000 && !rig.peek(sl::kDone); ran += 10'000)
            rig.run(10'000);
        ASSERT_EQ(rig.peek(sl::kDone), 1) << c.name;
        EXPECT_EQ(rig.peek(sl::kStatus), c.status) << c.name;
        const size_t length = rig.peek(sl::kLength) | rig.peek(sl::kLength + 1) << 8;
        ASSERT_EQ(length, c.bytes.size()) << c.name;
        EXPECT_EQ(screenAt(*rig.machine, sl::kBuffer, length), c.bytes) << c.name;
        EXPECT_EQ(rig.machine->getDrive()->role(), C1541::kRoleNone) << c.name;
    }
}

}  // namespace
