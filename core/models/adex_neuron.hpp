#pragma once
// AdExNeuron: adaptive exponential integrate-and-fire neuron (potential v,
// adaptation current w), one forward-Euler step per tick. Its parameters are
// fixed at creation: set_param keeps the interface default.

#include <cmath>

#include "core/models/neuron_config.hpp"
#include "core/models/neuron_model.hpp"

namespace vorn {

class AdExNeuron final : public NeuronModel {
  public:
    // Starts at v = e_l with no adaptation current.
    AdExNeuron(const Uuid& id, const AdExConfig& cfg) : id_(id), cfg_(cfg) { reset(); }

    // One tick of dt_ms with input current `input`; true when v reached v_peak
    // (or already started the step there).
    bool step_impl(float dt_ms, float input) {
        const AdExConfig& c = cfg_;
        last_v_ = v_;
        if (v_ >= c.v_peak) {
            v_ = c.v_reset;
            w_ = c.b + w_;
            return true;
        }
        const float v = v_;
        const float w = w_;
        // Capping the exponent keeps exp finite; a NaN quotient (delta_t 0 at
        // v = v_t) takes the cap as well.
        const float q = (v - c.v_t) / c.delta_t;
        const float x = q < kMaxExponent ? q : kMaxExponent;
        const float e = (c.delta_t * c.g_l) * std::exp(x);
        const float dv = (input + ((e - c.g_l * (v - c.e_l)) - w)) / c.c_m;
        const float dw = (((v - c.e_l) * c.a) - w) / c.tau_w;
        v_ = v + dt_ms * dv;
        w_ = w + dt_ms * dw;
        if (v_ >= c.v_peak) {
            v_ = c.v_reset;
            w_ = w_ + c.b;
            return true;
        }
        return false;
    }

    Uuid id() const override { return id_; }
    bool step(const StepContext& ctx, float input) override { return step_impl(ctx.dt_ms, input); }
    float membrane_potential() const override { return v_; }
    void reset() override {
        v_ = cfg_.e_l;
        w_ = 0.0f;
        last_v_ = cfg_.e_l;
    }
    JsonValue snapshot() const override;
    const float* numeric_field(std::string_view key) const override;
    std::size_t state_size() const override { return kStateSize; }
    void save(float* out) const override;
    void load(const float* in) override;

    const AdExConfig& config() const { return cfg_; }
    float w() const { return w_; }
    float last_v() const { return last_v_; }

    static constexpr float kMaxExponent = 20.0f;

  private:
    static constexpr std::size_t kStateSize = 13;
    Uuid id_;
    float v_;       // mV
    float w_;       // adaptation current
    float last_v_;  // mV, v at the start of the last step
    AdExConfig cfg_;
};

}  // namespace vorn
