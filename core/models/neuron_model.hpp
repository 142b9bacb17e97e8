#pragma once
// NeuronModel: the interface through which the engine and the binding reach
// every neuron, whatever its model.

#include <cstddef>
#include <expected>
#include <string_view>

#include "core/models/param_error.hpp"
#include "core/models/step_context.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

class NeuronModel {
  public:
    virtual ~NeuronModel() = default;

    virtual Uuid id() const = 0;
    // Advances one tick with the given input current; true when it spiked.
    virtual bool step(const StepContext& ctx, float input) = 0;
    virtual float membrane_potential() const = 0;
    // Puts the state back to the model's rest values; parameters untouched.
    virtual void reset() = 0;
    // Identity, state and parameters as an object keyed by field name.
    virtual JsonValue snapshot() const = 0;
    virtual JsonValue params() const { return snapshot(); }
    // The float field behind a top-level number of params(), for reading it
    // every tick without building params(); nullptr for other keys. The
    // pointer is valid until the engine adds neurons.
    virtual const float* numeric_field(std::string_view key) const = 0;

    // The model's complete state and parameters as state_size() floats in a
    // fixed order (checkpoints), and back. load() takes any values; callers
    // check what a model needs (see the models' config validations).
    virtual std::size_t state_size() const = 0;
    virtual void save(float* out) const = 0;
    virtual void load(const float* in) = 0;
    // On success the new snapshot(); on failure the neuron is unchanged.
    virtual std::expected<JsonValue, ParamError> set_param(std::string_view key,
                                                           const JsonValue& value) {
        (void)value;
        return std::unexpected(ParamError::unknown(std::string(key)));
    }
};

}  // namespace vorn
