#include "platform/SaturatingCast.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

using vantor::saturatingCast;

TEST(SaturatingCast, NanAndInfinities)
{
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(saturatingCast<int32_t>(std::nan("")), 0);
    EXPECT_EQ(saturatingCast<int32_t>(inf), INT32_MAX);
    EXPECT_EQ(saturatingCast<int32_t>(-inf), INT32_MIN);
    EXPECT_EQ(saturatingCast<uint8_t>(std::nanf("")), 0);
    EXPECT_EQ(saturatingCast<int64_t>(-inf), INT64_MIN);
}

TEST(SaturatingCast, RangeEdges)
{
    EXPECT_EQ(saturatingCast<int64_t>(9.3e18), INT64_MAX);     // just above 2^63
    EXPECT_EQ(saturatingCast<int64_t>(-9.3e18), INT64_MIN);
    EXPECT_EQ(saturatingCast<uint64_t>(1.9e19), UINT64_MAX);
    EXPECT_EQ(saturatingCast<int32_t>(2147483647.5), INT32_MAX);
    EXPECT_EQ(saturatingCast<int32_t>(2147483646.9), 2147483646);
    EXPECT_EQ(saturatingCast<int32_t>(2147483648.0f), INT32_MAX);  // float rounds the bound up
    EXPECT_EQ(saturatingCast<uint16_t>(-0.5), 0);
    EXPECT_EQ(saturatingCast<uint16_t>(65535.9), 65535);
    EXPECT_EQ(saturatingCast<int8_t>(-128.7), -128);
}

TEST(SaturatingCast, TruncatesTowardZero)
{
    EXPECT_EQ(saturatingCast<int32_t>(2.9), 2);
    EXPECT_EQ(saturatingCast<int32_t>(-2.9), -2);
    static_assert(saturatingCast<int16_t>(1e9) == INT16_MAX);
}
