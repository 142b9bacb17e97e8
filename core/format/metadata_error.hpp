#pragma once
// MetadataError: why a metadata document was refused on read or write.

#include <cstdint>
#include <string>

#include "core/format/json_error.hpp"

namespace vorn {

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

}  // namespace vorn
