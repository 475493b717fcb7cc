// The machine without ROM images: memory map and processor port, the run loop's cycle
// accounting, the SID path through the media callback, and hostile input.
#include "C64TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace c64_test;

TEST(C64Machine, BuildWithoutScreenCreatesNothing)
{
    fixtures::FakeMediaCallback media;
    C64Emu machine(&media, "", false);
    EXPECT_FALSE(machine.buildMachine(nullptr));
    EXPECT_EQ(machine.getCpu(), nullptr);
    EXPECT_EQ(machine.getVic(), nullptr);
    EXPECT_EQ(machine.getState(), C64Emu::STATE_CONSTRUCTED);
    // Nothing to run, nothing to boot, and no crash.
    EXPECT_EQ(machine.advance(500, kPal), 500u);
    EXPECT_FALSE(machine.bootMachine());
    EXPECT_FALSE(machine.installTune(nullptr, 0, 0, ""));
}

TEST(C64Machine, ProcessorPortLatchesUndrivenBits)
{
    C64Rig rig;
    C64Emu& m = *rig.machine;
    m.writeMemory(0x0000, 0xFF);
    m.writeMemory(0x0001, 0xC8);
    m.writeMemory(0x0000, 0x00);
    // Inputs read 1 on bits 0-2 and 4; bits 3, 6 and 7 keep what was last driven.
    EXPECT_EQ(m.readMemory(0x0001), 0xDF);
    EXPECT_EQ(m.readMemory(0x0000), 0x00);

    // A port write puts the last value written to $0002-$0FFF into RAM under the port.
    m.writeMemory(0x0345, 0x5A);
    m.writeMemory(0x0001, 0x37);
    EXPECT_EQ(m.ramView()[1], 0x5A);
    m.writeMemory(0x0000, 0x2F);
    EXPECT_EQ(m.ramView()[0], 0x5A);
    EXPECT_EQ(m.readMemory(0x0000), 0x2F);
}

TEST(C64Machine, ColourRamReadsItsLowNibble)
{
    C64Rig rig;
    rig.machine->writeMemory(0xD800, 0xAB);
    rig.machine->writeMemory(0xDBFF, 0x37);
    EXPECT_EQ(rig.machine->readMemory(0xD800), 0x0B);
    EXPECT_EQ(rig.machine->readMemory(0xDBFF), 0x07);
    EXPECT_EQ(rig.machine->colourRamAt(0x000), 0xAB);  // the video chip gets the whole byte
}

TEST(C64Machine, PowerOnRamPattern)
{
    C64Rig rig;
    ASSERT_TRUE(rig.machine->bootMachine());
    // The reset loop itself writes the stack; the rest of the pattern is as powered on.
    const uint8_t* ram = rig.machine->ramView();
    EXPECT_EQ(ram[0x0000], 0xFF);
    for (uint32_t a = 0x0001; a <= 0x0040; ++a)
        ASSERT_EQ(ram[a], 0x00) << std::hex << a;
    for (uint32_t a = 0x0041; a <= 0x0080; ++a)
        ASSERT_EQ(ram[a], 0xFF) << std::hex << a;
    for (uint32_t a = 0x0081; a <= 0x00C0; ++a)
        ASSERT_EQ(ram[a], 0x00) << std::hex << a;
    for (uint32_t a = 0xFFC1; a <= 0xFFFF; ++a)
        ASSERT_EQ(ram[a], 0xFF) << std::hex << a;
    for (uint32_t a = 0x8001; a <= 0x8040; ++a)
        ASSERT_EQ(ram[a], 0x00) << std::hex << a;
}

TEST(C64Machine, UltimaxLeavesA000OnTheOpenBus)
{
    C64Rig rig;
    C64Emu& m = *rig.machine;
    m.writeMemory(0x5000, 0x42);
    m.writeMemory(0xC000, 0x43);
    m.writeMemory(0xA000, 0x44);
    m.setExromGame(0, 1);
    m.seedOpenBus(12345);
    int zeros = 0;
    for (int i = 0; i < 4000; ++i)
        zeros += m.readMemory(0xA000) == 0;
    // Three draws in four are 0, and a quarter of the rest (1 in 256) too: about 3004.
    EXPECT_GE(zeros, 2900);
    EXPECT_LE(zeros, 3100);
    EXPECT_EQ(m.readMemory(0x5000), 0x42);
    EXPECT_EQ(m.readMemory(0xC000), 0x43);

    // The generator belongs to the machine: the same seed gives the same values.
    std::vector<uint8_t> first, second;
    m.seedOpenBus(7);
    for (int i = 0; i < 64; ++i)
        first.push_back(uint8_t(m.readMemory(0xA000)));
    m.seedOpenBus(7);
    for (int i = 0; i < 64; ++i)
        second.push_back(uint8_t(m.readMemory(0xA000)));
    EXPECT_EQ(first, second);
}

TEST(C64Machine, ResetWithoutRomsRunsTheFullLimitThenBoots)
{
    C64Rig rig;
    // A zero KERNAL sends the CPU to $0000, where the port's DDR (0) is a BRK: 7 cycles each,
    // until the loop passes 2,999,999 cycles: 428,572 BRKs = 3,000,004 cycles, after the 7 of
    // the power-on reset.
    EXPECT_FALSE(rig.install(fixtures::PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0900).code({0})));
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_READY);
    EXPECT_EQ(rig.machine->getTotalCycles(), 7u + 3'000'004u);

    EXPECT_TRUE(rig.machine->bootMachine());
    EXPECT_EQ(rig.machine->getState(), C64Emu::STATE_RUNNING);
}

TEST(C64Machine, AdvanceReturnsExactlyWhatWasAsked)
{
    C64Rig rig;
    ASSERT_TRUE(rig.install(counterTune()));
    for (const uint64_t n : {1u, 7u, 63u, 1000u, 19656u, 1u, 19656u}) {
        // Use up what the last call ran ahead first.
        const uint64_t ahead = rig.machine->getSurplusCycles();
        if (ahead) {
            ASSERT_EQ(rig.machine->advance(ahead, kPal), ahead);
        }
        const uint64_t before = rig.machine->getTotalCycles();
        EXPECT_EQ(rig.machine->advance(n, kPal), n);
        // Whole instructions run: at most six cycles beyond the request, kept for the next call.
        const uint64_t ran = rig.machine->getTotalCycles() - before;
        EXPECT_GE(ran, n);
        EXPECT_LE(ran, n + 6);
        EXPECT_EQ(rig.machine->getSurplusCycles(), ran - n);
    }
}

TEST(C64Machine, OvershootIsChargedToTheNextCallWithoutRunning)
{
    C64Rig rig;
    ASSERT_TRUE(rig.machine->bootMachine());  // BRK loop: 7 cycles per step
    const uint64_t start = rig.machine->getTotalCycles();
    EXPECT_EQ(rig.machine->advance(1, kPal), 1u);
    const uint64_t ran = rig.machine->getTotalCycles() - start;
    ASSERT_EQ(ran, 7u);
    // Six cycles were run ahead: the next calls use them up before anything runs.
    EXPECT_EQ(rig.machine->advance(4, kPal), 4u);
    EXPECT_EQ(rig.machine->advance(4, kPal), 2u);
    EXPECT_EQ(rig.machine->getTotalCycles() - start, 7u);
    EXPECT_EQ(rig.machine->advance(4, kPal), 4u);
    EXPECT_EQ(rig.machine->getTotalCycles() - start, 14u);
    EXPECT_EQ(rig.machine->advance(0, kPal), 0u);
}

TEST(C64Machine, SidStoresRenderFirstAndCarryTheirDelay)
{
    C64Rig rig;
    ASSERT_TRUE(rig.install(counterTune()));
    const uint64_t installed = rig.machine->getTotalCycles();
    EXPECT_EQ(rig.machine->getCyclesSinceRender(), 0u);
    rig.media.calls.clear();
    rig.media.renderedCycles = 0;
    rig.run(5 * kPalFrame - 1000, 997);  // five whole play calls

    uint64_t lastRender = installed;
    uint64_t lastWrite = installed;
    size_t writes = 0;
    for (size_t i = 0; i < rig.media.calls.size(); ++i) {
        const MediaCall& c = rig.media.calls[i];
        if (c.op == MediaCall::RenderChips) {
            EXPECT_EQ(c.chipKind, 77u);
            EXPECT_EQ(c.value, c.stamp - lastRender);
            lastRender = c.stamp;
        } else if (c.op == MediaCall::WriteRegister) {
            ASSERT_GT(i, 0u);
            // Rendered up to the very cycle of the store.
            EXPECT_EQ(rig.media.calls[i - 1].op, MediaCall::RenderChips);
            EXPECT_EQ(rig.media.calls[i - 1].stamp, c.stamp);
            EXPECT_EQ(c.value, c.stamp - lastWrite);
            EXPECT_EQ(c.rate, kPal);
            lastWrite = c.stamp;
            ++writes;
        }
    }
    EXPECT_EQ(writes, 5u * 25u);
    EXPECT_EQ(rig.media.renderedCycles + rig.machine->getCyclesSinceRender(),
              rig.machine->getTotalCycles() - installed);
}

TEST(C64Machine, SidIsDeafWhileResetting)
{
    C64Rig rig;  // built, not reset: state 1
    ASSERT_EQ(rig.machine->getState(), C64Emu::STATE_RESETTING);
    rig.media.registers[0][0] = 0x12;
    rig.machine->writeMemory(0xD400, 0x55);
    EXPECT_EQ(rig.machine->readMemory(0xD400), 0xFF);
    EXPECT_TRUE(rig.media.calls.empty());
    EXPECT_EQ(rig.media.registers[0][0], 0x12);
}

TEST(C64Machine, SidReadsOutsidePlayNeitherRenderNorDrop)
{
    C64Rig rig;
    ASSERT_FALSE(rig.install(fixtures::PsidBuilder().rsid().flags(psid::kFlagBasic).load(0x0900).code({0})));
    ASSERT_EQ(rig.machine->getState(), C64Emu::STATE_READY);
    rig.media.calls.clear();
    rig.media.registers[0][0x1B] = 0x99;
    EXPECT_EQ(rig.machine->readMemory(0xD41B), 0x99);
    rig.machine->writeMemory(0xD404, 0x41);
    ASSERT_EQ(rig.media.calls.size(), 2u);
    EXPECT_EQ(rig.media.calls[0].op, MediaCall::ReadRegister);
    EXPECT_EQ(rig.media.calls[1].op, MediaCall::WriteRegister);
    EXPECT_EQ(rig.media.calls[1].value, 0u);  // no delay outside a running tune
}

TEST(C64Machine, HostileKeyCodesSpeedsAndClocks)
{
    C64Rig rig;
    ASSERT_TRUE(rig.install(counterTune()));
    C64Emu& m = *rig.machine;
    for (const uint16_t code : {0x0801, 0xFF80, 0x0900, 0xFFFF}) {
        m.pressKey(code);
        m.releaseKey(code);
    }
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (const double speed : {0.0, nan, inf, -1.0, 1e-300, 1e300}) {
        for (const double clock : {0.0, nan, inf, -5.0, 1e-300}) {
            m.setSpeed(speed);
            EXPECT_EQ(m.advance(3 * kPalFrame, clock), 3 * kPalFrame);
        }
    }
    // A clock or speed that means nothing counts as the nominal one.
    C64Rig fresh;
    ASSERT_TRUE(fresh.install(counterTune()));
    fresh.machine->setSpeed(nan);
    fresh.run(4 * kPalFrame, 1000, 0.0);
    const auto frames = captureTimes(fresh.media);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_NEAR(double(frames[2] - frames[1]), double(kPalFrame), 6.0);
}

TEST(C64Machine, RandomRamAsCodeRunsItsCycles)
{
    for (const uint32_t seed : {1u, 2u, 3u, 4u}) {
        C64Rig rig;
        ASSERT_TRUE(rig.machine->bootMachine());
        rig.media.recording = false;
        std::mt19937 rng(seed);
        for (uint32_t a = 2; a < 0x10000; ++a)
            rig.machine->writeMemory(uint16_t(a), uint8_t(rng()));
        rig.machine->getCpu()->PC = uint16_t(rng());
        uint64_t done = 0;
        while (done < 1'000'000) {
            const uint64_t n = std::min<uint64_t>(1'000'000 - done, 1 + rng() % 5000);
            const uint64_t r = rig.machine->advance(n, kPal);
            ASSERT_GT(r, 0u) << "seed " << seed;
            ASSERT_LE(r, n) << "seed " << seed;
            done += r;
        }
        EXPECT_EQ(done, 1'000'000u) << "seed " << seed;
    }
}

}  // namespace
