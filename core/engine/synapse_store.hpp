#pragma once
// SynapseStore: every synapse of an engine. Ids are kept in creation order
// (a synapse's slot); the synapses themselves live in the shards' layouts,
// except those added since the last layout was built, which wait in a tail
// in creation order. Reads and parameter writes reach both places by slot;
// a tick needs the layout (commit).

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "core/engine/big_vector.hpp"
#include "core/engine/edge_index.hpp"
#include "core/engine/shard.hpp"
#include "core/engine/synapse_config.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

// One synapse as plain data, wherever it is stored.
struct SynapseData {
    std::uint32_t pre = 0;   // global neuron index
    std::uint32_t post = 0;  // global neuron index
    float weight = 0.0f;
    float delay = 1.0f;  // ms
    std::uint32_t word = 0;
    PrivateTraces::Trace pre_trace{};   // when the word marks it private
    PrivateTraces::Trace post_trace{};  // when the word marks it private
    std::uint32_t plastic_config = 0;   // when plastic
    PlasticState plastic_state{};       // when plastic (its weight unused)
};

// How the neurons are split: into ranks (processes, each holding a
// contiguous range of neurons and the synapses onto them), and this rank's
// range into threads shards.
struct ShardPlan {
    std::size_t ranks = 1;
    std::size_t rank = 0;
    std::size_t threads = 1;
};

class SynapseStore {
  public:
    std::size_t size() const { return ids_.size(); }
    const Uuid& id(std::uint32_t slot) const { return ids_[slot]; }
    SynapseParams& params() { return params_; }
    const SynapseParams& params() const { return params_; }

    // ---- adding --------------------------------------------------------
    // True when a synapse from pre to post exists.
    bool connected(std::uint32_t pre, std::uint32_t post) const;
    // Makes room for `more` synapses so that the next appends cannot fail.
    void reserve(std::size_t more);
    // Appends a synapse built by make_data unless its (pre, post) pair is
    // connected already; true when appended. After reserve() for it, only
    // the private or plastic state of a synapse can still run out of memory
    // (reserve_extras), and then nothing changes.
    bool try_append(const Uuid& id, const SynapseData& data);
    void reserve_extras(std::size_t more) { tail_extras_.reserve(tail_extras_.size() + more); }
    // Room to track `more` pairs that need not come in ascending order.
    void reserve_unsorted(std::size_t more);
    // Whether appending pairs starting with (pre, post) keeps the tail sorted.
    bool keeps_sorted(std::uint32_t pre, std::uint32_t post) const {
        return tail_sorted_ &&
               (tail_.empty() || (std::uint64_t{tail_.back().pre} << 32 | tail_.back().post) <
                                     (std::uint64_t{pre} << 32 | post));
    }
    // The data of a new synapse of this kind: parameter sets are acquired,
    // traces made private where the neuron's shared trace is not +0.0, the
    // weight clamped where the kind clamps.
    SynapseData make_data(std::uint32_t pre, std::uint32_t post, const SynapseConfig& config,
                          float weight, float delay, const SharedTraces& traces);

    // ---- access by slot ------------------------------------------------
    SynapseData get(std::uint32_t slot) const;
    // Stores changed data of a synapse (not its endpoints or delay).
    void put(std::uint32_t slot, const SynapseData& data);
    float weight(std::uint32_t slot) const;
    void set_weight(std::uint32_t slot, float w);
    float delay(std::uint32_t slot) const;
    // Every weight / delay in creation order.
    void weights(float* out) const;
    void delays(float* out) const;
    // New weights for every synapse, in creation order.
    void set_weights(const float* in);
    // New delays for every synapse; rebuilds the layout as commit does.
    void set_delays(const float* in, std::size_t n_neurons, const ShardPlan& plan,
                    const std::vector<float>& cost);
    // The first slot with this id (an index built on first use).
    std::optional<std::uint32_t> find(const Uuid& id);
    // Pre and post of every synapse in creation order.
    void endpoints(std::uint32_t* pre, std::uint32_t* post) const;
    // Calls visit(slot, data) once for every synapse (in creation order when
    // the layout is canonical, else in no fixed order).
    void visit_all(const std::function<void(std::uint32_t, const SynapseData&)>& visit) const;
    // The weight range of every synapse in creation order (static: all floats).
    void weight_bounds(float* lo, float* hi) const;

    // ---- layout --------------------------------------------------------
    // The layout must be rebuilt before the next tick: neurons were added,
    // or the shard count changed.
    void invalidate() { layout_valid_ = false; }
    bool needs_commit() const { return !layout_valid_ || !tail_.empty(); }
    // Builds the layout of this rank's shards for n_neurons neurons,
    // balancing neuron cost (cost[n]) plus the synapses onto each neuron.
    // Synapses onto other ranks' neurons are dropped (their ids stay).
    void commit(std::size_t n_neurons, const ShardPlan& plan, const std::vector<float>& cost);
    std::vector<Shard>& shards() { return shards_; }
    const std::vector<Shard>& shards() const { return shards_; }
    // The local shard holding post neuron n, or shards().size().
    std::size_t shard_of(std::uint32_t n) const;
    // The rank holding neuron n (0 before the first commit).
    std::size_t rank_of(std::uint32_t n) const;
    // Whether a slot's synapse is held here: in the tail, or in a local shard.
    bool is_local(std::uint32_t slot) const;
    // True when this rank's committed synapses hold the pair (not the tail).
    bool committed_has(std::uint32_t pre, std::uint32_t post) const;
    // True when the tail holds the pair.
    bool tail_has_pair(std::uint32_t pre, std::uint32_t post) const;

  private:
    struct Record {
        std::uint32_t pre;
        std::uint32_t post;
        float weight;
        float delay;
        std::uint32_t word;
        std::uint32_t extra;  // index into extras, or kNoExtra
    };
    struct Extra {
        PrivateTraces::Trace pre_trace;
        PrivateTraces::Trace post_trace;
        std::uint32_t plastic_config;
        PlasticState plastic_state;
    };
    static constexpr std::uint32_t kNoExtra = 0xffffffffu;
    static constexpr std::uint32_t kHole = 0xffffffffu;  // pre of a record not held here

    struct Place {
        std::uint32_t shard;
        std::uint32_t position;
    };
    static constexpr std::uint32_t kElsewhere = 0xffffffffu;
    // Where a committed slot lives; shard kElsewhere for another rank's.
    Place place_of(std::uint32_t slot) const;
    void build_position_index() const;
    static bool needs_extra(std::uint32_t word) {
        return word::kind(word) == SynapseKind::Plastic || (word & word::kPrivateMask) != 0;
    }
    SynapseData read_layout(const Place& at) const;
    void write_layout(const Place& at, const SynapseData& d);
    Record to_record(const SynapseData& d, BigVector<Extra>& extras) const;
    SynapseData from_record(const Record& r, const BigVector<Extra>& extras) const;
    void collect(BigVector<Record>& records, BigVector<Extra>& extras);
    void build(BigVector<Record>& records, BigVector<Extra>& extras, std::size_t n_neurons,
               const ShardPlan& plan, const std::vector<float>& cost);
    void release_pair_set();

    BigVector<Uuid> ids_;
    SynapseParams params_;
    std::vector<Shard> shards_;
    std::vector<std::uint32_t> rank_bounds_;  // rank r holds neurons [rank_bounds_[r], [r + 1])
    bool layout_valid_ = true;
    std::uint32_t committed_ = 0;  // slots [0, committed_) are in the layout
    BigVector<Record> tail_;       // slots [committed_, size())
    BigVector<Extra> tail_extras_;
    // (pre, post) of every tail synapse, for connected(): while the tail is
    // strictly ascending in (pre, post) (as a sorted bulk load makes it) a
    // binary search of the tail, else an open-addressing set built then.
    bool tail_sorted_ = true;
    BigVector<std::uint64_t> tail_pairs_;
    std::size_t tail_pair_count_ = 0;
    bool tail_has(std::uint64_t key) const;
    void insert_pair(std::uint64_t key);
    void grow_pairs(std::size_t count);
    // Canonical creation order: slot of the first synapse of each pre (all
    // ranks' synapses counted).
    std::vector<std::uint32_t> slot_base_;
    bool canonical_ = true;
    // Otherwise, built on first use: shard << 32 | position per slot
    // (kElsewhere << 32 for other ranks' synapses).
    mutable BigVector<std::uint64_t> position_of_slot_;
    EdgeIndex index_;
};

}  // namespace vorn
