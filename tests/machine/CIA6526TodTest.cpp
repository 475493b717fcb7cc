// The time-of-day clock: driven only by its input pulses, BCD rollovers with AM/PM, the read
// latch, halting on hour writes and the alarm.
#include "CiaTestListener.h"

#include <gtest/gtest.h>

#include <array>

namespace {

using ciatest::CiaCall;
using ciatest::CiaRig;
using Time = std::array<uint8_t, 4>;  // hours, minutes, seconds, tenths

// Hours first (latches), tenths last (releases): one consistent reading.
Time readTime(CiaRig& rig) { return {rig.read(11), rig.read(10), rig.read(9), rig.read(8)}; }

// Hours first (halts), tenths last (runs).
void setTime(CiaRig& rig, const Time& t)
{
    rig.write(11, t[0]);
    rig.write(10, t[1]);
    rig.write(9, t[2]);
    rig.write(8, t[3]);
}

void pulse(CiaRig& rig, int n)
{
    for (int i = 0; i < n; ++i)
        rig.cia.todPulse(true);
}

TEST(CiaTod, StartsHaltedAtPowerOnTime)
{
    CiaRig fresh;
    EXPECT_EQ(readTime(fresh), (Time{0x91, 0x01, 0x00, 0x00}));

    CiaRig rig;
    setTime(rig, {0x05, 0x10, 0x20, 0x03});
    rig.cia.reset();
    EXPECT_EQ(readTime(rig), (Time{0x91, 0x01, 0x00, 0x00}));
    pulse(rig, 100);
    EXPECT_EQ(readTime(rig), (Time{0x91, 0x01, 0x00, 0x00}));
    rig.write(8, 0x00);
    pulse(rig, 6);
    EXPECT_EQ(readTime(rig), (Time{0x91, 0x01, 0x00, 0x01}));
}

TEST(CiaTod, DividerFollowsCraBit7AndStepsNeverTick)
{
    for (const bool fifty : {false, true}) {
        CiaRig rig;
        rig.write(14, fifty ? 0x80 : 0x00);
        setTime(rig, {0x01, 0x00, 0x00, 0x00});
        rig.step(100000);
        EXPECT_EQ(readTime(rig), (Time{0x01, 0x00, 0x00, 0x00}));
        std::vector<int> changesAt;
        uint8_t tenths = 0;
        for (int i = 1; i <= 30; ++i) {
            rig.cia.todPulse(true);
            rig.cia.todPulse(false);  // a low level is no pulse
            const uint8_t now = rig.read(8);
            if (now != tenths)
                changesAt.push_back(i);
            tenths = now;
        }
        const std::vector<int> want = fifty ? std::vector<int>{5, 10, 15, 20, 25, 30} : std::vector<int>{6, 12, 18, 24, 30};
        EXPECT_EQ(changesAt, want) << "50 Hz " << fifty;
    }
}

TEST(CiaTod, RollsOverInBcdWithAmPm)
{
    const struct {
        Time set;  // as written
        Time after;
    } kCases[] = {
        {{0x01, 0x00, 0x00, 0x08}, {0x01, 0x00, 0x00, 0x09}},
        {{0x01, 0x00, 0x00, 0x09}, {0x01, 0x00, 0x01, 0x00}},
        {{0x01, 0x00, 0x09, 0x09}, {0x01, 0x00, 0x10, 0x00}},
        {{0x01, 0x00, 0x59, 0x09}, {0x01, 0x01, 0x00, 0x00}},
        {{0x01, 0x09, 0x59, 0x09}, {0x01, 0x10, 0x00, 0x00}},
        {{0x09, 0x59, 0x59, 0x09}, {0x10, 0x00, 0x00, 0x00}},
        {{0x89, 0x59, 0x59, 0x09}, {0x90, 0x00, 0x00, 0x00}},
        {{0x11, 0x59, 0x59, 0x09}, {0x92, 0x00, 0x00, 0x00}},  // 11 AM -> 12 PM
        {{0x12, 0x59, 0x59, 0x09}, {0x81, 0x00, 0x00, 0x00}},  // written 12 AM is stored 12 PM -> 1 PM
        {{0x91, 0x59, 0x59, 0x09}, {0x12, 0x00, 0x00, 0x00}},  // 11 PM -> 12 AM
        {{0x92, 0x59, 0x59, 0x09}, {0x01, 0x00, 0x00, 0x00}},  // stored 12 AM -> 1 AM
    };
    for (const auto& c : kCases) {
        CiaRig rig;
        setTime(rig, c.set);
        pulse(rig, 6);
        EXPECT_EQ(readTime(rig), c.after) << "set " << std::hex << int(c.set[0]) << ":" << int(c.set[1]) << ":"
                                          << int(c.set[2]) << "." << int(c.set[3]);
    }
}

TEST(CiaTod, TwelveWrittenToTheClockFlipsPm)
{
    for (const auto& [written, stored] : {std::pair{0x12, 0x92}, std::pair{0x92, 0x12}, std::pair{0x11, 0x11}}) {
        CiaRig rig;
        rig.write(11, uint8_t(written));
        EXPECT_EQ(rig.read(11), stored) << "written " << written;
    }
}

TEST(CiaTod, HoursReadLatchesUntilTenthsAreRead)
{
    CiaRig rig;
    setTime(rig, {0x01, 0x59, 0x59, 0x09});
    EXPECT_EQ(rig.read(11), 0x01);
    pulse(rig, 20);  // three tenths: 02:00:00.2
    EXPECT_EQ(rig.read(10), 0x59);
    EXPECT_EQ(rig.read(9), 0x59);
    EXPECT_EQ(rig.read(8), 0x09);
    EXPECT_EQ(rig.read(9), 0x00);
    EXPECT_EQ(readTime(rig), (Time{0x02, 0x00, 0x00, 0x02}));
    // The clock ran on behind the latch, and a second hours read keeps the first latch.
    rig.read(11);
    pulse(rig, 6);
    EXPECT_EQ(rig.read(11), 0x02);
    EXPECT_EQ(rig.read(8), 0x02);
    EXPECT_EQ(rig.read(8), 0x03);
}

TEST(CiaTod, HourWritesHaltAndTenthsWritesRunEitherTarget)
{
    const struct {
        bool runningBefore;
        bool alarmTarget;
        uint32_t reg;
        bool runningAfter;
    } kCases[] = {
        {true, false, 11, false}, {true, true, 11, false},  {false, false, 8, true},
        {false, true, 8, true},   {false, false, 9, false}, {true, true, 10, true},
    };
    for (const auto& c : kCases) {
        CiaRig rig;
        rig.write(11, 0x01);
        if (c.runningBefore)
            rig.write(8, 0x00);
        rig.write(15, c.alarmTarget ? 0x80 : 0x00);
        rig.write(c.reg, 0x01);
        rig.write(15, 0x00);
        const Time before = readTime(rig);
        pulse(rig, 60);
        EXPECT_EQ(readTime(rig) != before, c.runningAfter) << "reg " << c.reg << " alarm " << c.alarmTarget;
    }
}

TEST(CiaTod, AlarmRaisesIcrBit2AndTheLineTwoStepsLater)
{
    CiaRig rig;
    rig.write(15, 0x80);
    setTime(rig, {0x01, 0x02, 0x03, 0x05});  // alarm 01:02:03.5
    rig.write(15, 0x00);
    setTime(rig, {0x01, 0x02, 0x03, 0x04});
    rig.write(13, 0x84);
    pulse(rig, 5);
    EXPECT_TRUE(rig.bus.only(CiaCall::Irq).empty());
    rig.cia.todPulse(true);  // the sixth pulse reaches the alarm
    rig.step();
    EXPECT_TRUE(rig.bus.only(CiaCall::Irq).empty());
    rig.step();
    EXPECT_EQ(toString(rig.bus.only(CiaCall::Irq)), "irq1@2");
    EXPECT_EQ(rig.read(13), 0x84);

    // Staying on the alarm time raises it no second time; the next match does.
    pulse(rig, 5);
    EXPECT_EQ(rig.read(13), 0x00);
    rig.write(15, 0x80);
    rig.write(8, 0x07);
    pulse(rig, 6);
    EXPECT_EQ(rig.read(13) & 0x04, 0);
    pulse(rig, 6);
    EXPECT_EQ(rig.read(13) & 0x04, 0x04);
}

TEST(CiaTod, TwelveWrittenToTheAlarmIsNotFlipped)
{
    CiaRig rig;
    rig.write(15, 0x80);
    setTime(rig, {0x12, 0x00, 0x00, 0x00});  // 12 AM as written
    rig.write(15, 0x00);
    setTime(rig, {0x91, 0x59, 0x59, 0x09});
    pulse(rig, 6);
    EXPECT_EQ(readTime(rig), (Time{0x12, 0x00, 0x00, 0x00}));
    EXPECT_EQ(rig.read(13), 0x04);
}

TEST(CiaTod, TickIgnoresHaltAndAlarmPulseAtIgnoresTheLevel)
{
    CiaRig rig;  // halted at power-on
    for (int i = 0; i < 6; ++i)
        rig.cia.todTick();
    EXPECT_EQ(readTime(rig), (Time{0x91, 0x01, 0x00, 0x01}));

    rig.write(15, 0x80);
    setTime(rig, {0x91, 0x01, 0x00, 0x02});
    rig.write(15, 0x00);
    for (int i = 0; i < 6; ++i)
        rig.cia.todTick();
    EXPECT_EQ(rig.read(8), 0x02);
    EXPECT_EQ(rig.read(13), 0x00);  // no alarm from a tick

    rig.write(8, 0x01);
    for (int i = 0; i < 6; ++i)
        rig.cia.todPulseAt(0);
    EXPECT_EQ(rig.read(8), 0x02);
    EXPECT_EQ(rig.read(13), 0x04);
}

TEST(CiaTod, AnyWrittenByteKeepsTheClockInRange)
{
    // Non-BCD bytes count on without fault and come back to valid times.
    CiaRig rig;
    setTime(rig, {0x1F, 0x7F, 0xFA, 0x0F});
    pulse(rig, 6 * 2000);
    const Time t = readTime(rig);
    EXPECT_LE(t[3], 0x09);
    EXPECT_LE(t[2] & 0x0F, 0x09);
}

}  // namespace
