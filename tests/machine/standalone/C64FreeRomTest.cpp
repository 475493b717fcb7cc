// The machine with the free replacement ROM set (../shared/roms from the project root), loaded
// once for the whole process: the boot, and LOAD and LIST through the drive, typed into the
// KERNAL's keyboard buffer as a user would. Skipped, saying why, when the set is absent.
#include "../C64TestSupport.h"
#include "../DriveRig.h"

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

size_t countOf(const std::string& text, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
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
            ASSERT_TRUE(runUntil([this] { return rig->peek(kKeyCount) == 0; }, kSecond)) << "the buffer stays full";
            const std::string part = text.substr(at, 10);
            for (size_t i = 0; i < part.size(); ++i)
                rig->machine->writeMemory(uint16_t(kKeyBuffer + i), uint8_t(part[i]));
            rig->machine->writeMemory(kKeyCount, uint8_t(part.size()));
        }
    }

    // Runs in slices of 10,000 cycles until done() or the limit.
    bool runUntil(const std::function<bool()>& done, uint64_t limit)
    {
        for (uint64_t ran = 0; ran < limit; ran += 10000) {
            if (done())
                return true;
            rig->run(10000);
        }
        return done();
    }

    // Types a command and runs until one more "READY." than before shows.
    bool command(const std::string& text, uint64_t limit)
    {
        const size_t before = countOf(screenText(*rig->machine), "READY.");
        type(text + "\r");
        return runUntil([&] { return countOf(screenText(*rig->machine), "READY.") > before; }, limit);
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
    ASSERT_TRUE(runUntil([this] { return !writesTo(rig->media, 1).empty(); }, kSecond)) << screenText(*rig->machine);
    rig->run(kSecond / 2);  // it stays in its loop
    const auto volume = writesTo(rig->media, 24);
    ASSERT_EQ(volume.size(), 1u);  // no crash into a warm start, which silences the SID
    EXPECT_EQ(volume[0].data, 0x0Fu);
    EXPECT_EQ(writesTo(rig->media, 1).back().data, 0x2Au);
    EXPECT_EQ(rig->media.registers[0][24], 0x0F);
    EXPECT_EQ(rig->media.registers[0][1], 0x2A);
}

}  // namespace
