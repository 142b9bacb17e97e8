#pragma once
// Cortex: the handle on one network folder. It holds the folder path and the
// metadata and topology records in memory, and rewrites the documents whole
// after each change (memory first, disk second).
//
// Several handles, in one process or in several, may work on one folder.
// Writers take the folder lock while they replace a document, and each handle
// remembers which version of each document it last read or wrote. A change
// through a handle whose version is no longer the current one is refused
// with StaleHandle and taken back out of memory, so that no handle silently
// overwrites another's acknowledged changes.
//
// Every operation leaves the handle as it was when it fails, std::bad_alloc
// included, with one exception kept from the single-writer design: after a
// failed disk write (Io) an edit stays in memory, ahead of the disk, until
// the next successful write.

#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/format/event.hpp"
#include "core/format/metadata.hpp"
#include "core/format/topology.hpp"
#include "core/format/weights_layout.hpp"
#include "core/seeds/seed.hpp"
#include "core/store/cortex_error.hpp"
#include "core/store/document_version.hpp"
#include "core/store/file_access.hpp"
#include "core/store/folder_lock.hpp"
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
    // replaced by an empty one in memory; nothing is written. fs must
    // outlive the handle.
    static std::expected<Cortex, CortexError> open(std::string root,
                                                   FileAccess& fs = system_file_access());

    // Creates the folder (and missing parents) and writes both documents.
    // Both records are checked before anything is written; a folder that
    // already holds metadata.json or topology.json is refused (Io, "already
    // exists") and left untouched. If topology.json cannot be written, the
    // metadata.json just written is removed again.
    static std::expected<Cortex, CortexError> create(std::string root, std::string name,
                                                     std::string cortex_type,
                                                     std::string now_rfc3339,
                                                     CreateOptions options = {},
                                                     FileAccess& fs = system_file_access());

    // Writes metadata.json, then topology.json; stops at the first failure.
    // Refused with StaleHandle (nothing written) when either document has
    // changed on disk since this handle last read or wrote it.
    std::expected<void, CortexError> save();

    // Sets name and updated_at, then writes metadata.json. A refused record
    // (empty name) or a stale handle leaves the record as it was.
    std::expected<void, CortexError> rename(std::string new_name, std::string now_rfc3339);

    // Graph edits: change memory, validate (undoing the change if invalid),
    // rewrite topology.json, append one event (its failure is ignored).
    // A graph too large to write, or a topology.json changed on disk since
    // this handle last read or wrote it (StaleHandle), is undone like an
    // invalid one; after a failed disk write the change stays in memory,
    // ahead of the disk.
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

    // weights/{cortex_type}/latest.cwt of this folder, written under the
    // folder lock; the last writer's weights win.
    std::expected<void, CortexError> persist_weights(std::span<const WeightRecord> records) const;
    std::expected<std::vector<WeightRecord>, CortexError> load_weights() const;

    const std::string& root() const { return root_; }
    const MetadataFile& metadata() const { return metadata_; }
    const TopologyFile& topology() const { return topology_; }

  private:
    // What this handle last read or wrote of each document.
    struct View {
        DocumentVersion metadata;
        DocumentVersion topology;
        DocumentVersion& operator[](Document d) {
            return d == Document::Metadata ? metadata : topology;
        }
    };

    Cortex(std::string root, MetadataFile metadata, TopologyFile topology, FileAccess& fs,
           View view)
        : root_(std::move(root)),
          metadata_(std::move(metadata)),
          topology_(std::move(topology)),
          fs_(&fs),
          view_(view) {}

    // Under the folder lock: StaleHandle unless the document on disk is the
    // version this handle last saw; nothing else is checked or changed.
    std::expected<void, CortexError> check_current(const FolderLock& lock, Document which,
                                                   const std::string& path) const;
    // Under the folder lock: replaces the document at path with bytes and
    // records the new version as this handle's view. Allocates nothing once
    // the new file is in place.
    std::expected<void, CortexError> replace(FolderLock& lock, Document which,
                                             const std::string& path, std::string_view bytes);
    // Replaces topology.json with bytes if this handle's view of it is
    // current, then appends event to the journal (its failure is ignored),
    // all under the folder lock.
    std::expected<void, CortexError> commit_topology(std::string_view bytes,
                                                     const EventRecord& event);
    // The end of every graph edit, once memory holds the change: serialises
    // the graph and commits it. undo (noexcept) takes the change back out
    // when the graph is refused, the handle is stale or memory runs out.
    template <typename Undo, typename MakeEvent>
    std::expected<void, CortexError> finish_edit(Undo&& undo, MakeEvent&& make_event);

    std::string root_;       // exactly as the caller gave it
    MetadataFile metadata_;  // always version 2 in memory
    TopologyFile topology_;
    FileAccess* fs_;
    View view_;
};

}  // namespace vorn
