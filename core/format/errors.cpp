#include "core/format/errors.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/format/folder_layout.hpp"
#include "core/format/utf8.hpp"
#include "core/util/float_format.hpp"

namespace vorn {

namespace {

// What stands where a regular file was expected; nullptr when unnamed.
const char* file_type_name(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    return nullptr;
}

}  // namespace

IoError IoError::not_regular_file(std::string_view path, mode_t mode) {
    const char* type = file_type_name(mode);
    std::string text = utf8_lossy(path) + " is " +
                       (type != nullptr ? std::string(type) + ", not" : std::string("not")) +
                       " a regular file";
    return {Kind::NotRegularFile, 0, std::move(text)};
}

bool IoError::is_missing() const {
    return kind == Kind::Os && (code == ENOENT || code == ENOTDIR);
}

std::string IoError::message() const {
    if (kind == Kind::Os)
        return std::strerror(code);
    return custom;
}

namespace {

TopologyError make(TopologyError::Kind kind) {
    TopologyError e;
    e.kind = kind;
    return e;
}

TopologyError with_text(TopologyError::Kind kind, std::string text) {
    TopologyError e = make(kind);
    e.text = std::move(text);
    return e;
}

TopologyError with_id(TopologyError::Kind kind, Uuid id) {
    TopologyError e = make(kind);
    e.id = id;
    return e;
}

}  // namespace

TopologyError TopologyError::too_large(std::uint64_t size, std::uint64_t limit) {
    TopologyError e = make(Kind::TooLarge);
    e.size = size;
    e.limit = limit;
    return e;
}
TopologyError TopologyError::json_error(JsonError j) {
    TopologyError e = make(Kind::Json);
    e.json = std::move(j);
    return e;
}
TopologyError TopologyError::format_tag_mismatch(std::string found) {
    return with_text(Kind::FormatTagMismatch, std::move(found));
}
TopologyError TopologyError::unsupported_version(std::uint32_t found, std::uint32_t max) {
    TopologyError e = make(Kind::UnsupportedVersion);
    e.size = found;
    e.limit = max;
    return e;
}
TopologyError TopologyError::cortex_type_slug(std::string text) {
    return with_text(Kind::CortexTypeSlug, std::move(text));
}
TopologyError TopologyError::neuron_kind_slug(std::string text) {
    return with_text(Kind::NeuronKindSlug, std::move(text));
}
TopologyError TopologyError::synapse_kind_slug(std::string text) {
    return with_text(Kind::SynapseKindSlug, std::move(text));
}
TopologyError TopologyError::duplicate_node_id(Uuid id) {
    return with_id(Kind::DuplicateNodeId, id);
}
TopologyError TopologyError::duplicate_edge_id(Uuid id) {
    return with_id(Kind::DuplicateEdgeId, id);
}
TopologyError TopologyError::duplicate_triple(Uuid edge) {
    return with_id(Kind::DuplicateTriple, edge);
}
TopologyError TopologyError::missing_node(Uuid edge, Uuid node) {
    TopologyError e = with_id(Kind::MissingNode, edge);
    e.node = node;
    return e;
}
TopologyError TopologyError::self_loop(Uuid edge) {
    return with_id(Kind::SelfLoop, edge);
}
TopologyError TopologyError::init_weight_out_of_range(Uuid edge, float value) {
    TopologyError e = with_id(Kind::InitWeightOutOfRange, edge);
    e.value = value;
    return e;
}
TopologyError TopologyError::bad_delay(Uuid edge, float value) {
    TopologyError e = with_id(Kind::BadDelay, edge);
    e.value = value;
    return e;
}

TopologyError TopologyError::cortex_type_mismatch(std::string topology_type,
                                                  std::string metadata_type) {
    TopologyError e = with_text(Kind::CortexTypeMismatch, std::move(topology_type));
    e.other_text = std::move(metadata_type);
    return e;
}
TopologyError TopologyError::default_kind_mismatch(std::string kind, std::string cortex_type) {
    TopologyError e = with_text(Kind::DefaultNeuronKindMismatch, std::move(kind));
    e.other_text = std::move(cortex_type);
    return e;
}

std::string TopologyError::message() const {
    switch (kind) {
        case Kind::TooLarge:
            return "topology file too large: " + std::to_string(size) + " bytes exceeds limit of " +
                   std::to_string(limit);
        case Kind::Json:
            return "topology JSON parse error: " + json.message();
        case Kind::FormatTagMismatch:
            return "topology format tag '" + text + "' is not '" + std::string(kTopologyFormatTag) +
                   "'";
        case Kind::UnsupportedVersion:
            return "topology version " + std::to_string(size) + " is not supported (max " +
                   std::to_string(limit) + ")";
        case Kind::CortexTypeSlug:
            return "cortex_type '" + text + "' is not a valid kebab-case slug";
        case Kind::NeuronKindSlug:
            return "neuron kind '" + text + "' is not a valid kebab-case slug";
        case Kind::SynapseKindSlug:
            return "synapse kind '" + text + "' is not a valid kebab-case slug";
        case Kind::DuplicateNodeId:
            return "duplicate node id " + id.to_string();
        case Kind::DuplicateEdgeId:
            return "duplicate edge id " + id.to_string();
        case Kind::DuplicateTriple:
            return "edge " + id.to_string() + " duplicates an existing (pre, post, kind) triple";
        case Kind::MissingNode:
            return "edge " + id.to_string() + " references missing node " + node.to_string();
        case Kind::SelfLoop:
            return "edge " + id.to_string() + " is a self-loop (pre == post)";
        case Kind::InitWeightOutOfRange:
            return "edge " + id.to_string() + " init_weight " + format_float(value) +
                   " is not finite or outside [0.0, 1.0]";
        case Kind::BadDelay:
            return "edge " + id.to_string() + " delay_ms " + format_float(value) +
                   " is not finite or is negative";
        case Kind::CortexTypeMismatch:
            return "topology says '" + text + "' but metadata says '" + other_text + "'";
        case Kind::DefaultNeuronKindMismatch:
            return "defaults.neuron.kind '" + text + "' does not match cortex_type '" + other_text +
                   "'";
    }
    return {};
}

std::string MetadataError::message() const {
    switch (kind) {
        case Kind::Json:
            return "metadata JSON parse error: " + json.message();
        case Kind::UnsupportedVersion:
            return "metadata version " + std::to_string(found) + " is not supported (max " +
                   std::to_string(max) + ")";
        case Kind::CortexTypeSlug:
            return "cortex_type '" + text + "' is not a valid kebab-case slug";
        case Kind::UnknownSourceKind:
            return "v1 metadata has unknown source_kind '" + text + "' (cannot migrate)";
        case Kind::EmptyName:
            return "metadata.name must not be empty";
        case Kind::EmptySourceRoot:
            return "metadata.source_root must not be empty";
    }
    return {};
}

std::string EventError::message() const {
    switch (kind) {
        case Kind::Serialize:
            return "event serialize error: " + json.message();
        case Kind::Parse:
            return "event parse error: " + json.message();
        case Kind::FormatTagMismatch:
            return "event format tag '" + text + "' is not '" + std::string(kEventFormatTag) + "'";
        case Kind::UnsupportedVersion:
            return "event version " + std::to_string(found) + " is not supported (max " +
                   std::to_string(max) + ")";
    }
    return {};
}

std::string StateError::message() const {
    switch (kind) {
        case Kind::Json:
            return "state JSON parse error: " + json.message();
        case Kind::FormatTagMismatch:
            return "state format tag '" + text + "' is not '" + std::string(kStateFormatTag) + "'";
        case Kind::UnsupportedVersion:
            return "state version " + std::to_string(found) + " is not supported (max " +
                   std::to_string(max) + ")";
    }
    return {};
}

namespace {

WeightsError make(WeightsError::Kind kind, std::uint64_t a, std::uint64_t b) {
    WeightsError e;
    e.kind = kind;
    e.a = a;
    e.b = b;
    return e;
}

// "[67, 87, 84, 49]"
std::string byte_list(const std::array<std::uint8_t, 4>& bytes) {
    std::string out = "[";
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i != 0)
            out += ", ";
        out += std::to_string(bytes[i]);
    }
    return out + "]";
}

}  // namespace

WeightsError WeightsError::header_truncated(std::uint64_t bytes_read) {
    return make(Kind::HeaderTruncated, bytes_read, 0);
}
WeightsError WeightsError::bad_magic(std::array<std::uint8_t, 4> found) {
    WeightsError e = make(Kind::BadMagic, 0, 0);
    e.magic = found;
    return e;
}
WeightsError WeightsError::unsupported_version(std::uint32_t found, std::uint32_t max) {
    return make(Kind::UnsupportedVersion, found, max);
}
WeightsError WeightsError::record_size_mismatch(std::uint32_t found, std::uint32_t expected) {
    return make(Kind::RecordSizeMismatch, found, expected);
}
WeightsError WeightsError::body_length_mismatch(std::uint64_t expected, std::uint64_t got) {
    return make(Kind::BodyLengthMismatch, expected, got);
}
WeightsError WeightsError::record_count_overflow(std::uint64_t count) {
    return make(Kind::RecordCountOverflow, count, 0);
}
WeightsError WeightsError::non_finite_weight(std::uint64_t index, float value) {
    WeightsError e = make(Kind::NonFiniteWeight, index, 0);
    e.value = value;
    return e;
}
WeightsError WeightsError::io_error(IoError io) {
    WeightsError e = make(Kind::Io, 0, 0);
    e.io = std::move(io);
    return e;
}

std::string WeightsError::message() const {
    switch (kind) {
        case Kind::HeaderTruncated:
            return "weights header truncated: read " + std::to_string(a) + " bytes";
        case Kind::BadMagic:
            return "weights file bad magic " + byte_list(magic) + " (expected " +
                   byte_list(kWeightsMagic) + ")";
        case Kind::UnsupportedVersion:
            return "weights version " + std::to_string(a) + " is not supported (max " +
                   std::to_string(b) + ")";
        case Kind::RecordSizeMismatch:
            return "weights record_size " + std::to_string(a) + " != expected " +
                   std::to_string(b) + " for this version";
        case Kind::BodyLengthMismatch:
            return "weights body length mismatch: expected " + std::to_string(a) + " bytes, got " +
                   std::to_string(b);
        case Kind::RecordCountOverflow:
            return "weights record_count " + std::to_string(a) +
                   " overflows usize multiplication; file is corrupt";
        case Kind::NonFiniteWeight:
            return "weights record at index " + std::to_string(a) + " has non-finite value (" +
                   format_float(value) + ")";
        case Kind::Io:
            return "weights I/O error: " + io.message();
    }
    return {};
}

}  // namespace vorn
