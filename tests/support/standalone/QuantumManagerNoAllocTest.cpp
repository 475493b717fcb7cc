// Counts every operator new of the process, so it runs alone.
#include "support/QuantumManager.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

static std::atomic<long> g_news{0};

// The replacements pair malloc with free; GCC cannot see that through inlining.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

void* operator new(std::size_t n)
{
    ++g_news;
    if (void* p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

struct Periodic : vantor::QuantumTimer
{
    explicit Periodic(uint64_t p) : period(p) {}
    uint64_t quantumElapsed(QuantumTimer*, uint64_t, double) override { return period; }
    uint64_t period;
};

TEST(QuantumManager, AdvanceNeverAllocates)
{
    std::vector<Periodic> timers;
    for (uint64_t i = 0; i < 32; ++i)
        timers.emplace_back(1 + (i * 37) % 300);
    vantor::QuantumManager m(32);
    for (auto& t : timers)
        m.addTimer(&t, 0);

    const long before = g_news.load();
    uint64_t rendered = 0;
    while (rendered < 100000)
        rendered += m.advance(256);
    EXPECT_EQ(g_news.load(), before);
    EXPECT_EQ(m.getEntries().size(), 32u);
}

}  // namespace
