#include "core/engine/sim_engine.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "core/engine/modulators.hpp"
#include "core/engine/neuron_store.hpp"
#include "core/engine/plastic_pool.hpp"
#include "core/engine/stdp_pool.hpp"
#include "core/engine/stimulations.hpp"

namespace vorn {
namespace {

// A synapse as its kind's pool and its slot there: plastic slots carry
// kPlasticRef, STDP slots are stored bare.
constexpr std::uint32_t kPlasticRef = 1u << 31;

bool is_plastic(std::uint32_t ref) {
    return (ref & kPlasticRef) != 0;
}
std::uint32_t slot_of(std::uint32_t ref) {
    return ref & ~kPlasticRef;
}

}  // namespace

// Neurons and synapses live at dense indices; ids are hashed only here at
// the API boundary. Each synapse kind has its own pool; refs maps a
// synapse's index (creation order across kinds) to its pool slot.
struct SimEngine::Impl {
    NeuronStore neurons;
    StdpPool stdp;
    PlasticPool plastic;
    std::vector<std::uint32_t> refs;  // synapse index -> pool ref
    Stimulations stimulations;
    Modulators modulators;
    double t_ms = 0.0;  // ms

    std::unordered_set<std::uint64_t> connected_pairs;             // pre index << 32 | post index
    std::unordered_map<Uuid, std::uint32_t, UuidHash> first_edge;  // edge id -> first index

    // Per post neuron: refs of its synapses in creation order and the pre
    // of the newest one. Delivery to a post is summed while walking the
    // synapses when that walk meets them in creation order: "direct" posts
    // receive only STDP synapses with pre indices ascending along creation
    // order (walked by pre), "plastic_only" posts only plastic synapses
    // (walked by slot). The remaining, indirect posts sum literally.
    std::vector<std::vector<std::uint32_t>> incoming;
    std::vector<std::uint32_t> newest_pre;
    std::vector<std::uint8_t> direct;
    std::vector<std::uint8_t> plastic_only;
    std::vector<std::uint32_t> indirect_posts;

    // Per neuron, rebuilt each tick.
    std::vector<float> input;
    std::vector<float> pending;  // synaptic input of the next tick
    bool pending_valid = true;   // false after a change that alters delivery
    std::vector<std::uint8_t> spiked;
    std::vector<std::uint32_t> spikes;  // spiking neuron indices, ascending

    std::optional<std::uint32_t> add_neuron(const Uuid& id, const NeuronConfig& config);
    void add_synapse(const Uuid& edge_id, std::uint32_t pre, std::uint32_t post,
                     const SynapseConfig& config, float weight);

    void tick(float dt_ms, std::vector<SpikeEvent>& out);
    void apply_synaptic_input();
    void compute_indirect_delivery();
    void step_neurons(const StepContext& ctx);
    void apply_plasticity(const StepContext& ctx);

    StdpSynapse stdp_synapse(std::uint32_t slot) const {
        return stdp.get(slot, neurons.id(stdp.pre(slot)), neurons.id(stdp.post(slot)));
    }
    PlasticSynapse plastic_synapse(std::uint32_t slot) const {
        return plastic.get(slot, neurons.id(plastic.pre(slot)), neurons.id(plastic.post(slot)));
    }
    Uuid synapse_id(std::uint32_t index) const {
        std::uint32_t ref = refs[index];
        return is_plastic(ref) ? plastic.id(slot_of(ref)) : stdp.id(ref);
    }
    float synapse_weight(std::uint32_t index) const {
        std::uint32_t ref = refs[index];
        return is_plastic(ref) ? plastic.weight(slot_of(ref)) : stdp.weight(ref);
    }
    JsonValue synapse_params(std::uint32_t index) const {
        std::uint32_t ref = refs[index];
        return is_plastic(ref) ? plastic_synapse(slot_of(ref)).params()
                               : stdp_synapse(ref).params();
    }
    std::expected<JsonValue, ParamError> set_synapse_param(std::uint32_t index,
                                                           std::string_view key,
                                                           const JsonValue& value);
};

std::optional<std::uint32_t> SimEngine::Impl::add_neuron(const Uuid& id,
                                                         const NeuronConfig& config) {
    std::size_t before = neurons.size();
    auto index = neurons.add(id, config);
    std::size_t n = neurons.size();
    if (n != before) {
        stdp.resize_neurons(n);
        stimulations.resize_neurons(n);
        incoming.resize(n);
        newest_pre.resize(n, 0);
        direct.resize(n, 1);
        plastic_only.resize(n, 0);
        input.resize(n, 0.0f);
        pending.resize(n, 0.0f);
        spiked.resize(n, 0);
    }
    return index;
}

void SimEngine::Impl::add_synapse(const Uuid& edge_id, std::uint32_t pre, std::uint32_t post,
                                  const SynapseConfig& config, float weight) {
    std::vector<std::uint32_t>& in = incoming[post];
    std::uint32_t ref;
    bool literal_sum;
    if (const auto* cfg = std::get_if<PlasticSynapseConfig>(&config)) {
        ref = kPlasticRef | plastic.add(edge_id, pre, post, *cfg, weight);
        if (in.empty()) {
            direct[post] = 0;
            plastic_only[post] = 1;
        }
        literal_sum = !plastic_only[post];
    } else {
        ref = stdp.add(edge_id, pre, post, weight);
        literal_sum = plastic_only[post] || (!in.empty() && pre < newest_pre[post]);
    }
    auto index = static_cast<std::uint32_t>(refs.size());
    refs.push_back(ref);
    first_edge.try_emplace(edge_id, index);
    if (literal_sum && (direct[post] || plastic_only[post])) {
        direct[post] = 0;
        plastic_only[post] = 0;
        indirect_posts.push_back(post);
    }
    in.push_back(ref);
    newest_pre[post] = pre;
    // The new synapse delivers on the next tick if its pre spiked on the last.
    pending_valid = false;
}

void SimEngine::Impl::tick(float dt_ms, std::vector<SpikeEvent>& out) {
    t_ms += static_cast<double>(dt_ms);
    std::array<float, 4> levels = modulators.advance(dt_ms);
    std::fill(input.begin(), input.end(), 0.0f);
    stimulations.expire_and_apply(dt_ms, input.data());
    apply_synaptic_input();
    const StepContext ctx{levels, t_ms, dt_ms, levels[0]};
    step_neurons(ctx);
    apply_plasticity(ctx);
    for (std::uint32_t n : spikes) {
        out.push_back({neurons.id(n), t_ms, n});
    }
}

// Current of the previous tick's spikes. Normally summed during the previous
// tick's plasticity walk; recomputed when something changed since.
void SimEngine::Impl::apply_synaptic_input() {
    if (!pending_valid) {
        std::fill(pending.begin(), pending.end(), 0.0f);
        stdp.deliver(spikes, direct.data(), pending.data());
        plastic.deliver(spiked.data(), plastic_only.data(), pending.data());
        compute_indirect_delivery();
        pending_valid = true;
    }
    for (std::size_t n = 0; n < pending.size(); ++n) {
        if (pending[n] != 0.0f)
            input[n] = input[n] + pending[n];
    }
}

// Posts with both kinds of input or STDP synapses out of pre order: a sum in
// creation order across kinds. A synapse whose pre did not spike adds +0.0
// and is skipped.
void SimEngine::Impl::compute_indirect_delivery() {
    for (std::uint32_t post : indirect_posts) {
        float sum = 0.0f;
        for (std::uint32_t ref : incoming[post]) {
            if (is_plastic(ref)) {
                std::uint32_t slot = slot_of(ref);
                if (spiked[plastic.pre(slot)])
                    sum = sum + plastic.current(slot);
            } else if (spiked[stdp.pre(ref)]) {
                sum = sum + stdp.current(ref);
            }
        }
        pending[post] = sum;
    }
}

void SimEngine::Impl::step_neurons(const StepContext& ctx) {
    spikes.clear();
    neurons.step_all(ctx, input.data(), spiked.data(), spikes);
}

// Plasticity of every synapse with this tick's spikes, then the delivery
// sums for the next tick with the final weights.
void SimEngine::Impl::apply_plasticity(const StepContext& ctx) {
    std::fill(pending.begin(), pending.end(), 0.0f);
    stdp.update(ctx.dt_ms, spiked.data(), spikes, direct.data(), pending.data());
    plastic.update(ctx, spiked.data(), plastic_only.data(), pending.data());
    compute_indirect_delivery();
    pending_valid = true;
}

std::expected<JsonValue, ParamError> SimEngine::Impl::set_synapse_param(std::uint32_t index,
                                                                        std::string_view key,
                                                                        const JsonValue& value) {
    std::uint32_t ref = refs[index];
    std::expected<JsonValue, ParamError> result;
    if (is_plastic(ref)) {
        PlasticSynapse syn = plastic_synapse(slot_of(ref));
        result = syn.set_param(key, value);
        if (result)
            plastic.put(slot_of(ref), syn);
    } else {
        StdpSynapse syn = stdp_synapse(ref);
        result = syn.set_param(key, value);
        if (result)
            stdp.put(ref, syn);
    }
    // A new weight or gain changes what the next tick delivers.
    if (result)
        pending_valid = false;
    return result;
}

SimEngine::SimEngine() : impl_(std::make_unique<Impl>()) {}
SimEngine::~SimEngine() = default;
SimEngine::SimEngine(SimEngine&&) noexcept = default;
SimEngine& SimEngine::operator=(SimEngine&&) noexcept = default;

void SimEngine::add_neuron(const Uuid& id, const NeuronConfig& config) {
    impl_->add_neuron(id, config);
}

void SimEngine::add_edge(const Uuid& edge_id, const Uuid& pre, const Uuid& post,
                         const SynapseConfig& config, float weight) {
    if (pre == post)
        return;
    Impl& m = *impl_;
    auto pre_index = m.neurons.find(pre);
    auto post_index = m.neurons.find(post);
    if (pre_index && post_index) {
        std::uint64_t pair = (std::uint64_t{*pre_index} << 32) | *post_index;
        if (!m.connected_pairs.insert(pair).second)
            return;
    } else {
        pre_index = m.add_neuron(pre, LifConfig{});
        post_index = m.add_neuron(post, LifConfig{});
        m.connected_pairs.insert((std::uint64_t{*pre_index} << 32) | *post_index);
    }
    m.add_synapse(edge_id, *pre_index, *post_index, config, weight);
}

void SimEngine::stimulate(const Uuid& id, float current, float duration_ms) {
    if (auto index = impl_->neurons.find(id))
        impl_->stimulations.set(*index, current, duration_ms);
}

std::vector<SpikeEvent> SimEngine::tick(float dt_ms) {
    std::vector<SpikeEvent> out;
    impl_->tick(dt_ms, out);
    return out;
}

void SimEngine::tick_into(float dt_ms, std::vector<SpikeEvent>& out) {
    impl_->tick(dt_ms, out);
}

double SimEngine::t_ms() const {
    return impl_->t_ms;
}

std::size_t SimEngine::n_neurons() const {
    return impl_->neurons.size();
}

std::size_t SimEngine::n_synapses() const {
    return impl_->refs.size();
}

std::vector<Uuid> SimEngine::node_ids() const {
    return impl_->neurons.ids();
}

Uuid SimEngine::synapse_id(std::size_t i) const {
    return impl_->synapse_id(static_cast<std::uint32_t>(i));
}

float SimEngine::synapse_weight(std::size_t i) const {
    return impl_->synapse_weight(static_cast<std::uint32_t>(i));
}

std::optional<JsonValue> SimEngine::node_params(const Uuid& id) const {
    auto index = impl_->neurons.find(id);
    if (!index)
        return std::nullopt;
    return impl_->neurons.model(*index).params();
}

std::optional<JsonValue> SimEngine::synapse_params(const Uuid& edge_id) const {
    auto it = impl_->first_edge.find(edge_id);
    if (it == impl_->first_edge.end())
        return std::nullopt;
    return impl_->synapse_params(it->second);
}

std::expected<JsonValue, ParamError> SimEngine::set_node_param(const Uuid& id, std::string_view key,
                                                               const JsonValue& value) {
    auto index = impl_->neurons.find(id);
    if (!index)
        return std::unexpected(ParamError::unknown("node " + id.to_string() + " (not in engine)"));
    return impl_->neurons.model(*index).set_param(key, value);
}

std::expected<JsonValue, ParamError> SimEngine::set_synapse_param(const Uuid& edge_id,
                                                                  std::string_view key,
                                                                  const JsonValue& value) {
    auto it = impl_->first_edge.find(edge_id);
    if (it == impl_->first_edge.end()) {
        return std::unexpected(
            ParamError::unknown("synapse " + edge_id.to_string() + " (not in engine)"));
    }
    return impl_->set_synapse_param(it->second, key, value);
}

std::vector<std::pair<Uuid, JsonValue>> SimEngine::all_node_params() const {
    std::vector<std::pair<Uuid, JsonValue>> out;
    out.reserve(impl_->neurons.size());
    for (std::uint32_t n = 0; n < impl_->neurons.size(); ++n) {
        out.emplace_back(impl_->neurons.id(n), impl_->neurons.model(n).params());
    }
    return out;
}

std::vector<std::pair<Uuid, JsonValue>> SimEngine::all_synapse_params() const {
    std::vector<std::pair<Uuid, JsonValue>> out;
    out.reserve(impl_->refs.size());
    for (std::uint32_t s = 0; s < impl_->refs.size(); ++s) {
        out.emplace_back(impl_->synapse_id(s), impl_->synapse_params(s));
    }
    return out;
}

void SimEngine::set_base_level(std::size_t channel, float level) {
    impl_->modulators.set_base_level(channel, level);
}

void SimEngine::add_modulator_pulse(const ModulatorPulse& pulse) {
    impl_->modulators.add_pulse(pulse);
}

std::array<float, 4> SimEngine::modulator_levels() const {
    return impl_->modulators.levels();
}

}  // namespace vorn
