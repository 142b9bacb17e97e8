#pragma once
// PoissonInputs: background noise. In each tick of dt ms, each target of an
// input receives weight * k on top of its stimulation current, with k drawn
// from Poisson(rate_hz * dt / 1000). Each draw comes from a counter-based
// generator keyed by (seed, input number, neuron, tick number), so draws
// do not depend on call order, thread count or restarts.

#include <cstdint>
#include <vector>

namespace vorn {

// k ~ Poisson(lambda) from the counter key; 0 for lambda <= 0 or NaN, and
// saturated at the largest uint64 for means (or draws) of 2^64 and more.
std::uint64_t poisson_draw(double lambda, std::uint64_t key);
// The key of one draw.
std::uint64_t poisson_key(std::uint64_t seed, std::uint64_t input, std::uint64_t neuron,
                          std::uint64_t tick);

struct PoissonInput {
    std::vector<std::uint32_t> targets;  // dense neuron indices, ascending, unique
    double rate_hz;
    float weight;
    std::uint64_t seed;
};

class PoissonInputs {
  public:
    void add(PoissonInput input) { inputs_.push_back(std::move(input)); }
    const std::vector<PoissonInput>& inputs() const { return inputs_; }
    bool empty() const { return inputs_.empty(); }
    void clear() { inputs_.clear(); }

    // For tick number `tick` of dt_ms: input[n] += weight * k for every
    // target n in [begin, end), inputs in the order they were added.
    void apply(std::uint64_t tick, float dt_ms, std::uint32_t begin, std::uint32_t end,
               float* input) const;

  private:
    std::vector<PoissonInput> inputs_;
};

}  // namespace vorn
