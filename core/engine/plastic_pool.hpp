#pragma once
// PlasticPool: every plastic synapse of an engine in creation order, stored
// by parts: the running state densely, the configuration as an index into
// the distinct configurations in use, the endpoints as dense neuron indices.
// Each tick updates every synapse with decay factors computed once per
// configuration (and expf once per distinct time constant).

#include <cstdint>
#include <vector>

#include "core/engine/plastic_config_table.hpp"
#include "core/engine/plastic_synapse.hpp"

namespace vorn {

class PlasticPool {
  public:
    // Appends a synapse with its weight clamped into [w_min, w_max]; returns
    // its slot. Requires cfg.w_min <= cfg.w_max.
    std::uint32_t add(const Uuid& edge_id, std::uint32_t pre, std::uint32_t post,
                      const PlasticSynapseConfig& cfg, float weight);

    std::size_t size() const { return ids_.size(); }
    const Uuid& id(std::uint32_t slot) const { return ids_[slot]; }
    std::uint32_t pre(std::uint32_t slot) const { return pre_[slot]; }
    std::uint32_t post(std::uint32_t slot) const { return post_[slot]; }
    float weight(std::uint32_t slot) const { return state_[slot].weight; }
    // Current delivered when the pre neuron spiked on the previous tick.
    float current(std::uint32_t slot) const {
        return state_[slot].weight * configs_[config_[slot]].g_syn;
    }

    // The synapse as a model record (for params and set_param).
    PlasticSynapse get(std::uint32_t slot, const Uuid& pre_id, const Uuid& post_id) const;
    // Stores a record obtained from get(slot, ...) after changes through
    // its interface.
    void put(std::uint32_t slot, const PlasticSynapse& syn);

    // One tick of plasticity for every synapse, with spiked[n] set for the
    // neurons that spiked on this tick. Then adds current() of every synapse
    // whose pre spiked into pending[post] for posts with fused[post] set, in
    // creation order per post, which next tick's delivery needs.
    void update(const StepContext& ctx, const std::uint8_t* spiked, const std::uint8_t* fused,
                float* pending);
    // Only the delivery part of update(), for spikes of the previous tick.
    void deliver(const std::uint8_t* spiked, const std::uint8_t* fused, float* pending) const;

  private:
    std::vector<Uuid> ids_;
    std::vector<std::uint32_t> pre_;     // engine index of each pre neuron
    std::vector<std::uint32_t> post_;    // engine index of each post neuron
    std::vector<std::uint32_t> config_;  // PlasticConfigTable index
    std::vector<PlasticState> state_;
    PlasticConfigTable configs_;
    std::vector<PlasticDecays> decays_;  // per configuration, this tick
};

}  // namespace vorn
