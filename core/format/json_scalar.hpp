#pragma once
// JsonScalar: one scalar value as the streaming reader delivers it, with the
// conversions that record readers apply to it and the texts of their errors.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>

#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

struct JsonScalar {
    enum class Type : std::uint8_t { Null, Bool, UInt, Int, Double, String };

    Type type = Type::Null;
    bool b = false;
    std::uint64_t u = 0;
    std::int64_t i = 0;     // negative integers only
    double d = 0.0;         // finite
    std::string_view text;  // string content, or the number's source text for Double
};

// "null", "boolean `true`", "integer `5`", "floating point `1.5`", "string \"x\"".
std::string describe(const JsonScalar& s);
// "invalid type: {described}, expected {expected}".
std::string invalid_type(const JsonScalar& s, std::string_view expected);

JsonValue to_json_value(const JsonScalar& s);

// Each conversion returns the value, or the error text when the scalar does not fit.
std::expected<std::string_view, std::string> to_string_view(const JsonScalar& s);
std::expected<std::uint32_t, std::string> to_u32(const JsonScalar& s);
std::expected<std::uint64_t, std::string> to_u64(const JsonScalar& s);
// Any number, rounded to the nearest f32 (beyond the f32 range: an infinity).
std::expected<float, std::string> to_f32(const JsonScalar& s);
// Any number as f64 (integers rounded to the nearest double).
std::expected<double, std::string> to_f64(const JsonScalar& s);
// A UUID text in any of the accepted forms.
std::expected<Uuid, std::string> to_uuid(const JsonScalar& s);

}  // namespace vorn
