#pragma once
// Chip register writes handed between threads: a worker produces 32-byte records, a listener
// queues them under a lock and hands them to its subclass on the owner's thread. The producer has
// no source yet: it queues empty records until stopped.

#include "support/Threads.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct PipeRecord
{
    uint16_t address = 0;
    uint8_t value = 0;
    uint8_t port = 0;
    uint8_t unused[28];
};
static_assert(sizeof(PipeRecord) == 32);

namespace VGM {

class PipeReaderListener;

class PipeReader
{
public:
    virtual ~PipeReader() = default;
};

// Created with new; its thread deletes it after the loop ends.
class PipeReaderThreaded : public PipeReader, public vantor::ThreadDetached
{
public:
    explicit PipeReaderThreaded(PipeReaderListener* listener);

    void* run() override;
    void finished() override {}
    // Asks the worker to stop and waits (10 us at a time) until `*finishedFlag` says its loop
    // has ended. The object may be gone when this returns.
    void stop(std::atomic<uint32_t>* finishedFlag);

    // Worker loops running in the process.
    static int runningLoops() { return loops.load(std::memory_order_acquire); }

private:
    std::atomic<bool> stopRequested{false};
    std::atomic<std::atomic<uint32_t>*> stopperFinished{nullptr};
    PipeReaderListener* listener;
    static inline std::atomic<int> loops{0};
};

class PipeReaderListener
{
public:
    static constexpr size_t kQueueRecords = 512;

    PipeReaderListener() = default;
    PipeReaderListener(const PipeReaderListener&) = delete;
    PipeReaderListener& operator=(const PipeReaderListener&) = delete;
    // Stops the worker and returns once its loop has ended.
    virtual ~PipeReaderListener();

    // Starts the worker once; false for a second start or when the thread cannot start.
    bool start();
    // Hands every queued record to handleRecord in order, unless the queue's lock is busy (then
    // nothing happens). Returns the records dropped on a full queue since the last delivery.
    uint64_t poll();
    // Worker side: false, and the record dropped, while the queue is full.
    bool queueRecord(const PipeRecord& record);

    // "NamedPipeMutex", once started.
    vantor::Mutex* getMutex() const { return mutex.get(); }

protected:
    virtual void handleRecord(uint16_t address, uint8_t value, uint8_t port) = 0;

private:
    PipeReaderThreaded* reader = nullptr;
    std::vector<PipeRecord> queue;
    std::unique_ptr<vantor::Mutex> mutex;
    uint64_t dropped = 0;  // under the mutex
};

}  // namespace VGM
