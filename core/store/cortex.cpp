#include "core/store/cortex.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <utility>

#include "core/format/folder_layout.hpp"
#include "core/store/atomic_file.hpp"
#include "core/store/event_log.hpp"
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
bool is_existing_directory(FileAccess& fs, const std::string& path) {
    struct stat st;
    return fs.stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool exists(FileAccess& fs, const std::string& path) {
    struct stat st;
    return fs.stat(path.c_str(), &st) == 0;
}

// Refuses to create over a document that is already there: "{document}
// already exists at {path}".
std::optional<CortexError> existing_document(FileAccess& fs, const std::string& metadata_path,
                                             const std::string& topology_path) {
    for (const auto& [what, path] :
         {std::pair{"metadata", &metadata_path}, std::pair{"topology", &topology_path}}) {
        if (exists(fs, *path))
            return IoError::already_exists(std::string(what) + " already exists at " + *path);
    }
    return std::nullopt;
}

// The identity of the document at path now; absent when there is none.
// Something other than a regular file there holds nobody's edits either (the
// write that follows reports it). Does not allocate.
std::expected<FileIdentity, IoError> identity_now(FileAccess& fs, const std::string& path) {
    struct stat st;
    if (fs.stat(path.c_str(), &st) == 0)
        return S_ISREG(st.st_mode) ? FileIdentity::of(st) : FileIdentity{};
    IoError error = IoError::os(errno);
    if (error.is_missing())
        return FileIdentity{};
    return std::unexpected(error);
}

}  // namespace

std::expected<Cortex, CortexError> Cortex::open(std::string root, FileAccess& fs) {
    if (!is_existing_directory(fs, root))
        return std::unexpected(CortexError::not_a_directory(root));
    // The counts come first: a writer replaces a document before it counts
    // the replacement, so a count read now can only be older than the
    // documents read after it, which makes the handle look stale at worst.
    auto generations = read_generations(root, fs);
    if (!generations)
        return std::unexpected(generations.error());
    View view;
    view.metadata.generation = (*generations)[Document::Metadata];
    view.topology.generation = (*generations)[Document::Topology];
    auto metadata = read_metadata(root, fs, &view.metadata.file);
    if (!metadata)
        return std::unexpected(metadata.error());
    auto topology = read_topology(root, fs, &view.topology.file);
    if (!topology) {
        if (topology.error().kind() != CortexError::Kind::MissingFile)
            return std::unexpected(topology.error());
        // The file is first written by the next save or edit.
        view.topology.file = FileIdentity{};
        const std::string& type = metadata->cortex_type;
        topology = TopologyFile::new_empty(
            type, TopologyDefaults{NeuronSpec{open_default_neuron_kind(type), std::nullopt},
                                   SynapseSpec{"stdp", std::nullopt}});
    }
    if (topology->cortex_type != metadata->cortex_type) {
        return std::unexpected(
            TopologyError::cortex_type_mismatch(topology->cortex_type, metadata->cortex_type));
    }
    return Cortex(std::move(root), std::move(*metadata), std::move(*topology), fs, view);
}

std::expected<Cortex, CortexError> Cortex::create(std::string root, std::string name,
                                                  std::string cortex_type, std::string now_rfc3339,
                                                  CreateOptions options, FileAccess& fs) {
    std::string neuron_kind = options.defaults_neuron_kind
                                  ? std::move(*options.defaults_neuron_kind)
                                  : create_default_neuron_kind(cortex_type);
    std::string synapse_kind =
        options.defaults_synapse_kind ? std::move(*options.defaults_synapse_kind) : "stdp";
    const std::string metadata_path = join_path(root, kMetadataFileName);
    const std::string topology_path = join_path(root, kTopologyFileName);

    // Everything that can refuse the call without touching the disk runs
    // first, so that a refused create writes nothing, not even the folder.
    const bool root_exists = exists(fs, root);
    if (root_exists) {
        if (!is_existing_directory(fs, root))
            return std::unexpected(CortexError::not_a_directory(root));
        if (auto existing = existing_document(fs, metadata_path, topology_path))
            return std::unexpected(std::move(*existing));
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

    // Both documents are checked before either is written.
    auto metadata_bytes = serialize_metadata(metadata);
    if (!metadata_bytes)
        return std::unexpected(std::move(metadata_bytes.error()));
    auto topology_bytes = serialize_topology(topology);
    if (!topology_bytes)
        return std::unexpected(std::move(topology_bytes.error()));

    if (!root_exists) {
        if (auto made = create_dirs(fs, root); !made)
            return std::unexpected(made.error());
        if (!is_existing_directory(fs, root))
            return std::unexpected(CortexError::not_a_directory(root));
    }
    auto lock = FolderLock::acquire(root, fs);
    if (!lock)
        return std::unexpected(lock.error());
    // Again under the lock: another create may have won the race.
    if (auto existing = existing_document(fs, metadata_path, topology_path))
        return std::unexpected(std::move(*existing));

    Cortex handle(std::move(root), std::move(metadata), std::move(topology), fs, View{});
    if (auto written = handle.replace(*lock, Document::Metadata, metadata_path, *metadata_bytes);
        !written)
        return std::unexpected(written.error());
    // A folder with metadata.json alone would open as an empty network and
    // refuse every later create; take the first document back out instead.
    auto written = [&]() -> std::expected<void, CortexError> {
        try {
            return handle.replace(*lock, Document::Topology, topology_path, *topology_bytes);
        } catch (...) {
            (void)fs.unlink(metadata_path.c_str());
            throw;
        }
    }();
    if (!written) {
        (void)fs.unlink(metadata_path.c_str());
        return std::unexpected(written.error());
    }
    return handle;
}

std::expected<void, CortexError> Cortex::check_current(const FolderLock& lock, Document which,
                                                       const std::string& path) const {
    auto generations = lock.generations();
    if (!generations)
        return std::unexpected(generations.error());
    auto file = identity_now(*fs_, path);
    if (!file)
        return std::unexpected(file.error());
    const DocumentVersion& seen = which == Document::Metadata ? view_.metadata : view_.topology;
    // A document removed by hand holds nobody's edits any more, so it may be
    // written again; one replaced since, under the lock or not, may not.
    const bool replaced = file->present && *file != seen.file;
    if (replaced || (*generations)[which] != seen.generation)
        return std::unexpected(CortexError::stale_handle(path));
    return {};
}

std::expected<void, CortexError> Cortex::replace(FolderLock& lock, Document which,
                                                 const std::string& path, std::string_view bytes) {
    if (auto written = atomic_write(path, bytes, *fs_); !written)
        return std::unexpected(written.error());
    // The document is replaced: from here on nothing may fail the call.
    // A count that cannot be stored leaves the old one, which still matches
    // the file this handle records below; another handle that saw the old
    // file is told apart by the file's identity.
    DocumentVersion& seen = view_[which];
    auto counted = lock.bump(which);
    if (counted) {
        seen.generation = *counted;
    } else if (auto generations = lock.generations()) {
        seen.generation = (*generations)[which];
    }
    auto file = identity_now(*fs_, path);
    // Unknown: the next change through this handle is refused as stale
    // rather than risk overwriting someone else's.
    seen.file = file ? *file : FileIdentity{true, 0, 0, 0, 0, 0};
    return {};
}

std::expected<void, CortexError> Cortex::commit_topology(std::string_view bytes,
                                                         const EventRecord& event) {
    const std::string path = join_path(root_, kTopologyFileName);
    auto lock = FolderLock::acquire(root_, *fs_);
    if (!lock)
        return std::unexpected(lock.error());
    if (auto current = check_current(*lock, Document::Topology, path); !current)
        return std::unexpected(current.error());
    if (auto replaced = replace(*lock, Document::Topology, path, bytes); !replaced)
        return std::unexpected(replaced.error());
    // Still under the lock, so that a failed append can cut the journal
    // back without losing another writer's line. Its failure, running out
    // of memory included, does not fail the edit that is already on disk.
    try {
        (void)append_event(root_, event, *fs_);
    } catch (...) {
    }
    return {};
}

std::expected<void, CortexError> Cortex::save() {
    auto metadata_bytes = serialize_metadata(metadata_);
    if (!metadata_bytes)
        return std::unexpected(std::move(metadata_bytes.error()));
    auto topology_bytes = serialize_topology(topology_);
    if (!topology_bytes)
        return std::unexpected(std::move(topology_bytes.error()));
    const std::string metadata_path = join_path(root_, kMetadataFileName);
    const std::string topology_path = join_path(root_, kTopologyFileName);
    auto lock = FolderLock::acquire(root_, *fs_);
    if (!lock)
        return std::unexpected(lock.error());
    // Both checked before either is written.
    if (auto current = check_current(*lock, Document::Metadata, metadata_path); !current)
        return std::unexpected(current.error());
    if (auto current = check_current(*lock, Document::Topology, topology_path); !current)
        return std::unexpected(current.error());
    if (auto replaced = replace(*lock, Document::Metadata, metadata_path, *metadata_bytes);
        !replaced)
        return std::unexpected(replaced.error());
    return replace(*lock, Document::Topology, topology_path, *topology_bytes);
}

std::expected<void, CortexError> Cortex::rename(std::string new_name, std::string now_rfc3339) {
    // Swapped in and, when refused, swapped back: strings swap without
    // allocating, so the record is restored even when memory has run out.
    std::swap(metadata_.name, new_name);
    std::swap(metadata_.updated_at, now_rfc3339);
    auto restore = [&]() noexcept {
        std::swap(metadata_.name, new_name);
        std::swap(metadata_.updated_at, now_rfc3339);
    };
    try {
        auto bytes = serialize_metadata(metadata_);
        if (!bytes) {
            restore();
            return std::unexpected(std::move(bytes.error()));
        }
        const std::string path = join_path(root_, kMetadataFileName);
        auto lock = FolderLock::acquire(root_, *fs_);
        if (!lock)
            return std::unexpected(lock.error());
        if (auto current = check_current(*lock, Document::Metadata, path); !current) {
            restore();
            return std::unexpected(current.error());
        }
        return replace(*lock, Document::Metadata, path, *bytes);
    } catch (...) {
        restore();
        throw;
    }
}

std::expected<void, CortexError> Cortex::persist_weights(
    std::span<const WeightRecord> records) const {
    auto lock = FolderLock::acquire(root_, *fs_);
    if (!lock)
        return std::unexpected(lock.error());
    return write_weights(root_, metadata_.cortex_type, records, *fs_);
}

std::expected<std::vector<WeightRecord>, CortexError> Cortex::load_weights() const {
    return read_weights(root_, metadata_.cortex_type, *fs_);
}

}  // namespace vorn
