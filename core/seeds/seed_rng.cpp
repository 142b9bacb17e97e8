#include "core/seeds/seed_rng.hpp"

namespace vorn {
namespace {

constexpr std::uint64_t kPcgMultiplier = 6364136223846793005ULL;
constexpr std::uint64_t kPcgIncrement = 11634580027462260723ULL;

// The SplitMix64 expansion of 0, used when the PCG fill is all zero.
constexpr SeedRng::State kZeroFallback = {0xe220a8397b1dcdafULL, 0x6e789e6aa1b965f4ULL,
                                          0x06c45d188009454fULL, 0xf88bb8a8724c81ecULL};

std::uint32_t pcg32_next(std::uint64_t& state) {
    state = state * kPcgMultiplier + kPcgIncrement;
    const auto x = static_cast<std::uint32_t>(((state >> 18) ^ state) >> 27);
    const auto rot = static_cast<int>(state >> 59);
    return std::rotr(x, rot);
}

}  // namespace

SeedRng SeedRng::from_seed(std::uint64_t seed) {
    // Words 2i and 2i+1 are the low and high halves of s_i: the little-endian
    // reading of the eight words laid out little-endian in order.
    State s{};
    std::uint64_t pcg = seed;
    for (auto& word : s) {
        const std::uint64_t low = pcg32_next(pcg);
        const std::uint64_t high = pcg32_next(pcg);
        word = low | (high << 32);
    }
    return from_state(s);
}

SeedRng SeedRng::from_state(const State& s) {
    return SeedRng(s == State{} ? kZeroFallback : s);
}

}  // namespace vorn
