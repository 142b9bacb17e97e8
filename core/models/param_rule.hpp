#pragma once
// F32Rule: the accepted values of one numeric parameter, shared by set_param
// and by the validation of whole configuration records so both report the
// same errors.

#include <cstdint>
#include <expected>
#include <string_view>

#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"

namespace vorn {

struct F32Rule {
    enum class Kind : std::uint8_t { InRange, Positive };

    Kind kind = Kind::InRange;
    float min = 0.0f;  // inclusive; InRange only
    float max = 0.0f;  // inclusive; InRange only

    static constexpr F32Rule in_range(float lo, float hi) { return {Kind::InRange, lo, hi}; }
    static constexpr F32Rule positive() { return {Kind::Positive, 0.0f, 0.0f}; }
};

// The JSON value coerced to f32 and checked against the rule
// (coerce_f32_in_range or coerce_positive_f32); the ParamError otherwise.
std::expected<float, ParamError> coerce_by_rule(std::string_view key, const JsonValue& value,
                                                const F32Rule& rule);

// An already stored f32 checked the same way: not finite gives OutOfRange
// "not finite", then the rule's own error.
std::expected<void, ParamError> check_by_rule(std::string_view key, float value,
                                              const F32Rule& rule);

}  // namespace vorn
