#include "core/engine/poisson_inputs.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace vorn {
namespace {

std::uint64_t mix(std::uint64_t z) {
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
}

// The j-th uniform double in [0, 1) of a key's stream.
double uniform(std::uint64_t key, std::uint64_t j) {
    return static_cast<double>(mix(key + (j + 1) * 0x9e3779b97f4a7c15ULL) >> 11) * 0x1.0p-53;
}

// Counts of 2^64 and more (from means that large) saturate: no uint64 holds them.
constexpr double kCountLimit = 0x1.0p64;
constexpr std::uint64_t kMaxCount = std::numeric_limits<std::uint64_t>::max();

std::uint64_t to_count(double k) {
    return k < kCountLimit ? static_cast<std::uint64_t>(k) : kMaxCount;
}

// Below this mean, inversion by sequential search (one uniform per draw);
// above, transformed rejection (Hormann's PTRS).
constexpr double kSearchLimit = 30.0;

// p0 is exp(-lambda).
std::uint64_t by_search(double lambda, double p0, std::uint64_t key) {
    const double u = uniform(key, 0);
    double p = p0;
    double cdf = p;
    std::uint64_t k = 0;
    // The tail beyond 1000 steps is below double precision for these means.
    while (u > cdf && k < 1000) {
        ++k;
        p *= lambda / static_cast<double>(k);
        cdf += p;
    }
    return k;
}

std::uint64_t by_rejection(double lambda, std::uint64_t key) {
    const double slam = std::sqrt(lambda);
    const double loglam = std::log(lambda);
    const double b = 0.931 + 2.53 * slam;
    const double a = -0.059 + 0.02483 * b;
    const double inv_alpha = 1.1239 + 1.1328 / (b - 3.4);
    const double v_r = 0.9277 - 3.6224 / (b - 2.0);
    for (std::uint64_t j = 0;; j += 2) {
        const double u = uniform(key, j) - 0.5;
        const double v = uniform(key, j + 1);
        const double us = 0.5 - std::fabs(u);
        const double k = std::floor((2.0 * a / us + b) * u + lambda + 0.43);
        if (us >= 0.07 && v <= v_r)
            return to_count(k);
        if (k < 0.0 || (us < 0.013 && v > us))
            continue;
        if (std::log(v) + std::log(inv_alpha) - std::log(a / (us * us) + b) <=
            -lambda + k * loglam - std::lgamma(k + 1.0))
            return to_count(k);
    }
}

}  // namespace

std::uint64_t poisson_key(std::uint64_t seed, std::uint64_t input, std::uint64_t neuron,
                          std::uint64_t tick) {
    std::uint64_t h = mix(seed ^ 0x6a09e667f3bcc909ULL);
    h = mix(h ^ (input * 0xbb67ae8584caa73bULL));
    h = mix(h ^ (neuron * 0x3c6ef372fe94f82bULL));
    return mix(h ^ (tick * 0xa54ff53a5f1d36f1ULL));
}

std::uint64_t poisson_draw(double lambda, std::uint64_t key) {
    if (!(lambda > 0.0))
        return 0;
    if (lambda >= kCountLimit)
        return kMaxCount;
    return lambda < kSearchLimit ? by_search(lambda, std::exp(-lambda), key)
                                 : by_rejection(lambda, key);
}

void PoissonInputs::apply(std::uint64_t tick, float dt_ms, std::uint32_t begin, std::uint32_t end,
                          float* input) const {
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
        const PoissonInput& in = inputs_[i];
        const double lambda = in.rate_hz * static_cast<double>(dt_ms) / 1000.0;
        if (!(lambda > 0.0))
            continue;
        const bool search = lambda < kSearchLimit;
        const double p0 = search ? std::exp(-lambda) : 0.0;
        auto first = std::lower_bound(in.targets.begin(), in.targets.end(), begin);
        auto last = std::lower_bound(first, in.targets.end(), end);
        for (auto it = first; it != last; ++it) {
            const std::uint64_t key = poisson_key(in.seed, i, *it, tick);
            const std::uint64_t k = search ? by_search(lambda, p0, key) : by_rejection(lambda, key);
            if (k != 0)
                input[*it] = input[*it] + in.weight * static_cast<float>(k);
        }
    }
}

}  // namespace vorn
