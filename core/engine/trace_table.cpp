#include "core/engine/trace_table.hpp"

#include <bit>

#include "core/models/decay.hpp"

namespace vorn {

void TraceTable::resize(std::size_t n) {
    shared_value_.resize(n, 0.0f);
    shared_decayed_.resize(n, 0.0f);
}

bool TraceTable::can_share(std::uint32_t neuron) const {
    return std::bit_cast<std::uint32_t>(shared_value_[neuron]) == 0;
}

std::uint32_t TraceTable::add_private(std::uint32_t neuron, float tau, float value) {
    private_.push_back({neuron, tau, value, value});
    return static_cast<std::uint32_t>(private_.size() - 1);
}

void TraceTable::advance(float dt_ms, const std::uint8_t* spiked) {
    float d = decay_factor(dt_ms, kSharedTau);
    std::size_t n = shared_value_.size();
    for (std::size_t i = 0; i < n; ++i) {
        float x = shared_value_[i] * d;
        shared_decayed_[i] = x;
        shared_value_[i] = spiked[i] ? x + 1.0f : x;
    }
    DecayMemo memo(dt_ms);
    for (Private& p : private_) {
        float x = p.value * memo(p.tau);
        p.decayed = x;
        p.value = spiked[p.neuron] ? x + 1.0f : x;
    }
}

}  // namespace vorn
