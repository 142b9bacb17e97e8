#include "core/models/param_rule.hpp"

#include <cmath>
#include <string>

#include "core/models/coerce.hpp"

namespace vorn {

std::expected<float, ParamError> coerce_by_rule(std::string_view key, const JsonValue& value,
                                                const F32Rule& rule) {
    if (rule.kind == F32Rule::Kind::Positive) {
        return coerce_positive_f32(key, value);
    }
    return coerce_f32_in_range(key, value, rule.min, rule.max);
}

std::expected<void, ParamError> check_by_rule(std::string_view key, float value,
                                              const F32Rule& rule) {
    if (!std::isfinite(value)) {
        return std::unexpected(ParamError::out_of_range(std::string(key), "not finite"));
    }
    // Widening a finite f32 to double and narrowing it back is exact, so the
    // coercion sees the very value that is stored.
    auto checked = coerce_by_rule(key, JsonValue::number(static_cast<double>(value)), rule);
    if (!checked) {
        return std::unexpected(std::move(checked.error()));
    }
    return {};
}

}  // namespace vorn
