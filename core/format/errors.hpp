#pragma once
// The error types of the documents: each says why a document could not be
// read or written, and message() gives its display text.
//   JsonError      the JSON text itself, with the position where reading stopped
//   IoError        an operating-system failure or a store-made I/O condition
//   TopologyError  a topology document (size, JSON, whole-graph validation)
//   MetadataError  a metadata document
//   EventError     an event line; StateError: a "cortex.state" snapshot document
//   WeightsError   a weights file

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/util/uuid.hpp"

namespace vorn {

// The deepest nesting of arrays and objects in a document, counting the
// outermost container. The reader refuses deeper input, which would only
// serve to exhaust the stack of code that walks values recursively; the
// writer refuses it too, so that every document written can be read back.
inline constexpr std::size_t kMaxJsonDepth = 128;

struct JsonError {
    std::string text;          // what went wrong, without the position
    std::uint64_t line = 0;    // 1-based; 0 when the error has no position (writer errors)
    std::uint64_t column = 0;  // 1-based byte column; 0 when only the line is known

    // text, then " at line {} column {}" (or " at line {}") when a position is known.
    std::string message() const {
        if (line == 0)
            return text;
        std::string out = text + " at line " + std::to_string(line);
        if (column != 0)
            out += " column " + std::to_string(column);
        return out;
    }

    friend bool operator==(const JsonError&, const JsonError&) = default;
};

struct IoError {
    enum class Kind { Os, AlreadyExists, WriteZero, NotRegularFile };

    Kind kind = Kind::Os;
    int code = 0;        // errno for Kind::Os
    std::string custom;  // the text of store-made conditions

    static IoError os(int errno_value) { return {Kind::Os, errno_value, {}}; }
    // "metadata already exists at {}" and similar refusals to overwrite.
    static IoError already_exists(std::string text) {
        return {Kind::AlreadyExists, 0, std::move(text)};
    }
    // A write that accepted zero bytes.
    static IoError write_zero() { return {Kind::WriteZero, 0, "failed to write whole buffer"}; }
    // "{path} is a {type}, not a regular file": a directory, FIFO, socket or
    // device where a document belongs, named by its file-type bits (st_mode).
    static IoError not_regular_file(std::string_view path, mode_t mode);

    // The path or one of its folders does not exist (ENOENT, ENOTDIR).
    bool is_missing() const;

    // The platform's error text for Os, else the custom text.
    std::string message() const;

    friend bool operator==(const IoError&, const IoError&) = default;
};

struct TopologyError {
    enum class Kind {
        TooLarge,
        Json,
        FormatTagMismatch,
        UnsupportedVersion,
        CortexTypeSlug,
        NeuronKindSlug,
        SynapseKindSlug,
        DuplicateNodeId,
        DuplicateEdgeId,
        DuplicateTriple,
        MissingNode,
        SelfLoop,
        InitWeightOutOfRange,
        BadDelay,
        CortexTypeMismatch,
        DefaultNeuronKindMismatch,
    };

    Kind kind = Kind::Json;
    JsonError json;           // Json
    std::string text;         // the offending tag or kind text
    std::string other_text;   // the metadata's cortex_type, or the cortex_type a kind must match
    Uuid id;                  // node id, or the edge id of edge checks
    Uuid node;                // MissingNode: the referenced node
    float value = 0.0f;       // init_weight or delay_ms (ms)
    std::uint64_t size = 0;   // TooLarge: bytes; UnsupportedVersion: found
    std::uint64_t limit = 0;  // TooLarge: bytes; UnsupportedVersion: max

    static TopologyError too_large(std::uint64_t size, std::uint64_t limit);
    static TopologyError json_error(JsonError e);
    static TopologyError format_tag_mismatch(std::string found);
    static TopologyError unsupported_version(std::uint32_t found, std::uint32_t max);
    static TopologyError cortex_type_slug(std::string text);
    static TopologyError neuron_kind_slug(std::string text);
    static TopologyError synapse_kind_slug(std::string text);
    static TopologyError duplicate_node_id(Uuid id);
    static TopologyError duplicate_edge_id(Uuid id);
    static TopologyError duplicate_triple(Uuid edge);
    static TopologyError missing_node(Uuid edge, Uuid node);
    static TopologyError self_loop(Uuid edge);
    static TopologyError init_weight_out_of_range(Uuid edge, float value);
    static TopologyError bad_delay(Uuid edge, float value);
    // A folder whose two documents name different cortex types.
    static TopologyError cortex_type_mismatch(std::string topology_type, std::string metadata_type);
    // A new network whose default neuron kind does not suit its cortex_type.
    static TopologyError default_kind_mismatch(std::string kind, std::string cortex_type);

    std::string message() const;

    friend bool operator==(const TopologyError&, const TopologyError&) = default;
};

struct MetadataError {
    enum class Kind {
        Json,
        UnsupportedVersion,
        CortexTypeSlug,
        UnknownSourceKind,
        EmptyName,
        EmptySourceRoot
    };

    Kind kind = Kind::Json;
    JsonError json;           // Json
    std::string text;         // CortexTypeSlug, UnknownSourceKind
    std::uint32_t found = 0;  // UnsupportedVersion
    std::uint32_t max = 0;    // UnsupportedVersion

    static MetadataError json_error(JsonError e) { return {Kind::Json, std::move(e), {}, 0, 0}; }
    static MetadataError unsupported_version(std::uint32_t found, std::uint32_t max) {
        return {Kind::UnsupportedVersion, {}, {}, found, max};
    }
    static MetadataError cortex_type_slug(std::string text) {
        return {Kind::CortexTypeSlug, {}, std::move(text), 0, 0};
    }
    static MetadataError unknown_source_kind(std::string text) {
        return {Kind::UnknownSourceKind, {}, std::move(text), 0, 0};
    }
    static MetadataError empty_name() { return {Kind::EmptyName, {}, {}, 0, 0}; }
    static MetadataError empty_source_root() { return {Kind::EmptySourceRoot, {}, {}, 0, 0}; }

    std::string message() const;

    friend bool operator==(const MetadataError&, const MetadataError&) = default;
};

struct EventError {
    enum class Kind { Serialize, Parse, FormatTagMismatch, UnsupportedVersion };

    Kind kind = Kind::Parse;
    JsonError json;           // Serialize, Parse
    std::string text;         // FormatTagMismatch: the tag found
    std::uint32_t found = 0;  // UnsupportedVersion
    std::uint32_t max = 0;

    static EventError serialize(JsonError e) { return {Kind::Serialize, std::move(e), {}, 0, 0}; }
    static EventError parse(JsonError e) { return {Kind::Parse, std::move(e), {}, 0, 0}; }
    static EventError format_tag_mismatch(std::string found) {
        return {Kind::FormatTagMismatch, {}, std::move(found), 0, 0};
    }
    static EventError unsupported_version(std::uint32_t found, std::uint32_t max) {
        return {Kind::UnsupportedVersion, {}, {}, found, max};
    }

    std::string message() const;

    friend bool operator==(const EventError&, const EventError&) = default;
};

struct StateError {
    enum class Kind { Json, FormatTagMismatch, UnsupportedVersion };

    Kind kind = Kind::Json;
    JsonError json;
    std::string text;
    std::uint32_t found = 0;
    std::uint32_t max = 0;

    static StateError json_error(JsonError e) { return {Kind::Json, std::move(e), {}, 0, 0}; }
    static StateError format_tag_mismatch(std::string found) {
        return {Kind::FormatTagMismatch, {}, std::move(found), 0, 0};
    }
    static StateError unsupported_version(std::uint32_t found, std::uint32_t max) {
        return {Kind::UnsupportedVersion, {}, {}, found, max};
    }

    std::string message() const;

    friend bool operator==(const StateError&, const StateError&) = default;
};

// The four magic bytes of a weights file: "CWT1".
inline constexpr std::array<std::uint8_t, 4> kWeightsMagic = {0x43, 0x57, 0x54, 0x31};
inline constexpr std::uint32_t kWeightsVersion = 1;
inline constexpr std::uint32_t kWeightsRecordSize = 20;  // bytes

struct WeightsError {
    enum class Kind {
        HeaderTruncated,
        BadMagic,
        UnsupportedVersion,
        RecordSizeMismatch,
        BodyLengthMismatch,
        RecordCountOverflow,
        NonFiniteWeight,
        Io,
    };

    Kind kind = Kind::Io;
    std::uint64_t a = 0;  // bytes read, found version/size, expected bytes, count, index
    std::uint64_t b = 0;  // max version, expected size, got bytes
    std::array<std::uint8_t, 4> magic{};  // BadMagic: the bytes found
    float value = 0.0f;                   // NonFiniteWeight
    IoError io;                           // Io

    static WeightsError header_truncated(std::uint64_t bytes_read);
    static WeightsError bad_magic(std::array<std::uint8_t, 4> found);
    static WeightsError unsupported_version(std::uint32_t found, std::uint32_t max);
    static WeightsError record_size_mismatch(std::uint32_t found, std::uint32_t expected);
    static WeightsError body_length_mismatch(std::uint64_t expected, std::uint64_t got);
    static WeightsError record_count_overflow(std::uint64_t count);
    static WeightsError non_finite_weight(std::uint64_t index, float value);
    static WeightsError io_error(IoError e);

    std::string message() const;

    friend bool operator==(const WeightsError&, const WeightsError&) = default;
};

}  // namespace vorn
