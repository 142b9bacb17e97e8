#pragma once
// PlasticPool: every plastic synapse of an engine, stored contiguously in
// creation order with the dense indices of its endpoints, updated every tick
// with decay factors computed once per distinct time constant.

#include <cstdint>
#include <vector>

#include "core/engine/plastic_synapse.hpp"

namespace vorn {

class PlasticPool {
  public:
    // Appends a synapse (weight clamped by the synapse); returns its slot.
    // Requires cfg.w_min <= cfg.w_max.
    std::uint32_t add(const Uuid& edge_id, const Uuid& pre_id, const Uuid& post_id,
                      std::uint32_t pre, std::uint32_t post, const PlasticSynapseConfig& cfg,
                      float weight);

    std::size_t size() const { return items_.size(); }
    PlasticSynapse& at(std::uint32_t slot) { return items_[slot]; }
    const PlasticSynapse& at(std::uint32_t slot) const { return items_[slot]; }
    std::uint32_t pre(std::uint32_t slot) const { return pre_[slot]; }
    // Current delivered when the pre neuron spiked on the previous tick.
    float current(std::uint32_t slot) const { return items_[slot].synaptic_current(true); }

    // One tick of plasticity for every synapse, with spiked[n] set for the
    // neurons that spiked on this tick.
    void update(const StepContext& ctx, const std::uint8_t* spiked);

  private:
    std::vector<PlasticSynapse> items_;
    std::vector<std::uint32_t> pre_;   // engine index of each pre neuron
    std::vector<std::uint32_t> post_;  // engine index of each post neuron
};

}  // namespace vorn
