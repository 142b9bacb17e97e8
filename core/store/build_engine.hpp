#pragma once
// From a network folder to a running engine: the topology's nodes and edges
// with their kinds, configs, initial states, weights and delays, then the
// stored weights or a saved state. The engine never sees the store.

#include <expected>
#include <string>
#include <variant>

#include "core/engine/sim_engine.hpp"
#include "core/store/cortex.hpp"
#include "core/store/cortex_error.hpp"

namespace vorn {

// Why a folder could not become an engine: a store failure (reading the
// weights or the state file), or a node, edge or record the engine cannot
// take.
class BuildError {
  public:
    BuildError(CortexError e) : v_(std::move(e)) {}
    // "node {}: {}"
    static BuildError node(const Uuid& id, std::string_view reason);
    // "edge {}: {}"
    static BuildError edge(const Uuid& id, std::string_view reason);
    // "the weights file names edge {}, which the topology lacks"
    static BuildError unknown_weight(const Uuid& id);
    // "the saved state does not match the topology: {}"
    static BuildError state_mismatch(std::string_view what);

    // The store failure, or nullptr for an engine-side fault.
    const CortexError* store_error() const { return std::get_if<CortexError>(&v_); }
    std::string message() const;

  private:
    explicit BuildError(std::string text) : v_(std::move(text)) {}
    std::variant<CortexError, std::string> v_;
};

struct BuildOptions {
    bool weights = true;  // replace initial weights from weights/{type}/latest.cwt
    bool state = false;   // resume from the folder's saved state instead
};

// Nodes in topology order: the node's kind or the default; "lif" (no
// config or {}), "izhikevich" and "adex" (a complete config), "hh" (the
// node's config, else the metadata's hh_config object); then init_state,
// an object, written key by key as set_node_param writes. Edges in
// topology order with their kind ("stdp", "plastic-synapse", "static"),
// config, init_weight and delay_ms. With options.state the saved state
// replaces all of it; its ids must be the topology's.
std::expected<SimEngine, BuildError> build_engine(const Cortex& cortex, BuildOptions options);

// The engine's neurons and synapses are the topology's nodes and edges, in
// order (what a saved state needs to resume in this folder); else
// state_mismatch saying where they part.
std::expected<void, BuildError> check_state_matches(const Cortex& cortex, const SimEngine& engine);

// The folder's saved state: "state/latest.cstate".
std::string state_file_path(const Cortex& cortex);
// Writes a state document (SimEngine::save_state) atomically.
std::expected<void, CortexError> write_state_file(const std::string& path, std::string_view bytes);
// The bytes of a state file; MissingFile when there is none.
std::expected<std::string, CortexError> read_state_file(const std::string& path);

}  // namespace vorn
