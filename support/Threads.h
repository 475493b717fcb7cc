#pragma once
// Thin classes over POSIX threads: named locks, a condition, a counting semaphore and a
// self-deleting detached worker thread.

#include <pthread.h>

#include <cstdint>
#include <string>

namespace vantor {

class Mutex
{
public:
    explicit Mutex(const std::string& name, bool recursive = false);
    virtual ~Mutex();

    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;

    bool lock();
    bool tryLock();  // true when the lock was taken
    bool unlock();

    const std::string& getName() const { return name; }
    bool isValid() const { return valid; }

protected:
    std::string name;
    bool valid = false;
    pthread_mutex_t mutex;
};

// A condition paired with its own (non-recursive) mutex. Waits run on the monotonic clock.
class Condition : public Mutex
{
public:
    explicit Condition(const std::string& name);
    ~Condition() override;

    bool wait();  // the caller holds the mutex; true when woken normally
    // Waits at most `milliseconds`; true when signalled, false on time-out or error.
    virtual bool timedWait(uint64_t milliseconds);
    int signal();
    int broadcast();

protected:
    pthread_cond_t condition;
    bool conditionValid = false;
};

// Counting semaphore; a maximum of 0 means no ceiling.
class Semaphore : public Condition
{
public:
    Semaphore(const std::string& name, uint64_t initialCount, uint64_t maximum);

    bool wait();
    bool tryWait();
    bool waitTimeout(uint64_t milliseconds);
    bool post();  // false at the ceiling
    uint64_t getCount();

protected:
    uint64_t count;
    uint64_t maximum;
};

// A detached thread that runs `run`, then `finished`, then deletes itself. Create it with new;
// after a successful `start` only the thread itself may touch the object.
class ThreadDetached
{
public:
    ThreadDetached(bool roundRobin, const char* name);
    virtual ~ThreadDetached() = 0;

    ThreadDetached(const ThreadDetached&) = delete;
    ThreadDetached& operator=(const ThreadDetached&) = delete;

    virtual void finished() {}
    virtual void* run() = 0;

    void setPriorityPercent(uint32_t percent) { priorityPercent = percent; }
    uint32_t getPriorityPercent() const { return priorityPercent; }
    pthread_t& handle() { return threadHandle; }
    const std::string& getName() const { return name; }

    // A thread object starts once: false when already started or when any step fails.
    bool start();

    // min + (max - min) * percent / 100, truncated toward zero (percent above 100 counts as 100);
    // `current` when the range is empty or unknown (-1).
    static int priorityForPercent(int current, int minimum, int maximum, uint32_t percent);

private:
    static void* entry(void* self);
    static void applyRoundRobin(pthread_t thread, uint32_t percent);

    uint32_t priorityPercent = 0;
    bool roundRobin;
    std::string name;
    pthread_t threadHandle{};
    // Held by `start` until it no longer touches the object; the thread passes it first.
    pthread_mutex_t startGate = PTHREAD_MUTEX_INITIALIZER;
};

void threadYield();
pthread_t currentThread();

}  // namespace vantor
