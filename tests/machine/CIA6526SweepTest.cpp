// Seeded sweeps of random register writes, reads, pin changes, TOD pulses and runs: one CIA is
// stepped a cycle at a time, the other takes the same cycles through run(), which skips quiet
// stretches at once. Both must read and report exactly the same; the sanitizer build also checks
// that no byte is out of range on the way.
#include "CiaTestListener.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using ciatest::CiaRig;

// Registers that a read leaves alone.
constexpr uint32_t kPlainRegisters[] = {2, 3, 4, 5, 6, 7, 9, 10, 12, 14, 15};

struct Sweep {
    CiaRig stepped;
    CiaRig runner;
    std::mt19937 rng;
    uint64_t op = 0;
    uint32_t seen = 0;  // bit per kind of listener call

    explicit Sweep(uint32_t seed) : rng(seed) {}

    uint32_t below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(rng); }

    template <class F>
    void both(F&& f)
    {
        f(stepped);
        f(runner);
    }

    uint8_t randomValue(uint32_t reg)
    {
        switch (reg & 15) {
        case 5:
        case 7: return below(8) ? 0 : uint8_t(below(256));  // short periods, mostly
        case 4:
        case 6: return uint8_t(below(24));
        case 14:
        case 15: return uint8_t(below(256) & (below(4) ? 0x7F : 0xFF));
        default: return uint8_t(below(256));
        }
    }

    void one()
    {
        ++op;
        stepped.bus.stepNo = runner.bus.stepNo = op;  // calls are compared per operation
        switch (below(12)) {
        case 0:
        case 1:
        case 2: {
            const uint32_t reg = below(4) ? below(16) : below(1u << 16);  // the chip sees reg & 15
            const uint8_t value = randomValue(reg);
            both([&](CiaRig& r) { r.cia.writeRegister(reg, value); });
            break;
        }
        case 3: {
            const uint32_t reg = below(256);
            const uint8_t a = stepped.cia.readRegister(reg);
            const uint8_t b = runner.cia.readRegister(reg);
            ASSERT_EQ(a, b) << "read " << reg;
            break;
        }
        case 4: {
            const uint8_t a = uint8_t(below(256)), b = uint8_t(below(256));
            both([&](CiaRig& r) {
                r.bus.pinsA = a;
                r.bus.pinsB = b;
            });
            break;
        }
        case 5: {
            const uint32_t kind = below(8);
            const int level = int(below(2));
            both([&](CiaRig& r) {
                switch (kind) {
                case 0: r.cia.todPulse(level); break;
                case 1: r.cia.todPulseAt(level); break;
                case 2: r.cia.todTick(); break;
                case 3: r.cia.setFlagPin(level); break;
                case 4: r.cia.setSerialInput(level); break;
                case 5: r.cia.releaseInputs(); break;
                case 6:
                    if (level)
                        r.cia.reset();
                    break;
                default:
                    for (int i = 0; i < 30; ++i)
                        r.cia.todPulse(true);
                    break;
                }
            });
            break;
        }
        default: {
            const uint64_t n = below(3) ? below(8) : below(600);
            for (uint64_t i = 0; i < n; ++i)
                stepped.cia.step();
            runner.cia.run(n);
            break;
        }
        }
        for (const uint32_t reg : kPlainRegisters)
            ASSERT_EQ(stepped.cia.readRegister(reg), runner.cia.readRegister(reg)) << "register " << reg;
        ASSERT_EQ(stepped.cia.portAOutput(), runner.cia.portAOutput());
        ASSERT_EQ(stepped.cia.portBOutput(), runner.cia.portBOutput());
        ASSERT_EQ(toString(stepped.bus.calls), toString(runner.bus.calls));
        for (const ciatest::CiaCall& c : stepped.bus.calls)
            seen |= 1u << c.kind;
        stepped.bus.calls.clear();
        runner.bus.calls.clear();
    }
};

TEST(CiaSweep, RunMatchesSingleStepsUnderRandomUse)
{
    for (const uint32_t seed : {1u, 2u, 3u, 28u, 6526u, 20240501u}) {
        Sweep s(seed);
        for (int i = 0; i < 20000; ++i) {
            s.one();
            if (::testing::Test::HasFatalFailure()) {
                ADD_FAILURE() << "seed " << seed << ", operation " << s.op;
                return;
            }
        }
        // Every kind of listener call came up.
        EXPECT_EQ(s.seen, 0x3Fu) << "seed " << seed;
    }
}

TEST(CiaSweep, RunZeroDoesNothing)
{
    CiaRig rig;
    rig.write(13, 0x81);
    rig.write(14, 0x11);
    rig.cia.run(0);
    EXPECT_EQ(rig.read(14), 0x00);
    EXPECT_TRUE(rig.bus.calls.empty());
}

TEST(CiaSweep, RunPendingStepsTheAddedCycles)
{
    CiaRig a, b;
    for (CiaRig* r : {&a, &b}) {
        r->writeLatchA(3);
        r->write(14, 0x11);
    }
    a.cia.addPendingCycles(10);
    a.cia.runPending();
    a.cia.runPending();  // nothing left
    b.cia.run(10);
    EXPECT_EQ(a.counterA(), b.counterA());
    EXPECT_EQ(a.read(13), 0x01);
    EXPECT_EQ(b.read(13), 0x01);
}

TEST(CiaSweep, NullListenerReadsPinsHigh)
{
    mos6526_new cia(nullptr, "CIA2");
    EXPECT_EQ(cia.readRegister(0), 0xFF);
    cia.writeRegister(2, 0xFF);
    cia.writeRegister(0, 0x12);
    cia.writeRegister(13, 0x9F);
    cia.writeRegister(14, 0x11);
    cia.reset();
    cia.run(1000);
    EXPECT_EQ(cia.readRegister(0), 0xFF);
    EXPECT_EQ(cia.tag(), "CIA2");
    EXPECT_EQ(cia.getOwner(), nullptr);
}

}  // namespace
