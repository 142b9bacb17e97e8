#include "core/store/build_engine.hpp"

#include <optional>

#include "core/engine/synapse_config_json.hpp"
#include "core/models/neuron_config_json.hpp"
#include "core/store/atomic_file.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {
namespace {

std::string cat(std::string_view a, std::string_view b, std::string_view c = {},
                std::string_view d = {}) {
    std::string out;
    out.append(a).append(b).append(c).append(d);
    return out;
}

std::expected<NeuronConfig, std::string> neuron_config(const NeuronSpec& spec,
                                                       const MetadataFile& metadata) {
    auto kind = neuron_kind_from_name(spec.kind);
    if (!kind)
        return std::unexpected(cat("unknown neuron kind '", spec.kind, "'"));
    const JsonValue* config = spec.config ? &*spec.config : nullptr;
    if (*kind == NeuronKind::Hh && config == nullptr && metadata.hh_config &&
        metadata.hh_config->is_object())
        config = &*metadata.hh_config;
    if (config != nullptr && !config->is_object())
        return std::unexpected(cat("config of kind '", spec.kind, "' is not an object"));
    if (config == nullptr && *kind != NeuronKind::Lif)
        return std::unexpected(cat("kind '", spec.kind, "' needs a config with all its fields"));
    static const JsonObject kNone;
    auto c = neuron_config_from_json(*kind, config == nullptr ? kNone : config->as_object());
    if (!c)
        return std::unexpected(c.error().message());
    return *c;
}

std::expected<SynapseConfig, std::string> synapse_config(const SynapseSpec& spec) {
    auto kind = synapse_kind_from_name(spec.kind);
    if (!kind)
        return std::unexpected(cat("unknown synapse kind '", spec.kind, "'"));
    if (spec.config && !spec.config->is_object())
        return std::unexpected(cat("config of kind '", spec.kind, "' is not an object"));
    auto c = synapse_config_from_json(*kind, spec.config ? &spec.config->as_object() : nullptr);
    if (!c)
        return std::unexpected(c.error().message());
    return *c;
}

std::expected<SimEngine, BuildError> build_from_topology(const Cortex& cortex) {
    const TopologyFile& t = cortex.topology();
    SimEngine engine;
    const auto default_neuron = neuron_config(t.defaults.neuron, cortex.metadata());
    for (const TopologyNode& node : t.nodes) {
        auto config = node.kind ? neuron_config(*node.kind, cortex.metadata()) : default_neuron;
        if (!config)
            return std::unexpected(BuildError::node(node.id, config.error()));
        engine.add_neuron(node.id, *config);
        if (!node.init_state)
            continue;
        if (!node.init_state->is_object())
            return std::unexpected(BuildError::node(node.id, "init_state is not an object"));
        for (const auto& [key, value] : node.init_state->as_object()) {
            auto ok = engine.set_node_param(node.id, key, value);
            if (!ok)
                return std::unexpected(
                    BuildError::node(node.id, "init_state: " + ok.error().message()));
        }
    }
    const auto default_synapse = synapse_config(t.defaults.synapse);
    for (const TopologyEdge& edge : t.edges) {
        auto config = edge.kind ? synapse_config(*edge.kind) : default_synapse;
        if (!config)
            return std::unexpected(BuildError::edge(edge.id, config.error()));
        const std::size_t before = engine.n_synapses();
        engine.add_edge(edge.id, edge.pre, edge.post, *config, edge.init_weight, edge.delay_ms);
        // The topology allows one edge per (pre, post, kind); the simulator
        // one synapse per (pre, post).
        if (engine.n_synapses() == before)
            return std::unexpected(BuildError::edge(
                edge.id,
                "connects the same pre and post as an earlier edge; a Sim keeps one "
                "synapse per pair"));
    }
    return engine;
}

std::expected<void, BuildError> apply_weights(const Cortex& cortex, SimEngine& engine) {
    auto records = cortex.load_weights();
    if (!records)
        return std::unexpected(BuildError(records.error()));
    if (records->empty())
        return {};
    // Records usually come in edge order (as a Sim's weights are written);
    // others are found through the engine's index of edge ids.
    std::vector<float> weights = engine.weights();
    for (std::size_t i = 0; i < records->size(); ++i) {
        const WeightRecord& r = (*records)[i];
        std::optional<std::size_t> slot;
        if (i < engine.n_synapses() && engine.synapse_id(i) == r.id)
            slot = i;
        else
            slot = engine.synapse_slot(r.id);
        if (!slot)
            return std::unexpected(BuildError::unknown_weight(r.id));
        weights[*slot] = r.weight;
    }
    auto ok = engine.set_weights(weights);
    if (!ok)
        return std::unexpected(BuildError::edge(Uuid{}, ok.error().message()));
    return {};
}

std::expected<SimEngine, BuildError> resume(const Cortex& cortex) {
    auto bytes = read_state_file(state_file_path(cortex));
    if (!bytes)
        return std::unexpected(BuildError(bytes.error()));
    auto engine = SimEngine::load_state(*bytes);
    if (!engine)
        return std::unexpected(BuildError(CortexError(engine.error())));
    if (auto ok = check_state_matches(cortex, *engine); !ok)
        return std::unexpected(ok.error());
    return std::move(*engine);
}

}  // namespace

BuildError BuildError::node(const Uuid& id, std::string_view reason) {
    return BuildError(cat("node ", id.to_string(), ": ", reason));
}

BuildError BuildError::edge(const Uuid& id, std::string_view reason) {
    if (id == Uuid{})
        return BuildError(std::string(reason));
    return BuildError(cat("edge ", id.to_string(), ": ", reason));
}

BuildError BuildError::unknown_weight(const Uuid& id) {
    return BuildError(
        cat("the weights file names edge ", id.to_string(), ", which the topology lacks"));
}

BuildError BuildError::state_mismatch(std::string_view what) {
    return BuildError(cat("the saved state does not match the topology: ", what));
}

std::string BuildError::message() const {
    if (const CortexError* e = store_error())
        return e->message();
    return std::get<std::string>(v_);
}

std::expected<SimEngine, BuildError> build_engine(const Cortex& cortex, BuildOptions options) {
    if (options.state)
        return resume(cortex);
    auto engine = build_from_topology(cortex);
    if (!engine)
        return engine;
    if (options.weights) {
        if (auto ok = apply_weights(cortex, *engine); !ok)
            return std::unexpected(ok.error());
    }
    return engine;
}

std::expected<void, BuildError> check_state_matches(const Cortex& cortex, const SimEngine& engine) {
    const TopologyFile& t = cortex.topology();
    if (engine.n_neurons() != t.nodes.size() || engine.n_synapses() != t.edges.size())
        return std::unexpected(BuildError::state_mismatch(
            cat("the simulation has ", std::to_string(engine.n_neurons()), " neurons and ",
                std::to_string(engine.n_synapses()) + " synapses, the topology " +
                    std::to_string(t.nodes.size()) + " nodes and " +
                    std::to_string(t.edges.size()) + " edges")));
    for (std::uint32_t i = 0; i < t.nodes.size(); ++i) {
        if (engine.node_id(i) != t.nodes[i].id)
            return std::unexpected(BuildError::state_mismatch(
                cat("node ", std::to_string(i), " is ", t.nodes[i].id.to_string())));
    }
    for (std::uint32_t s = 0; s < t.edges.size(); ++s) {
        if (engine.synapse_id(s) != t.edges[s].id)
            return std::unexpected(BuildError::state_mismatch(
                cat("edge ", std::to_string(s), " is ", t.edges[s].id.to_string())));
    }
    return {};
}

std::string state_file_path(const Cortex& cortex) {
    return join_path(join_path(cortex.root(), "state"), "latest.cstate");
}

std::expected<void, CortexError> write_state_file(const std::string& path, std::string_view bytes) {
    return atomic_write(path, bytes);
}

std::expected<std::string, CortexError> read_state_file(const std::string& path) {
    auto bytes = read_file(system_file_access(), path);
    if (!bytes) {
        if (bytes.error().is_missing())
            return std::unexpected(CortexError::missing_file(path));
        return std::unexpected(CortexError(bytes.error()));
    }
    return std::move(*bytes);
}

}  // namespace vorn
