#pragma once
// EventError: why an event line could not be written or read back.
// StateError: the error class reserved for "cortex.state" snapshot documents.

#include <cstdint>
#include <string>

#include "core/format/json_error.hpp"

namespace vorn {

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

}  // namespace vorn
