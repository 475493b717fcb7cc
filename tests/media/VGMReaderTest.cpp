#include "PlaybackSupport.h"

#include "fixtures/ArchiveWriters.h"
#include "fixtures/ChipLogWriters.h"
#include "fixtures/TempDir.h"
#include "fixtures/VgmBuilder.h"
#include "media/DACStreamer.h"
#include "media/PixelCanvas.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using fixtures::MediaCall;
using namespace playback;

// Kind 77 at 1000 event ticks a second: writes 10 and 5 event ticks apart.
VGM::VGMX sidSong()
{
    VGM::VGMX doc;
    addChip(doc, 77, "6581", 1000, {E('S'), W(0, 1, 0x11), W(10, 2, 0x22), W(5, 3, 0x33)});
    doc.song.tags[VGM::VGMXSong::kGameName] = "Game";
    doc.song.tags[VGM::VGMXSong::kTrackName] = "Track";
    return doc;
}

TEST(VGMReader, WritesAtTheirEventTimes)
{
    Player p;
    ASSERT_TRUE(p.open(sidSong()));
    p.attach();
    runUntil(p.manager, 20000);
    EXPECT_EQ(p.writeTicks(), (std::vector<uint64_t>{0, 10000, 15000}));
    const auto writes = p.calls(MediaCall::WriteRegister);
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1].chipKind, 77u);
    EXPECT_EQ(writes[1].value, 10u);  // delay in event ticks
    EXPECT_EQ(writes[1].reg, 2u);
    EXPECT_EQ(writes[1].data, 0x22u);
    EXPECT_EQ(writes[1].rate, 1e6);
}

TEST(VGMReader, StreamWithoutLoopRestsHalfASecond)
{
    Player p;
    ASSERT_TRUE(p.open(sidSong()));
    p.attach();
    runUntil(p.manager, 515000);
    const auto& calls = p.callback.calls;
    auto at = std::find_if(calls.begin(), calls.end(), [](const MediaCall& c) { return c.op == MediaCall::MarkChanged; });
    ASSERT_NE(at, calls.end());
    ASSERT_GE(calls.end() - at, 3);
    EXPECT_EQ(at[0].chipKind, 77u);
    EXPECT_EQ(at[0].value, 0u);
    EXPECT_EQ(at[1].op, MediaCall::ReleaseAllGates);
    EXPECT_EQ(at[1].chipKind, 77u);
    EXPECT_EQ(at[2].op, MediaCall::SetMediaTime);
    EXPECT_EQ(at[2].rate, 0.0);
    EXPECT_EQ(at[0].stamp, 15000u);
    EXPECT_EQ(p.writeTicks(), (std::vector<uint64_t>{0, 10000, 15000, 515000}));
}

TEST(VGMReader, LoopingStreamGoesOnAfterItsLoopMarker)
{
    VGM::VGMX doc;
    VGM::VGMXChip& chip = addChip(doc, 77, "SID", 1000,
                                  {E('S'), W(0, 1), E('L', 2), W(3, 2), W(4, 3), E('E', 1)});
    chip.loopIndex = 2;
    doc.song.loopStart = 2000;
    doc.song.loopEnd = 2008;
    Player p;
    ASSERT_TRUE(p.open(doc));
    p.attach();
    runUntil(p.manager, 30000);
    // The end comes at 10 ms, the loop plays register 2 again 3 ms later.
    EXPECT_EQ(p.writeTicks(), (std::vector<uint64_t>{0, 5000, 9000, 13000, 17000, 21000, 25000, 29000}));
    const auto keyed = p.calls(MediaCall::ChannelKeyed);
    ASSERT_EQ(keyed.size(), 3u);
    EXPECT_EQ(keyed[0].chipKind, 77u);
    EXPECT_EQ(keyed[0].stamp, 10000u);
    const auto times = p.calls(MediaCall::SetMediaTime);
    ASSERT_EQ(times.size(), 3u);
    EXPECT_EQ(times[0].rate, 2.0);
    EXPECT_TRUE(p.calls(MediaCall::MarkChanged).empty());
}

TEST(VGMReader, SeekRewindsOnlyAtZero)
{
    VGM::VGMX doc;
    addChip(doc, 5, "YM2612", 1000, {W(0, 0), W(10, 1), W(10, 2), W(10, 3)});
    addChip(doc, 77, "6581", 1000, {W(0, 0), W(10, 1), W(10, 2), W(10, 3)});
    Player p;
    ASSERT_TRUE(p.open(doc));
    p.attach();
    runUntil(p.manager, 10000);  // registers 0 and 1 of both
    p.reader->seek(12.5);
    runUntil(p.manager, 20000);
    p.reader->seek(0.0);
    runUntil(p.manager, 30000);
    std::vector<uint32_t> regs;
    for (const MediaCall& c : p.calls(MediaCall::WriteRegister))
        regs.push_back(c.reg);
    EXPECT_EQ(regs, (std::vector<uint32_t>{0, 0, 1, 1, 2, 2, 0, 0}));
}

TEST(VGMReader, Speed)
{
    {
        Player p;
        ASSERT_TRUE(p.open(sidSong()));
        p.reader->setSpeed(2.0);
        p.attach();
        runUntil(p.manager, 20000);
        EXPECT_EQ(p.writeTicks(), (std::vector<uint64_t>{0, 5000, 7500}));
    }
    {
        // Detached with 6000 ticks left, twice as fast after: the rest takes 3000 ticks.
        Player p;
        ASSERT_TRUE(p.open(sidSong()));
        p.attach();
        runUntil(p.manager, 4000);
        p.reader->detachTimers(&p.manager);
        runUntil(p.manager, 50000);
        p.reader->setSpeed(2.0);
        p.reader->setSpeed(2.0);
        p.reader->attachTimers(&p.manager);
        runUntil(p.manager, 60000);
        EXPECT_EQ(p.writeTicks(), (std::vector<uint64_t>{0, 53000, 55500}));
    }
    {
        Player p;
        ASSERT_TRUE(p.open(sidSong()));
        for (double ignored : {0.001, 0.0, -2.0, std::nan(""), double(INFINITY)})
            p.reader->setSpeed(ignored);
        EXPECT_EQ(p.reader->speed, 1.0);
        p.attach();
        runUntil(p.manager, 20000);
        EXPECT_EQ(p.writeTicks(), (std::vector<uint64_t>{0, 10000, 15000}));
    }
}

TEST(VGMReader, SelectingPastTheLastSongKeepsTheStreams)
{
    Player p;
    ASSERT_TRUE(p.open(sidSong()));
    p.attach();
    EXPECT_FALSE(p.reader->selectSong(p.reader->getSongCount()));
    EXPECT_EQ(p.reader->getStreamerCount(), 1u);
    runUntil(p.manager, 20000);
    EXPECT_EQ(p.writeTicks(), (std::vector<uint64_t>{0, 10000, 15000}));
}

// 50 frames of 882 ticks at 44100 Hz ends each frame with the register image; irregular waits
// and a stream without time never do.
TEST(VGMReader, FramesOfRegularStreams)
{
    std::vector<VGMXEvent> frames{E('S')}, irregular{E('S')}, timeless{E('S')};
    for (uint32_t i = 0; i < 50; ++i) {
        frames.push_back(W(0, 1, uint8_t(i)));
        frames.push_back(E('D', 882));
        irregular.push_back(W(0, 1));
        irregular.push_back(E('D', i == 10 ? 3000 : 200 + i * 53 % 300));
        timeless.push_back(W(0, 1));
    }
    const struct { const char* name; const std::vector<VGMXEvent>& events; size_t captures; } cases[] = {
        {"frames", frames, 50}, {"irregular", irregular, 0}, {"timeless", timeless, 0}};
    for (const auto& c : cases) {
        VGM::VGMX doc;
        addChip(doc, 77, "6581", 44100, c.events);
        Player p(44100.0);
        ASSERT_TRUE(p.open(doc));
        p.attach();
        runUntil(p.manager, 44100);
        const auto captures = p.calls(MediaCall::CaptureRegisters);
        ASSERT_EQ(captures.size(), c.captures) << c.name;
        for (size_t i = 0; i < captures.size(); ++i) {
            EXPECT_EQ(captures[i].value, 882 * (i + 1)) << c.name;
            EXPECT_EQ(captures[i].stamp, 882 * (i + 1)) << c.name;
        }
    }
}

TEST(VGMReader, LongWaitsAreNotCut)
{
    const struct { double schedulerRate; uint32_t dt; uint64_t due; } cases[] = {
        {985248.0, 4'000'000'000u, 3'940'992'000'000'000u},
        {1e12, 0xFFFFFFFFu, vantor::QuantumTimer::kNever},
    };
    for (const auto& c : cases) {
        VGM::VGMX doc;
        addChip(doc, 77, "6581", 1, {W(0, 1), W(c.dt, 2)});
        Player p(c.schedulerRate);
        ASSERT_TRUE(p.open(doc));
        p.attach();
        ASSERT_EQ(p.manager.getEntries().size(), 1u);
        EXPECT_EQ(p.manager.getEntries()[0].due, c.due);
    }
}

TEST(VGMReader, RateZeroReadsAs44100AndAChipWithoutEventsNeverFires)
{
    VGM::VGMX doc;
    addChip(doc, 77, "6581", 0, {W(0, 1), W(441, 2)});
    addChip(doc, 78, "6581", 1000, {});
    Player p;
    ASSERT_TRUE(p.open(doc));
    const auto added = p.calls(MediaCall::AddChip);
    ASSERT_EQ(added.size(), 2u);
    EXPECT_EQ(added[0].data, 44100u);
    EXPECT_EQ(added[1].chipKind, 78u);
    p.attach();
    runUntil(p.manager, 20000);
    EXPECT_EQ(p.writeTicks(77), (std::vector<uint64_t>{0, 10000}));
    EXPECT_EQ(p.manager.getEntries().back().due, vantor::QuantumTimer::kNever);
}

TEST(VGMReader, TitleAndDisplay)
{
    VGM::VGMX ym;
    addChip(ym, 5, "YM2612", 44100, {E('S'), W(1, 0x28)});
    ym.song.tags[VGM::VGMXSong::kGameName] = "Game";
    ym.song.tags[VGM::VGMXSong::kTrackName] = "Track";

    Player bare;
    ASSERT_TRUE(bare.open(ym));
    EXPECT_STREQ(bare.reader->getTitle(0), "Game - Track");
    EXPECT_EQ(bare.reader->getDisplay(), nullptr);

    std::vector<uint8_t> pixels(384 * 272), red(256), green(256), blue(256);
    PixelCanvas canvas{red.data(), green.data(), blue.data(), 0, pixels.data(), 272, 384, nullptr};
    Player shown(1e6, &canvas);
    ASSERT_TRUE(shown.open(ym));
    EXPECT_STREQ(shown.reader->getTitle(0), "Game - * No suitable data found! *");
    ASSERT_NE(shown.reader->getDisplay(), nullptr);
    ASSERT_TRUE(shown.open(sidSong()));
    EXPECT_STREQ(shown.reader->getTitle(0), "Game - Track");
}

// A DAC channel's "W" events are its own registers: only kinds 84-99 play them.
TEST(VGMReader, DacChannelsOnlyForKinds84To99)
{
    for (int32_t kind : {84, 99, 102}) {
        VGM::VGMX doc;
        doc.song.banks.resize(1);
        doc.song.banks[0].samples = {100, 200};
        std::vector<VGMXEvent> events{E('S'), W(0, VGM::DACStreamer::kLeftLevel, 1),
                                      W(0, VGM::DACStreamer::kPlayBank, 0), E('D', 100)};
        addChip(doc, kind, kind == 102 ? "6526" : "DAC", 1000, events);
        Player p;
        ASSERT_TRUE(p.open(doc));
        p.attach();
        runUntil(p.manager, 150000);
        const bool dac = kind != 102;
        EXPECT_EQ(p.calls(MediaCall::WriteRegister).size(), dac ? 0u : 2u) << kind;
        EXPECT_EQ(p.calls(MediaCall::WriteDacSample).size(), dac ? 2u : 0u) << kind;
    }
}

TEST(VGMReader, FixedAnswers)
{
    Player p;
    EXPECT_EQ(p.reader->getTitle(0), nullptr);
    EXPECT_EQ(p.reader->getSongCount(), 0u);
    EXPECT_FALSE(p.reader->selectSong(0));
    ASSERT_TRUE(p.open(sidSong()));
    EXPECT_EQ(p.reader->getChipCount(), 1u);
    EXPECT_TRUE(p.reader->isDrivenByTimers());
    EXPECT_FALSE(p.reader->isTuneReady());
    EXPECT_EQ(p.reader->getStartSong(), 0u);
    EXPECT_EQ(p.reader->getAuthor(0), nullptr);
    EXPECT_EQ(p.reader->getReleased(0), nullptr);
    EXPECT_EQ(p.reader->getPlayerName(0), nullptr);
    EXPECT_EQ(p.reader->getPlayerReference(0), nullptr);
    EXPECT_FALSE(p.reader->openMedia(nullptr));
    EXPECT_EQ(p.reader->advanceTicks(77, 1e6), 77u);
    EXPECT_EQ(p.reader->quantumElapsed(p.reader.get(), 0, 1e6), vantor::QuantumTimer::kNever);
    EXPECT_TRUE(p.reader->songReady);
}

TEST(VGMReader, SelectionReportsTheSong)
{
    VGM::VGMX doc = sidSong();
    doc.song.banks.resize(2);
    Player p;
    ASSERT_TRUE(p.reader->openDocument(doc));
    ASSERT_TRUE(p.reader->selectSong(0));
    const auto& calls = p.callback.calls;
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].op, MediaCall::SongSelected);
    EXPECT_EQ(calls[1].op, MediaCall::SetDataBlocks);
    EXPECT_EQ(calls[2].op, MediaCall::AddChip);
    EXPECT_EQ(calls[2].chipKind, 77u);
    EXPECT_EQ(calls[2].data, 1000u);
}

TEST(VGMReader, ResetPlaybackForgetsTheCollectionAndItsStreams)
{
    Player p;
    ASSERT_TRUE(p.open(sidSong()));
    p.reader->setSpeed(3.0);
    p.reader->play();
    p.attach();
    p.reader->resetPlayback();
    EXPECT_EQ(p.reader->getCollection(), nullptr);
    EXPECT_EQ(p.reader->getTitle(0), nullptr);
    EXPECT_FALSE(p.reader->playing);
    EXPECT_FALSE(p.reader->songReady);
    EXPECT_EQ(p.reader->speed, 1.0);
    // Still listed in the scheduler, the streams play nothing.
    p.callback.clear();
    runUntil(p.manager, 100000);
    EXPECT_TRUE(p.callback.calls.empty());
}

// ---- files and archives ----

TEST(VGMReader, OpensFiles)
{
    fixtures::TempDir dir;
    const std::string text = fixtures::VgmxDocument().chip("6581", 985248).write(24, 15, 10).text();
    Player p;
    ASSERT_TRUE(p.reader->openCollection(dir.write("song.vgmx", text).c_str()));
    EXPECT_EQ(p.reader->getSongCount(), 1u);
    ASSERT_TRUE(p.reader->selectSong(0));
    EXPECT_STREQ(p.reader->getTitle(0), " - song.vgmx");

    EXPECT_FALSE(p.reader->openCollection((dir / "missing.vgm").c_str()));
    EXPECT_NE(p.reader->getCollection(), nullptr);  // a missing path changes nothing
    EXPECT_FALSE(p.reader->openCollection(dir.write("bad.vgm", "not a log").c_str()));
    EXPECT_EQ(p.reader->getCollection(), nullptr);
    EXPECT_EQ(p.reader->getSongCount(), 0u);
    EXPECT_FALSE(p.reader->openCollection(nullptr));
}

std::string sn76489Vgm(uint8_t tone)
{
    fixtures::VgmBuilder b;
    b.clock(fixtures::VgmBuilder::kSn76489, 3579545);
    for (int i = 0; i < 4; ++i)
        b.write(0x50, 0, tone).wait(735);
    return b.end().text();
}

// Song 0 of the archive cannot be read: restarting fails and the streams of song 1, which the
// failed read replaced, are gone without a trace in the scheduler.
TEST(VGMReader, ArchiveSongThatFailsDropsTheReplacedStreams)
{
    fixtures::TempDir dir;
    const fixtures::Bytes zip = fixtures::makeZip(
        {{"a.vgm", "broken"}, {"b.vgm", sn76489Vgm(0x8F)}, {"cover.png", "\x89PNG picture"}});
    const std::string path = dir.write("logs.zip", fixtures::asString(zip));
    Player p;
    ASSERT_TRUE(p.reader->openCollection(path.c_str()));
    EXPECT_EQ(p.reader->getSongCount(), 2u);
    ASSERT_TRUE(p.reader->selectSong(1));
    const std::string title = p.reader->getTitle(1);
    p.attach();
    runUntil(p.manager, 100);

    EXPECT_FALSE(p.reader->selectSong(2));  // out of range: kept
    EXPECT_EQ(p.reader->getStreamerCount(), 1u);
    EXPECT_FALSE(p.reader->restart());
    EXPECT_EQ(p.reader->getStreamerCount(), 0u);
    EXPECT_EQ(p.reader->getTitle(0), title);
    EXPECT_TRUE(p.manager.getEntries().empty());
    p.reader->setSpeed(2.0);
    p.reader->detachTimers(&p.manager);
    p.reader->attachTimers(&p.manager);
    runUntil(p.manager, 200000);

    const std::span<const uint8_t> picture = VGM::getReaderFactory()->collectionPicture(*p.reader);
    EXPECT_EQ(std::string(picture.begin(), picture.end()), "\x89PNG picture");
}

TEST(VGMReader, FactoryMakesLogReaders)
{
    fixtures::FakeMediaCallback callback;
    VGM::ReaderFactory* factory = VGM::getReaderFactory();
    ASSERT_NE(factory, nullptr);
    std::unique_ptr<MediaReader> reader(factory->createReader(&callback, nullptr, nullptr));
    ASSERT_NE(dynamic_cast<VGM::Reader*>(reader.get()), nullptr);
    EXPECT_EQ(reader->callback, &callback);
    EXPECT_TRUE(factory->collectionPicture(*reader).empty());

    fixtures::TempDir dir;
    const std::string vgm = dir.write("one.vgm", sn76489Vgm(0x80));
    ASSERT_TRUE(reader->openCollection(vgm.c_str()));
    EXPECT_TRUE(factory->collectionPicture(*reader).empty());
}

}  // namespace
