#pragma once
// NeuronStore: every neuron of an engine at a dense index (order of first
// insertion), with the models of each kind stored contiguously so that the
// tick steps them without a pointer chase or a virtual call per neuron.

#include <cstdint>
#include <optional>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "core/models/adex_neuron.hpp"
#include "core/models/hh_neuron.hpp"
#include "core/models/izhikevich_neuron.hpp"
#include "core/models/lif_neuron.hpp"
#include "core/models/neuron_config.hpp"
#include "core/models/step_context.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

// Builds the model a config selects. A model kind joins the engine through
// one overload here and one entry in NeuronPools.
inline LifNeuron make_neuron(const Uuid& id, const LifConfig&) {
    return LifNeuron(id);
}
inline HhNeuron make_neuron(const Uuid& id, const HhConfig& cfg) {
    return HhNeuron(id, cfg);
}
inline IzhikevichNeuron make_neuron(const Uuid& id, const IzhikevichConfig& cfg) {
    return IzhikevichNeuron(id, cfg);
}
inline AdExNeuron make_neuron(const Uuid& id, const AdExConfig& cfg) {
    return AdExNeuron(id, cfg);
}

template <class Model>
struct NeuronPool {
    std::vector<Model> items;
    std::vector<std::uint32_t> node;  // engine index of each item
};

using NeuronPools = std::tuple<NeuronPool<LifNeuron>, NeuronPool<HhNeuron>,
                               NeuronPool<IzhikevichNeuron>, NeuronPool<AdExNeuron>>;

class NeuronStore {
  public:
    // Index of the neuron with this id; a new neuron is built from config
    // when the id is absent. Nullopt when no model is built for the config.
    std::optional<std::uint32_t> add(const Uuid& id, const NeuronConfig& config);
    std::optional<std::uint32_t> find(const Uuid& id) const;

    std::size_t size() const { return ids_.size(); }
    const Uuid& id(std::uint32_t index) const { return ids_[index]; }
    const std::vector<Uuid>& ids() const { return ids_; }

    NeuronModel& model(std::uint32_t index);
    const NeuronModel& model(std::uint32_t index) const;

    // Steps every neuron with input[index]; sets spiked[index] to 1 or 0 and
    // appends the spiking indices to spikes in ascending order.
    void step_all(const StepContext& ctx, const float* input, std::uint8_t* spiked,
                  std::vector<std::uint32_t>& spikes);
    // The same for the neurons [begin, end) only.
    void step_range(const StepContext& ctx, std::uint32_t begin, std::uint32_t end,
                    const float* input, std::uint8_t* spiked, std::vector<std::uint32_t>& spikes);

    // A rough cost of one tick of the neuron, in units of one synapse's, for
    // spreading work evenly over shards.
    float step_cost(std::uint32_t index) const;
    // Which pool (model kind, in NeuronPools order) holds the neuron.
    std::uint8_t kind(std::uint32_t index) const { return pool_of_[index]; }

    // Makes room for `more` neurons of the model config selects, so that
    // adding them cannot fail midway.
    void reserve(std::size_t more, const NeuronConfig& config);

  private:
    template <std::size_t K = 0>
    NeuronModel& model_in_pool(std::uint8_t pool, std::uint32_t slot);

    std::unordered_map<Uuid, std::uint32_t, UuidHash> index_;
    std::vector<Uuid> ids_;
    std::vector<std::uint8_t> pool_of_;   // which pool of NeuronPools
    std::vector<std::uint32_t> slot_of_;  // position within that pool
    NeuronPools pools_;
};

}  // namespace vorn
