#pragma once
// The state behind SimEngine, shared by the files that implement it.

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <bit>
#include <cstring>
#include <expected>
#include <memory>
#include <vector>

#include "core/engine/exchange.hpp"
#include "core/engine/modulators.hpp"
#include "core/engine/neuron_store.hpp"
#include "core/engine/poisson_inputs.hpp"
#include "core/engine/recording.hpp"
#include "core/engine/sim_engine.hpp"
#include "core/engine/spike_history.hpp"
#include "core/engine/stimulations.hpp"
#include "core/engine/synapse_store.hpp"
#include "core/engine/worker_pool.hpp"

namespace vorn {
namespace engine_detail {

// Below this much work per tick (synapses plus weighted neurons) the shards
// run one after the other on the calling thread: waking workers would cost
// more than they save.
inline constexpr double kParallelWork = 20000.0;

inline bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

}  // namespace engine_detail

struct SimEngine::Impl {
    NeuronStore neurons;
    SynapseStore synapses;
    SharedTraces traces;
    Stimulations stimulations;
    PoissonInputs poisson;
    Modulators modulators;
    Recorders recorders;
    SpikeHistory history;
    double t_ms = 0.0;        // ms
    std::uint64_t ticks = 0;  // ticks done

    // Per neuron.
    std::vector<float> input;
    std::vector<std::uint8_t> spiked;
    // Per neuron, bit k: it spiked k ticks before the last one; kept while
    // some delay is longer than one tick. Unless recent_all, recent_active
    // lists (ascending) every neuron whose bits are not all zero.
    std::vector<std::uint64_t> recent;
    std::vector<std::uint32_t> recent_active;
    std::vector<std::uint32_t> recent_scratch;
    bool recent_all = false;
    void keep_recent_spikes();
    RecentSpikes recent_spikes() const {
        if (recent_all)
            return {recent.data(), nullptr, recent.size()};
        return {recent.data(), recent_active.data(), recent_active.size()};
    }
    std::vector<std::uint32_t> spikes;  // the last tick's, ascending
    std::vector<std::vector<std::uint32_t>> shard_spikes;

    bool pending_valid = true;  // false after a change to what arrives next tick
    bool words_dirty = false;   // parameter writes may have made words uniform
    float max_delay = 1.0f;     // ms, the longest delay of any synapse
    std::size_t n_threads = 1;
    std::unique_ptr<WorkerPool> pool;
    // Other processes of a distributed run, if any, and the neurons this
    // process holds (all of them when alone).
    std::shared_ptr<Exchange> exchange;
    std::uint32_t mine_begin = 0;
    std::uint32_t mine_end = 0;
    std::vector<std::uint32_t> local_spikes;   // this rank's, before the exchange
    std::vector<std::uint32_t> remote_spiked;  // other ranks' neurons flagged in spiked
    double work = 0.0;                         // rough work per tick, for choosing threads
    double min_parallel_work = engine_detail::kParallelWork;

    // ---- neurons ---------------------------------------------------------
    // Makes room in every per-neuron array for `more` neurons of a model.
    void reserve_neurons(std::size_t more, const NeuronConfig& config) {
        const std::size_t n = neurons.size() + more;
        neurons.reserve(more, config);
        input.reserve(n);
        spiked.reserve(n);
        recent.reserve(n);
        recent_active.reserve(n);
        recent_scratch.reserve(n);
        traces.reserve(n);
        stimulations.reserve_neurons(n);
    }
    // Brings the per-neuron arrays to the neuron count (within the room
    // reserve_neurons made, so this cannot fail).
    void sync_neurons() {
        const std::size_t n = neurons.size();
        if (input.size() == n)
            return;
        input.resize(n, 0.0f);
        spiked.resize(n, 0);
        recent.resize(n, 0);
        traces.resize(n);
        stimulations.resize_neurons(n);
        synapses.invalidate();
    }
    std::optional<std::uint32_t> add_neuron(const Uuid& id, const NeuronConfig& config) {
        if (auto found = neurons.find(id))
            return found;
        reserve_neurons(1, config);
        auto index = neurons.add(id, config);
        sync_neurons();
        return index;
    }

    // ---- layout ----------------------------------------------------------
    std::vector<float> neuron_costs() const {
        std::vector<float> cost(neurons.size());
        for (std::uint32_t n = 0; n < cost.size(); ++n)
            cost[n] = neurons.step_cost(n);
        return cost;
    }
    void after_rebuild() {
        std::vector<Shard>& shards = synapses.shards();
        max_delay = 0.0f;
        work = 0.0;
        for (Shard& sh : shards) {
            sh.reschedule(history, ticks);
            max_delay = std::max(max_delay, sh.max_delay);
            work += static_cast<double>(sh.size());
        }
        for (std::uint32_t n = 0; n < neurons.size(); ++n)
            work += neurons.step_cost(n);
        shard_spikes.resize(shards.size());
        mine_begin = shards.empty() ? 0 : shards.front().begin;
        mine_end = shards.empty() ? 0 : shards.back().end;
        pending_valid = false;
        words_dirty = false;
#ifdef __GLIBC__
        // The build's temporaries are gone; hand their heap pages back, or
        // the allocator keeps them resident for later small allocations.
        malloc_trim(0);
#endif
    }
    ShardPlan plan() const {
        if (!exchange)
            return {1, 0, n_threads};
        return {static_cast<std::size_t>(exchange->size()),
                static_cast<std::size_t>(exchange->rank()), n_threads};
    }
    bool holds(std::uint32_t neuron) const {
        return neuron >= mine_begin && neuron < mine_end;
    }
    // Fresh ids: rank 0's draws from the random source, the same on every rank.
    std::expected<std::vector<Uuid>, EngineError> mint_ids(std::size_t count) {
        std::vector<Uuid> ids(count);
        if (!exchange || exchange->rank() == 0) {
            if (auto ok = Uuid::random_v4_many(ids.data(), count); !ok)
                return std::unexpected(EngineError::random_source(ok.error()));
        }
        if (exchange) {
            std::string bytes(reinterpret_cast<const char*>(ids.data()), count * sizeof(Uuid));
            exchange->broadcast(bytes);
            if (bytes.size() != count * sizeof(Uuid))
                return std::unexpected(EngineError::random_source(
                    "could not retrieve random bytes for uuid: rank 0 failed"));
            std::memcpy(static_cast<void*>(ids.data()), bytes.data(), bytes.size());
        }
        return ids;
    }
    void ensure_layout() {
        if (synapses.needs_commit()) {
            synapses.commit(neurons.size(), plan(), neuron_costs());
            after_rebuild();
        }
        if (words_dirty) {
            for (Shard& sh : synapses.shards())
                sh.compact_words();
            words_dirty = false;
        }
    }

    // Runs job(s) for every shard, on the pool when the work is worth it.
    template <class Job>
    void each_shard(Job& job) {
        const std::size_t n = synapses.shards().size();
        if (n_threads > 1 && n > 1 && work >= min_parallel_work) {
            // Made on first use; after a fork the child has no workers, so
            // it makes its own (the parent's pool is let go, not joined).
            if (!pool || pool->owner() != getpid()) {
                if (pool)
                    (void)pool.release();
                pool = std::make_unique<WorkerPool>(n_threads);
            }
            pool->run(n, job);
        } else {
            for (std::size_t s = 0; s < n; ++s)
                job(s);
        }
    }

    void tick(float dt_ms);
    void share_spikes(float dt_ms);

    // ---- synapse records as models ----------------------------------------
    JsonValue synapse_params(std::uint32_t slot) const;
    std::expected<JsonValue, ParamError> set_synapse_param(std::uint32_t slot, std::string_view key,
                                                           const JsonValue& value);
};

}  // namespace vorn
