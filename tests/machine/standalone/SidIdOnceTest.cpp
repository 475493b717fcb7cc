// The process-wide player database: read from the data folder by the first tune opened with one,
// once, and then named in the reader's queries and on the tune's information screen.
#include "../ReaderTestSupport.h"

#include "fixtures/TempDir.h"
#include "fixtures/c64/C64Tunes.h"
#include "machine/SidId.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

using namespace reader_test;
using namespace fixtures::c64_tunes;

// The counter tune's play routine: INC $1040 / LDA $1040.
constexpr const char* kCfg =
    "Counter_Player\n"
    "EE 40 10 AD AND 9D 00 D4 END\n"
    "\n"
    "Other_Player\n"
    "FF FF FF END\n";
constexpr const char* kNfo =
    "Counter_Player\n"
    "     NAME: Counting Player\n"
    "   AUTHOR: Test Writer\n"
    "REFERENCE: https://example.org/counter\n"
    "\n";

std::string screenRow(C64Emu& machine, int row)
{
    std::string out;
    for (int i = 0; i < 40; ++i)
        out += char(machine.ramView()[0x0400 + 40 * row + i]);
    return out;
}

std::string asScreenCodes(const std::string& text)
{
    std::string out;
    for (const char c : text)
        out += char(c64ScreenCode(uint8_t(c)));
    out.resize(40, char(32));
    return out;
}

TEST(SidIdOnce, LoadedByTheFirstTuneWithADataFolder)
{
    fixtures::TempDir data, other;
    data.write("sidid.cfg", kCfg);
    data.write("sidid.nfo", kNfo);
    other.write("sidid.cfg", "Another\nEE END\n");
    other.write("sidid.nfo", "");

    // Without a data folder nothing is read, and a later open with one still loads.
    ReaderRig without;
    ASSERT_TRUE(without.open(counterTune().author("").bytes()));
    EXPECT_EQ(without.reader->getPlayerName(0), nullptr);
    EXPECT_TRUE(sidIdDatabase().players.empty());

    std::vector<std::thread> openers;
    for (int i = 0; i < 4; ++i)
        openers.emplace_back([&data] {
            ReaderRig rig(data.path());
            EXPECT_TRUE(rig.open(counterTune().bytes()));
        });
    for (std::thread& t : openers)
        t.join();
    ASSERT_EQ(sidIdDatabase().players.size(), 2u);

    ReaderRig rig(other.path());  // a later folder is not read
    ASSERT_TRUE(rig.open(counterTune().author("").bytes()));
    EXPECT_EQ(sidIdDatabase().players.count("Another"), 0u);
    ASSERT_NE(rig.reader->getPlayerInfo(), nullptr);
    EXPECT_STREQ(rig.reader->getPlayerName(0), "Counting Player");
    EXPECT_STREQ(rig.reader->getPlayerReference(0), "https://example.org/counter");
    EXPECT_STREQ(rig.reader->getAuthor(0), "Test Writer") << "the tune names no author";

    ASSERT_TRUE(rig.reader->selectSong(0));
    const std::string rule(40, '-');
    // No author or released lines: the SID line is row 14.
    EXPECT_EQ(screenRow(rig.machine(), 14), asScreenCodes("SID1  :Unk. at $D400"));
    EXPECT_EQ(screenRow(rig.machine(), 15), asScreenCodes(rule));
    EXPECT_EQ(screenRow(rig.machine(), 16), asScreenCodes("Player:Counting Player"));
    EXPECT_EQ(screenRow(rig.machine(), 17), asScreenCodes("Author:Test Writer"));
    EXPECT_EQ(screenRow(rig.machine(), 18), asScreenCodes("Ref   :https://example.org/counter"));

    // A tune the signatures do not fit keeps its own author and names no player.
    ReaderRig plain(data.path());
    ASSERT_TRUE(plain.open(fixtures::PsidBuilder().code({0x60, 0xA9, 0x00}).bytes()));
    EXPECT_EQ(plain.reader->getPlayerName(0), nullptr);
    EXPECT_STREQ(plain.reader->getAuthor(0), "tests");
}

}  // namespace
