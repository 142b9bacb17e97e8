#include "core/util/float_format.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vorn {
namespace {

TEST(FloatFormat, ShortestFixedWithoutTrailingZero) {
    EXPECT_EQ(format_float(2.0f), "2");
    EXPECT_EQ(format_float(0.001f), "0.001");
    EXPECT_EQ(format_float(1e-7f), "0.0000001");
    EXPECT_EQ(format_float(-200.0f), "-200");
    EXPECT_EQ(format_float(0.7f), "0.7");
    EXPECT_EQ(format_float(1000000.0f), "1000000");
    EXPECT_EQ(format_float(1.5e20f), "150000000000000000000");
    EXPECT_EQ(format_float(-0.0f), "-0");
    EXPECT_EQ(format_double(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(format_double(1e-7), "0.0000001");
    // The f32 nearest 0.1 prints as 0.1, not as its widened double.
    EXPECT_EQ(format_float(0.1f), "0.1");
    EXPECT_EQ(format_double(static_cast<double>(0.1f)), "0.10000000149011612");
}

TEST(FloatFormat, NonFinite) {
    EXPECT_EQ(format_float(std::numeric_limits<float>::quiet_NaN()), "NaN");
    EXPECT_EQ(format_float(std::numeric_limits<float>::infinity()), "inf");
    EXPECT_EQ(format_float(-std::numeric_limits<float>::infinity()), "-inf");
    EXPECT_EQ(format_double(std::nan("")), "NaN");
    EXPECT_EQ(format_double(-std::numeric_limits<double>::infinity()), "-inf");
    EXPECT_EQ(format_double(std::numeric_limits<double>::max()).size(), 309u);
    EXPECT_EQ(format_double(5e-324), "0." + std::string(323, '0') + "5");
}

}  // namespace
}  // namespace vorn
