#include "core/engine/traces.hpp"

#include <bit>

#include "core/models/decay.hpp"

namespace vorn {

void SharedTraces::resize(std::size_t n) {
    value_.resize(n, 0.0f);
    decayed_.resize(n, 0.0f);
}

bool SharedTraces::can_share(std::uint32_t neuron) const {
    return std::bit_cast<std::uint32_t>(value_[neuron]) == 0;
}

void SharedTraces::advance(std::uint32_t begin, std::uint32_t end, float dt_ms,
                           const std::uint8_t* spiked) {
    const float d = decay_factor(dt_ms, kTau);
    for (std::uint32_t i = begin; i < end; ++i) {
        const float x = value_[i] * d;
        decayed_[i] = x;
        value_[i] = spiked[i] ? x + 1.0f : x;
    }
}

void PrivateTraces::advance(float dt_ms, const std::uint8_t* spiked) {
    DecayMemo memo(dt_ms);
    for (Trace& t : traces_) {
        const float x = t.value * memo(t.tau);
        t.decayed = x;
        t.value = spiked[t.neuron] ? x + 1.0f : x;
    }
}

}  // namespace vorn
