#include "ControllerDoubles.h"

#include "fixtures/ArchiveWriters.h"
#include "fixtures/ChipLogWriters.h"
#include "fixtures/TempDir.h"
#include "fixtures/VgmBuilder.h"
#include "media/VGMReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>

namespace {

class ChipControllerTest : public ::testing::Test
{
protected:
    ChipControllerTest() : chips(ChipController::kChips, nullptr), listener(&log)
    {
        controller = std::make_unique<LoggingController>(&chips, &listener, &log);
    }

    // Chip n, enabled.
    LoggingChip& addChip(size_t n)
    {
        owned.push_back(std::make_unique<LoggingChip>(&log, "chip" + std::to_string(n)));
        chips[n] = owned.back().get();
        controller->setChipEnabled(n, true);
        return *owned.back();
    }

    FakeReader* addReader(uint64_t songs, uint64_t current = 0)
    {
        FakeReader* r = controller->adopt(new FakeReader(controller.get(), &log));
        r->songs = songs;
        r->currentSong = current;
        r->songReady = true;
        log.clear();
        return r;
    }

    void render(int32_t frames)
    {
        channels[0] = left.data();
        channels[1] = right.data();
        controller->render(channels, 2, frames);
    }

    EventLog log;
    std::vector<std::unique_ptr<LoggingChip>> owned;
    std::vector<ChipEmu*> chips;
    LoggingListener listener;
    std::unique_ptr<LoggingController> controller;
    std::vector<int32_t> left = std::vector<int32_t>(4096);
    std::vector<int32_t> right = std::vector<int32_t>(4096);
    int32_t* channels[2] = {};
};

TEST_F(ChipControllerTest, RenderIsCutAtEachDueTimer)
{
    LoggingChip& chip = addChip(0);
    addChip(3);
    LoggingTimer a(&log, "timer 100", 100), b(&log, "timer 250", 250);
    controller->addTimer(&a, 0);
    controller->addTimer(&b, 0);

    render(1000);

    const EventLog want = {"chip0 100", "chip3 100", "timer 100", "chip0 150", "chip3 150",
                           "timer 250", "chip0 750", "chip3 750"};
    EXPECT_EQ(log, want);
    const std::vector<int32_t*> firstWant = {left.data(), left.data() + 100, left.data() + 250};
    const std::vector<int32_t*> secondWant = {right.data(), right.data() + 100,
                                              right.data() + 250};
    EXPECT_EQ(chip.firstOutputs, firstWant);
    EXPECT_EQ(chip.secondOutputs, secondWant);
    EXPECT_EQ(channels[0], left.data() + 1000);
    EXPECT_EQ(channels[1], right.data() + 1000);
    EXPECT_EQ(controller->getNow(), 1000u);
}

TEST_F(ChipControllerTest, TimerDueNowFiresBeforeTheFirstTick)
{
    addChip(0);
    LoggingTimer now(&log, "timer 0", 0);
    controller->addTimer(&now, 0);
    render(64);
    EXPECT_EQ(log, (EventLog{"timer 0", "chip0 64"}));
}

TEST_F(ChipControllerTest, EmptyBlocksRenderAndFireNothing)
{
    addChip(0);
    LoggingTimer now(&log, "timer 0", 0);
    controller->addTimer(&now, 0);
    for (int32_t frames : {0, -5, std::numeric_limits<int32_t>::min()})
        render(frames);
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(channels[0], left.data());
}

TEST_F(ChipControllerTest, OnlyEnabledPresentChipsRenderTheWholeBlockOnce)
{
    addChip(1);
    addChip(2);
    controller->setChipEnabled(2, false);
    controller->setChipEnabled(5, true);  // no chip there
    LoggingChip beyond(&log, "chip16");
    chips.push_back(&beyond);  // no enable flag of its own
    render(1000);
    EXPECT_EQ(log, (EventLog{"chip1 1000"}));
}

TEST_F(ChipControllerTest, TimerDueAtOnceForeverStillEndsTheRender)
{
    addChip(0);
    LoggingTimer stuck(&log, "stuck", 10, 0);
    controller->addTimer(&stuck, 0);
    render(1000);
    ASSERT_GE(log.size(), 2u);
    EXPECT_EQ(log.front(), "chip0 10");
    EXPECT_EQ(log.back(), "chip0 990");
    EXPECT_LE(stuck.fired, uint64_t(ChipController::kMaxZeroSteps));
    EXPECT_EQ(controller->getNow(), 1000u);
}

TEST_F(ChipControllerTest, SelfDrivenReaderCutsTheBlock)
{
    addChip(12);
    FakeReader* reader = addReader(1);
    reader->timers = false;
    reader->playing = true;
    reader->step = 300;
    LoggingTimer timer(&log, "timer", 50);
    controller->addTimer(&timer, 0);
    controller->setRate(0, 985248.0, 985248.0);

    render(1000);

    // The reader runs the machine; the queue is not advanced.
    EXPECT_EQ(log, (EventLog{"chip12 300", "chip12 300", "chip12 300", "chip12 100"}));
    EXPECT_EQ(reader->lastRate, 985248.0);
    EXPECT_EQ(controller->getNow(), 0u);

    log.clear();
    reader->step = 0;  // a reader that never gets anywhere
    render(100);
    EXPECT_EQ(log, (EventLog{"chip12 100"}));
}

TEST_F(ChipControllerTest, StoppedOrTimerDrivenReaderLeavesTheQueueInCharge)
{
    addChip(0);
    FakeReader* reader = addReader(1);
    reader->step = 7;
    render(100);  // driven by timers
    reader->timers = false;
    render(100);  // not playing
    EXPECT_EQ(reader->advanceCalls, 0u);
    EXPECT_EQ(log, (EventLog{"chip0 100", "chip0 100"}));
}

TEST_F(ChipControllerTest, InitialStateAndSyncValues)
{
    EXPECT_EQ(controller->getTempo(), 125.0f);
    EXPECT_EQ(controller->getSyncValueA(), 120.0f);
    EXPECT_EQ(controller->getSyncValueB(), 0.0f);
    EXPECT_EQ(controller->getSyncValueC(), 0.0f);
    EXPECT_EQ(controller->getHostSync().syncWord, 24u);
    EXPECT_EQ(controller->getMediaParameter(ChipController::kHostTempo), 120.0);
    EXPECT_EQ(controller->getMediaParameter(ChipController::kNoAutoAdvance), 0.0);
    EXPECT_EQ(controller->getRate(), 1.0);
    for (size_t i = 0; i < ChipController::kChips; ++i)
        EXPECT_FALSE(controller->isChipEnabled(i));

    controller->setMediaParameter(ChipController::kHostTempo, 133.0);
    controller->setMediaParameter(ChipController::kHostPosition, 4.5);
    controller->setMediaParameter(ChipController::kHostBarStart, 4.0);
    EXPECT_EQ(controller->getSyncValueA(), 133.0f);
    EXPECT_EQ(controller->getSyncValueB(), 4.5f);
    EXPECT_EQ(controller->getSyncValueC(), 4.0f);
    EXPECT_EQ(controller->getTempo(), 125.0f);
    // Only the tempo reads back.
    EXPECT_EQ(controller->getMediaParameter(ChipController::kHostPosition), 0.0);

    EXPECT_TRUE(controller->setRate(2, 44100.0, 1022727.0));
    EXPECT_EQ(controller->getRate(), 44100.0);
    EXPECT_EQ(controller->getVideoStandard(), 2u);
}

TEST_F(ChipControllerTest, TempoIgnoresValuesNotAboveZero)
{
    for (double v : {0.0, -5.0, std::nan("")})
        controller->setMediaParameter(ChipController::kHostTempo, v);
    EXPECT_EQ(controller->getMediaParameter(ChipController::kHostTempo), 120.0);
}

TEST_F(ChipControllerTest, WithoutReader)
{
    EXPECT_EQ(controller->getMediaParameter(ChipController::kSpeed), 1.0);
    EXPECT_EQ(controller->getMediaParameter(ChipController::kSingleSong), 0.0);
    EXPECT_EQ(controller->getMediaParameter(20), 0.0);
    for (uint32_t id : {2u, 4u, 6u, 7u, 8u, 9u, 10u, 13u, 16u, 20u, 1000u})
        controller->setMediaParameter(id, 1.0);
    EXPECT_TRUE(log.empty());
    // Stop releases the gates with or without a reader.
    controller->setMediaParameter(ChipController::kStop, 1.0);
    EXPECT_EQ(log, (EventLog{"gates off 101", "stopped"}));
    log.clear();
    controller->setMediaParameter(ChipController::kStop, 0.0);
    EXPECT_TRUE(log.empty());
    controller->setMediaParameter(ChipController::kSpeed, 2.0);
    EXPECT_EQ(controller->getSpeed(), 2.0);
    EXPECT_EQ(controller->getMediaParameter(ChipController::kSpeed), 1.0);
}

TEST_F(ChipControllerTest, SongSteps)
{
    const struct {
        uint32_t id;
        uint64_t songs, current, selected;
    } kCases[] = {
        {ChipController::kNextSong, 3, 2, 0},
        {ChipController::kNextSong, 3, 0, 1},
        {ChipController::kPreviousSong, 3, 0, 0},
        {ChipController::kPreviousSong, 3, 2, 1},
        {ChipController::kRestartSong, 3, 1, 1},
    };
    for (const auto& c : kCases) {
        FakeReader* reader = addReader(c.songs, c.current);
        reader->playing = true;
        controller->setMediaParameter(c.id, 1.0);
        const std::string select = "select " + std::to_string(c.selected);
        EXPECT_EQ(log, (EventLog{"gates off 101", "detach", select, "play", "chip count",
                                 "speed 1.000000", "text slot 1 Title " +
                                     std::to_string(c.selected),
                                 "attach"}))
            << "id " << c.id << " from " << c.current;
        EXPECT_EQ(reader->currentSong, c.selected);
        EXPECT_TRUE(reader->songReady);

        log.clear();
        controller->setMediaParameter(c.id, 0.0);  // a release does nothing
        EXPECT_TRUE(log.empty());
    }
}

TEST_F(ChipControllerTest, SongThatCannotPlayIsNotStarted)
{
    FakeReader* reader = addReader(2, 1);
    reader->songs = 1;  // song 1 has gone
    controller->setMediaParameter(ChipController::kRestartSong, 1.0);
    EXPECT_EQ(log, (EventLog{"gates off 101", "detach", "select 1"}));
    EXPECT_FALSE(reader->songReady);
    EXPECT_EQ(reader->currentSong, 1u);

    log.clear();
    controller->setMediaParameter(ChipController::kPlay, 1.0);
    EXPECT_EQ(log, (EventLog{"detach"}));
}

TEST_F(ChipControllerTest, SelectSongDoesNotStartPlayback)
{
    FakeReader* reader = addReader(5);
    controller->setMediaParameter(ChipController::kSelectSong, 3.9);
    EXPECT_EQ(log, (EventLog{"gates off 101", "detach", "select 3", "chip count",
                             "speed 1.000000", "text slot 1 Title 3"}));
    EXPECT_FALSE(reader->playing);
    EXPECT_EQ(reader->currentSong, 3u);

    for (double v : {-2.0, std::nan("")}) {
        controller->setMediaParameter(ChipController::kSelectSong, v);
        EXPECT_EQ(reader->currentSong, 0u) << v;
    }
}

TEST_F(ChipControllerTest, PlayAndStop)
{
    FakeReader* reader = addReader(1);
    controller->setMediaParameter(ChipController::kPlay, 1.0);
    EXPECT_EQ(log, (EventLog{"detach", "play", "chip count", "speed 1.000000",
                             "text slot 1 Title 0", "attach"}));
    EXPECT_TRUE(reader->playing);

    log.clear();
    controller->setMediaParameter(ChipController::kStop, 1.0);
    EXPECT_EQ(log, (EventLog{"detach", "stop", "gates off 101", "stopped"}));
    EXPECT_FALSE(reader->playing);

    // A self-driven reader keeps its timers out of the queue.
    log.clear();
    reader->timers = false;
    controller->setMediaParameter(ChipController::kPlay, 1.0);
    EXPECT_EQ(log.back(), "text slot 1 Title 0");
}

TEST_F(ChipControllerTest, SpeedOnlyMovesTimersWhenItChanges)
{
    FakeReader* reader = addReader(1);
    controller->setMediaParameter(ChipController::kSpeed, 1.0);
    EXPECT_EQ(log, (EventLog{"speed 1.000000"}));
    log.clear();
    controller->setMediaParameter(ChipController::kSpeed, 1.5);
    EXPECT_EQ(log, (EventLog{"detach", "speed 1.500000", "attach"}));
    EXPECT_EQ(controller->getMediaParameter(ChipController::kSpeed), 1.5);
    EXPECT_EQ(reader->speed, 1.5);
}

TEST_F(ChipControllerTest, ReaderSettings)
{
    FakeReader* reader = addReader(2);
    controller->setMediaParameter(ChipController::kSeek, 2.5);
    controller->setMediaParameter(ChipController::kResetPlayback, 0.0);
    controller->setMediaParameter(ChipController::kResetPlayback, 1.0);
    EXPECT_EQ(log, (EventLog{"seek 2.500000", "reset playback"}));

    const struct {
        double value;
        uint32_t mode;
    } kModes[] = {{2.7, 2}, {-3.0, 0}, {std::nan(""), 0}, {1e20, 0xFFFFFFFFu}};
    for (const auto& m : kModes) {
        log.clear();
        controller->setMediaParameter(ChipController::kDisplayMode, m.value);
        EXPECT_EQ(controller->getDisplayMode(), m.mode) << m.value;
        EXPECT_EQ(log, (EventLog{"display " + std::to_string(int32_t(m.mode))}));
    }

    controller->setMediaParameter(ChipController::kSyncWord, 30.9);
    controller->setMediaParameter(ChipController::kSyncWord, -1.0);
    controller->setMediaParameter(ChipController::kSyncWord, std::nan(""));
    EXPECT_EQ(controller->getHostSync().syncWord, 30u);

    controller->setMediaParameter(ChipController::kHostSync, 1.0);
    EXPECT_EQ(reader->userValue, &controller->getHostSync());
    controller->setMediaParameter(ChipController::kHostSync, 0.0);
    EXPECT_EQ(reader->userValue, nullptr);

    EXPECT_EQ(controller->getMediaParameter(ChipController::kSingleSong), 0.0);
    reader->songs = 1;
    EXPECT_EQ(controller->getMediaParameter(ChipController::kSingleSong), 1.0);
}

TEST_F(ChipControllerTest, SecondLoopOfAStreamAdvancesAtTheNextRenderStep)
{
    addChip(0);
    FakeReader* reader = addReader(3);
    reader->playing = true;
    controller->channelKeyed(7);
    EXPECT_FALSE(controller->isAdvancePending());
    controller->channelKeyed(7);
    EXPECT_TRUE(controller->isAdvancePending());
    EXPECT_TRUE(log.empty());

    render(10);
    EXPECT_FALSE(controller->isAdvancePending());
    EXPECT_EQ(log.front(), "gates off 101");
    EXPECT_EQ(reader->currentSong, 1u);
    EXPECT_TRUE(reader->playing);
    EXPECT_EQ(log.back(), "chip0 10");

    // The new song starts counting afresh.
    EXPECT_EQ(controller->loopCount(7), 0);
}

TEST_F(ChipControllerTest, FurtherLoopsAskAgainOnlyAfterTheCounterWraps)
{
    controller->channelKeyed(9);
    controller->channelKeyed(9);
    controller->renderUntilEvent(1);  // no reader: the switch is dropped
    EXPECT_FALSE(controller->isAdvancePending());
    for (int i = 0; i < 255; ++i)
        controller->channelKeyed(9);
    EXPECT_FALSE(controller->isAdvancePending());
    EXPECT_EQ(controller->loopCount(9), 1);
    controller->channelKeyed(9);
    EXPECT_TRUE(controller->isAdvancePending());
}

TEST_F(ChipControllerTest, StreamEndAdvancesAtOnce)
{
    controller->markChanged(3, 0);
    EXPECT_TRUE(controller->isAdvancePending());
}

TEST_F(ChipControllerTest, ChannelsBeyondTheCountersAreIgnored)
{
    for (uint32_t c : {256u, 4096u, 0xFFFFFFFFu}) {
        controller->channelKeyed(c);
        controller->channelKeyed(c);
    }
    EXPECT_FALSE(controller->isAdvancePending());
}

TEST_F(ChipControllerTest, AutoAdvanceOff)
{
    controller->setMediaParameter(ChipController::kNoAutoAdvance, 1.0);
    EXPECT_EQ(controller->getMediaParameter(ChipController::kNoAutoAdvance), 1.0);
    controller->channelKeyed(1);
    controller->channelKeyed(1);
    controller->markChanged(1, 0);
    EXPECT_FALSE(controller->isAdvancePending());
    EXPECT_EQ(controller->loopCount(1), 0);
    controller->setMediaParameter(ChipController::kNoAutoAdvance, 0.0);
    EXPECT_TRUE(controller->isAutoAdvance());
}

TEST_F(ChipControllerTest, OpeningWithoutFactoryFails)
{
    addReader(1);
    EXPECT_FALSE(controller->loadMediaPath(0, "/tmp/a.vgm"));
    EXPECT_EQ(log, (EventLog{"silence", "detach", "reader deleted"}));
    EXPECT_EQ(controller->getReader(), nullptr);
}

TEST_F(ChipControllerTest, OpeningALog)
{
    FakeReaderFactory factory(&log);
    controller->setMediaParameter(ChipController::kDisplayMode, 3.0);
    ASSERT_TRUE(controller->loadMediaPath(0, "/tmp/a.vgm"));
    EXPECT_EQ(log, (EventLog{"silence", "open /tmp/a.vgm", "display 3", "select 0",
                             "text slot 1 Title 0", "media parameter 18 0 1.000000", "image 0",
                             "speed 1.000000"}));
    ASSERT_NE(controller->getReader(), nullptr);
    EXPECT_EQ(factory.lastCallback, static_cast<MediaCallback*>(controller.get()));
    EXPECT_EQ(factory.lastCanvas, nullptr);
    EXPECT_FALSE(controller->getReader()->playing);

    log.clear();
    factory.songs = 4;
    factory.picture = {0x89, 'P', 'N', 'G'};
    ASSERT_TRUE(controller->loadMediaPath(1, "/tmp/b.vgz"));
    EXPECT_EQ(log, (EventLog{"silence", "detach", "reader deleted", "open /tmp/b.vgz",
                             "display 3", "select 0", "text slot 1 Title 0",
                             "media parameter 18 0 0.000000", "image 4", "speed 1.000000"}));
    EXPECT_EQ(listener.image, factory.picture);
}

// With no other factory installed the register-log reader opens the file; a collection's
// picture reaches the listener unchanged.
TEST_F(ChipControllerTest, OpeningALogCollectionPublishesItsCover)
{
    fixtures::VgmBuilder vgm;
    vgm.clock(fixtures::VgmBuilder::kSn76489, 3579545);
    for (int i = 0; i < 4; ++i)
        vgm.raw({0x50, 0x8F}).wait(735);
    vgm.end();
    const std::string png("\x89PNG\r\n\x1A\n cover", 14);
    fixtures::TempDir dir;
    const std::string zip = dir.write(
        "logs.zip", fixtures::asString(fixtures::makeZip({{"a.vgm", vgm.text()}, {"cover.png", png}})));
    const std::string plain = dir.write("b.vgm", vgm.text());

    ASSERT_TRUE(controller->loadMediaPath(0, zip.c_str()));
    EXPECT_NE(dynamic_cast<VGM::Reader*>(controller->getReader()), nullptr);
    EXPECT_EQ(std::string(listener.image.begin(), listener.image.end()), png);
    EXPECT_EQ(controller->getReader()->getSongCount(), 1u);

    log.clear();
    ASSERT_TRUE(controller->loadMediaPath(0, plain.c_str()));
    EXPECT_TRUE(listener.image.empty());
    EXPECT_NE(std::find(log.begin(), log.end(), "image 0"), log.end());
}

TEST_F(ChipControllerTest, FailedOpenLeavesNoReader)
{
    FakeReaderFactory factory(&log);
    addReader(1);
    factory.openResult = false;
    EXPECT_FALSE(controller->loadMediaPath(0, "/tmp/bad.vgm"));
    EXPECT_EQ(log, (EventLog{"silence", "detach", "reader deleted", "open /tmp/bad.vgm",
                             "reader deleted"}));
    EXPECT_EQ(controller->getReader(), nullptr);
}

TEST_F(ChipControllerTest, OpeningWithoutListener)
{
    FakeReaderFactory factory(&log);
    LoggingController bare(&chips, nullptr, &log);
    ASSERT_TRUE(bare.loadMediaPath(0, "x.vgm"));
    EXPECT_EQ(log, (EventLog{"silence", "open x.vgm", "display 0", "select 0", "speed 1.000000"}));
}

TEST_F(ChipControllerTest, CloseAndDestroy)
{
    addReader(1);
    controller->closeMedia();
    EXPECT_EQ(log, (EventLog{"detach", "reader deleted"}));
    EXPECT_EQ(controller->getReader(), nullptr);
    controller->closeMedia();

    addReader(1);
    controller->adoptHook(new LoggingHook(&log));
    controller.reset();
    EXPECT_EQ(log, (EventLog{"detach", "reader deleted", "pending count", "hook deleted"}));
}

TEST_F(ChipControllerTest, Defaults)
{
    bool handled = true;
    EXPECT_EQ(controller->tryOpenFile(0, "x", &handled), 0);
    EXPECT_FALSE(handled);
    EXPECT_TRUE(controller->engineCommand(0, 0));
    EXPECT_TRUE(controller->resetVoices(0, 0));
    EXPECT_EQ(controller->loadMedia(0, nullptr), 0);
    EXPECT_FALSE(controller->exportMedia(0, "x"));
    EXPECT_TRUE(controller->registerTextSlot(2, nullptr, 1, 0));
    EXPECT_TRUE(controller->receiveTextSlotInput(0, "text"));
    EXPECT_FALSE(controller->acceptsShortMessages());
    EXPECT_EQ(controller->getReaderExtra(), nullptr);
    EXPECT_EQ(controller->readMediaRegister(77, 0, 0, 4), 0);
    MediaCallback& callback = *controller;
    EXPECT_EQ(callback.readMediaPort(), 255);
}

}  // namespace
