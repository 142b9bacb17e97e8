#pragma once
// StdpPool: every STDP synapse of an engine in dense storage, in two views.
// By slot (creation order): ids, endpoints, parameter set and trace refs.
// By position (grouped by pre neuron, creation order within): the weights,
// posts and parameter sets that the tick streams through, plus per-post
// incoming links. Walking a spiking pre is then sequential, and walking a
// spiking post touches only one scattered word per synapse, in a weight
// array small enough to stay cached. The positions are rebuilt lazily after
// synapses or neurons are added. Parameter sets are interned; traces live in
// a TraceTable, mostly shared per neuron.

#include <cstdint>
#include <vector>

#include "core/engine/huge_page_allocator.hpp"
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

    std::size_t size() const { return ids_.size(); }
    const Uuid& id(std::uint32_t slot) const { return ids_[slot]; }
    std::uint32_t pre(std::uint32_t slot) const { return pre_[slot]; }
    std::uint32_t post(std::uint32_t slot) const { return post_[slot]; }
    float weight(std::uint32_t slot) const { return weight_[position_[slot]]; }
    // Current delivered when the pre neuron spiked on the previous tick.
    float current(std::uint32_t slot) const {
        return weight(slot) * params_[param_[slot] & kParamMask].g_syn;
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
                 float* pending);

  private:
    static constexpr std::uint32_t kPrePrivate = 1u << 31;
    static constexpr std::uint32_t kPostPrivate = 1u << 30;
    static constexpr std::uint32_t kParamMask = kPostPrivate - 1;

    // A synapse seen from its post: its position and pre neuron.
    struct InLink {
        std::uint32_t position;
        std::uint32_t pre;
    };

    template <class T>
    using BigVector = std::vector<T, HugePageAllocator<T>>;

    float pre_value(std::uint32_t position, std::uint32_t param, std::uint32_t pre) const {
        return (param & kPrePrivate) ? traces_.at(pre_private_[slot_at_[position]]).value
                                     : traces_.shared_value(pre);
    }
    float post_decayed(std::uint32_t position, std::uint32_t param, std::uint32_t post) const {
        return (param & kPostPrivate) ? traces_.at(post_private_[slot_at_[position]]).decayed
                                      : traces_.shared_decayed(post);
    }
    void set_param_word(std::uint32_t slot, std::uint32_t word);
    void ensure_layout();
    // True when every synapse has the same parameter set and shared
    // traces, so the walks need not read per-synapse parameter words.
    bool uniform() const { return params_.live() == 1 && private_synapses_ == 0; }
    template <bool kUniform>
    void potentiate_spiked_posts(const std::uint8_t* spiked,
                                 const std::vector<std::uint32_t>& spikes);
    template <bool kUniform>
    void depress_spiked_pres(const std::uint8_t* spiked, const std::vector<std::uint32_t>& spikes,
                             const std::uint8_t* direct, float* pending);

    std::size_t n_neurons_ = 0;

    // By slot.
    std::vector<Uuid> ids_;
    std::vector<std::uint32_t> pre_;
    std::vector<std::uint32_t> post_;
    std::vector<std::uint32_t> param_;         // StdpParamTable index | private-trace flags
    std::vector<std::uint32_t> pre_private_;   // TraceTable slot when kPrePrivate
    std::vector<std::uint32_t> post_private_;  // TraceTable slot when kPostPrivate
    std::vector<std::uint32_t> position_;
    std::size_t private_synapses_ = 0;  // synapses with at least one private trace

    // By position; positions of synapses added since the last layout are
    // appended in creation order until the next layout.
    BigVector<float> weight_;
    BigVector<std::uint32_t> post_at_;
    BigVector<std::uint32_t> param_at_;
    std::vector<std::uint32_t> slot_at_;

    // Valid only when layout_valid_: pre i owns positions
    // [out_begin_[i], out_begin_[i + 1]); post j's links, in creation order,
    // are in_links_[in_begin_[j] .. in_begin_[j + 1]).
    bool layout_valid_ = true;
    std::vector<std::uint32_t> out_begin_{0};
    std::vector<std::uint32_t> in_begin_{0};
    BigVector<InLink> in_links_;
    std::vector<InLink> links_scratch_;  // per tick: links of the spiking posts

    StdpParamTable params_;
    TraceTable traces_;
};

}  // namespace vorn
