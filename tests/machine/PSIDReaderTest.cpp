// The tune reader: which file becomes what, the refusals of short and oversized files, the header
// queries, the information text on the machine's screen and how each kind of media starts.
#include "ReaderTestSupport.h"

#include "fixtures/c64/C64Tunes.h"
#include "fixtures/c64/CrtBuilder.h"
#include "fixtures/c64/D64Builder.h"
#include "fixtures/c64/T64Builder.h"
#include "machine/DiskImages.h"
#include "machine/G64File.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace reader_test;
using namespace fixtures::c64_tunes;
using fixtures::CrtBuilder;
using fixtures::D64Builder;
using fixtures::PsidBuilder;
using fixtures::T64Builder;
using fixtures::T64Entry;

Bytes withPrefix(Bytes head, size_t size)
{
    head.resize(size, 0);
    return head;
}

Bytes program(uint16_t load, const Bytes& code)
{
    Bytes out(code.size() + 2);
    out[0] = uint8_t(load);
    out[1] = uint8_t(load >> 8);
    std::copy(code.begin(), code.end(), out.begin() + 2);
    return out;
}

T64Builder oneProgramTape(const std::string& signature, const Bytes& data = basicProgram(basicSidLoop()))
{
    T64Entry e;
    e.name = "TAPED";
    e.data = data;
    return T64Builder().signature(signature).entry(e);
}

enum class Kind { Refused, Tune, Cartridge, Program, D81, G64, D64 };

TEST(PSIDReaderOpen, RecognisesEachFormatByItsBytesAndSize)
{
    const struct {
        const char* what;
        Bytes bytes;
        Kind kind;
    } cases[] = {
        {"15 bytes", Bytes(15, 0x50), Kind::Refused},
        {"PSID", counterTune().bytes(), Kind::Tune},
        {"RSID", PsidBuilder().rsid().code(rasterTuneCode()).bytes(), Kind::Tune},
        {"CRT", CrtBuilder(0).chip(0, 0x8000, 0x2000, true).bytes(), Kind::Cartridge},
        {"C64S tape", oneProgramTape("C64S tape image file").bytes(), Kind::Program},
        {"C64 tape", oneProgramTape("C64 tape image file").bytes(), Kind::Program},
        {"C64F", oneProgramTape("C64File").bytes(), Kind::Refused},
        {"C64F at a D64 size", withPrefix(oneProgramTape("C64File").bytes(), 174848), Kind::Refused},
        {"819200 bytes", Bytes(819200, 0x12), Kind::D81},
        {"GCR-1541 at a D64 size", withPrefix({'G', 'C', 'R', '-', '1', '5', '4', '1'}, 174848), Kind::G64},
        {"text", withPrefix({'h', 'e', 'l', 'l', 'o'}, 300), Kind::Program},
    };
    for (const auto& c : cases) {
        ReaderRig rig;
        const bool opened = rig.open(c.bytes);
        SCOPED_TRACE(c.what);
        EXPECT_EQ(opened, c.kind != Kind::Refused);
        if (!opened)
            continue;
        const PSIDHeader* h = rig.reader->getHeader();
        const DiskFile* disk = rig.reader->getDiskImage();
        switch (c.kind) {
        case Kind::Tune:
            ASSERT_NE(h, nullptr);
            EXPECT_EQ(h->flags & psid::kFlagWrappedProgram, 0);
            break;
        case Kind::Cartridge:
            EXPECT_EQ(h, nullptr);
            EXPECT_NE(rig.reader->getCartImage(), nullptr);
            break;
        case Kind::Program:
            ASSERT_NE(h, nullptr);
            EXPECT_TRUE(psid::isRsid(*h));
            EXPECT_EQ(h->flags, psid::kFlagWrappedProgram);
            break;
        case Kind::D81: EXPECT_NE(dynamic_cast<const D81File*>(disk), nullptr); break;
        case Kind::G64: EXPECT_NE(dynamic_cast<const G64File*>(disk), nullptr); break;
        default: break;
        }
        if (c.kind == Kind::D81 || c.kind == Kind::G64) {
            EXPECT_EQ(h, nullptr) << "lists no files, so no tune";
            EXPECT_EQ(rig.reader->getChipCount(), 0u);
        }
    }
}

TEST(PSIDReaderOpen, EveryD64SizeIsADisk)
{
    for (const size_t size : D64Builder::kFileSizes) {
        ReaderRig rig;
        ASSERT_TRUE(rig.open(D64Builder().image(size))) << size;
        EXPECT_NE(dynamic_cast<const D64File*>(rig.reader->getDiskImage()), nullptr) << size;
    }
}

TEST(PSIDReaderOpen, TapeEntryBecomesAWrappedProgramTitledWithItsName)
{
    const Bytes data = basicProgram(basicSidLoop());
    ReaderRig rig;
    ASSERT_TRUE(rig.open(oneProgramTape("C64S tape image file", data).bytes()));
    EXPECT_STREQ(rig.header().title, "TAPED           ");  // the 16 name bytes as stored
    EXPECT_EQ(rig.header().loadAddress, 0x0801);
    EXPECT_EQ(rig.reader->getDataSize(), data.size());
    EXPECT_EQ(0, std::memcmp(rig.reader->getTuneBuffer() + rig.header().dataOffset, data.data(), data.size()));
}

TEST(PSIDReaderOpen, RawCartridgeGetsACrtHeaderAndOnePacket)
{
    for (const size_t size : {8192u, 16384u}) {
        const Bytes raw = fixtures::rawCartridge(size, true, 0x5A);
        ReaderRig rig;
        ASSERT_TRUE(rig.open(raw)) << size;
        const uint8_t* crt = rig.reader->getCartImage();
        ASSERT_EQ(rig.reader->getCartSize(), size + 80);
        EXPECT_EQ(0, std::memcmp(crt, "C64 CARTRIDGE   ", 16));
        EXPECT_EQ(crt[0x16] << 8 | crt[0x17], 0) << "hardware type";
        EXPECT_EQ(crt[0x18], 0) << "EXROM";
        EXPECT_EQ(crt[0x19], 1) << "GAME";
        EXPECT_STREQ(reinterpret_cast<const char*>(crt + 0x20), "UKN");
        EXPECT_EQ(0, std::memcmp(crt + 0x40, "CHIP", 4));
        const uint8_t packet[12] = {0x00, 0x00, 0x20, 0x10, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x20, 0x00};
        EXPECT_EQ(0, std::memcmp(crt + 0x44, packet, sizeof packet)) << "length $2010, ROM, bank 0, $8000, 8 KB";
        EXPECT_EQ(0, std::memcmp(crt + 80, raw.data(), size)) << "the whole file follows";

        // One 8 KB dump plugs in; the second 8 KB of a longer one is no packet, so the machine boots.
        ASSERT_TRUE(rig.reader->selectSong(0));
        EXPECT_EQ(rig.state(), C64Emu::STATE_RUNNING);
        EXPECT_EQ(rig.machine().getCartridge() != nullptr, size == 8192) << size;
    }
}

TEST(PSIDReaderOpen, ShortTuneFilesAreRefused)
{
    const auto v1 = PsidBuilder().version(1).load(0x1000).code({0x60}).bytes();   // 0x77 bytes
    const auto v2 = PsidBuilder().load(0x1000).code({0x60}).bytes();               // 0x7D bytes
    const auto v78 = PsidBuilder().version(78).load(0x1000).code({0x60, 0, 0, 0}).bytes();  // 0x80
    Bytes pastEnd = v2;
    pastEnd[7] = 0x7E;  // data offset beyond the file's 0x7D bytes
    const auto embedded = [](size_t dataBytes) {
        Bytes b = PsidBuilder().embeddedLoad(0x1000).code({}).bytes();
        b.resize(0x7C + dataBytes, 0x10);
        return b;
    };
    const struct {
        const char* what;
        Bytes bytes;
        bool opens;
    } cases[] = {
        {"version 1 whole", v1, true},
        {"version 1 header cut", Bytes(v1.begin(), v1.begin() + 0x75), false},
        {"version 2 whole header", Bytes(v2.begin(), v2.begin() + 0x7C), true},
        {"version 2 header cut", Bytes(v2.begin(), v2.begin() + 0x7B), false},
        {"version 78 whole header", v78, true},
        {"version 78 header cut", Bytes(v78.begin(), v78.begin() + 0x7F), false},
        {"data offset past the end", pastEnd, false},
        {"embedded load address, 1 byte", embedded(1), false},
        {"embedded load address, 2 bytes", embedded(2), true},
    };
    for (const auto& c : cases) {
        ReaderRig rig;
        EXPECT_EQ(rig.open(c.bytes), c.opens) << c.what;
        EXPECT_EQ(rig.reader->getMachine() != nullptr, c.opens) << c.what;
    }
}

TEST(PSIDReaderOpen, EmbeddedLoadAddressAndInitDefault)
{
    ReaderRig rig;
    ASSERT_TRUE(rig.open(PsidBuilder().embeddedLoad(0x2345).init(0).play(0x2346).code({0x60, 0x60, 0xEA}).bytes()));
    EXPECT_EQ(rig.header().loadAddress, 0x2345);
    EXPECT_EQ(rig.header().initAddress, 0x2345);
    EXPECT_EQ(rig.header().dataOffset, 0x7E);
    EXPECT_EQ(rig.reader->getDataSize(), 3u);
    ASSERT_TRUE(rig.reader->selectSong(0));
    EXPECT_EQ(rig.machine().ramView()[0x2347], 0xEA);
}

TEST(PSIDReaderOpen, DataPastTheTopOfMemoryIsRefusedWithAMessage)
{
    for (const size_t bytes : {4096u, 4097u}) {
        ReaderRig rig;
        testing::internal::CaptureStdout();
        const bool opened = rig.open(PsidBuilder().load(0xF000).code(Bytes(bytes, 0x60)).bytes());
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(opened, bytes == 4096) << bytes;
        EXPECT_EQ(out == "too much data in file for no bankswitching!\n", bytes == 4097) << out;
    }
    // A file too long for any header to fit is refused the same way without being read.
    ReaderRig rig;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(rig.open(withPrefix(counterTune().bytes(), 140000)));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("too much data"), std::string::npos);
}

TEST(PSIDReaderOpen, ProgramSizeLimitAndTitle)
{
    const Bytes longest = program(0x0801, Bytes(51199, 0xEA));
    ReaderRig rig;
    EXPECT_TRUE(rig.open(longest, "/tmp/some folder\\dir/A NAME LONGER THAN THIRTY-ONE CHARACTERS.prg"));
    EXPECT_STREQ(rig.header().title, "A NAME LONGER THAN THIRTY-ONE C");
    EXPECT_EQ(rig.header().loadAddress, 0x0801);
    EXPECT_EQ(rig.reader->getDataSize(), 51199u);

    Bytes tooLong = longest;
    tooLong.push_back(0xEA);
    ReaderRig other;
    EXPECT_FALSE(other.open(tooLong));
}

TEST(PSIDReaderOpen, TapeRefusals)
{
    T64Entry prg;
    prg.data = Bytes(100, 0xEA);
    T64Entry seq = prg;
    seq.fileType = 0x81;
    T64Entry frozen = prg;
    frozen.entryType = 3;
    T64Entry big = prg;
    big.data = Bytes(51200, 0xEA);
    T64Entry largest = prg;
    largest.data = Bytes(51199, 0xEA);
    T64Entry atEnd = prg;
    atEnd.data.clear();
    const Bytes header = T64Builder().entry(prg).bytes();

    const struct {
        const char* what;
        Bytes bytes;
        bool opens;
    } cases[] = {
        {"one program", T64Builder().entry(prg).bytes(), true},
        {"two entries", T64Builder().entry(prg).entry(prg).bytes(), false},
        {"one of two entries used", T64Builder().entry(prg).entry(prg).usedEntries(1).bytes(), true},
        {"a sequential file", T64Builder().entry(seq).bytes(), false},
        {"a frozen file", T64Builder().entry(frozen).bytes(), false},
        {"51,199 data bytes", T64Builder().entry(largest).bytes(), true},
        {"51,200 data bytes", T64Builder().entry(big).bytes(), false},
        {"under 0x60 bytes", Bytes(header.begin(), header.begin() + 0x5F), false},
        {"data offset at the end", T64Builder().entry(atEnd).bytes(), false},
    };
    for (const auto& c : cases) {
        ReaderRig rig;
        EXPECT_EQ(rig.open(c.bytes), c.opens) << c.what;
    }
}

// ---------------------------------------------------------------------------------------------
// Queries

TEST(PSIDReaderQueries, SongsTitlesAndTexts)
{
    ReaderRig rig;
    EXPECT_EQ(rig.reader->getSongCount(), 0u);
    EXPECT_EQ(rig.reader->getTitle(0), nullptr);
    Bytes tune = counterTune().songs(5, 3).author("").bytes();
    std::memset(tune.data() + 0x16, 'A', 32);  // a title without its end
    ASSERT_TRUE(rig.open(tune));
    EXPECT_EQ(rig.reader->getSongCount(), 5u);
    EXPECT_EQ(rig.reader->getStartSong(), 2u);
    EXPECT_EQ(std::string(rig.reader->getTitle(0)), std::string(31, 'A'));
    EXPECT_EQ(rig.reader->getAuthor(0), nullptr) << "empty and no player matched";
    EXPECT_STREQ(rig.reader->getReleased(0), "");
    EXPECT_EQ(rig.reader->getPlayerName(0), nullptr);
    EXPECT_EQ(rig.reader->getPlayerReference(0), nullptr);

    ReaderRig zero;
    ASSERT_TRUE(zero.open(counterTune().songs(2, 0).bytes()));
    EXPECT_EQ(zero.reader->getStartSong(), 0u) << "start song 0 is the first";
    ASSERT_TRUE(zero.reader->restart());
    EXPECT_EQ(zero.media.callsOf(fixtures::MediaCall::SongSelected).back().value, 0u);
}

TEST(PSIDReaderQueries, ChipCount)
{
    const struct {
        uint16_t version;
        uint8_t second, third;
        uint64_t chips;
    } cases[] = {
        {1, 0x42, 0x44, 1}, {2, 0x42, 0x00, 2}, {2, 0x00, 0x44, 1}, {2, 0x42, 0x44, 3},
        {2, 0x43, 0x44, 1}, {78, 0x42, 0x00, 4}, {78, 0xFC, 0x00, 3}, {78, 0xFE, 0x00, 2},
    };
    for (const auto& c : cases) {
        ReaderRig rig;
        Bytes tune = counterTune().version(c.version).bytes();
        if (c.version == 1) {  // no such fields: what lies there is data
            tune[0x76] = c.second;
            tune[0x77] = c.third;
        } else {
            tune[0x7A] = c.second;
            tune[0x7B] = c.third;
        }
        ASSERT_TRUE(rig.open(tune));
        EXPECT_EQ(rig.reader->getChipCount(), c.chips) << c.version << " " << int(c.second) << " " << int(c.third);
    }
    ReaderRig cart;
    ASSERT_TRUE(cart.open(CrtBuilder(0).chip(0, 0x8000, 0x2000, true).bytes()));
    EXPECT_EQ(cart.reader->getChipCount(), 1u);
}

TEST(PSIDReaderQueries, TimersSpeedAndRunning)
{
    ReaderRig rig;
    EXPECT_EQ(rig.reader->advanceTicks(1234, 985248.0), 1234u) << "no machine";
    EXPECT_EQ(rig.reader->quantumElapsed(rig.reader.get(), 0, 1.0), uint64_t(INT64_MAX));
    vantor::QuantumManager queue;
    rig.reader->attachTimers(&queue);
    ASSERT_EQ(queue.getEntries().size(), 1u);
    EXPECT_EQ(queue.getEntries()[0].timer, rig.reader.get());
    EXPECT_EQ(queue.getEntries()[0].argument, 0u);
    rig.reader->detachTimers(&queue);
    EXPECT_TRUE(queue.getEntries().empty());

    ASSERT_TRUE(rig.open(counterTune().bytes()));
    rig.reader->setSpeed(0.0005);
    EXPECT_EQ(rig.reader->speed, 1.0);
    rig.reader->setSpeed(2.0);
    EXPECT_EQ(rig.reader->speed, 2.0);
    rig.reader->resetPlayback();
    EXPECT_EQ(rig.reader->speed, 1.0);

    ASSERT_TRUE(rig.reader->selectSong(0));
    EXPECT_TRUE(rig.reader->isTuneReady());
    const uint64_t before = rig.machine().getTotalCycles();
    EXPECT_EQ(rig.reader->advanceTicks(5000, 985248.0), 5000u);
    EXPECT_GE(rig.machine().getTotalCycles(), before + 5000);

    ReaderRig rsid;
    ASSERT_TRUE(rsid.open(PsidBuilder().rsid().code(rasterTuneCode()).bytes()));
    ASSERT_TRUE(rsid.reader->selectSong(0));
    EXPECT_FALSE(rsid.reader->isTuneReady()) << "an RSID runs on its own, it is not played";
}

TEST(PSIDReaderQueries, PlayerOptionZeroPicksTheNoteTable)
{
    ReaderRig rig;
    ASSERT_TRUE(rig.open(program(0xC000, Bytes(32, 0x60))));
    ASSERT_TRUE(rig.reader->selectSong(0));
    rig.reader->setPlayerOption(0, 2);
    rig.reader->sendMidiInput(0x90, 0, 100);  // note 0 is key $0702 in table 2
    mos6526_new& cia = *rig.machine().getCia1();
    cia.writeRegister(2, 0xFF);
    cia.writeRegister(0, uint8_t(~(1u << 7)));
    cia.writeRegister(3, 0x00);
    EXPECT_EQ(cia.readRegister(1), 0xFD);
    rig.reader->setPlayerOption(1, 3);
    EXPECT_EQ(rig.reader->getKeyboardMapping(), 2) << "other options do nothing";
}

// ---------------------------------------------------------------------------------------------
// Starting songs

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

TEST(PSIDReaderSongs, InformationTextOnTheScreen)
{
    Bytes code(4096, 0x00);
    code[0] = 0x60;  // init at $1000
    code[3] = 0x60;  // play at $1003
    const auto tune = PsidBuilder()
                          .title("T")
                          .author("A")
                          .released("R")
                          .songs(3)
                          .flags(0x04 | 0x10 | 0x80)  // PAL, SID 1 6581, SID 2 8580
                          .secondSid(0x42)
                          .speed(2)
                          .load(0x1000)
                          .init(0x1000)
                          .play(0x1003)
                          .code(code);
    ReaderRig rig;
    ASSERT_TRUE(rig.open(tune.bytes()));
    ASSERT_TRUE(rig.reader->selectSong(1));
    const std::string rule(40, '-');
    const char* rows[] = {"orbella C64 SID Player v1.0", "Vantor Works.", rule.c_str(), "Title :T",
                          "Author:A", "(C)   :R", "Song  :2/3", rule.c_str(), "Format:PSID V2",
                          "Memory:$1000-$1FFF", "Init  :$1000", "Play  :$1003", rule.c_str(),
                          "System:PAL ", "Sync  :CIA1", rule.c_str(), "SID1  :6581 at $D400",
                          "SID2  :8580 at $D420", rule.c_str()};
    for (int r = 0; r < int(std::size(rows)); ++r)
        EXPECT_EQ(screenRow(rig.machine(), r), asScreenCodes(rows[r])) << "row " << r << ": " << rows[r];
    EXPECT_EQ(screenRow(rig.machine(), 19), asScreenCodes("")) << "no player lines without a match";
    EXPECT_EQ(rig.media.callsOf(fixtures::MediaCall::SongSelected).back().value, 1u);

    // Song 1 of the same tune is timed by the video frame; an RSID says so.
    EXPECT_NE(rig.reader->informationText(0).find("Sync  :VBI\n"), std::string::npos);
    ReaderRig rsid;
    ASSERT_TRUE(rsid.open(PsidBuilder().rsid().flags(0x08 | 0x20).code(rasterTuneCode()).bytes()));
    const std::string text = rsid.reader->informationText(0);
    for (const char* line : {"Format:RSID V2\n", "System:NTSC\n", "Sync  :Custom\n", "SID1  :8580 at $D400\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line << text;
    EXPECT_EQ(text.find("Play  :"), std::string::npos);
}

TEST(PSIDReaderSongs, WrappedProgramTakesTheExtraSidAddresses)
{
    ReaderRig rig;
    rig.sids = {0xD400, 0xD500, 0};
    ASSERT_TRUE(rig.open(program(0x0801, basicProgram(basicSidLoop()))));
    ASSERT_TRUE(rig.reader->selectSong(0));
    EXPECT_EQ(rig.header().secondSid, 0x50);
    EXPECT_EQ(rig.header().thirdSid, 0x00);
    EXPECT_EQ(rig.machine().ioSlot(0x50), 78u);
    EXPECT_EQ(rig.machine().ioSlot(0x51), 78u);
    EXPECT_EQ(rig.state(), C64Emu::STATE_RUNNING);
    EXPECT_EQ(rig.reader->informationText(0).empty(), false);
    EXPECT_EQ(screenRow(rig.machine(), 0).find(char(c64ScreenCode('o'))), std::string::npos)
        << "a program shows no information text";

    // A tune keeps its own addresses.
    ReaderRig tune;
    tune.sids = {0xD400, 0xD500, 0xD520};
    ASSERT_TRUE(tune.open(counterTune().bytes()));
    ASSERT_TRUE(tune.reader->selectSong(0));
    EXPECT_EQ(tune.header().secondSid, 0);
    EXPECT_EQ(tune.machine().ioSlot(0x50), C64Emu::kSid1) << "SID 1's mirror";
}

TEST(PSIDReaderSongs, WhatBootsInsteadOfStarting)
{
    D64Builder at0801, atC000;
    at0801.addFile("FIRST", program(0x0801, basicProgram(basicSidLoop())));
    atC000.addFile("HIGH", program(0xC000, Bytes(32, 0x60)));
    const struct {
        const char* what;
        Bytes bytes;
        bool wrapped;
        uint32_t state;
    } cases[] = {
        {"PRG at $0801", program(0x0801, basicProgram(basicSidLoop())), true, C64Emu::STATE_RUNNING},
        {"PRG at $C000", program(0xC000, Bytes(32, 0x60)), true, C64Emu::STATE_RUNNING},
        {"D64, first file at $0801", at0801.image(), true, C64Emu::STATE_RUNNING},
        {"D64, first file at $C000", atC000.image(), false, C64Emu::STATE_RUNNING},
        {"D81", Bytes(819200, 0), false, C64Emu::STATE_RUNNING},
        {"CRT of type 61", CrtBuilder(61).chip(0, 0x8000, 0x2000, true).bytes(), false, C64Emu::STATE_RUNNING},
    };
    for (const auto& c : cases) {
        ReaderRig rig;
        ASSERT_TRUE(rig.open(c.bytes)) << c.what;
        EXPECT_EQ(rig.reader->getHeader() != nullptr, c.wrapped) << c.what;
        EXPECT_TRUE(rig.reader->selectSong(0)) << c.what;
        EXPECT_EQ(rig.state(), c.state) << c.what;
        EXPECT_EQ(rig.machine().getCartridge(), nullptr) << c.what;
    }
    ReaderRig disk;
    ASSERT_TRUE(disk.open(at0801.image()));
    EXPECT_STREQ(disk.reader->getTitle(0), "FIRST");
}

TEST(PSIDReaderSongs, ASongWhoseInitHangsLeavesTheOthersPlayable)
{
    const Bytes code = {
        0xC9, 0x01,        // 1000 CMP #$01
        0xF0, 0x01,        // 1002 BEQ $1005
        0x60,              // 1004 RTS
        0x4C, 0x05, 0x10,  // 1005 JMP $1005
    };
    ReaderRig rig;
    ASSERT_TRUE(rig.open(PsidBuilder().songs(2).play(0x1004).code(code).bytes()));
    EXPECT_FALSE(rig.reader->selectSong(1));
    const uint64_t cycles = rig.machine().getTotalCycles();
    EXPECT_EQ(rig.reader->advanceTicks(777, 985248.0), 777u);
    EXPECT_EQ(rig.machine().getTotalCycles(), cycles) << "nothing runs";
    EXPECT_TRUE(rig.reader->selectSong(0));
    EXPECT_TRUE(rig.reader->isTuneReady());
}

}  // namespace
