#pragma once
// Cortex: the handle on one network folder. It holds the folder path and the
// metadata and topology records in memory, and rewrites the documents whole
// after each change (memory first, disk second).

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/format/cortex_error.hpp"
#include "core/format/metadata.hpp"
#include "core/format/topology.hpp"
#include "core/format/weights_layout.hpp"
#include "core/seeds/seed.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

// Optional arguments of Cortex::create; absent fields take their defaults.
struct CreateOptions {
    std::optional<std::string> defaults_neuron_kind;  // absent: "hh" for cortex_type hh, else "lif"
    std::optional<std::string> defaults_synapse_kind;  // absent: "stdp"
    std::optional<std::string> source_root;            // absent: the root text
    std::optional<JsonValue> hh_config;                // stored opaque in metadata.json
};

// Arguments of add_neuron.
struct NeuronInput {
    std::optional<Uuid> id;  // absent: a fresh random id
    std::string label;
    std::optional<NeuronSpec> kind;       // absent: follows defaults.neuron
    std::optional<JsonValue> metadata;    // absent: {}
    std::optional<JsonValue> init_state;  // stored unchanged; absent stays absent
};

// Arguments of add_synapse.
struct SynapseInput {
    std::optional<Uuid> id;  // absent: a fresh random id
    Uuid pre;
    Uuid post;
    std::optional<SynapseSpec> kind;  // absent: follows defaults.synapse
    float init_weight = 0.5f;
    std::optional<float> delay_ms;      // ms; absent: 1.0
    std::optional<JsonValue> metadata;  // absent: {}
};

struct SeedApplyCounts {
    std::uint64_t added_nodes = 0;
    std::uint64_t added_edges = 0;
    friend bool operator==(const SeedApplyCounts&, const SeedApplyCounts&) = default;
};

class Cortex {
  public:
    // Opens an existing folder. Fails with NotADirectory, MissingFile (no
    // metadata.json), Io, Metadata or Topology. A missing topology.json is
    // replaced by an empty one in memory; nothing is written.
    static std::expected<Cortex, CortexError> open(std::string root);

    // Creates the folder (and missing parents) and writes both documents.
    // Fails without touching an existing metadata.json. Not transactional:
    // if the topology write fails, metadata.json has already been written.
    static std::expected<Cortex, CortexError> create(std::string root, std::string name,
                                                     std::string cortex_type,
                                                     std::string now_rfc3339,
                                                     CreateOptions options = {});

    // Writes metadata.json, then topology.json; stops at the first failure.
    std::expected<void, CortexError> save() const;

    // Sets name and updated_at in memory, then writes metadata.json. A
    // refused record (empty name) stays changed in memory.
    std::expected<void, CortexError> rename(std::string new_name, std::string now_rfc3339);

    // Graph edits: change memory, validate (undoing the change if invalid),
    // rewrite topology.json, append one event (its failure is ignored).
    // A graph too large to write is undone like an invalid one; after a
    // failed disk write the change stays in memory, ahead of the disk.
    std::expected<Uuid, CortexError> add_neuron(NeuronInput input);
    std::expected<Uuid, CortexError> add_synapse(SynapseInput input);
    // Count of edges removed with the node; 0 (and no write) for an unknown id.
    // Ids are taken by value: a reference into the graph would move under the compaction.
    std::expected<std::uint64_t, CortexError> remove_neuron(Uuid id);
    // False (and no write) for an unknown id.
    std::expected<bool, CortexError> remove_synapse(Uuid id);
    // Appends the whole seed, validates once and writes once. When it is
    // refused, the graph is truncated back to its previous size.
    std::expected<SeedApplyCounts, CortexError> apply_seed(Seed seed);

    // weights/{cortex_type}/latest.cwt of this folder.
    std::expected<void, CortexError> persist_weights(std::span<const WeightRecord> records) const;
    std::expected<std::vector<WeightRecord>, CortexError> load_weights() const;

    const std::string& root() const { return root_; }
    const MetadataFile& metadata() const { return metadata_; }
    const TopologyFile& topology() const { return topology_; }

  private:
    Cortex(std::string root, MetadataFile metadata, TopologyFile topology)
        : root_(std::move(root)), metadata_(std::move(metadata)), topology_(std::move(topology)) {}

    std::string root_;       // exactly as the caller gave it
    MetadataFile metadata_;  // always version 2 in memory
    TopologyFile topology_;
};

}  // namespace vorn
