#include "core/models/coerce.hpp"

#include <cmath>

#include "core/util/float_format.hpp"

namespace vorn {

std::expected<float, ParamError> coerce_finite_f32(std::string_view key, const JsonValue& value) {
    if (!value.is_number()) {
        return std::unexpected(ParamError::wrong_type(std::string(key), "finite number"));
    }
    float f = static_cast<float>(value.to_double());
    if (!std::isfinite(f)) {
        return std::unexpected(ParamError::out_of_range(std::string(key), "not finite"));
    }
    return f;
}

std::expected<float, ParamError> coerce_positive_f32(std::string_view key, const JsonValue& value) {
    auto f = coerce_finite_f32(key, value);
    if (f && !(*f > 0.0f)) {
        return std::unexpected(ParamError::out_of_range(std::string(key), "must be > 0"));
    }
    return f;
}

std::expected<float, ParamError> coerce_f32_in_range(std::string_view key, const JsonValue& value,
                                                     float min, float max) {
    auto f = coerce_finite_f32(key, value);
    if (f && (*f < min || *f > max)) {
        return std::unexpected(ParamError::out_of_range(
            std::string(key), "must be in [" + format_float(min) + ", " + format_float(max) + "]"));
    }
    return f;
}

}  // namespace vorn
