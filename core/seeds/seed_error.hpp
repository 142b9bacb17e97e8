#pragma once
// SeedError: why a seed generator refused its arguments.

#include <cstdint>
#include <string>
#include <utility>

namespace vorn {

struct SeedError {
    enum class Kind {
        WeightRange,
        DelayMs,
        RingDegree,
        Probability,
        TooFewLayers,
        EmptyLayer,
        TooLarge,
    };
    // The quantity a TooLarge request ran over.
    enum class Quantity { Nodes, Edges, Draws, Bytes, Allocation };

    Kind kind;
    float lo = 0.0f;           // WeightRange
    float hi = 0.0f;           // WeightRange
    float value = 0.0f;        // DelayMs (ms), Probability
    std::string name;          // Probability: the argument name
    std::uint64_t n = 0;       // RingDegree
    std::uint64_t k = 0;       // RingDegree
    std::uint64_t index = 0;   // EmptyLayer
    Quantity quantity{};       // TooLarge
    std::uint64_t amount = 0;  // TooLarge: the limit exceeded, or the estimated bytes not allocated

    explicit SeedError(Kind kind) : kind(kind) {}

    static SeedError weight_range(float lo, float hi) {
        SeedError e(Kind::WeightRange);
        e.lo = lo;
        e.hi = hi;
        return e;
    }
    static SeedError delay(float delay_ms) {
        SeedError e(Kind::DelayMs);
        e.value = delay_ms;
        return e;
    }
    static SeedError ring_degree(std::uint64_t n, std::uint64_t k) {
        SeedError e(Kind::RingDegree);
        e.n = n;
        e.k = k;
        return e;
    }
    static SeedError probability(std::string name, float value) {
        SeedError e(Kind::Probability);
        e.name = std::move(name);
        e.value = value;
        return e;
    }
    static SeedError too_few_layers() { return SeedError(Kind::TooFewLayers); }
    static SeedError empty_layer(std::uint64_t index) {
        SeedError e(Kind::EmptyLayer);
        e.index = index;
        return e;
    }
    static SeedError too_large(Quantity quantity, std::uint64_t amount) {
        SeedError e(Kind::TooLarge);
        e.quantity = quantity;
        e.amount = amount;
        return e;
    }

    // The display text shown to users.
    std::string message() const;
};

}  // namespace vorn
