// The machine with the free replacement ROM set (../shared/roms from the project root), loaded
// once for the whole process: the boot, and LOAD and LIST through the drive, typed into the
// KERNAL's keyboard buffer as a user would. Skipped, saying why, when the set is absent.
#include "../C64TestSupport.h"
#include "../DriveRig.h"
#include "fixtures/c64/CrtBuilder.h"

#include "machine/C64RomSet.h"
#include "machine/VICII.h"
#include "platform/PlatformTools.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace c64_test;

constexpr uint16_t kScreen = 0x0400;
constexpr uint16_t kKeyBuffer = 0x0277;
constexpr uint16_t kKeyCount = C64Emu::kKeyCount;
constexpr uint64_t kSecond = 985248;

const std::string kRomDir = FREE_ROM_DIR;

bool haveFreeRoms()
{
    for (const char* name : {"kernal_generic.rom", "basic_generic.rom", "chargen_openroms.rom"})
        if (!fileExists(kRomDir + "/" + name))
            return false;
    return true;
}

#define REQUIRE_FREE_ROMS()                                                                              \
    if (!haveFreeRoms())                                                                                 \
    GTEST_SKIP() << "the free ROM set is not in " << kRomDir << " (it comes with the shared folder)"

// Screen memory as text: screen codes to ASCII, reverse video dropped, one line per row.
std::string screenText(const C64Emu& m)
{
    std::string text;
    for (int row = 0; row < 25; ++row) {
        for (int column = 0; column < 40; ++column) {
            const uint8_t code = m.ramView()[kScreen + row * 40 + column] & 0x7F;
            char c = '?';
            if (code == 0)
                c = '@';
            else if (code <= 26)
                c = char('A' + code - 1);
            else if (code >= 32 && code <= 63)
                c = char(code);
            text += c;
        }
        text += '\n';
    }
    return text;
}

// Runs the rig in slices of 10,000 cycles until done() or the limit.
bool runUntil(C64Rig& rig, const std::function<bool()>& done, uint64_t limit)
{
    for (uint64_t ran = 0; ran < limit; ran += 10000) {
        if (done())
            return true;
        rig.run(10000);
    }
    return done();
}

size_t countOf(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

// A program that stops reading a file early, as directory readers do: SETLFS 2,8,2, SETNAM "$",
// OPEN, CHKIN 2, one CHRIN (its byte and the status word kept at $C100 and $C101), CLRCHN,
// CLOSE 2, RTS. Logical file 2 works around this KERNAL's CHKIN, which refuses logical file 1;
// its TKSA then sends $F2 (OPEN 2) after TALK instead of SECOND 2.
Bytes partialReadProgram()
{
    return {
        0xA9, 0x02,        // C000 LDA #2
        0xA2, 0x08,        // C002 LDX #8
        0xA0, 0x02,        // C004 LDY #2
        0x20, 0xBA, 0xFF,  // C006 JSR SETLFS
        0xA9, 0x01,        // C009 LDA #1
        0xA2, 0x40,        // C00B LDX #<$C040
        0xA0, 0xC0,        // C00D LDY #>$C040
        0x20, 0xBD, 0xFF,  // C00F JSR SETNAM
        0x20, 0xC0, 0xFF,  // C012 JSR OPEN
        0xA2, 0x02,        // C015 LDX #2
        0x20, 0xC6, 0xFF,  // C017 JSR CHKIN
        0x20, 0xCF, 0xFF,  // C01A JSR CHRIN
        0x8D, 0x00, 0xC1,  // C01D STA $C100
        0xA5, 0x90,        // C020 LDA $90
        0x8D, 0x01, 0xC1,  // C022 STA $C101
        0x20, 0xCC, 0xFF,  // C025 JSR CLRCHN
        0xA9, 0x02,        // C028 LDA #2
        0x20, 0xC3, 0xFF,  // C02A JSR CLOSE
        0x60,              // C02D RTS
    };
}

// Whether text cell (row, column) of the rig's canvas draws glyph `code` of the chip's upper-case
// set: its set pixels in one colour, the others in another.
bool cellShows(const C64Rig& rig, uint32_t row, uint32_t column, uint8_t code)
{
    const uint8_t* glyph = kVICIICharacterImage.data() + code * 8;
    std::vector<uint8_t> on, off;
    for (uint32_t y = 0; y < 8; ++y)
        for (uint32_t x = 0; x < 8; ++x) {
            const uint8_t pixel = rig.pixels[(36 + row * 8 + y) * 384 + 32 + column * 8 + x];
            ((glyph[y] >> (7 - x)) & 1 ? on : off).push_back(pixel);
        }
    const auto uniform = [](const std::vector<uint8_t>& v) {
        return !v.empty() && std::all_of(v.begin(), v.end(), [&](uint8_t c) { return c == v[0]; });
    };
    return uniform(on) && uniform(off) && on[0] != off[0];
}

class FreeRomMachine : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_FREE_ROMS();
        disk = drive_rig::openD64(diskImage());
        rig = std::make_unique<C64Rig>(kRomDir, false, disk.get());
        ASSERT_TRUE(rig->machine->bootMachine());
        bootCycles = rig->machine->getTotalCycles();
    }

    // HELLO, a BASIC program at $0801: 10 SYS2061, then $D418 = $0F and $D401 = $2A, and it
    // waits in a loop whose address is the file's last byte.
    static const Bytes& hello()
    {
        static const Bytes file = [] {
            Bytes bytes = {0x01, 0x08};  // load address $0801
            const Bytes program = basicProgram({
                0xA9, 0x0F,        // 080D LDA #$0F
                0x8D, 0x18, 0xD4,  // 080F STA $D418
                0xA9, 0x2A,        // 0812 LDA #$2A
                0x8D, 0x01, 0xD4,  // 0814 STA $D401
                0x4C, 0x17, 0x08,  // 0817 JMP $0817
            });
            bytes.insert(bytes.end(), program.begin(), program.end());
            return bytes;
        }();
        return file;
    }

    // A disk named "FREE ROM DISK" whose first file is HELLO.
    static const Bytes& diskImage()
    {
        static const Bytes image = [] {
            fixtures::D64Builder builder;
            builder.name("FREE ROM DISK").id('F', 'R');
            builder.addFile("HELLO", hello());
            builder.addFile("NOTES", drive_rig::seqBytes(), 0x81);
            return builder.image();
        }();
        return image;
    }

    // Types the text through the keyboard buffer, ten characters at a time, as the KERNAL
    // takes them.
    void type(const std::string& text)
    {
        for (size_t at = 0; at < text.size(); at += 10) {
            ASSERT_TRUE(runUntil(*rig, [this] { return rig->peek(kKeyCount) == 0; }, kSecond)) << "the buffer stays full";
            const std::string part = text.substr(at, 10);
            for (size_t i = 0; i < part.size(); ++i)
                rig->machine->writeMemory(uint16_t(kKeyBuffer + i), uint8_t(part[i]));
            rig->machine->writeMemory(kKeyCount, uint8_t(part.size()));
        }
    }

    // Types a command and runs until one more "READY." than before shows.
    bool command(const std::string& text, uint64_t limit)
    {
        const size_t before = countOf(screenText(*rig->machine), "READY.");
        type(text + "\r");
        return runUntil(*rig, [&] { return countOf(screenText(*rig->machine), "READY.") > before; }, limit);
    }

    std::unique_ptr<D64File> disk;
    std::unique_ptr<C64Rig> rig;
    uint64_t bootCycles = 0;
};

TEST_F(FreeRomMachine, BootsToReadyWellBeforeTheLimit)
{
    EXPECT_LT(bootCycles, 1'000'000u);
    EXPECT_EQ(rig->machine->getState(), C64Emu::STATE_RUNNING);
    rig->run(kSecond / 2);
    EXPECT_EQ(rig->machine->getState(), C64Emu::STATE_RUNNING);  // not jammed
    const std::string screen = screenText(*rig->machine);
    const size_t ready = screen.find("READY.");
    ASSERT_NE(ready, std::string::npos) << screen;
    // The KERNAL's own screen on the canvas: READY. from column 0, as the booted chip shows it.
    const uint32_t row = uint32_t(ready / 41);
    ASSERT_EQ(ready % 41, 0u) << screen;
    const char* word = "READY.";
    for (uint32_t column = 0; column < 6; ++column) {
        const char c = word[column];
        EXPECT_TRUE(cellShows(*rig, row, column, uint8_t(c == '.' ? c : c - 'A' + 1))) << "column " << column;
    }
}

TEST_F(FreeRomMachine, LoadDirectoryAndListIt)
{
    const uint64_t start = rig->machine->getTotalCycles();
    ASSERT_TRUE(command("LOAD\"$\",8", 10 * kSecond)) << screenText(*rig->machine);
    ASSERT_TRUE(command("LIST", 10 * kSecond)) << screenText(*rig->machine);
    const std::string screen = screenText(*rig->machine);
    EXPECT_LE(rig->machine->getTotalCycles() - start, 10 * kSecond);
    EXPECT_NE(screen.find("\"FREE ROM DISK   \" FR 2A"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\"HELLO\""), std::string::npos) << screen;
    EXPECT_NE(screen.find("664 BLOCKS FREE."), std::string::npos) << screen;
    EXPECT_EQ(screen.find("65535"), std::string::npos) << screen;  // no line made of a wrong last byte
}

TEST_F(FreeRomMachine, LoadTheFirstFileAndRunIt)
{
    // A LOAD before it leaves nothing behind in the drive.
    ASSERT_TRUE(command("LOAD\"$\",8", 10 * kSecond)) << screenText(*rig->machine);
    ASSERT_TRUE(command("LOAD\"*\",8", 10 * kSecond)) << screenText(*rig->machine);
    EXPECT_EQ(screenAt(*rig->machine, 0x0801, hello().size() - 2), Bytes(hello().begin() + 2, hello().end()));
    rig->media.calls.clear();
    type("RUN\r");
    ASSERT_TRUE(runUntil(*rig, [this] { return !writesTo(rig->media, 1).empty(); }, kSecond)) << screenText(*rig->machine);
    rig->run(kSecond / 2);  // it stays in its loop
    const auto volume = writesTo(rig->media, 24);
    ASSERT_EQ(volume.size(), 1u);  // no crash into a warm start, which silences the SID
    EXPECT_EQ(volume[0].data, 0x0Fu);
    EXPECT_EQ(writesTo(rig->media, 1).back().data, 0x2Au);
    EXPECT_EQ(rig->media.registers[0][24], 0x0F);
    EXPECT_EQ(rig->media.registers[0][1], 0x2A);
}

// The drive was still talking when CLRCHN sent UNTALK under ATN; the next LOAD must find its
// name alone and the drive listening.
TEST_F(FreeRomMachine, DirectoryLoadsAfterAFileReadOnlyInPart)
{
    const Bytes program = partialReadProgram();
    for (size_t i = 0; i < program.size(); ++i)
        rig->machine->writeMemory(uint16_t(0xC000 + i), program[i]);
    rig->machine->writeMemory(0xC040, '$');
    ASSERT_TRUE(command("SYS49152", 10 * kSecond)) << screenText(*rig->machine);
    EXPECT_EQ(rig->peek(0xC100), 0x01);  // the listing's first byte: the low byte of $0401
    EXPECT_EQ(rig->peek(0xC101), 0x00);  // no time-out, no end of file
    ASSERT_TRUE(command("LOAD\"$\",8", 10 * kSecond)) << screenText(*rig->machine);
    ASSERT_TRUE(command("LIST", 10 * kSecond)) << screenText(*rig->machine);
    const std::string screen = screenText(*rig->machine);
    EXPECT_EQ(screen.find("ERROR"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\"FREE ROM DISK   \" FR 2A"), std::string::npos) << screen;
    EXPECT_NE(screen.find("\"HELLO\""), std::string::npos) << screen;
    EXPECT_NE(screen.find("664 BLOCKS FREE."), std::string::npos) << screen;
}

TEST_F(FreeRomMachine, MissingFileIsReportedAndTheNextLoadWorks)
{
    ASSERT_TRUE(command("LOAD\"NOSUCH\",8", 10 * kSecond)) << screenText(*rig->machine);
    EXPECT_NE(screenText(*rig->machine).find("?FILE NOT FOUND ERROR"), std::string::npos) << screenText(*rig->machine);
    ASSERT_TRUE(command("LOAD\"$\",8", 10 * kSecond)) << screenText(*rig->machine);
    ASSERT_TRUE(command("LIST", 10 * kSecond)) << screenText(*rig->machine);
    const std::string screen = screenText(*rig->machine);
    EXPECT_NE(screen.find("\"FREE ROM DISK   \" FR 2A"), std::string::npos) << screen;
    EXPECT_NE(screen.find("664 BLOCKS FREE."), std::string::npos) << screen;
}

// Ocean cartridges with the free ROM set. Its KERNAL's reset, finding no autostart bytes at
// $8004, initialises the machine and enters BASIC's cold start through JMP ($A000).

using fixtures::CrtBuilder;
using fixtures::CrtChip;

// Bank 0 of an Ocean board: a cold-start word at $8000, no autostart bytes, and code that
// writes "OCEAN" to the third screen row and waits.
CrtChip oceanBankZero()
{
    Bytes rom(0x2000, 0xEA);
    const Bytes code = {
        0x09, 0x80, 0x09, 0x80,        // 8000 cold and warm start $8009
        0x00, 0x00, 0x00, 0x00, 0x00,  // 8004 no autostart bytes
        0xA2, 0x00,                    // 8009 LDX #$00
        0xBD, 0x19, 0x80,              // 800B LDA $8019,X
        0xF0, 0x06,                    // 800E BEQ $8016
        0x9D, 0x50, 0x04,              // 8010 STA $0450,X
        0xE8,                          // 8013 INX
        0xD0, 0xF5,                    // 8014 BNE $800B
        0x4C, 0x16, 0x80,              // 8016 JMP $8016
        0x0F, 0x03, 0x05, 0x01, 0x0E, 0x00,  // 8019 "OCEAN"
    };
    std::copy(code.begin(), code.end(), rom.begin());
    CrtChip chip;
    chip.data = rom;
    return chip;
}

// Bank 0 as above, then 8 KB banks at $8000 up to count - 1.
Bytes oceanImage(unsigned count)
{
    CrtBuilder builder(5);
    builder.chip(oceanBankZero());
    for (unsigned bank = 1; bank < count; ++bank)
        builder.chip(uint16_t(bank), 0x8000, 0x2000);
    return builder.bytes();
}

class FreeRomOcean : public ::testing::Test {
protected:
    void SetUp() override
    {
        REQUIRE_FREE_ROMS();
        rig = std::make_unique<C64Rig>(kRomDir);
    }

    // Runs in slices of 10,000 cycles until the screen shows the text (at the row's start, or
    // anywhere for row -1) or the limit.
    bool runUntilShown(const std::string& text, int row, uint64_t limit)
    {
        const auto shows = [&] {
            const std::string screen = screenText(*rig->machine);
            return row < 0 ? screen.find(text) != std::string::npos
                           : screen.compare(size_t(row) * 41, text.size(), text) == 0;
        };
        return runUntil(*rig, shows, limit);
    }

    std::unique_ptr<C64Rig> rig;
};

// The board runs in the 16 KB configuration, so bank 0 is also at $A000 and BASIC's cold-start
// jump enters the cartridge.
TEST_F(FreeRomOcean, FourBankBoardStartsThroughBasicColdStart)
{
    const Bytes crt = oceanImage(4);
    ASSERT_TRUE(rig->machine->insertCartridge(crt.data(), crt.size()));
    EXPECT_EQ(rig->machine->getBankMode() >> 3, 0u);  // EXROM 0, GAME 0
    EXPECT_TRUE(runUntilShown("OCEAN", 2, 2 * kSecond)) << screenText(*rig->machine);
    rig->run(kSecond / 2);
    const std::string screen = screenText(*rig->machine);
    EXPECT_EQ(screen.find("READY."), std::string::npos) << screen;
    EXPECT_EQ(rig->machine->getState(), C64Emu::STATE_RUNNING);  // not jammed
}

// A 512 KB board runs in the 8 KB configuration: BASIC stays at $A000 and starts.
TEST_F(FreeRomOcean, SixtyFourBankBoardLeavesBasicAtA000)
{
    const Bytes crt = oceanImage(64);
    ASSERT_TRUE(rig->machine->insertCartridge(crt.data(), crt.size()));
    EXPECT_EQ(rig->machine->getBankMode() >> 3, 1u);  // EXROM 0, GAME 1
    EXPECT_TRUE(runUntilShown("READY.", -1, 2 * kSecond)) << screenText(*rig->machine);
    const std::string screen = screenText(*rig->machine);
    EXPECT_EQ(screen.find("OCEAN"), std::string::npos) << screen;
    EXPECT_EQ(rig->machine->readMemory(0x8000), 0x09);  // bank 0 stays at $8000
    rig->machine->writeMemory(0xDE00, 7);
    EXPECT_EQ(rig->machine->readMemory(0x8000), 7);
}

}  // namespace
