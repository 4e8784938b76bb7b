// Floats into int and unit ranges, the non-finite ones included.

#include "float_conversion.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

using talvek::clamp_to_unit;
using talvek::truncate_to_int;

namespace {

TEST(TruncateToInt, RoundsTowardZeroAndSaturates) {
    EXPECT_EQ(truncate_to_int(2.9f), 2);
    EXPECT_EQ(truncate_to_int(-2.9f), -2);
    EXPECT_EQ(truncate_to_int(2147483520.0f), 2147483520);  // largest float below 2^31
    EXPECT_EQ(truncate_to_int(2147483648.0f), std::numeric_limits<int32_t>::max());
    EXPECT_EQ(truncate_to_int(-2147483648.0f), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(truncate_to_int(-1e20f), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(truncate_to_int(std::numeric_limits<float>::infinity()),
              std::numeric_limits<int32_t>::max());
    EXPECT_EQ(truncate_to_int(std::numeric_limits<float>::quiet_NaN()), 0);
}

TEST(ClampToUnit, KeepsZeroToOneAndTakesNanAsZero) {
    EXPECT_EQ(clamp_to_unit(0.25f), 0.25f);
    EXPECT_EQ(clamp_to_unit(1.5f), 1.0f);
    EXPECT_EQ(clamp_to_unit(-0.5f), 0.0f);
    EXPECT_EQ(clamp_to_unit(std::numeric_limits<float>::infinity()), 1.0f);
    EXPECT_EQ(clamp_to_unit(-std::numeric_limits<float>::infinity()), 0.0f);
    EXPECT_EQ(clamp_to_unit(std::numeric_limits<float>::quiet_NaN()), 0.0f);
}

}  // namespace
