#pragma once
// SynapseModel: the interface every synapse kind implements.

#include <expected>
#include <string_view>

#include "core/models/param_error.hpp"
#include "core/models/step_context.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

struct SynapseStepContext {
    StepContext ctx;
    bool pre_spiked = false;   // the pre neuron spiked on this tick
    bool post_spiked = false;  // the post neuron spiked on this tick
};

class SynapseModel {
  public:
    virtual ~SynapseModel() = default;

    virtual Uuid id() const = 0;
    virtual Uuid pre_id() const = 0;
    virtual Uuid post_id() const = 0;
    virtual float weight() const = 0;
    // weight := w clamped to [w_min, w_max].
    virtual void set_weight(float w) = 0;
    virtual const char* kind() const = 0;
    // Current delivered to the post neuron on this tick.
    virtual float synaptic_current(bool pre_spiked_last_tick) const = 0;
    virtual void update(const SynapseStepContext& ctx) = 0;
    virtual JsonValue snapshot() const = 0;
    virtual JsonValue params() const { return snapshot(); }
    // On success the snapshot after the change; on failure nothing changes.
    virtual std::expected<JsonValue, ParamError> set_param(std::string_view key,
                                                           const JsonValue& value) = 0;
};

}  // namespace vorn
