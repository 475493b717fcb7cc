#include "support/QuantumManager.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace {

using vantor::QuantumManager;
using vantor::QuantumTimer;

// Answers a scripted list of intervals and logs every call under its name.
struct ScriptTimer : QuantumTimer
{
    ScriptTimer(std::string n, std::deque<uint64_t> answers, std::vector<std::string>* log)
        : name(std::move(n)), script(std::move(answers)), calls(log)
    {
    }
    uint64_t quantumElapsed(QuantumTimer* self, uint64_t argument, double rate) override
    {
        EXPECT_EQ(self, this);
        lastArgument = argument;
        lastRate = rate;
        if (calls)
            calls->push_back(name);
        if (script.empty())
            return kNever;
        const uint64_t next = script.front();
        script.pop_front();
        return next;
    }
    std::string name;
    std::deque<uint64_t> script;
    std::vector<std::string>* calls;
    uint64_t lastArgument = 0;
    double lastRate = 0;
};

TEST(QuantumManager, TwoTimersWalkthrough)
{
    std::vector<std::string> log;
    ScriptTimer a("A", {100, 200, 50}, &log), b("B", {300, 1000}, &log);
    QuantumManager m;
    m.addTimer(&a, 1);
    m.addTimer(&b, 2);
    log.clear();

    EXPECT_EQ(m.advance(256), 100u);
    EXPECT_EQ(m.getNow(), 100u);
    EXPECT_TRUE(log.empty());

    EXPECT_EQ(m.advance(156), 156u);  // A fires, due again at 300 behind B
    EXPECT_EQ(log, std::vector<std::string>{"A"});
    EXPECT_EQ(m.getNow(), 256u);
    ASSERT_EQ(m.getEntries().size(), 2u);
    EXPECT_EQ(m.getEntries()[0].timer, &b);
    EXPECT_EQ(m.getEntries()[1].due, 300u);

    EXPECT_EQ(m.advance(256), 44u);
    EXPECT_EQ(m.getNow(), 300u);

    EXPECT_EQ(m.advance(212), 0u);  // B fires; A is due at 300 as well
    EXPECT_EQ(log, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(m.advance(212), 50u);  // A fires, due again at 350
    EXPECT_EQ(log, (std::vector<std::string>{"A", "B", "A"}));
    EXPECT_EQ(m.getNow(), 350u);
    EXPECT_EQ(a.lastArgument, 1u);
    EXPECT_EQ(b.lastArgument, 2u);
}

TEST(QuantumManager, EqualTicksFireInOrderOfAddition)
{
    std::vector<std::string> log;
    ScriptTimer t1("1", {10, 1000}, &log), t2("2", {10, 1000}, &log), t3("3", {10, 1000}, &log);
    QuantumManager m(4);
    m.setRate(48000.0);
    for (ScriptTimer* t : {&t1, &t2, &t3})
        m.addTimer(t, 0);
    log.clear();
    EXPECT_EQ(m.advance(64), 10u);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(m.advance(54), i < 2 ? 0u : 54u);
    EXPECT_EQ(log, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(t1.lastRate, 48000.0);
}

TEST(QuantumManager, AdvanceEdges)
{
    ScriptTimer t("t", {100}, nullptr);
    QuantumManager m;
    m.addTimer(&t, 0);
    EXPECT_EQ(m.advance(0), 0u);  // nothing due
    EXPECT_EQ(m.getNow(), 0u);
    EXPECT_FALSE(m.isFrontFired());
    EXPECT_EQ(m.advance(100), 100u);
    EXPECT_TRUE(m.isFrontFired());

    // Due now with frames 0: 0 and the flag set.
    QuantumManager m2;
    ScriptTimer z("z", {0, 5}, nullptr);
    m2.addTimer(&z, 0);
    EXPECT_EQ(m2.advance(0), 0u);
    EXPECT_TRUE(m2.isFrontFired());
    EXPECT_EQ(m2.getNow(), 0u);

    // An empty manager just counts.
    QuantumManager empty;
    EXPECT_EQ(empty.advance(512), 512u);
    EXPECT_EQ(empty.getNow(), 512u);
}

TEST(QuantumManager, OverdueFirstEntryIsDueAtOnce)
{
    std::vector<std::string> log;
    ScriptTimer t("t", {~uint64_t(0) - 9}, &log);  // answers -10 ticks
    QuantumManager m;
    m.advance(50);
    m.addTimer(&t, 0);
    ASSERT_EQ(m.getEntries()[0].due, 40u);
    EXPECT_EQ(m.advance(30), 0u);
    EXPECT_TRUE(m.isFrontFired());
    EXPECT_EQ(m.getNow(), 50u);
}

TEST(QuantumManager, CancelRemovesEarlierEntryOnly)
{
    ScriptTimer t("t", {100, 30}, nullptr), other("o", {500}, nullptr);
    QuantumManager m;
    m.addTimer(&t, 0);
    m.addTimer(&t, 0);  // due 30, first
    m.addTimer(&other, 0);
    m.advance(10);
    EXPECT_EQ(m.cancel(&t), 20u);
    ASSERT_EQ(m.getEntries().size(), 2u);
    EXPECT_EQ(m.getEntries()[0].due, 100u);

    // Absent timer: 0, flag kept.
    ScriptTimer absent("x", {}, nullptr);
    EXPECT_EQ(m.advance(1000), 90u);
    EXPECT_TRUE(m.isFrontFired());
    EXPECT_EQ(m.cancel(&absent), 0u);
    EXPECT_TRUE(m.isFrontFired());
    EXPECT_EQ(m.cancel(&other), 400u);
    EXPECT_FALSE(m.isFrontFired());
}

TEST(QuantumManager, RescheduleAndRebase)
{
    ScriptTimer a("a", {100}, nullptr), b("b", {250}, nullptr), c("c", {10}, nullptr);
    QuantumManager m;
    m.addTimer(&a, 7);
    m.addTimer(&b, 8);
    m.advance(40);
    m.rebase();
    EXPECT_EQ(m.getNow(), 0u);
    EXPECT_EQ(m.getEntries()[0].due, 60u);
    EXPECT_EQ(m.getEntries()[1].due, 210u);

    m.reschedule(&a, 300);  // a moves behind b
    EXPECT_EQ(m.getEntries()[0].timer, &b);
    EXPECT_EQ(m.getEntries()[1].due, 300u);
    m.rescheduleCookie(8, 500);
    EXPECT_EQ(m.getEntries()[0].timer, &a);
    EXPECT_EQ(m.getEntries()[1].due, 500u);
    m.reschedule(&c, 1);  // absent: nothing changes
    EXPECT_EQ(m.getEntries().size(), 2u);
}

TEST(QuantumManager, ReserveBeyondMaximumThrows)
{
    EXPECT_THROW(QuantumManager(~size_t(0)), std::length_error);
}

}  // namespace
