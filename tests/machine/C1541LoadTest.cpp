// LOAD sequences against the drive, spoken by the test master over the bus: files of every
// length class, "$", "*", no disk, names that match nothing, the command channel, names
// collected afresh at each OPEN and ATN in the middle of a talk.
#include "DriveRig.h"

#include "machine/DirectoryListing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

using drive_rig::Bytes;
using drive_rig::Rig;
using Received = fixtures::IecBusMaster::Received;

namespace {

TEST(C1541Load, FilesEndWithThePauseBeforeTheirLastByte)
{
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    const struct {
        const char* name;
        const Bytes& bytes;
        std::optional<size_t> eoiIndex;
        bool timedOut;  // a one-byte file ends without the pause: the listener times out after it
    } kCases[] = {
        {"HELLO", drive_rig::helloBytes(), 599, false},
        {"AB", drive_rig::kAB, 1, false},
        {"A", drive_rig::kA, std::nullopt, true},
        {"*", drive_rig::seqBytes(), 39, false},  // the first entry, a SEQ file
        {"HELLO", drive_rig::helloBytes(), 599, false},  // again: from byte 0, fresh end flags
        {"A", drive_rig::kA, std::nullopt, true},
        {"AB", drive_rig::kAB, 1, false},
    };
    for (const auto& c : kCases) {
        const Received r = rig.master.load(c.name);
        EXPECT_EQ(r.bytes, c.bytes) << c.name;
        EXPECT_EQ(r.eoiIndex, c.eoiIndex) << c.name;
        EXPECT_EQ(r.timedOut, c.timedOut) << c.name;
        EXPECT_FALSE(r.stalled) << c.name;
        EXPECT_EQ(rig.drive.role(), C1541::kRoleNone) << c.name;
        EXPECT_FALSE(rig.drive.channel(0).open) << c.name;  // closed again
        EXPECT_TRUE(rig.drive.nameBytes().empty()) << c.name;
    }
}

TEST(C1541Load, DirectoryIsTheListingProgramBuiltAnewEachTime)
{
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    DiskFileEntry expected;
    ASSERT_TRUE(buildDirectoryListing(rig.disk.get(), expected));

    const Received first = rig.master.load("$");
    EXPECT_EQ(first.bytes, expected.bytes);
    EXPECT_EQ(first.eoiIndex, expected.bytes.size() - 1);
    const DiskFileEntry* firstListing = rig.drive.listing();
    ASSERT_NE(firstListing, nullptr);

    // A changed disk name shows that the second listing is built again, not kept.
    rig.disk->diskName = "OTHER";
    DiskFileEntry renamed;
    ASSERT_TRUE(buildDirectoryListing(rig.disk.get(), renamed));
    ASSERT_NE(renamed.bytes, expected.bytes);
    const Received second = rig.master.load("$");
    EXPECT_EQ(second.bytes, renamed.bytes);
    ASSERT_NE(rig.drive.listing(), nullptr);
    EXPECT_EQ(rig.drive.listing()->bytes, renamed.bytes);
    EXPECT_NE(rig.drive.listing(), firstListing);
    EXPECT_TRUE(firstListing->bytes.empty());  // the previous listing is dropped
}

TEST(C1541Load, WithoutADiskEveryNameGivesTheDummyProgram)
{
    // 10 PRINT"TEST ONE TWO VANTOR 2022", load address $0801, link $0814 kept as stored.
    Bytes dummy = {0x01, 0x08, 0x14, 0x08, 0x0A, 0x00, 0x99, 0x22};
    for (const char c : std::string("TEST ONE TWO VANTOR 2022"))
        dummy.push_back(uint8_t(c));
    dummy.insert(dummy.end(), {0x22, 0x00, 0x00, 0x00});
    ASSERT_EQ(dummy.size(), 36u);
    EXPECT_EQ(C1541::dummyProgramFile().bytes, dummy);
    EXPECT_EQ(C1541::dummyProgramFile().name, "DUMMY");
    EXPECT_EQ(C1541::dummyProgramFile().type, 1);

    Rig rig;
    for (const char* name : {"HELLO", "$", "*", ""}) {
        const Received r = rig.master.load(name);
        EXPECT_EQ(r.bytes, dummy) << '"' << name << '"';
        EXPECT_EQ(r.eoiIndex, 35u) << '"' << name << '"';
    }
}

// LISTEN, OPEN 0, name, UNLISTEN; TALK, SECOND 0, then receive with the drive still talking.
Received talkWithoutUntalk(Rig& rig, const std::string& name)
{
    EXPECT_TRUE(rig.master.listen(8, 0xF0, name));
    EXPECT_TRUE(rig.master.sendUnderAtn({0x48, 0x60}));
    EXPECT_TRUE(rig.master.turnAround());
    return rig.master.receive();
}

void finishTalk(Rig& rig)
{
    EXPECT_TRUE(rig.master.sendUnderAtn({0x5F}));  // the drive answers the next ATN as usual
    rig.master.releaseAll();
    EXPECT_TRUE(rig.master.listen(8, 0xE0, {}));
}

TEST(C1541Load, NoFileEndsWithEndOrIdentifyThenTimeOut)
{
    const Bytes image = drive_rig::standardImage();
    const Bytes empty = drive_rig::emptyImage();
    const std::string longName(300, 'N');
    const struct {
        const Bytes* image;
        std::string name;
    } kCases[] = {
        {&image, "NOPE"},
        {&image, "HELL"},          // a prefix is no match
        {&image, "hello"},         // no case folding
        {&image, "HELLO,P"},       // no suffixes
        {&image, ""},              // no name at all
        {&image, longName},
        {&empty, "*"},
        {&empty, "HELLO"},
    };
    for (const auto& c : kCases) {
        Rig rig(c.image);
        const std::string what = "\"" + c.name.substr(0, 10) + "\"";
        const Received r = talkWithoutUntalk(rig, c.name);
        EXPECT_TRUE(r.bytes.empty()) << what;
        EXPECT_TRUE(r.eoiSeen) << what;
        EXPECT_TRUE(r.timedOut) << what;
        EXPECT_FALSE(r.stalled) << what;
        rig.expectIdle(what.c_str());
        finishTalk(rig);

        const Received next = rig.master.load(c.image == &image ? "HELLO" : "$");
        EXPECT_FALSE(next.bytes.empty()) << what;
        if (c.image == &image) {
            EXPECT_EQ(next.bytes, drive_rig::helloBytes()) << what;
        }
    }
}

TEST(C1541Load, EntryWithoutBytesSendsNothing)
{
    fixtures::D64Builder builder;
    fixtures::D64Builder::FilePlan hollow{"HOLLOW", {}, 0x82};
    hollow.start = fixtures::D64Builder::Place{0, 0};  // start track 0: listed with no bytes
    builder.addFile(hollow);
    builder.addFile("HELLO", drive_rig::helloBytes());
    const Bytes image = builder.image();
    for (const char* name : {"HOLLOW", "*"}) {
        Rig rig(&image);
        ASSERT_EQ(rig.disk->files.size(), 2u);
        ASSERT_TRUE(rig.disk->files[0].bytes.empty());
        const Received r = talkWithoutUntalk(rig, name);
        EXPECT_TRUE(r.bytes.empty()) << name;
        EXPECT_TRUE(r.timedOut) << name;
        rig.expectIdle(name);
        finishTalk(rig);
        EXPECT_EQ(rig.master.load("HELLO").bytes, drive_rig::helloBytes()) << name;
    }
}

TEST(C1541Load, CommandChannelTalksTheStatusOnce)
{
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    const Received first = rig.master.talk(8, 15);
    EXPECT_EQ(first.bytes, (Bytes{'0', '0', ',', ' '}));
    EXPECT_EQ(first.eoiIndex, 3u);
    EXPECT_EQ(rig.drive.channel(15).owner, 8);

    const Received again = rig.master.talk(8, 15);
    EXPECT_TRUE(again.bytes.empty());
    EXPECT_TRUE(again.timedOut);
    EXPECT_EQ(rig.master.load("AB").bytes, drive_rig::kAB);
}

TEST(C1541Load, CommandChannelOfAnotherNumberIsTakenForIt)
{
    // A SECOND 15 while device 9 is addressed gives channel 15 to 9, and the drive talks.
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    const Received for9 = rig.master.talk(9, 15);
    EXPECT_EQ(for9.bytes, (Bytes{'0', '0', ',', ' '}));
    EXPECT_EQ(rig.drive.channel(15).owner, 9);
    // Owned by 9, not by the drive: the next SECOND 15 takes it back and talks the status again.
    EXPECT_EQ(rig.master.talk(8, 15).bytes, (Bytes{'0', '0', ',', ' '}));
    EXPECT_EQ(rig.drive.channel(15).owner, 8);
    EXPECT_TRUE(rig.master.talk(8, 15).timedOut);
    EXPECT_EQ(rig.master.load("HELLO").bytes, drive_rig::helloBytes());
}

TEST(C1541Load, EachOpenCollectsItsNameAfresh)
{
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    // A command on channel 15 with no UNTALK after it leaves nothing in front of the next name.
    EXPECT_TRUE(rig.master.listen(8, 0xFF, "I0"));  // OPEN 15
    EXPECT_EQ(rig.drive.nameBytes(), "I0");
    EXPECT_TRUE(rig.master.listen(8, 0xF0, "HELLO"));  // OPEN 0
    EXPECT_EQ(rig.drive.nameBytes(), "HELLO");
    EXPECT_EQ(rig.master.talk(8, 0).bytes, drive_rig::helloBytes());
    EXPECT_TRUE(rig.drive.nameBytes().empty());  // UNTALK still drops it

    // An OPEN the drive does not take (LISTEN 9) leaves the drive's name as it is.
    EXPECT_TRUE(rig.master.listen(8, 0xF0, "AB"));
    ASSERT_TRUE(rig.master.sendUnderAtn({0x29, 0xF1, 0x3F}));
    rig.master.releaseAll();
    EXPECT_EQ(rig.drive.nameBytes(), "AB");
    EXPECT_EQ(rig.master.talk(8, 0).bytes, drive_rig::kAB);
}

TEST(C1541Load, ListenForAnotherDeviceOpensNothing)
{
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    ASSERT_TRUE(rig.master.sendUnderAtn({0x29, 0xF0}));  // LISTEN 9, OPEN 0
    EXPECT_EQ(rig.drive.role(), C1541::kRoleNone);
    EXPECT_EQ(rig.drive.primary(), 9);
    EXPECT_EQ(rig.drive.secondary(), 0);
    EXPECT_FALSE(rig.drive.channel(0).open);
    EXPECT_EQ(rig.drive.channel(0).owner, C1541::kNone);
    // The bytes that device 9 would get do not reach the drive's name.
    rig.master.set(IEC_ATN, 1);
    EXPECT_TRUE(rig.master.sendData("HELLO"));
    EXPECT_TRUE(rig.master.sendUnderAtn({0x3F}));
    rig.master.releaseAll();
    EXPECT_TRUE(rig.drive.nameBytes().empty());
}

// ATN pulled for 900 cycles in the middle of a file, with no command under it: the talk ends
// at once, the drive rests, and the next LOAD (with no UNTALK before it) is whole.
TEST(C1541Load, AtnDuringATransferEndsIt)
{
    const Bytes image = drive_rig::standardImage();
    Rig rig(&image);
    EXPECT_TRUE(rig.master.listen(8, 0xF0, "HELLO"));
    ASSERT_TRUE(rig.master.sendUnderAtn({0x48, 0x60}));
    ASSERT_TRUE(rig.master.turnAround());
    const uint64_t start = rig.master.cycles();
    rig.master.onStep = [start](fixtures::IecBusMaster& m) {
        const uint64_t t = m.cycles() - start;
        if (t == 40000)
            m.set(IEC_ATN, 0);
        if (t == 40900)
            m.set(IEC_ATN, 1);
    };
    const Received r = rig.master.receive();
    rig.master.onStep = nullptr;
    const Bytes& hello = drive_rig::helloBytes();
    EXPECT_GT(r.bytes.size(), 10u);
    EXPECT_LT(r.bytes.size(), 40u);  // about 1,800 cycles a byte: none after the cut
    ASSERT_LE(r.bytes.size(), hello.size());
    EXPECT_EQ(r.bytes, Bytes(hello.begin(), hello.begin() + ptrdiff_t(r.bytes.size())));
    EXPECT_TRUE(r.stalled || r.timedOut);
    EXPECT_FALSE(r.eoiIndex.has_value());
    rig.expectIdle("after the cut");
    EXPECT_EQ(rig.master.load("A").bytes, drive_rig::kA);
    EXPECT_EQ(rig.master.load("HELLO").bytes, hello);
}

// The controller pulls ATN while the drive talks: after one byte with its acknowledge still held
// (as CLRCHN does before UNTALK), and at the first moment of each talker state. The byte in
// flight is dropped, CLK and DATA are let go and the drive answers ATN 50 cycles later; UNTALK
// and CLOSE are taken and the next LOAD is whole.
TEST(C1541Load, AtnEndsTheTalkInEveryTalkerState)
{
    const Bytes image = drive_rig::standardImage();
    const Bytes& hello = drive_rig::helloBytes();
    constexpr int32_t kAfterOneByte = -1;
    for (int32_t target = kAfterOneByte; target <= C1541::cSTATE_WAIT_EOI_ACK_END; ++target) {
        if (target >= 0 && target < C1541::cSTATE_TALK_DELAY)
            continue;
        const std::string what = target == kAfterOneByte ? "after one byte" : "state " + std::to_string(target);
        Rig rig(&image);
        ASSERT_TRUE(rig.master.listen(8, 0xF0, "HELLO")) << what;
        ASSERT_TRUE(rig.master.sendUnderAtn({0x48, 0x60})) << what;
        ASSERT_TRUE(rig.master.turnAround()) << what;

        struct {
            bool done = false;
            int32_t state = -1, after = -1;
            uint64_t timer = 0, at = 0;
            int clk = 0, data = 0;
        } cut;
        std::vector<fixtures::IecBusMaster::Edge> edges;
        auto pullAtn = [&](fixtures::IecBusMaster& m) {
            cut.done = true;
            cut.state = rig.drive.currentState();
            m.set(IEC_ATN, 0);
            cut.after = rig.drive.currentState();
            cut.timer = rig.drive.cyclesToTimer();
            m.set(IEC_DATA, 1);  // the master's side let go: what is still low is the drive's
            cut.clk = m.level(IEC_CLK);
            cut.data = m.level(IEC_DATA);
            cut.at = m.cycles();
            m.setEdgeLog(&edges);
        };
        if (target == kAfterOneByte) {
            const Received first = rig.master.receive(1);
            ASSERT_EQ(first.bytes, Bytes{hello[0]}) << what;
            ASSERT_EQ(rig.master.level(IEC_DATA), 0) << what;  // the acknowledge, held
            pullAtn(rig.master);
            rig.master.idle(2000);
        } else {
            rig.master.onStep = [&](fixtures::IecBusMaster& m) {
                if (!cut.done && rig.drive.currentState() == target)
                    pullAtn(m);
            };
            rig.master.receive();  // it ends with a stall or a time-out once the drive stops
            rig.master.onStep = nullptr;
        }
        rig.master.setEdgeLog(nullptr);
        ASSERT_TRUE(cut.done) << what;
        EXPECT_EQ(cut.state, target == kAfterOneByte ? C1541::cSTATE_WAIT_NEXT_BYTE : target) << what;
        EXPECT_EQ(cut.after, C1541::cSTATE_WAIT_ATN_RESPONSE_REQUIRED) << what;
        EXPECT_EQ(cut.timer, 50u) << what;
        EXPECT_EQ(cut.clk, 1) << what;
        EXPECT_EQ(cut.data, 1) << what;
        // From the cut on, the drive moves CLK no more and pulls DATA once, as its ATN answer.
        ASSERT_FALSE(edges.empty()) << what;
        const auto isClk = [](const fixtures::IecBusMaster::Edge& e) { return e.line == IEC_CLK; };
        const auto clkEdges = std::count_if(edges.begin(), edges.end(), isClk);
        EXPECT_EQ(clkEdges, 0) << what;
        EXPECT_EQ(edges[0].line, IEC_DATA) << what;
        EXPECT_EQ(edges[0].level, 0) << what;
        EXPECT_EQ(edges[0].cycle - cut.at, 50u) << what;

        EXPECT_TRUE(rig.master.sendUnderAtn({0x5F})) << what;  // UNTALK
        rig.master.releaseAll();
        EXPECT_TRUE(rig.master.listen(8, 0xE0, {})) << what;  // CLOSE 0
        EXPECT_EQ(rig.drive.role(), C1541::kRoleNone) << what;
        EXPECT_FALSE(rig.drive.channel(0).open) << what;
        const Received next = rig.master.load("HELLO");
        EXPECT_EQ(next.bytes, hello) << what;
        EXPECT_EQ(next.eoiIndex, 599u) << what;
    }
}

}  // namespace
