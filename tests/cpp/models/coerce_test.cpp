#include "core/models/coerce.hpp"

#include <gtest/gtest.h>

namespace vorn {
namespace {

TEST(Coerce, FiniteF32) {
    EXPECT_EQ(coerce_finite_f32("v", JsonValue::unsigned_int(3)).value(), 3.0f);
    EXPECT_EQ(coerce_finite_f32("v", JsonValue::signed_int(-5)).value(), -5.0f);
    EXPECT_EQ(coerce_finite_f32("v", JsonValue::number(0.1)).value(), 0.1f);
    auto wrong = coerce_finite_f32("v", JsonValue::boolean(true));
    EXPECT_EQ(wrong.error().message(), "parameter 'v' expects a finite number");
    EXPECT_EQ(coerce_finite_f32("v", JsonValue::string("1")).error().kind,
              ParamError::Kind::WrongType);
    EXPECT_EQ(coerce_finite_f32("v", JsonValue()).error().kind, ParamError::Kind::WrongType);
    EXPECT_EQ(coerce_finite_f32("v", JsonValue::number(1e39)).error().message(),
              "parameter 'v' out of range: not finite");
}

TEST(Coerce, PositiveAndRange) {
    EXPECT_EQ(coerce_positive_f32("tau_m", JsonValue::unsigned_int(0)).error().message(),
              "parameter 'tau_m' out of range: must be > 0");
    EXPECT_EQ(coerce_positive_f32("tau_m", JsonValue::number(1e-30)).value(), 1e-30f);
    EXPECT_EQ(coerce_f32_in_range("v", JsonValue::number(50.5), -100.0f, 50.0f).error().message(),
              "parameter 'v' out of range: must be in [-100, 50]");
    EXPECT_EQ(coerce_f32_in_range("v", JsonValue::unsigned_int(50), -100.0f, 50.0f).value(), 50.0f);
    EXPECT_EQ(coerce_f32_in_range("t", JsonValue::number(0.0001), 0.001f, 10000.0f).error().detail,
              "must be in [0.001, 10000]");
    // Type is checked before the range.
    EXPECT_EQ(coerce_f32_in_range("v", JsonValue::boolean(false), 0.0f, 1.0f).error().kind,
              ParamError::Kind::WrongType);
}

}  // namespace
}  // namespace vorn
