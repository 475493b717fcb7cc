// The random-off switch cannot be undone, so it lives in its own process.
#include "platform/PlatformTools.h"

#include <gtest/gtest.h>

#include <cstdlib>

TEST(Random, ScaledFromRandUntilSwitchedOff)
{
    Psrand(1234);
    const int first = rand();
    Psrand(1234);
    EXPECT_EQ(PUrand(), first * 4.656612875245797e-10);
    Psrand(1234);
    EXPECT_EQ(PBrand(), first * 9.313225750491594e-10 - 1.0);
    Psrand(1234);
    EXPECT_EQ(PUrandf(), float(first * 4.656612875245797e-10));
    for (int i = 0; i < 1000; ++i) {
        const double u = PUrand(), b = PBrand();
        EXPECT_TRUE(u >= 0.0 && u <= 1.0);
        EXPECT_TRUE(b >= -1.0 && b <= 1.0);
    }

    Psrand(99);
    PRandOFF();
    EXPECT_EQ(PUrand(), 0.0);
    EXPECT_EQ(PUrandf(), 0.0f);
    EXPECT_EQ(PBrand(), 0.0);
    EXPECT_EQ(PBrandf(), 0.0f);
    const int next = rand();  // not advanced by the calls above
    srand(99);
    EXPECT_EQ(next, rand());
    EXPECT_TRUE(g_PRandOFF);
}
