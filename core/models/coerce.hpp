#pragma once
// Value coercions shared by every set_param: JSON number to f32 with the
// fixed error texts.

#include <expected>
#include <string_view>

#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"

namespace vorn {

// A number converted to double and then to the nearest f32. Not a number:
// WrongType "finite number"; not finite as f32: OutOfRange "not finite".
std::expected<float, ParamError> coerce_finite_f32(std::string_view key, const JsonValue& value);

// coerce_finite_f32, then OutOfRange "must be > 0" for values not above 0.
std::expected<float, ParamError> coerce_positive_f32(std::string_view key, const JsonValue& value);

// coerce_finite_f32, then OutOfRange "must be in [{min}, {max}]" outside the
// inclusive bounds, which print in their shortest form.
std::expected<float, ParamError> coerce_f32_in_range(std::string_view key, const JsonValue& value,
                                                     float min, float max);

}  // namespace vorn
