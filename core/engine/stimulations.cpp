#include "core/engine/stimulations.hpp"

namespace vorn {

void Stimulations::set(std::uint32_t neuron, float current, float duration_ms) {
    std::uint32_t& pos = position_[neuron];
    if (pos != kNone) {
        entries_[pos].current = current;
        entries_[pos].remaining_ms = duration_ms;
        return;
    }
    pos = static_cast<std::uint32_t>(entries_.size());
    entries_.push_back({neuron, current, duration_ms});
}

void Stimulations::expire_and_apply(float dt_ms, float* input) {
    // Each neuron has at most one entry, so the order of entries does not
    // matter and removal may move the last entry into the gap.
    for (std::size_t i = 0; i < entries_.size();) {
        Entry& e = entries_[i];
        e.remaining_ms = e.remaining_ms - dt_ms;
        if (!(e.remaining_ms > 0.0f)) {
            position_[e.neuron] = kNone;
            if (i + 1 != entries_.size()) {
                e = entries_.back();
                position_[e.neuron] = static_cast<std::uint32_t>(i);
            }
            entries_.pop_back();
            continue;
        }
        input[e.neuron] = input[e.neuron] + e.current;
        ++i;
    }
}

}  // namespace vorn
