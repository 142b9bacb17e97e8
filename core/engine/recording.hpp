#pragma once
// Monitors on the engine side: records that the tick appends to, shared
// with their readers so that a record outlives the engine that fills it.
// Each record has its own lock, since a reader may copy it from another
// thread while ticks run.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vorn {

class NeuronStore;

// Every spike from the record's creation on: the neuron's dense index and
// the tick's time.
struct SpikeRecord {
    std::mutex lock;
    std::vector<std::uint32_t> index;
    std::vector<double> t_ms;
};

// One numeric field of some neurons, sampled after every `every`-th tick:
// per sample its time and one value per neuron (values is samples x neurons,
// row by row).
struct StateRecord {
    std::mutex lock;
    std::vector<std::uint32_t> neurons;  // dense indices
    std::string key;
    std::uint64_t every = 1;
    std::uint64_t ticks_seen = 0;
    std::vector<double> t_ms;
    std::vector<float> values;
};

class Recorders {
  public:
    void add(const std::shared_ptr<SpikeRecord>& r) { spikes_.push_back(r); }
    void add(const std::shared_ptr<StateRecord>& r) { states_.push_back(r); }
    bool empty() const { return spikes_.empty() && states_.empty(); }

    // Appends one tick to every live record and forgets the others. Neurons
    // another rank holds (holds(n) false) sample as NaN. On std::bad_alloc
    // a record keeps what it had before this tick.
    template <class Holds>
    void record(double t_ms, const std::vector<std::uint32_t>& spikes, const NeuronStore& neurons,
                Holds holds) {
        record_spikes(t_ms, spikes);
        if (!states_.empty())
            record_states(t_ms, neurons, [&](std::uint32_t n) { return holds(n); });
    }

  private:
    void record_spikes(double t_ms, const std::vector<std::uint32_t>& spikes);
    void record_states(double t_ms, const NeuronStore& neurons,
                       const std::function<bool(std::uint32_t)>& holds);

    std::vector<std::weak_ptr<SpikeRecord>> spikes_;
    std::vector<std::weak_ptr<StateRecord>> states_;
    // Field pointers of each state record, refreshed when neurons are added.
    std::vector<std::vector<const float*>> fields_;
    std::size_t fields_for_neurons_ = 0;
};

}  // namespace vorn
