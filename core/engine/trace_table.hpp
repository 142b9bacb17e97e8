#pragma once
// TraceTable: the spike traces of STDP synapses. A trace decays by
// exp(-dt / tau) each tick and grows by 1 when its neuron spikes, so all
// traces of one neuron with the default tau that started at +0.0 stay
// bit-identical: they share one value per neuron ("shared" traces). A trace
// whose value or tau was written directly lives in its own private slot.

#include <cstdint>
#include <vector>

namespace vorn {

class TraceTable {
  public:
    static constexpr float kSharedTau = 20.0f;  // ms

    // Makes room for shared traces of neurons [0, n).
    void resize(std::size_t n);

    // True when a trace starting at +0.0 with kSharedTau may use the shared
    // trace of the neuron: its value is exactly +0.0 right now.
    bool can_share(std::uint32_t neuron) const;

    // Value after this tick's spike increment, and the value before it.
    float shared_value(std::uint32_t neuron) const { return shared_value_[neuron]; }
    float shared_decayed(std::uint32_t neuron) const { return shared_decayed_[neuron]; }

    struct Private {
        std::uint32_t neuron;
        float tau;      // ms
        float value;    // after this tick's spike increment
        float decayed;  // before it
    };
    std::uint32_t add_private(std::uint32_t neuron, float tau, float value);
    Private& at(std::uint32_t slot) { return private_[slot]; }
    const Private& at(std::uint32_t slot) const { return private_[slot]; }

    // One tick: decay every trace, then add 1 for neurons with spiked[n] set.
    void advance(float dt_ms, const std::uint8_t* spiked);

  private:
    std::vector<float> shared_value_;
    std::vector<float> shared_decayed_;
    std::vector<Private> private_;
};

}  // namespace vorn
