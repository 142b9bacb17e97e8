#pragma once
// The records of a generated seed network: the generator options, the nodes
// and edges in generation order, and the Seed that holds both lists.

#include <optional>
#include <string>
#include <vector>

#include "core/format/kind_spec.hpp"
#include "core/seeds/compact_optional.hpp"
#include "core/util/json_value.hpp"
#include "core/util/uuid.hpp"

namespace vorn {

// Options shared by every generator, passed by value.
struct SeedParams {
    std::optional<NeuronSpec> neuron;    // copied into every node; absent: network default
    std::optional<SynapseSpec> synapse;  // copied into every edge; absent: network default
    float weight_lo = 0.4f;              // lower bound of initial weights
    float weight_hi = 0.6f;              // upper bound of initial weights
    float delay_ms = 1.0f;               // ms, given to every edge
};

struct SeedNode {
    Uuid id;
    std::string label;
    CompactOptional<NeuronSpec> kind;  // absent: the network's default neuron kind
    JsonValue metadata{JsonObject{}};  // always an object; empty unless layered

    friend bool operator==(const SeedNode&, const SeedNode&) = default;
};

struct SeedEdge {
    Uuid id;
    Uuid pre;
    Uuid post;                          // never equal to pre
    CompactOptional<SynapseSpec> kind;  // absent: the network's default synapse kind
    float init_weight = 0.0f;           // in [0, 1]
    float delay_ms = 1.0f;              // ms

    friend bool operator==(const SeedEdge&, const SeedEdge&) = default;
};

// A generated network; every edge refers to nodes of the same seed.
struct Seed {
    std::vector<SeedNode> nodes;
    std::vector<SeedEdge> edges;

    friend bool operator==(const Seed&, const Seed&) = default;
};

}  // namespace vorn
