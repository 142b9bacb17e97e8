#pragma once
// Small helpers shared by the model and engine tests.

#include <cstdint>
#include <expected>
#include <string>

#include "core/engine/synapse_model.hpp"
#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn::testing {

// An id that is zero except for its first and last byte.
inline Uuid test_id(std::uint8_t hi, std::uint8_t lo) {
    Uuid u;
    u.bytes[0] = hi;
    u.bytes[15] = lo;
    return u;
}

// One synapse update of dt_ms with the given spikes and channel-0 level.
inline SynapseStepContext synapse_tick(float dt_ms, bool pre, bool post, float level0 = 0.0f) {
    SynapseStepContext c;
    c.ctx.dt_ms = dt_ms;
    c.ctx.levels[0] = level0;
    c.ctx.level0 = level0;
    c.pre_spiked = pre;
    c.post_spiked = post;
    return c;
}

// The object's keys in stored order, each followed by a comma.
inline std::string keys_of(const JsonValue& v) {
    std::string keys;
    for (const auto& [k, x] : v.as_object())
        keys += k + ",";
    return keys;
}

// A numeric member of an object.
inline double number_at(const JsonValue& v, const char* key) {
    return v.as_object().find(key)->to_double();
}

// The error message of a parameter write, or "<ok>".
inline std::string error_text(const std::expected<JsonValue, ParamError>& r) {
    return r ? std::string("<ok>") : r.error().message();
}

}  // namespace vorn::testing
