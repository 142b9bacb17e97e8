#pragma once
// EventRecord: one line of the append-only edit journal ("events.jsonl"),
// its compact serialised form, and the reading of a line back.

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <variant>

#include "core/format/errors.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

struct NeuronAddEvent {
    Uuid id;
    std::string label;
    friend bool operator==(const NeuronAddEvent&, const NeuronAddEvent&) = default;
};
struct NeuronRemoveEvent {
    Uuid id;
    std::uint64_t cascaded_edges = 0;  // edges removed with the neuron
    friend bool operator==(const NeuronRemoveEvent&, const NeuronRemoveEvent&) = default;
};
struct SynapseAddEvent {
    Uuid id;
    Uuid pre;
    Uuid post;
    float init_weight = 0.0f;
    friend bool operator==(const SynapseAddEvent&, const SynapseAddEvent&) = default;
};
struct SynapseRemoveEvent {
    Uuid id;
    friend bool operator==(const SynapseRemoveEvent&, const SynapseRemoveEvent&) = default;
};
struct SeedApplyEvent {
    std::uint64_t added_nodes = 0;
    std::uint64_t added_edges = 0;
    friend bool operator==(const SeedApplyEvent&, const SeedApplyEvent&) = default;
};

// The kind tag and the fields that follow it on the line.
using EventKind = std::variant<NeuronAddEvent, NeuronRemoveEvent, SynapseAddEvent,
                               SynapseRemoveEvent, SeedApplyEvent>;

inline constexpr std::uint32_t kMaxEventVersion = 1;

struct EventRecord {
    std::string format{"cortex.event"};
    std::uint32_t version = 1;
    double t_ms = 0.0;  // ms; written as null when not finite
    EventKind kind;

    // A record as the store writes it: current tag and version, t_ms 0.0.
    static EventRecord of(EventKind kind) {
        return EventRecord{{"cortex.event"}, 1, 0.0, std::move(kind)};
    }

    friend bool operator==(const EventRecord&, const EventRecord&) = default;
};

// "neuron_add", "neuron_remove", "synapse_add", "synapse_remove", "seed_apply".
std::string_view event_kind_name(const EventKind& kind);

// The compact JSON object of the record, without the line feed.
std::expected<std::string, EventError> serialize_event(const EventRecord& e);

// Reads one line (without its line feed). line_number places errors in the file.
// Returns Parse for malformed lines, FormatTagMismatch for a foreign tag,
// UnsupportedVersion for versions other than 1.
std::expected<EventRecord, EventError> parse_event_line(std::string_view line,
                                                        std::uint64_t line_number);

}  // namespace vorn
