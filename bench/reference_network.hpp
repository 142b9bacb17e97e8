#pragma once
// The reference benchmark network, built from counter-based draws so that
// other languages can build the identical network: N LIF neurons, STDP
// synapses on random ordered pairs with probability 0.01 (made in bulk, in
// (pre, post) order), weights uniform in [0.4, 0.6], g_syn 1, and a constant
// stimulation per neuron from [0, 30].

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/engine/sim_engine.hpp"

namespace vorn::bench {

constexpr std::uint64_t kReferenceNeurons = 10000;

inline std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

inline std::uint64_t draw(std::uint64_t k) {
    return mix(12345 + (k + 1) * 0x9e3779b97f4a7c15ULL);
}

// A double in [0, 1).
inline double unit(std::uint64_t k) {
    return static_cast<double>(draw(k) >> 11) * 0x1.0p-53;
}

// Big-endian hi then lo, as in the text form "%016x%016x".
inline Uuid id_from(std::uint64_t hi, std::uint64_t lo) {
    Uuid u;
    for (int b = 0; b < 8; ++b) {
        u.bytes[b] = static_cast<std::uint8_t>(hi >> (56 - 8 * b));
        u.bytes[8 + b] = static_cast<std::uint8_t>(lo >> (56 - 8 * b));
    }
    return u;
}

// with_delays: each synapse's delay a whole number of ms drawn uniformly
// from 1 to 20, else 1 ms.
inline void build_reference_network(SimEngine& engine, std::uint64_t n = kReferenceNeurons,
                                    bool with_delays = false) {
    for (std::uint64_t i = 0; i < n; ++i) {
        engine.add_neuron(id_from(0, i + 1), LifConfig{});
    }
    std::vector<std::int64_t> pre;
    std::vector<std::int64_t> post;
    std::vector<double> weight;
    std::vector<double> delay;
    for (std::uint64_t i = 0; i < n; ++i) {
        for (std::uint64_t j = 0; j < n; ++j) {
            if (j == i || !(unit(i * n + j) < 0.01))
                continue;
            pre.push_back(static_cast<std::int64_t>(i));
            post.push_back(static_cast<std::int64_t>(j));
            weight.push_back(static_cast<float>(0.4 + 0.2 * unit(n * n + i * n + j)));
            delay.push_back(with_delays ? 1.0 + std::floor(20.0 * unit(3 * n * n + i * n + j))
                                        : 1.0);
        }
    }
    StdpConfig config;
    config.g_syn = 1.0f;
    (void)engine.add_edges({pre, post, weight, delay, false, false, config});
    for (std::uint64_t i = 0; i < n; ++i) {
        engine.stimulate(id_from(0, i + 1), static_cast<float>(30.0 * unit(2 * n * n + i)), 1e9f);
    }
}

}  // namespace vorn::bench
