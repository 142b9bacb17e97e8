#pragma once
// HhNeuron: a Hodgkin-Huxley neuron (sodium, potassium and leak currents)
// integrated in fixed sub-steps per tick by forward Euler or RK4, with
// threshold-crossing spike reports gated by a refractory countdown.

#include <expected>
#include <string_view>

#include "core/models/hh_dynamics.hpp"
#include "core/models/neuron_config.hpp"
#include "core/models/neuron_model.hpp"
#include "core/models/param_error.hpp"

namespace vorn {

// Checks every field of a configuration against the ranges that set_param
// enforces for it, in field order; the error of the first bad field.
std::expected<void, ParamError> validate_hh_config(const HhConfig& cfg);

// The integrator named by a JSON string "euler" or "rk4"; otherwise the
// "integrator" error set_param reports.
std::expected<Integrator, ParamError> coerce_integrator(const JsonValue& value);

class HhNeuron final : public NeuronModel {
  public:
    // State at the resting steady state of cfg.v_rest.
    HhNeuron(const Uuid& id, const HhConfig& cfg);

    // One tick of dt_ms with a constant input current; true when the
    // potential crossed the threshold upwards outside the refractory period.
    // Non-virtual so that an engine holding these by value calls it directly.
    bool step_impl(float dt_ms, float input);

    Uuid id() const override { return id_; }
    bool step(const StepContext& ctx, float input) override { return step_impl(ctx.dt_ms, input); }
    float membrane_potential() const override { return s_.v; }
    void reset() override;
    JsonValue snapshot() const override;
    const float* numeric_field(std::string_view key) const override;
    std::size_t state_size() const override { return kStateSize; }
    void save(float* out) const override;
    void load(const float* in) override;
    std::expected<JsonValue, ParamError> set_param(std::string_view key,
                                                   const JsonValue& value) override;

    const HhConfig& config() const { return cfg_; }
    const HhState& state() const { return s_; }
    float v_prev() const { return v_prev_; }
    float refractory_left() const { return refractory_left_; }  // ms

  private:
    static constexpr std::size_t kStateSize = 17;
    Uuid id_;
    HhConfig cfg_;
    HhState s_;
    float v_prev_;           // mV, v at the start of the last step
    float refractory_left_;  // ms
};

}  // namespace vorn
