#pragma once
// StdpPool: every STDP synapse of an engine in dense storage. The fields the
// tick touches sit in one 16-byte record per synapse; parameter sets are
// interned; traces live in a TraceTable, mostly shared per neuron. Per tick,
// only synapses whose pre or post neuron spiked are visited.

#include <cstdint>
#include <vector>

#include "core/engine/stdp_param_table.hpp"
#include "core/engine/stdp_synapse.hpp"
#include "core/engine/trace_table.hpp"

namespace vorn {

class StdpPool {
  public:
    // Makes room for neurons [0, n); call before adding synapses between them.
    void resize_neurons(std::size_t n);

    // Appends a synapse with default parameters and the weight clamped to
    // [0, 1]; returns its slot (slots count up from 0 in creation order).
    std::uint32_t add(const Uuid& edge_id, std::uint32_t pre, std::uint32_t post, float weight);

    std::size_t size() const { return hot_.size(); }
    const Uuid& id(std::uint32_t slot) const { return ids_[slot]; }
    std::uint32_t pre(std::uint32_t slot) const { return hot_[slot].pre; }
    std::uint32_t post(std::uint32_t slot) const { return hot_[slot].post; }
    float weight(std::uint32_t slot) const { return hot_[slot].weight; }
    // Current delivered when the pre neuron spiked on the previous tick.
    float current(std::uint32_t slot) const {
        return hot_[slot].weight * params_[hot_[slot].param & kParamMask].g_syn;
    }

    // The synapse as a model record (for params and set_param).
    StdpSynapse get(std::uint32_t slot, const Uuid& pre_id, const Uuid& post_id) const;
    // Stores a record obtained from get(slot, ...) after changes through its
    // interface; a written trace or tau moves that trace to a private slot.
    void put(std::uint32_t slot, const StdpSynapse& syn);

    // One tick of plasticity with this tick's spikes (spiked flags per
    // neuron and the ascending list), the same as StdpSynapse::update on
    // every synapse. Then adds current() of every synapse whose pre spiked
    // into pending[post] for posts with direct[post] set, in creation order
    // per post, which next tick's delivery needs.
    void update(float dt_ms, const std::uint8_t* spiked, const std::vector<std::uint32_t>& spikes,
                const std::uint8_t* direct, float* pending);
    // Only the delivery part of update(), for spikes of the previous tick.
    void deliver(const std::vector<std::uint32_t>& spikes, const std::uint8_t* direct,
                 float* pending) const;

  private:
    static constexpr std::uint32_t kPrePrivate = 1u << 31;
    static constexpr std::uint32_t kPostPrivate = 1u << 30;
    static constexpr std::uint32_t kParamMask = kPostPrivate - 1;

    struct Hot {
        float weight;
        std::uint32_t pre;    // engine neuron index
        std::uint32_t post;   // engine neuron index
        std::uint32_t param;  // StdpParamTable index | private-trace flags
    };

    float pre_value(std::uint32_t slot, const Hot& h) const {
        return (h.param & kPrePrivate) ? traces_.at(pre_private_[slot]).value
                                       : traces_.shared_value(h.pre);
    }
    float post_decayed(std::uint32_t slot, const Hot& h) const {
        return (h.param & kPostPrivate) ? traces_.at(post_private_[slot]).decayed
                                        : traces_.shared_decayed(h.post);
    }
    void potentiate_spiked_posts(const std::uint8_t* spiked,
                                 const std::vector<std::uint32_t>& spikes);
    void depress_spiked_pres(const std::uint8_t* spiked, const std::vector<std::uint32_t>& spikes,
                             const std::uint8_t* direct, float* pending);

    std::vector<Hot> hot_;
    std::vector<Uuid> ids_;
    std::vector<std::uint32_t> pre_private_;            // TraceTable slot when kPrePrivate
    std::vector<std::uint32_t> post_private_;           // TraceTable slot when kPostPrivate
    std::vector<std::vector<std::uint32_t>> outgoing_;  // per pre neuron, slots ascending
    std::vector<std::vector<std::uint32_t>> incoming_;  // per post neuron, slots ascending
    StdpParamTable params_;
    TraceTable traces_;
};

}  // namespace vorn
