#include "media/PipeReader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

namespace {

class CountingListener : public VGM::PipeReaderListener
{
public:
    ~CountingListener() override = default;

    void handleRecord(uint16_t address, uint8_t value, uint8_t port) override
    {
        ++delivered;
        ++inThisPoll;
        if (address != 0 || value != 0 || port != 0)
            ++nonEmpty;
    }
    // Polls until `count` records have arrived; the most any one poll delivered.
    uint64_t pollUntil(uint64_t count)
    {
        uint64_t most = 0;
        const auto give = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (delivered < count && std::chrono::steady_clock::now() < give) {
            inThisPoll = 0;
            lost += poll();
            most = std::max(most, inThisPoll);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        return most;
    }

    uint64_t delivered = 0;
    uint64_t inThisPoll = 0;
    uint64_t nonEmpty = 0;
    uint64_t lost = 0;
};

TEST(PipeReader, RecordSize)
{
    EXPECT_EQ(sizeof(PipeRecord), 32u);
}

TEST(PipeReader, PollBeforeStartDoesNothing)
{
    CountingListener listener;
    EXPECT_EQ(listener.poll(), 0u);
    EXPECT_EQ(listener.delivered, 0u);
    EXPECT_EQ(listener.getMutex(), nullptr);
}

TEST(PipeReader, RecordsArriveInBoundedBatches)
{
    CountingListener listener;
    ASSERT_TRUE(listener.start());
    EXPECT_FALSE(listener.start());
    ASSERT_NE(listener.getMutex(), nullptr);
    EXPECT_EQ(listener.getMutex()->getName(), "NamedPipeMutex");

    const uint64_t most = listener.pollUntil(5000);
    EXPECT_GE(listener.delivered, 5000u);
    EXPECT_LE(most, VGM::PipeReaderListener::kQueueRecords);
    EXPECT_EQ(listener.nonEmpty, 0u);

    // Left alone, the worker fills the queue and drops the rest.
    uint64_t lost = 0;
    for (int tries = 0; tries < 100 && lost == 0; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        listener.inThisPoll = 0;
        lost = listener.poll();
        EXPECT_LE(listener.inThisPoll, VGM::PipeReaderListener::kQueueRecords);
    }
    EXPECT_EQ(listener.inThisPoll, VGM::PipeReaderListener::kQueueRecords);
    EXPECT_GT(lost, 0u);
}

TEST(PipeReader, BusyLockLeavesRecordsForTheNextPoll)
{
    CountingListener listener;
    ASSERT_TRUE(listener.start());
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(listener.getMutex()->lock());
    EXPECT_EQ(listener.poll(), 0u);
    EXPECT_EQ(listener.delivered, 0u);
    listener.getMutex()->unlock();
    listener.poll();
    EXPECT_GT(listener.delivered, 0u);
}

TEST(PipeReader, DestructionWaitsForTheWorker)
{
    for (int round = 0; round < 20; ++round) {
        auto listener = std::make_unique<CountingListener>();
        ASSERT_TRUE(listener->start());
        if (round % 2)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        listener.reset();
        EXPECT_EQ(VGM::PipeReaderThreaded::runningLoops(), 0) << round;
    }
}

}  // namespace
