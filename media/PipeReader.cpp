#include "media/PipeReader.h"

#include <chrono>
#include <thread>

namespace VGM {

PipeReaderThreaded::PipeReaderThreaded(PipeReaderListener* l) : vantor::ThreadDetached(false, nullptr), listener(l) {}

void* PipeReaderThreaded::run()
{
    loops.fetch_add(1, std::memory_order_acq_rel);
    PipeRecord record{};
    while (!stopRequested.load(std::memory_order_acquire)) {
        record.address = 0;
        record.value = 0;
        record.port = 0;
        if (!listener->queueRecord(record))
            vantor::threadYield();
    }
    loops.fetch_sub(1, std::memory_order_acq_rel);
    // The stopper may free the listener and the flag as soon as it sees this.
    stopperFinished.load(std::memory_order_acquire)->store(1, std::memory_order_release);
    return nullptr;
}

void PipeReaderThreaded::stop(std::atomic<uint32_t>* finishedFlag)
{
    finishedFlag->store(0, std::memory_order_relaxed);
    stopperFinished.store(finishedFlag, std::memory_order_release);
    stopRequested.store(true, std::memory_order_release);
    while (finishedFlag->load(std::memory_order_acquire) == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(10));
}

PipeReaderListener::~PipeReaderListener()
{
    if (reader) {
        std::atomic<uint32_t> finished{0};
        reader->stop(&finished);
        reader = nullptr;
    }
    mutex.reset();
}

bool PipeReaderListener::start()
{
    if (reader)
        return false;
    if (!mutex)
        mutex = std::make_unique<vantor::Mutex>("NamedPipeMutex");
    queue.reserve(kQueueRecords);
    auto* created = new PipeReaderThreaded(this);
    if (!created->start()) {
        delete created;
        return false;
    }
    reader = created;
    return true;
}

uint64_t PipeReaderListener::poll()
{
    if (!mutex || !mutex->tryLock())
        return 0;
    for (const PipeRecord& r : queue)
        handleRecord(r.address, r.value, r.port);
    queue.clear();
    const uint64_t lost = dropped;
    dropped = 0;
    mutex->unlock();
    return lost;
}

bool PipeReaderListener::queueRecord(const PipeRecord& record)
{
    if (!mutex || !mutex->lock())
        return false;
    const bool room = queue.size() < kQueueRecords;
    if (room)
        queue.push_back(record);
    else
        ++dropped;
    mutex->unlock();
    return room;
}

}  // namespace VGM
