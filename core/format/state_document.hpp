#pragma once
// The state document ("cortex.state"): a checkpoint of a running simulation,
// fast to write and read at scale. One line of compact JSON (the header,
// ending in a line feed), then the payload: named sections of little-endian
// arrays back to back, each at an offset (from the payload's start) that is
// a multiple of 8. The header holds "format", "version", "payload_bytes",
// "sections" ([{"name", "type", "count", "offset"}], type one of "u8",
// "u32", "u64", "f32", "f64", "uuid" (16 bytes each)) and "simulation", an
// object of the writer's scalar values.

#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/errors.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

enum class SectionType { U8, U32, U64, F32, F64, Uuid };

class StateWriter {
  public:
    // The "simulation" object of the header.
    JsonObject& simulation() { return simulation_; }

    // Adds a section; the data must live until finish().
    void add(std::string name, std::span<const std::uint8_t> v);
    void add(std::string name, std::span<const std::uint32_t> v);
    void add(std::string name, std::span<const std::uint64_t> v);
    void add(std::string name, std::span<const float> v);
    void add(std::string name, std::span<const double> v);
    void add(std::string name, std::span<const Uuid> v);

    // The whole document; a writer error (a header the JSON writer refuses)
    // as StateError::Json.
    std::expected<std::string, StateError> finish() const;

  private:
    struct Section {
        std::string name;
        SectionType type;
        const void* data;
        std::uint64_t count;
    };
    JsonObject simulation_;
    std::vector<Section> sections_;
};

class StateReader {
  public:
    // Reads and checks the header (syntax, format tag, version, that every
    // section lies within the payload); the bytes must outlive the reader.
    static std::expected<StateReader, StateError> open(std::string_view bytes);

    const JsonObject& simulation() const { return simulation_; }

    // A section's elements; a missing section, another type or, when count
    // is given, another length is a StateError::Json naming the section.
    std::expected<std::vector<std::uint8_t>, StateError> u8(std::string_view name,
                                                            std::int64_t count = -1) const;
    std::expected<std::vector<std::uint32_t>, StateError> u32(std::string_view name,
                                                              std::int64_t count = -1) const;
    std::expected<std::vector<std::uint64_t>, StateError> u64(std::string_view name,
                                                              std::int64_t count = -1) const;
    std::expected<std::vector<float>, StateError> f32(std::string_view name,
                                                      std::int64_t count = -1) const;
    std::expected<std::vector<double>, StateError> f64(std::string_view name,
                                                       std::int64_t count = -1) const;
    std::expected<std::vector<Uuid>, StateError> uuids(std::string_view name,
                                                       std::int64_t count = -1) const;

  private:
    struct Section {
        std::string name;
        SectionType type;
        std::uint64_t count;
        std::uint64_t offset;
    };
    const Section* find(std::string_view name) const;
    template <class T>
    std::expected<std::vector<T>, StateError> read(std::string_view name, SectionType type,
                                                   std::int64_t count) const;

    JsonObject simulation_;
    std::vector<Section> sections_;
    std::string_view payload_;
};

// A content fault of a state document, as its JSON class reports it.
StateError state_content_error(std::string text);

}  // namespace vorn
