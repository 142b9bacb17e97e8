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

TEST(JsonNumber, Layouts) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const float max = std::numeric_limits<float>::max();
    // Plain notation up to 13 integer digits and down to six leading zeros
    // after the point, scientific beyond; zeros keep their sign, non-finite is null.
    const std::pair<float, const char*> f32_cases[] = {
        {1.0f, "1.0"},         {0.5f, "0.5"},
        {12.25f, "12.25"},     {100.0f, "100.0"},
        {0.1f, "0.1"},         {0.0001f, "0.0001"},
        {-2.5f, "-2.5"},       {1e12f, "1000000000000.0"},
        {1e13f, "1e13"},       {1.5e20f, "1.5e20"},
        {1e-6f, "0.000001"},   {1e-7f, "1e-7"},
        {1.25e-7f, "1.25e-7"}, {max, "3.4028235e38"},
        {0.0f, "0.0"},         {-0.0f, "-0.0"},
        {nan, "null"},         {-inf, "null"}};
    for (const auto& [v, text] : f32_cases)
        EXPECT_EQ(f32(v), text);
    // 0.1f widened exactly needs all its double digits.
    const std::pair<double, const char*> f64_cases[] = {
        {0.1, "0.1"},       {1e15, "1000000000000000.0"},
        {1e16, "1e16"},     {1e-5, "0.00001"},
        {1e-6, "1e-6"},     {123456.789, "123456.789"},
        {5e-324, "5e-324"}, {0.1f, "0.10000000149011612"},
        {0.0, "0.0"},       {-0.0, "-0.0"},
        {inf, "null"}};
    for (const auto& [v, text] : f64_cases)
        EXPECT_EQ(f64(v), text);
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
