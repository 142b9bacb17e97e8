#pragma once
// MetadataFile: a network's identity document ("metadata.json"): parsing
// (with migration of version 1), the checks before writing, and the exact
// serialised form.

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>

#include "core/format/errors.hpp"
#include "core/format/json_input.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

struct MetadataFile {
    std::uint32_t version = 2;
    Uuid id;
    std::string name;                        // non-empty
    std::string cortex_type;                 // slug
    std::optional<JsonValue> hh_config;      // opaque; absent when missing or null
    std::optional<std::string> source_kind;  // input of the version-1 migration only
    std::string source_root;                 // non-empty
    std::string created_at;                  // RFC 3339 text, kept verbatim
    std::string updated_at;                  // RFC 3339 text, kept verbatim

    friend bool operator==(const MetadataFile&, const MetadataFile&) = default;
};

inline constexpr std::uint32_t kMaxMetadataVersion = 2;

// Parses, migrates version 1 to 2, and validates. Returns a version-2 record
// or the first error (Json for syntax and schema faults).
std::expected<MetadataFile, MetadataError> parse_metadata(std::string_view bytes);
// The same from a streamed input; the caller checks the input's read error first.
std::expected<MetadataFile, MetadataError> parse_metadata(JsonInput& input);

// The checks a record must pass before it is written (version 1 or 2, slug,
// non-empty name and source_root). Returns the first failure, if any.
std::optional<MetadataError> validate_metadata_for_write(const MetadataFile& m);

// Validates, then returns the pretty-printed document (no trailing newline).
std::expected<std::string, MetadataError> serialize_metadata(const MetadataFile& m);

}  // namespace vorn
