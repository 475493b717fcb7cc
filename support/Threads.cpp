#include "support/Threads.h"

#include <sched.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace vantor {

// ---------------------------------------------------------------------------------------------
// Mutex

Mutex::Mutex(const std::string& n, bool recursive) : name(n)
{
    pthread_mutexattr_t attributes;
    if (recursive) {
        if (pthread_mutexattr_init(&attributes) != 0)
            return;
        pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
        valid = pthread_mutex_init(&mutex, &attributes) == 0;
        pthread_mutexattr_destroy(&attributes);
    } else {
        valid = pthread_mutex_init(&mutex, nullptr) == 0;
    }
}

Mutex::~Mutex()
{
    if (valid)
        pthread_mutex_destroy(&mutex);
}

bool Mutex::lock()
{
    return valid && pthread_mutex_lock(&mutex) == 0;
}

bool Mutex::tryLock()
{
    return valid && pthread_mutex_trylock(&mutex) == 0;
}

bool Mutex::unlock()
{
    return valid && pthread_mutex_unlock(&mutex) == 0;
}

// ---------------------------------------------------------------------------------------------
// Condition

namespace {

uint64_t monotonicMilliseconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u;
}

}  // namespace

Condition::Condition(const std::string& n) : Mutex(n, false)
{
    pthread_condattr_t attributes;
    if (pthread_condattr_init(&attributes) != 0)
        return;
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    conditionValid = pthread_cond_init(&condition, &attributes) == 0;
    pthread_condattr_destroy(&attributes);
}

Condition::~Condition()
{
    if (conditionValid)
        pthread_cond_destroy(&condition);
}

bool Condition::wait()
{
    return valid && conditionValid && pthread_cond_wait(&condition, &mutex) == 0;
}

bool Condition::timedWait(uint64_t milliseconds)
{
    if (!valid || !conditionValid)
        return false;
    timespec at{};
    clock_gettime(CLOCK_MONOTONIC, &at);
    // Far-off limits are capped at about 68 years, beyond any real wait.
    const uint64_t seconds = milliseconds / 1000u;
    const uint64_t maxSeconds = 0x7FFFFFFFu;
    at.tv_sec += time_t(seconds > maxSeconds ? maxSeconds : seconds);
    at.tv_nsec += long(milliseconds % 1000u) * 1000000L;
    if (at.tv_nsec >= 1000000000L) {
        at.tv_nsec -= 1000000000L;
        at.tv_sec += 1;
    }
    return pthread_cond_timedwait(&condition, &mutex, &at) == 0;
}

int Condition::signal()
{
    return conditionValid ? pthread_cond_signal(&condition) : EINVAL;
}

int Condition::broadcast()
{
    return conditionValid ? pthread_cond_broadcast(&condition) : EINVAL;
}

// ---------------------------------------------------------------------------------------------
// Semaphore

Semaphore::Semaphore(const std::string& n, uint64_t initialCount, uint64_t max)
    : Condition(n), count(initialCount), maximum(max)
{
}

bool Semaphore::wait()
{
    if (!lock())
        return false;
    while (count == 0)
        if (!Condition::wait()) {
            unlock();
            return false;
        }
    --count;
    unlock();
    return true;
}

bool Semaphore::tryWait()
{
    if (!lock())
        return false;
    const bool took = count > 0;
    if (took)
        --count;
    unlock();
    return took;
}

bool Semaphore::waitTimeout(uint64_t milliseconds)
{
    const uint64_t begin = monotonicMilliseconds();
    if (!lock())
        return false;
    while (count == 0) {
        if (monotonicMilliseconds() - begin > milliseconds || !timedWait(milliseconds)) {
            unlock();
            return false;
        }
    }
    --count;
    unlock();
    return true;
}

bool Semaphore::post()
{
    if (!lock())
        return false;
    if (maximum != 0 && count == maximum) {
        unlock();
        return false;
    }
    ++count;
    signal();
    unlock();
    return true;
}

uint64_t Semaphore::getCount()
{
    lock();
    const uint64_t c = count;
    unlock();
    return c;
}

// ---------------------------------------------------------------------------------------------
// ThreadDetached

ThreadDetached::ThreadDetached(bool rr, const char* n) : roundRobin(rr), name(n ? n : "")
{
}

ThreadDetached::~ThreadDetached()
{
    pthread_mutex_destroy(&startGate);
}

int ThreadDetached::priorityForPercent(int current, int minimum, int maximum, uint32_t percent)
{
    if (minimum == -1 || maximum == -1 || minimum == maximum)
        return current;
    const int64_t p = percent > 100 ? 100 : percent;
    return int(minimum + (int64_t(maximum) - minimum) * p / 100);
}

bool ThreadDetached::start()
{
    if (threadHandle != pthread_t{})
        return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0)
        return false;
    int policy = 0;
    if (pthread_attr_getschedpolicy(&attributes, &policy) != 0 ||
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) != 0) {
        pthread_attr_destroy(&attributes);
        return false;
    }
    // The attribute keeps PTHREAD_INHERIT_SCHED: without round-robin the thread runs with its
    // creator's scheduling. Round-robin is applied to the created thread below, its priority
    // mapped over SCHED_RR's own range (the default policy's range is 0..0 here).
    pthread_mutex_lock(&startGate);
    pthread_t created{};
    const bool ok = pthread_create(&created, &attributes, &ThreadDetached::entry, this) == 0;
    pthread_attr_destroy(&attributes);
    if (ok) {
        threadHandle = created;
        if (roundRobin)
            applyRoundRobin(created, priorityPercent);
    }
    pthread_mutex_unlock(&startGate);  // last touch of the object
    return ok;
}

void ThreadDetached::applyRoundRobin(pthread_t thread, uint32_t percent)
{
    sched_param param{};
    param.sched_priority = priorityForPercent(0, sched_get_priority_min(SCHED_RR),
                                              sched_get_priority_max(SCHED_RR), percent);
    const int refused = pthread_setschedparam(thread, SCHED_RR, &param);
    static std::atomic<bool> reported{false};
    if (refused && !reported.exchange(true))  // usually no privilege: keep the inherited policy
        fprintf(stderr, "ThreadDetached: round-robin scheduling refused (%s); inherited policy kept\n",
                strerror(refused));
}

void* ThreadDetached::entry(void* arg)
{
    auto* self = static_cast<ThreadDetached*>(arg);
    pthread_mutex_lock(&self->startGate);
    pthread_mutex_unlock(&self->startGate);
    if (!self->name.empty()) {
        // The system takes at most 15 bytes.
        const std::string shortName = self->name.substr(0, 15);
        pthread_setname_np(pthread_self(), shortName.c_str());
    }
    void* result = self->run();
    self->finished();
    delete self;
    return result;
}

void threadYield()
{
    sched_yield();
}

pthread_t currentThread()
{
    return pthread_self();
}

}  // namespace vantor
