#pragma once
// Shard: a contiguous range of neurons and every synapse onto them, laid
// out for the tick. The sum of each post neuron's input therefore stays in
// one shard, and shards tick independently once they know which neurons
// spiked, which is what lets threads (and processes) share the work with
// results that do not depend on how many there are.
//
// Layout, by position: the synapses of each pre neuron form one row
// (positions [row_begin[pre], row_begin[pre + 1])), ordered by delay and
// then by creation. Per position the shard keeps the weight and the local
// post index; a kind/parameter word, the creation slot, private trace slots
// and delay groups only when they are not the same for every synapse. Per
// post it keeps the STDP synapses onto it (position and pre), so that a
// spiking post reaches them without a search.

#include <cstdint>
#include <vector>

#include "core/engine/big_vector.hpp"
#include "core/engine/compact_indices.hpp"
#include "core/engine/delivery_ring.hpp"
#include "core/engine/plastic_config_table.hpp"
#include "core/engine/plastic_synapse.hpp"
#include "core/engine/spike_history.hpp"
#include "core/engine/stdp_kernels.hpp"
#include "core/engine/synapse_word.hpp"
#include "core/engine/traces.hpp"
#include "core/models/step_context.hpp"

namespace vorn {

// The engine's interned parameter sets, shared read-only by its shards.
struct SynapseParams {
    StdpParamTable stdp;
    StaticParamTable statics;
    PlasticConfigTable plastic;
};

// A plastic synapse's running state beside its shard position; the weight
// itself lives in the shard's weight array.
struct PlasticEntry {
    std::uint32_t position;
    std::uint32_t pre;     // global neuron index
    std::uint32_t post;    // global neuron index
    std::uint32_t config;  // PlasticConfigTable index
    PlasticState state;
};

// Ticks of delay for a spike fired in a tick of dt_ms: max(1, round(delay /
// dt)); kNever when that is not a finite count (a step of 0, for example).
std::uint64_t delay_ticks(float delay_ms, float dt_ms);
constexpr std::uint64_t kNever = ~std::uint64_t{0};

// Which neurons spiked in each of the last 64 ticks: per global neuron,
// bit k of bits is a spike k ticks before the last tick. active lists, in
// ascending order, every neuron whose bits are not all zero (nullptr: the
// first n_active neurons).
struct RecentSpikes {
    const std::uint64_t* bits = nullptr;
    const std::uint32_t* active = nullptr;
    std::size_t n_active = 0;
};

// What every shard reads in one tick's plasticity phase.
struct ShardTick {
    StepContext ctx;
    std::uint64_t tick = 0;                 // number of this tick, the first being 1
    const std::uint8_t* spiked = nullptr;   // per global neuron, this tick
    const std::uint32_t* spikes = nullptr;  // this tick's spiking neurons, ascending
    std::size_t n_spikes = 0;
    const SharedTraces* traces = nullptr;
    const SynapseParams* params = nullptr;
    // The recent spikes up to this tick; nullptr when the engine does not
    // keep them this tick.
    const RecentSpikes* recent = nullptr;
    const SpikeHistory* history = nullptr;  // the spikes that may still arrive
};

class Shard {
  public:
    enum class Uniform : std::uint8_t { None, Stdp, Static };

    std::size_t size() const { return weight.size(); }
    std::uint32_t n_local() const { return end - begin; }

    // The creation slot of a position.
    std::uint32_t slot_of(std::uint32_t position) const;
    // The pre neuron of a position (a search).
    std::uint32_t pre_of(std::uint32_t position) const;
    // The delay of a position, ms.
    float delay_of(std::uint32_t position) const;
    // The delay group of a position (kWholeRow when delays are uniform).
    static constexpr std::uint32_t kWholeRow = 0xffffffffu;
    std::uint32_t group_of(std::uint32_t position) const;
    // Positions of delay group g.
    std::uint32_t group_begin(std::uint32_t pre, std::uint32_t g) const {
        return g == row_group[pre] ? row_begin[pre] : group_end[g - 1];
    }
    // The word of a position.
    std::uint32_t word_at(std::uint32_t position) const {
        return words.empty() ? uniform_word : words[position];
    }
    // The current per unit weight of a position.
    float gain_at(std::uint32_t position, const SynapseParams& p) const;

    // Gives every position its own word (before changing one).
    void expand_words();
    // Drops the per-position words when they are all equal.
    void compact_words();

    // One tick's plasticity for every synapse of the shard, then the
    // schedule or direct delivery of this tick's spikes, and the input of
    // the next tick into pending.
    void plasticity(const ShardTick& t);
    // Recomputes pending for tick `tick` from what arrives then (the whole
    // rows of last_spikes when the last tick was delivered directly; recent
    // as in ShardTick, as of the last tick).
    void recompute_pending(std::uint64_t tick, const std::uint32_t* last_spikes, std::size_t n_last,
                           const SynapseParams& p, const RecentSpikes* recent);
    // Adds pending of the shard's neurons to input (global indices), where
    // it is not exactly zero, and forgets what arrived on `tick`.
    void apply_pending(std::uint64_t tick, float* input);
    // Schedules every arrival after tick `now` of the spikes in history,
    // for a new layout.
    void reschedule(const SpikeHistory& history, std::uint64_t now);

    // ---- layout --------------------------------------------------------
    std::uint32_t begin = 0;  // first neuron
    std::uint32_t end = 0;    // one past the last neuron

    std::vector<std::uint32_t> row_begin{0};  // per global pre, plus one
    HugeVector<float> weight;
    CompactIndices post;             // local post index
    BigVector<std::uint32_t> words;  // empty when every position has uniform_word
    std::uint32_t uniform_word = 0;
    Uniform uniform = Uniform::Stdp;
    // Creation slot per position; empty when creation order is canonical
    // (by pre, then shard, then row order), and then the slot of a row's
    // first position is canon_base[pre].
    BigVector<std::uint32_t> slots;
    std::vector<std::uint32_t> canon_base;

    // Delays: all equal to uniform_delay when row_group is empty, else per
    // delay group (a run of equal delays within a row).
    float uniform_delay = 1.0f;            // ms
    float max_delay = 1.0f;                // ms
    std::vector<std::uint32_t> row_group;  // per pre, plus one: groups of the row
    BigVector<std::uint32_t> group_end;    // one past the group's last position
    BigVector<float> group_delay;          // ms

    // The STDP synapses onto each local post p: positions and pre neurons
    // [in_begin[p], in_begin[p + 1]).
    std::vector<std::uint32_t> in_begin{0};
    HugeVector<std::uint32_t> in_position;
    CompactIndices in_pre;
    // Per local post: its synapses in creation order come from ascending
    // pre neurons, so walking spiking pres in order sums its input in
    // creation order. Other posts sum through a sort.
    std::vector<std::uint8_t> direct;
    bool all_direct = true;

    PrivateTraces privates;
    BigVector<std::uint32_t> pre_private;   // per position when any is private
    BigVector<std::uint32_t> post_private;  // per position when any is private

    std::vector<PlasticEntry> plastic;

    // ---- delivery ------------------------------------------------------
    DeliveryRing ring;
    std::vector<float> pending;  // per local post: input arriving next tick
    // The last tick's spikes were delivered directly into pending, without
    // entries in ring.
    bool last_fused = false;

  private:
    struct Contribution {
        std::uint32_t post;
        std::uint32_t slot;
        float value;
    };
    template <Uniform kMode>
    void potentiate(const ShardTick& t);
    template <Uniform kMode, bool kFuse>
    void depress_and_emit(const ShardTick& t);
    void update_plastic(const ShardTick& t);
    void uniform_potentiate(const ShardTick& t);
    void uniform_depress(const ShardTick& t, bool deliver);
    void schedule(const std::uint32_t* spikes, std::size_t n, const ShardTick& t, bool long_only);
    void refresh_group_ticks(float dt);
    bool sync_recent(const ShardTick& t);
    void refresh_recent(float dt);
    void recent_arrivals(const RecentSpikes& recent, std::vector<Arrival>& out) const;
    void recent_arrivals_popcnt(const RecentSpikes& recent, std::vector<Arrival>& out) const;
    void recent_arrivals_with(const RecentSpikes& recent, std::vector<Arrival>& out) const;
    void deliver_arrivals(std::vector<Arrival>& arrivals, const SynapseParams& p);
    void deliver_sorted(const std::vector<Arrival>& arrivals, const SynapseParams& p);
    void deliver(std::uint32_t position, float value) {
        const std::uint32_t p = post[position];
        if (direct[p]) {
            pending[p] += value;
        } else {
            indirect_.push_back({p, slot_of(position), value});
        }
    }
    void sum_indirect();

    struct Link {
        std::uint32_t position;
        std::uint32_t pre;
    };
    std::vector<Link> links_;  // per tick: the STDP synapses of spiking posts
    std::vector<Contribution> indirect_;
    std::vector<Arrival> arrivals_;
    std::vector<Arrival> arrivals_scratch_;
    std::vector<std::uint32_t> sort_count_;
    std::vector<PlasticDecays> decays_;
    // Each group's delay in ticks at group_ticks_dt_, 0 where too long for
    // 16 bits.
    std::vector<std::uint16_t> group_ticks_;
    float group_ticks_dt_ = 0.0f;

    // Spikes in flight without the ring: the spikes of the ticks marked in
    // recent_ticks_ (bit k: k ticks before the last) were not scheduled;
    // their synapses with delays of 1 to kRecentTicks ticks at step
    // recent_dt_ arrive as the neurons' recent bits tell. Longer delays go
    // through the ring.
    static constexpr std::uint64_t kRecentTicks = 64;
    std::uint64_t recent_ticks_ = 0;
    float recent_dt_ = 0.0f;
    std::uint32_t steady_ = 0;               // ticks in a row at recent_dt_, up to 2
    bool recent_valid_ = false;              // the arrays below are for recent_dt_
    bool has_long_ = false;                  // some delay over kRecentTicks ticks
    std::vector<std::uint64_t> delay_mask_;  // per pre: bit d - 1 for each delay of d ticks
    // Per pre plus one: the runs of its row with one delay in ticks (up to
    // kRecentTicks), ascending; each ends at tick_end_.
    std::vector<std::uint32_t> tick_group_;
    std::vector<std::uint32_t> tick_end_;
    std::vector<std::uint32_t> long_group_;  // per pre: its first delay group over kRecentTicks
};

}  // namespace vorn
