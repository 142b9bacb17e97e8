#pragma once
// Reading a configuration record from a JSON object whose keys must be
// exactly the record's fields. Errors come in a fixed order: an unknown key
// first (in key order), then a missing field, then a value that is not a
// finite number (fields in declaration order).

#include <array>
#include <expected>
#include <span>
#include <string_view>

#include "core/models/coerce.hpp"
#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"

namespace vorn {

template <class Config>
struct F32Field {
    std::string_view key;
    float Config::*field;
};

// UnknownParameter for the first key of obj not in keys, else Missing for
// the first of keys that obj lacks.
std::expected<void, ParamError> check_exact_keys(const JsonObject& obj,
                                                 std::span<const std::string_view> keys);

// Every field coerced with coerce_finite_f32 into out; the keys must be
// present (check_exact_keys first).
template <class Config, std::size_t N>
std::expected<void, ParamError> read_f32_fields(const JsonObject& obj,
                                                const std::array<F32Field<Config>, N>& fields,
                                                Config& out) {
    for (const F32Field<Config>& f : fields) {
        auto value = coerce_finite_f32(f.key, *obj.find(f.key));
        if (!value) {
            return std::unexpected(std::move(value.error()));
        }
        out.*f.field = *value;
    }
    return {};
}

// The keys of a field table, for check_exact_keys.
template <class Config, std::size_t N>
constexpr std::array<std::string_view, N> field_keys(
    const std::array<F32Field<Config>, N>& fields) {
    std::array<std::string_view, N> keys{};
    for (std::size_t i = 0; i < N; ++i) {
        keys[i] = fields[i].key;
    }
    return keys;
}

}  // namespace vorn
