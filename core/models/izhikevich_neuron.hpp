#pragma once
// IzhikevichNeuron: the two-variable quadratic model (potential v, recovery u)
// with an after-spike reset, one forward-Euler step per tick. Its parameters
// are fixed at creation: set_param keeps the interface default.

#include "core/models/neuron_config.hpp"
#include "core/models/neuron_model.hpp"

namespace vorn {

class IzhikevichNeuron final : public NeuronModel {
  public:
    // Starts at v = -65 and u = b * -65, whatever c says.
    IzhikevichNeuron(const Uuid& id, const IzhikevichConfig& cfg) : id_(id), cfg_(cfg) { reset(); }

    // One tick of dt_ms with input current `input`; true when v reached v_peak.
    bool step_impl(float dt_ms, float input) {
        last_v_ = v_;
        const float v = v_;
        const float u = u_;
        const float dv = input + ((((5.0f * v) + (v * (0.04f * v))) + 140.0f) - u);
        const float du = cfg_.a * ((v * cfg_.b) - u);
        v_ = v + dt_ms * dv;
        u_ = u + dt_ms * du;
        if (v_ >= cfg_.v_peak) {
            v_ = cfg_.c;
            u_ = u_ + cfg_.d;
            return true;
        }
        return false;
    }

    Uuid id() const override { return id_; }
    bool step(const StepContext& ctx, float input) override { return step_impl(ctx.dt_ms, input); }
    float membrane_potential() const override { return v_; }
    void reset() override {
        v_ = kStartV;
        last_v_ = kStartV;
        u_ = cfg_.b * kStartV;
    }
    JsonValue snapshot() const override;
    const float* numeric_field(std::string_view key) const override;
    std::size_t state_size() const override { return kStateSize; }
    void save(float* out) const override;
    void load(const float* in) override;

    const IzhikevichConfig& config() const { return cfg_; }
    float u() const { return u_; }
    float last_v() const { return last_v_; }

  private:
    static constexpr std::size_t kStateSize = 8;
    static constexpr float kStartV = -65.0f;  // mV

    Uuid id_;
    float v_;       // mV
    float u_;       // recovery variable
    float last_v_;  // mV, v at the start of the last step
    IzhikevichConfig cfg_;
};

}  // namespace vorn
