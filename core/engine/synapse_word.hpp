#pragma once
// The kind and parameters of one synapse in 32 bits, as the shards store it
// per synapse: the kind, for STDP whether its pre and post traces are
// private, and an index (STDP and static: into the engine's interned
// parameter sets; plastic: into the shard's plastic entries).

#include <cstdint>

#include "core/engine/intern_table.hpp"

namespace vorn {

enum class SynapseKind : std::uint32_t { Stdp = 0, Plastic = 1, Static = 2 };

namespace word {

constexpr std::uint32_t kPrePrivate = 1u << 29;
constexpr std::uint32_t kPostPrivate = 1u << 28;
constexpr std::uint32_t kIndexMask = kPostPrivate - 1;
constexpr std::uint32_t kPrivateMask = kPrePrivate | kPostPrivate;
constexpr std::uint32_t kMaxIndex = kIndexMask;

constexpr std::uint32_t make(SynapseKind kind, std::uint32_t index) {
    return (static_cast<std::uint32_t>(kind) << 30) | index;
}
constexpr SynapseKind kind(std::uint32_t w) {
    return static_cast<SynapseKind>(w >> 30);
}
constexpr std::uint32_t index(std::uint32_t w) {
    return w & kIndexMask;
}

}  // namespace word

// The interned parameter sets of STDP synapses (bounds, gain, steps; the
// time constants live with the traces) and of static ones.
struct StdpParams {
    float w_min;
    float w_max;
    float g_syn;
    float a_plus;
    float a_minus;
};
using StdpParamTable = InternTable<StdpParams>;

struct StaticParams {
    float g_syn;
};
using StaticParamTable = InternTable<StaticParams>;

}  // namespace vorn
