#pragma once
// STDP spike traces. A trace decays by exp(-dt / tau) each tick and grows by
// 1 when its neuron spikes, so all traces of one neuron with the default tau
// that started at +0.0 stay bit-identical: they share one value per neuron
// (SharedTraces, which serves both as the pre trace of the neuron's outgoing
// synapses and as the post trace of its incoming ones). A trace whose value
// or tau was written directly, or that started while the shared one was not
// +0.0, lives in a private slot of its shard (PrivateTraces).

#include <cstdint>
#include <vector>

namespace vorn {

class SharedTraces {
  public:
    static constexpr float kTau = 20.0f;  // ms

    // Makes room for neurons [0, n); new traces start at +0.0.
    void resize(std::size_t n);
    void reserve(std::size_t n) {
        value_.reserve(n);
        decayed_.reserve(n);
    }
    std::size_t size() const { return value_.size(); }

    // True when a new trace (+0.0, kTau) may follow the neuron's shared
    // trace: the shared value is exactly +0.0 right now.
    bool can_share(std::uint32_t neuron) const;

    // Value after this tick's spike increment, and the value before it.
    float value(std::uint32_t neuron) const { return value_[neuron]; }
    float decayed(std::uint32_t neuron) const { return decayed_[neuron]; }
    const float* values() const { return value_.data(); }
    const float* decayed_values() const { return decayed_.data(); }

    // One tick for neurons [begin, end): decay, then add 1 where spiked[n].
    void advance(std::uint32_t begin, std::uint32_t end, float dt_ms, const std::uint8_t* spiked);

    // Restores both values of a neuron (checkpoints).
    void set(std::uint32_t neuron, float value, float decayed) {
        value_[neuron] = value;
        decayed_[neuron] = decayed;
    }

  private:
    std::vector<float> value_;
    std::vector<float> decayed_;
};

class PrivateTraces {
  public:
    struct Trace {
        std::uint32_t neuron;  // whose spikes feed it
        float tau;             // ms
        float value;           // after this tick's spike increment
        float decayed;         // before it
    };

    std::uint32_t add(const Trace& t) {
        traces_.push_back(t);
        return static_cast<std::uint32_t>(traces_.size() - 1);
    }
    Trace& at(std::uint32_t slot) { return traces_[slot]; }
    const Trace& at(std::uint32_t slot) const { return traces_[slot]; }
    std::size_t size() const { return traces_.size(); }
    void clear() { traces_.clear(); }
    void reserve(std::size_t n) { traces_.reserve(n); }

    // One tick of every trace: decay, then add 1 where spiked[neuron].
    void advance(float dt_ms, const std::uint8_t* spiked);

  private:
    std::vector<Trace> traces_;
};

}  // namespace vorn
