#pragma once
// StdpSynapse: pair-based spike-timing-dependent plasticity with decaying pre
// and post traces (kind "stdp"). A plain record behind the SynapseModel
// interface; the engine keeps these fields in its own dense storage and uses
// this type for parameter access and as the reference of the update rule.

#include "core/engine/synapse_config.hpp"
#include "core/engine/synapse_model.hpp"
#include "core/models/decay.hpp"

namespace vorn {

// x raised to lo first, then lowered to hi.
inline float clamp_weight(float x, float lo, float hi) {
    float w = x < lo ? lo : x;
    return w > hi ? hi : w;
}

class StdpSynapse final : public SynapseModel {
  public:
    static constexpr const char* kKind = "stdp";
    static constexpr float kDefaultTau = 20.0f;  // ms

    // All parameters at their defaults; weight clamped to [0, 1].
    StdpSynapse(const Uuid& id, const Uuid& pre, const Uuid& post, float weight);
    // The parameters of config; weight clamped to [w_min, w_max].
    StdpSynapse(const Uuid& id, const Uuid& pre, const Uuid& post, const StdpConfig& config,
                float weight);

    // Restores a stored synapse's weight and parameters as they were (an
    // engine that keeps them apart hands them back this way).
    void set_state(float weight, float lo, float hi, float gain, float plus, float minus) {
        weight_ = weight;
        w_min = lo;
        w_max = hi;
        g_syn = gain;
        a_plus = plus;
        a_minus = minus;
    }

    Uuid id() const override { return id_; }
    Uuid pre_id() const override { return pre_id_; }
    Uuid post_id() const override { return post_id_; }
    float weight() const override { return weight_; }
    void set_weight(float w) override { weight_ = clamp_weight(w, w_min, w_max); }
    const char* kind() const override { return kKind; }
    float synaptic_current(bool pre_spiked_last_tick) const override {
        return pre_spiked_last_tick ? weight_ * g_syn : 0.0f;
    }
    void update(const SynapseStepContext& ctx) override;
    JsonValue snapshot() const override;
    std::expected<JsonValue, ParamError> set_param(std::string_view key,
                                                   const JsonValue& value) override;

    // Parameters and state; w_min <= w_max always holds.
    float w_min = 0.0f;
    float w_max = 1.0f;
    float g_syn = 80.0f;            // current per unit weight
    float a_plus = 0.01f;           // potentiation step per unit pre trace
    float a_minus = 0.012f;         // depression step per unit post trace
    float tau_plus = kDefaultTau;   // ms, pre trace decay
    float tau_minus = kDefaultTau;  // ms, post trace decay
    float pre_trace = 0.0f;
    float post_trace = 0.0f;

  private:
    Uuid id_;
    Uuid pre_id_;
    Uuid post_id_;
    float weight_;
};

}  // namespace vorn
