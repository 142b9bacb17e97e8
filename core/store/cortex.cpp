#include "core/store/cortex.hpp"

#include <sys/stat.h>

#include "core/format/folder_layout.hpp"
#include "core/store/file_ops.hpp"
#include "core/store/id_source.hpp"
#include "core/store/metadata_store.hpp"
#include "core/store/topology_store.hpp"
#include "core/store/weights_file.hpp"

namespace vorn {
namespace {

// Default neuron kind of a folder whose topology.json is missing at open.
std::string open_default_neuron_kind(const std::string& cortex_type) {
    if (cortex_type == "hh")
        return "hh";
    if (cortex_type == "lif" || cortex_type == "knowledge-graph")
        return "lif";
    return cortex_type;
}

// Default neuron kind of a new folder when the caller names none.
std::string create_default_neuron_kind(const std::string& cortex_type) {
    return cortex_type == "hh" ? "hh" : "lif";
}

// A network's default neuron kind must be its cortex_type; a knowledge graph
// may instead run on leaky integrate-and-fire neurons.
bool neuron_kind_fits(const std::string& kind, const std::string& cortex_type) {
    return kind == cortex_type || (cortex_type == "knowledge-graph" && kind == "lif");
}

// Both follow symbolic links; a path that cannot be examined counts as absent.
bool is_existing_directory(const std::string& path) {
    struct stat st;
    return system_file_access().stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) {
    struct stat st;
    return system_file_access().stat(path.c_str(), &st) == 0;
}

}  // namespace

std::expected<Cortex, CortexError> Cortex::open(std::string root) {
    if (!is_existing_directory(root))
        return std::unexpected(CortexError::not_a_directory(root));
    auto metadata = read_metadata(root);
    if (!metadata)
        return std::unexpected(metadata.error());
    auto topology = read_topology(root);
    if (!topology) {
        if (topology.error().kind() != CortexError::Kind::MissingFile)
            return std::unexpected(topology.error());
        // The file is first written by the next save or edit.
        const std::string& type = metadata->cortex_type;
        topology = TopologyFile::new_empty(
            type, TopologyDefaults{NeuronSpec{open_default_neuron_kind(type), std::nullopt},
                                   SynapseSpec{"stdp", std::nullopt}});
    }
    if (topology->cortex_type != metadata->cortex_type) {
        return std::unexpected(
            TopologyError::cortex_type_mismatch(topology->cortex_type, metadata->cortex_type));
    }
    return Cortex(std::move(root), std::move(*metadata), std::move(*topology));
}

std::expected<Cortex, CortexError> Cortex::create(std::string root, std::string name,
                                                  std::string cortex_type, std::string now_rfc3339,
                                                  CreateOptions options) {
    std::string neuron_kind = options.defaults_neuron_kind
                                  ? std::move(*options.defaults_neuron_kind)
                                  : create_default_neuron_kind(cortex_type);
    std::string synapse_kind =
        options.defaults_synapse_kind ? std::move(*options.defaults_synapse_kind) : "stdp";

    if (!exists(root)) {
        if (auto made = create_dirs(system_file_access(), root); !made)
            return std::unexpected(made.error());
    }
    if (!is_existing_directory(root))
        return std::unexpected(CortexError::not_a_directory(root));
    std::string metadata_path = join_path(root, kMetadataFileName);
    if (exists(metadata_path)) {
        return std::unexpected(
            IoError::already_exists("metadata already exists at " + metadata_path));
    }
    if (!neuron_kind_fits(neuron_kind, cortex_type))
        return std::unexpected(TopologyError::default_kind_mismatch(neuron_kind, cortex_type));

    auto id = mint_id();
    if (!id)
        return std::unexpected(id.error());
    MetadataFile metadata;
    metadata.version = kMetadataVersion;
    metadata.id = *id;
    metadata.name = std::move(name);
    metadata.cortex_type = cortex_type;
    metadata.hh_config = std::move(options.hh_config);
    metadata.source_root = options.source_root ? std::move(*options.source_root) : root;
    metadata.created_at = now_rfc3339;
    metadata.updated_at = std::move(now_rfc3339);

    TopologyFile topology = TopologyFile::new_empty(
        std::move(cortex_type),
        TopologyDefaults{NeuronSpec{std::move(neuron_kind), std::nullopt},
                         SynapseSpec{std::move(synapse_kind), std::nullopt}});

    if (auto r = write_metadata(root, metadata); !r)
        return std::unexpected(r.error());
    if (auto r = write_topology(root, topology); !r)
        return std::unexpected(r.error());
    return Cortex(std::move(root), std::move(metadata), std::move(topology));
}

std::expected<void, CortexError> Cortex::save() const {
    if (auto r = write_metadata(root_, metadata_); !r)
        return r;
    return write_topology(root_, topology_);
}

std::expected<void, CortexError> Cortex::rename(std::string new_name, std::string now_rfc3339) {
    metadata_.name = std::move(new_name);
    metadata_.updated_at = std::move(now_rfc3339);
    return write_metadata(root_, metadata_);
}

std::expected<void, CortexError> Cortex::persist_weights(
    std::span<const WeightRecord> records) const {
    return write_weights(root_, metadata_.cortex_type, records);
}

std::expected<std::vector<WeightRecord>, CortexError> Cortex::load_weights() const {
    return read_weights(root_, metadata_.cortex_type);
}

}  // namespace vorn
