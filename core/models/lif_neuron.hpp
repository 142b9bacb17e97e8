#pragma once
// LifNeuron: current-based leaky integrate-and-fire neuron with an
// exponentially decaying synaptic current trace and an absolute refractory
// period. The default model of the simulator.

#include "core/models/decay.hpp"
#include "core/models/neuron_model.hpp"
#include "core/util/bit_select.hpp"

namespace vorn {

class LifNeuron final : public NeuronModel {
  public:
    explicit LifNeuron(const Uuid& id) : id_(id) {}

    Uuid id() const override { return id_; }
    bool step(const StepContext& ctx, float input) override {
        return advance(ctx.dt_ms, input, decay_factor(ctx.dt_ms, tau_syn));
    }
    float membrane_potential() const override { return v; }
    void reset() override;
    JsonValue snapshot() const override;
    const float* numeric_field(std::string_view key) const override;
    std::size_t state_size() const override { return kStateSize; }
    void save(float* out) const override;
    void load(const float* in) override;
    std::expected<JsonValue, ParamError> set_param(std::string_view key,
                                                   const JsonValue& value) override;

    // One tick of length dt_ms; syn_decay must equal decay_factor(dt_ms, tau_syn),
    // so that callers can compute it once for many neurons. True on a spike.
    // Both outcomes are computed and one is kept by masking: whether a
    // neuron is refractory or fires follows the spikes, so branches on them
    // would be mispredicted often.
    bool advance(float dt_ms, float input, float syn_decay) {
        const float total = input + epsc;
        const bool refractory = refractory_left > 0.0f;
        const float left = refractory_left - dt_ms;
        // Never below zero, and a negative zero is stored as 0.
        const float left_kept = left > 0.0f ? left : 0.0f;
        const float integrated = v + dt_ms * ((total + (v_rest - v)) / tau_m);
        const bool fired = !refractory && integrated >= v_thresh;
        v = select_bits(refractory || fired, v_reset, integrated);
        refractory_left =
            select_bits(refractory, left_kept, select_bits(fired, refractory_ms, refractory_left));
        epsc = total * syn_decay;
        return fired;
    }

    // State and parameters; written directly only by set_param and reset.
    float v = -65.0f;              // mV
    float v_rest = -65.0f;         // mV
    float v_thresh = -50.0f;       // mV
    float v_reset = -70.0f;        // mV
    float tau_m = 20.0f;           // ms
    float refractory_ms = 2.0f;    // ms
    float refractory_left = 0.0f;  // ms
    float epsc = 0.0f;             // synaptic current trace
    float tau_syn = 5.0f;          // ms

  private:
    static constexpr std::size_t kStateSize = 9;
    Uuid id_;
};

}  // namespace vorn
