#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "core/format/json_number.hpp"

namespace vorn {
namespace {

std::string f32(float v) {
    std::string s;
    append_json_f32(s, v);
    return s;
}
std::string f64(double v) {
    std::string s;
    append_json_f64(s, v);
    return s;
}

TEST(JsonNumber, F32Layouts) {
    EXPECT_EQ(f32(1.0f), "1.0");
    EXPECT_EQ(f32(0.5f), "0.5");
    EXPECT_EQ(f32(12.25f), "12.25");
    EXPECT_EQ(f32(100.0f), "100.0");
    EXPECT_EQ(f32(0.1f), "0.1");
    EXPECT_EQ(f32(0.0001f), "0.0001");
    EXPECT_EQ(f32(-2.5f), "-2.5");
    // Plain notation up to 13 integer digits, scientific from 14.
    EXPECT_EQ(f32(1e12f), "1000000000000.0");
    EXPECT_EQ(f32(1e13f), "1e13");
    EXPECT_EQ(f32(1.5e20f), "1.5e20");
    // Plain down to six leading zeros after the point, scientific below.
    EXPECT_EQ(f32(1e-6f), "0.000001");
    EXPECT_EQ(f32(1e-7f), "1e-7");
    EXPECT_EQ(f32(1.25e-7f), "1.25e-7");
    EXPECT_EQ(f32(std::numeric_limits<float>::max()), "3.4028235e38");
}

TEST(JsonNumber, F64Layouts) {
    EXPECT_EQ(f64(0.1), "0.1");
    EXPECT_EQ(f64(1e15), "1000000000000000.0");
    EXPECT_EQ(f64(1e16), "1e16");
    EXPECT_EQ(f64(1e-5), "0.00001");
    EXPECT_EQ(f64(1e-6), "1e-6");
    EXPECT_EQ(f64(123456.789), "123456.789");
    EXPECT_EQ(f64(5e-324), "5e-324");
    // 0.1f widened exactly needs all its double digits.
    EXPECT_EQ(f64(static_cast<double>(0.1f)), "0.10000000149011612");
}

TEST(JsonNumber, ZerosAndNonFinite) {
    EXPECT_EQ(f32(0.0f), "0.0");
    EXPECT_EQ(f32(-0.0f), "-0.0");
    EXPECT_EQ(f64(0.0), "0.0");
    EXPECT_EQ(f64(-0.0), "-0.0");
    EXPECT_EQ(f32(std::numeric_limits<float>::quiet_NaN()), "null");
    EXPECT_EQ(f32(-std::numeric_limits<float>::infinity()), "null");
    EXPECT_EQ(f64(std::numeric_limits<double>::infinity()), "null");
}

// Whatever the layout, the text reads back to the same value.
TEST(JsonNumber, RandomValuesReadBackExactly) {
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        std::uint32_t bits = rng();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v))
            continue;
        std::string s = f32(v);
        float back = 0;
        auto r = std::from_chars(s.data(), s.data() + s.size(), back);
        ASSERT_EQ(r.ec, std::errc()) << s;
        ASSERT_EQ(back, v) << s;

        double d =
            std::ldexp(static_cast<double>(rng()) + 0.5, static_cast<int>(rng() % 200) - 100);
        std::string t = f64(d);
        double dback = 0;
        std::from_chars(t.data(), t.data() + t.size(), dback);
        ASSERT_EQ(dback, d) << t;
    }
}

}  // namespace
}  // namespace vorn
