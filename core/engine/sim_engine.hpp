#pragma once
// SimEngine: one in-memory spiking network (neurons, synapses, stimulations,
// modulator channels, clock) advanced in fixed steps by tick().

#include <array>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "core/engine/synapse_config.hpp"
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

class SimEngine {
  public:
    SimEngine();
    ~SimEngine();
    SimEngine(SimEngine&&) noexcept;
    SimEngine& operator=(SimEngine&&) noexcept;
    SimEngine(const SimEngine&) = delete;
    SimEngine& operator=(const SimEngine&) = delete;

    // No-op when the id is present already.
    void add_neuron(const Uuid& id, const NeuronConfig& config);
    // No-op for self-edges and already connected (pre, post) pairs, whatever
    // the kinds; missing endpoints become default LIF neurons. A plastic
    // config must satisfy w_min <= w_max (validate_plastic_config).
    void add_edge(const Uuid& edge_id, const Uuid& pre, const Uuid& post,
                  const SynapseConfig& config, float weight);
    // Ignored for unknown ids; replaces any stimulation in flight.
    void stimulate(const Uuid& id, float current, float duration_ms);

    std::vector<SpikeEvent> tick(float dt_ms);
    // The same as tick(), appending this tick's spikes to out.
    void tick_into(float dt_ms, std::vector<SpikeEvent>& out);

    double t_ms() const;
    std::size_t n_neurons() const;
    std::size_t n_synapses() const;

    // Neuron ids in order of first insertion.
    std::vector<Uuid> node_ids() const;
    // Synapse i in creation order, 0 <= i < n_synapses().
    Uuid synapse_id(std::size_t i) const;
    float synapse_weight(std::size_t i) const;

    // params() of the neuron, or nullopt when the engine does not hold it.
    std::optional<JsonValue> node_params(const Uuid& id) const;
    // params() of the first synapse with this edge id, or nullopt.
    std::optional<JsonValue> synapse_params(const Uuid& edge_id) const;
    // UnknownParameter "node {} (not in engine)" for unknown ids.
    std::expected<JsonValue, ParamError> set_node_param(const Uuid& id, std::string_view key,
                                                        const JsonValue& value);
    // UnknownParameter "synapse {} (not in engine)" for unknown edge ids.
    std::expected<JsonValue, ParamError> set_synapse_param(const Uuid& edge_id,
                                                           std::string_view key,
                                                           const JsonValue& value);
    // Every neuron in insertion order / every synapse in creation order.
    std::vector<std::pair<Uuid, JsonValue>> all_node_params() const;
    std::vector<std::pair<Uuid, JsonValue>> all_synapse_params() const;

    // Modulator channels: base levels, decaying pulses, and the four levels
    // used by the most recent tick (zeros before the first tick).
    void set_base_level(std::size_t channel, float level);
    void add_modulator_pulse(const ModulatorPulse& pulse);
    std::array<float, 4> modulator_levels() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vorn
