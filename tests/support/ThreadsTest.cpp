#include "support/Threads.h"

#include <gtest/gtest.h>

#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using vantor::Semaphore;

long long msSince(Clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(Semaphore, CountAndCeiling)
{
    Semaphore full("s", 3, 3);
    EXPECT_FALSE(full.post());
    EXPECT_EQ(full.getCount(), 3u);
    EXPECT_TRUE(full.tryWait());
    EXPECT_TRUE(full.post());
    EXPECT_EQ(full.getCount(), 3u);

    Semaphore open("s", 0, 0);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(open.post());
    EXPECT_EQ(open.getCount(), 5u);
    for (int i = 0; i < 5; ++i)
        EXPECT_TRUE(open.wait());
    EXPECT_FALSE(open.tryWait());
}

TEST(Semaphore, WaitTimeout)
{
    Semaphore s("s", 0, 0);
    auto t = Clock::now();
    EXPECT_FALSE(s.waitTimeout(0));
    EXPECT_LT(msSince(t), 50);

    t = Clock::now();
    EXPECT_FALSE(s.waitTimeout(50));
    const long long waited = msSince(t);
    EXPECT_GE(waited, 50);
    EXPECT_LE(waited, 500);

    std::thread poster([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        s.post();
    });
    t = Clock::now();
    EXPECT_TRUE(s.waitTimeout(5000));
    EXPECT_LT(msSince(t), 4000);
    poster.join();
    EXPECT_EQ(s.getCount(), 0u);
}

TEST(Mutex, RecursiveAndPlain)
{
    vantor::Mutex recursive("ChipWrapMutex", true);
    EXPECT_TRUE(recursive.isValid());
    EXPECT_EQ(recursive.getName(), "ChipWrapMutex");
    EXPECT_TRUE(recursive.lock());
    EXPECT_TRUE(recursive.lock());
    EXPECT_TRUE(recursive.tryLock());
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(recursive.unlock());

    vantor::Mutex plain("NamedPipeMutex");
    EXPECT_TRUE(plain.lock());
    EXPECT_FALSE(plain.tryLock());
    bool otherGot = true;
    std::thread([&] { otherGot = plain.tryLock(); }).join();
    EXPECT_FALSE(otherGot);
    EXPECT_TRUE(plain.unlock());
    EXPECT_TRUE(plain.tryLock());
    EXPECT_TRUE(plain.unlock());
}

TEST(ThreadDetached, PriorityFromPercent)
{
    using T = vantor::ThreadDetached;
    EXPECT_EQ(T::priorityForPercent(0, 15, 47, 50), 31);
    EXPECT_EQ(T::priorityForPercent(0, 15, 47, 0), 15);
    EXPECT_EQ(T::priorityForPercent(0, 15, 47, 100), 47);
    EXPECT_EQ(T::priorityForPercent(0, 15, 47, 99), 46);  // truncated
    EXPECT_EQ(T::priorityForPercent(0, 15, 47, 4000000000u), 47);
    EXPECT_EQ(T::priorityForPercent(7, 0, 0, 50), 7);  // min = max: left alone
    EXPECT_EQ(T::priorityForPercent(7, -1, 99, 50), 7);
}

// Reports what it saw through outside state, which outlives the object.
struct Seen
{
    Semaphore done{"done", 0, 0};
    std::atomic<bool> ran{false}, finished{false}, destroyed{false};
    std::string name;
};

class Worker : public vantor::ThreadDetached
{
public:
    Worker(const char* name, Seen& s) : ThreadDetached(false, name), seen(s) {}
    ~Worker() override
    {
        seen.destroyed = true;
        seen.done.post();
    }
    void* run() override
    {
        char buffer[64] = {};
        pthread_getname_np(pthread_self(), buffer, sizeof buffer);
        seen.name = buffer;
        seen.ran = true;
        return nullptr;
    }
    void finished() override { seen.finished = seen.ran.load(); }

private:
    Seen& seen;
};

TEST(ThreadDetached, RunsNamesItselfAndDeletesItself)
{
    Seen seen;
    auto* w = new Worker("AVeryLongWorkerThreadName", seen);
    w->setPriorityPercent(80);
    EXPECT_EQ(w->getPriorityPercent(), 80u);
    ASSERT_TRUE(w->start());
    ASSERT_TRUE(seen.done.waitTimeout(5000));
    EXPECT_TRUE(seen.ran);
    EXPECT_TRUE(seen.finished);
    EXPECT_TRUE(seen.destroyed);
    EXPECT_EQ(seen.name, "AVeryLongWorker");  // 15 bytes
}

TEST(ThreadDetached, EmptyNameKeepsTheCreatorsName)
{
    // A new thread inherits its creator's name; without a name nothing renames it.
    Seen seen;
    std::thread creator([&] {
        pthread_setname_np(pthread_self(), "creator");
        auto* w = new Worker(nullptr, seen);
        EXPECT_TRUE(w->getName().empty());
        EXPECT_TRUE(w->start());
        seen.done.waitTimeout(5000);
    });
    creator.join();
    EXPECT_TRUE(seen.destroyed);
    EXPECT_EQ(seen.name, "creator");
}

TEST(ThreadDetached, StartsOnce)
{
    // A handle already set counts as started; the object then stays its creator's.
    Seen seen;
    auto* w = new Worker("x", seen);
    w->handle() = pthread_self();
    EXPECT_FALSE(w->start());
    delete w;
    EXPECT_TRUE(seen.destroyed);
}

// Whether this process may give a thread a real-time policy (root, or CAP_SYS_NICE).
bool mayUseRoundRobin()
{
    bool allowed = false;
    std::thread probe([&] {
        sched_param param{};
        param.sched_priority = sched_get_priority_min(SCHED_RR);
        allowed = pthread_setschedparam(pthread_self(), SCHED_RR, &param) == 0;
    });
    probe.join();
    return allowed;
}

// Reads the scheduling it runs with.
struct PolicyReader : vantor::ThreadDetached
{
    PolicyReader(bool roundRobin, Seen& s) : ThreadDetached(roundRobin, "policy"), seen(s) {}
    ~PolicyReader() override { seen.done.post(); }
    void* run() override
    {
        sched_param param{};
        pthread_getschedparam(pthread_self(), &policy, &param);
        priority = param.sched_priority;
        seen.ran = true;
        return nullptr;
    }
    Seen& seen;
    static inline int policy = -1, priority = -1;
};

TEST(ThreadDetached, RoundRobinAppliesItsPolicyAndPriority)
{
    if (!mayUseRoundRobin())
        GTEST_SKIP() << "this process may not set a real-time policy";
    Seen seen;
    auto* t = new PolicyReader(true, seen);
    t->setPriorityPercent(50);
    ASSERT_TRUE(t->start());
    ASSERT_TRUE(seen.done.waitTimeout(5000));
    EXPECT_EQ(PolicyReader::policy, SCHED_RR);
    EXPECT_EQ(PolicyReader::priority, 50);  // 1 + 98 * 50 / 100
}

TEST(ThreadDetached, WithoutRoundRobinTheCreatorsPolicyHolds)
{
    int creatorPolicy = -1;
    sched_param creatorParam{};
    pthread_getschedparam(pthread_self(), &creatorPolicy, &creatorParam);
    Seen seen;
    auto* t = new PolicyReader(false, seen);
    t->setPriorityPercent(50);
    ASSERT_TRUE(t->start());
    ASSERT_TRUE(seen.done.waitTimeout(5000));
    EXPECT_EQ(PolicyReader::policy, creatorPolicy);
    EXPECT_EQ(PolicyReader::priority, creatorParam.sched_priority);
}

TEST(ThreadDetached, RoundRobinAtFullPercentStarts)
{
    // Where the system refuses the policy the thread still starts with the inherited one.
    Seen seen;
    auto* t = new PolicyReader(true, seen);
    t->setPriorityPercent(100);
    ASSERT_TRUE(t->start());
    ASSERT_TRUE(seen.done.waitTimeout(5000));
    EXPECT_TRUE(seen.ran);
    vantor::threadYield();
    EXPECT_TRUE(pthread_equal(vantor::currentThread(), pthread_self()));
}

}  // namespace
