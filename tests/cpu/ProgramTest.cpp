// The project's own 6502 programs (tests/cpu/programs): each checks its own results and
// ends on $F2 with result 0. Cycle counts are pinned as regression values.
#include "ProgramHarness.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

using M6502CPP::M6502;
using namespace cputest;

namespace {

struct ProgramCase {
    const char* name;
    uint64_t cycles;  // from the power-on reset to the trap, both executors
    bool interrupts;  // needs its interrupt entries right after the requesting instruction
};

void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

const ProgramCase kPrograms[] = {
    {"documented", 11221, false},
    {"undocumented", 8520, false},
    {"interrupts", 1252, true},
};

class Programs : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(Programs, PassUnderBothExecutors) {
    const ProgramCase& c = GetParam();
    TestBus stepping;
    stepping.recording = false;
    ASSERT_TRUE(loadProgram(stepping, c.name)) << programPath(c.name);
    const ProgramRun a = runStepping(stepping);
    EXPECT_TRUE(a.finished);
    EXPECT_EQ(a.result, 0u) << "failed check " << a.result;
    EXPECT_EQ(a.cycles, c.cycles);

    TestBus budgeted;
    budgeted.recording = false;
    ASSERT_TRUE(loadProgram(budgeted, c.name));
    const ProgramRun b = runBudgeted(budgeted);
    EXPECT_TRUE(b.finished);
    EXPECT_EQ(b.result, 0u) << "failed check " << b.result;
    EXPECT_EQ(b.cycles, c.cycles);
    EXPECT_EQ(budgeted.ram, stepping.ram);

    // Long runs, ended by the trap through the budget.
    if (!c.interrupts) {
        TestBus longRuns;
        longRuns.recording = false;
        ASSERT_TRUE(loadProgram(longRuns, c.name));
        const ProgramRun l = runBudgeted(longRuns, 1000);
        EXPECT_TRUE(l.finished);
        EXPECT_EQ(l.result, 0u);
        EXPECT_EQ(l.cycles, c.cycles);
        EXPECT_EQ(longRuns.ram, stepping.ram);
    }
}

INSTANTIATE_TEST_SUITE_P(Cpu, Programs, ::testing::ValuesIn(kPrograms),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
