#pragma once
// SimEngine: one in-memory spiking network (neurons, synapses, stimulations,
// noise inputs, modulator channels, clock) advanced in fixed steps by tick().

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/engine/engine_error.hpp"
#include "core/engine/exchange.hpp"
#include "core/engine/recording.hpp"
#include "core/engine/synapse_config.hpp"
#include "core/format/errors.hpp"
#include "core/models/neuron_config.hpp"
#include "core/models/param_error.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

struct SpikeEvent {
    Uuid id;
    double t_ms;               // simulated time at the end of the tick, ms
    std::uint32_t neuron = 0;  // dense index of the neuron, in order of first insertion
};

struct ModulatorPulse {
    float amount;
    float tau_ms;          // decay time constant, ms
    std::uint8_t channel;  // 0, 1, 2 select those channels; anything else channel 3
};

// Many edges at once, by neuron index (position in node_ids()). A weight
// or delay array of length one, or a scalar, applies to every edge.
struct EdgeBatch {
    std::span<const std::int64_t> pre;
    std::span<const std::int64_t> post;
    std::span<const double> weight;    // one per edge, or one value when weight_scalar
    std::span<const double> delay_ms;  // one per edge, or one value when delay_scalar
    bool weight_scalar = false;
    bool delay_scalar = false;
    SynapseConfig config;
};

class SimEngine {
  public:
    SimEngine();
    ~SimEngine();
    SimEngine(SimEngine&&) noexcept;
    SimEngine& operator=(SimEngine&&) noexcept;
    SimEngine(const SimEngine&) = delete;
    SimEngine& operator=(const SimEngine&) = delete;

    // ---- building ------------------------------------------------------
    // No-op when the id is present already.
    void add_neuron(const Uuid& id, const NeuronConfig& config);
    // count neurons with fresh ids; their indices follow in creation order.
    // On failure (the random source) nothing is added.
    std::expected<std::vector<Uuid>, EngineError> add_neurons(std::size_t count,
                                                              const NeuronConfig& config);
    // No-op for self-edges and already connected (pre, post) pairs, whatever
    // the kinds; missing endpoints become default LIF neurons. Configs must
    // satisfy w_min <= w_max; delay_ms is finite and >= 0.
    void add_edge(const Uuid& edge_id, const Uuid& pre, const Uuid& post,
                  const SynapseConfig& config, float weight, float delay_ms = 1.0f);
    // The edges of a batch with fresh ids, as add_edge calls in order would
    // add them (self-edges and repeats skipped); returns how many were made.
    // Everything is checked first: on error nothing is added.
    std::expected<std::size_t, EngineError> add_edges(const EdgeBatch& batch);
    // Ignored for unknown ids; replaces any stimulation in flight.
    void stimulate(const Uuid& id, float current, float duration_ms);
    // Poisson noise onto neurons by index (see PoissonInputs); duplicates
    // count once. Errors: an index out of range, a rate that is negative or
    // not finite, a weight that is not finite.
    std::expected<void, EngineError> add_poisson_input(std::span<const std::int64_t> nodes,
                                                       double rate_hz, float weight,
                                                       std::uint64_t seed);

    // ---- running -------------------------------------------------------
    std::vector<SpikeEvent> tick(float dt_ms);
    // The same as tick(), appending this tick's spikes to out.
    void tick_into(float dt_ms, std::vector<SpikeEvent>& out);
    // One tick; its spiking neurons (ascending dense indices) are then in
    // last_spikes(). std::bad_alloc from a monitor comes after the tick is done.
    void step(float dt_ms);
    const std::vector<std::uint32_t>& last_spikes() const;

    // Threads that share each tick (1 = the calling thread only). Results
    // do not depend on it.
    void set_threads(std::size_t threads);
    std::size_t threads() const;
    // A distributed run: this engine becomes one rank of exchange's
    // processes, which all make the same calls (see Exchange). Each rank
    // then holds and steps only its range of neurons and the synapses onto
    // them; ids, counts and listing orders stay global.
    void set_exchange(std::shared_ptr<Exchange> exchange);
    int rank() const;
    int ranks() const;
    // Whether this rank holds a neuron (by index) or a synapse (by slot):
    // always when alone; reads of the others answer elsewhere.
    bool holds_node(std::uint32_t index) const;
    bool holds_synapse(std::size_t slot) const;
    // The rank holding a neuron.
    std::size_t node_rank(std::uint32_t index) const;
    // The first slot with this edge id.
    std::optional<std::size_t> synapse_slot(const Uuid& edge_id) const;
    // Collective helpers of a distributed run (alone: trivial). Every
    // rank's bytes in rank order on rank 0 (empty elsewhere); rank 0's
    // bytes on every rank; every weight on rank 0 (nullopt elsewhere).
    std::vector<std::string> gather(const std::string& mine);
    void broadcast(std::string& bytes);
    std::optional<std::vector<float>> gather_weights();
    // Fresh version-4 ids (rank 0's draws, the same on every rank).
    std::expected<std::vector<Uuid>, EngineError> mint_ids(std::size_t count);

    // Below this much work per tick (about one unit per synapse) the shards
    // run one after the other on the calling thread, since waking workers
    // would cost more than they save. 0 always uses the workers.
    void set_min_parallel_work(double work);

    // ---- reading and writing -------------------------------------------
    double t_ms() const;
    std::uint64_t ticks_done() const;
    std::size_t n_neurons() const;
    std::size_t n_synapses() const;

    // Neuron ids in order of first insertion (dense index order).
    std::vector<Uuid> node_ids() const;
    const Uuid& node_id(std::uint32_t index) const;
    std::optional<std::uint32_t> node_index(const Uuid& id) const;
    // Synapse i in creation order, 0 <= i < n_synapses().
    Uuid synapse_id(std::size_t i) const;
    float synapse_weight(std::size_t i) const;
    const char* synapse_kind(std::size_t i) const;

    // Every weight / delay in creation order.
    std::vector<float> weights() const;
    std::vector<float> delays() const;
    // New values for every synapse in creation order; each weight within its
    // synapse's range (static: finite), each delay finite and >= 0. All or
    // nothing: the first bad value is reported and nothing changes.
    std::expected<void, EngineError> set_weights(std::span<const float> weights);
    std::expected<void, EngineError> set_delays(std::span<const float> delays);
    // Pre and post neuron indices of every synapse in creation order.
    void synapse_endpoints(std::vector<std::uint32_t>& pre, std::vector<std::uint32_t>& post) const;

    // params() of the neuron, or nullopt when the engine does not hold it.
    std::optional<JsonValue> node_params(const Uuid& id) const;
    // params() of the first synapse with this edge id, or nullopt.
    std::optional<JsonValue> synapse_params(const Uuid& edge_id) const;
    // UnknownParameter "node {} (not in engine)" for unknown ids.
    std::expected<JsonValue, ParamError> set_node_param(const Uuid& id, std::string_view key,
                                                        const JsonValue& value);
    // UnknownParameter "synapse {} (not in engine)" for unknown edge ids;
    // null for a synapse another rank holds (the write happens there).
    std::expected<JsonValue, ParamError> set_synapse_param(const Uuid& edge_id,
                                                           std::string_view key,
                                                           const JsonValue& value);
    // Every neuron in insertion order / every synapse in creation order
    // (those this rank holds).
    std::vector<std::pair<Uuid, JsonValue>> all_node_params() const;
    std::vector<std::pair<Uuid, JsonValue>> all_synapse_params() const;

    // Modulator channels: base levels, decaying pulses, and the four levels
    // used by the most recent tick (zeros before the first tick).
    void set_base_level(std::size_t channel, float level);
    void add_modulator_pulse(const ModulatorPulse& pulse);
    std::array<float, 4> modulator_levels() const;

    // ---- checkpoints -----------------------------------------------------
    // The whole engine (structure, state, inputs, spikes in flight) as a
    // state document; see docs/format.md. Monitors and threads are not part
    // of it. A continued load_state gives the same bits as the original.
    std::expected<std::string, StateError> save_state() const;
    // An engine from a state document; any fault as a StateError.
    static std::expected<SimEngine, StateError> load_state(std::string_view bytes);

    // ---- monitors ------------------------------------------------------
    // A record of every spike from now on.
    std::shared_ptr<SpikeRecord> add_spike_monitor();
    // A record of `key` of the given neurons (dense indices) after every
    // `every`-th tick from now on. Errors: an index out of range, every = 0,
    // a key that is not a number of some neuron's params().
    std::expected<std::shared_ptr<StateRecord>, EngineError> add_state_monitor(
        std::span<const std::int64_t> neurons, std::string_view key, std::uint64_t every);

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vorn
