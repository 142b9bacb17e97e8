#pragma once
// Stimulations: the external currents in flight, at most one per neuron,
// kept as a dense list with a per-neuron position so the tick never hashes.

#include <cstdint>
#include <vector>

namespace vorn {

class Stimulations {
  public:
    void resize_neurons(std::size_t n) { position_.resize(n, kNone); }
    void reserve_neurons(std::size_t n) { position_.reserve(n); }

    // Sets or replaces the stimulation of a neuron.
    void set(std::uint32_t neuron, float current, float duration_ms);

    // Counts dt_ms off every entry, drops the ones with no time left, then
    // adds each remaining current to input[neuron].
    void expire_and_apply(float dt_ms, float* input);

    struct Entry {
        std::uint32_t neuron;
        float current;
        float remaining_ms;  // ms
    };
    // The stimulations in flight, at most one per neuron, in no fixed order.
    const std::vector<Entry>& entries() const { return entries_; }

  private:
    static constexpr std::uint32_t kNone = 0xffffffffu;
    std::vector<Entry> entries_;
    std::vector<std::uint32_t> position_;  // per neuron: index in entries_ or kNone
};

}  // namespace vorn
