#include "core/engine/recording.hpp"

#include <algorithm>
#include <limits>

#include "core/engine/neuron_store.hpp"

namespace vorn {

void Recorders::record_spikes(double t_ms, const std::vector<std::uint32_t>& spikes) {
    std::erase_if(spikes_, [](const std::weak_ptr<SpikeRecord>& w) { return w.expired(); });
    for (const std::weak_ptr<SpikeRecord>& weak : spikes_) {
        std::shared_ptr<SpikeRecord> r = weak.lock();
        if (!r || spikes.empty())
            continue;
        std::lock_guard<std::mutex> hold(r->lock);
        const std::size_t n = r->index.size() + spikes.size();
        if (r->index.capacity() < n)
            r->index.reserve(std::max(n, 2 * r->index.capacity()));
        if (r->t_ms.capacity() < n)
            r->t_ms.reserve(std::max(n, 2 * r->t_ms.capacity()));
        r->index.insert(r->index.end(), spikes.begin(), spikes.end());
        r->t_ms.insert(r->t_ms.end(), spikes.size(), t_ms);
    }
}

void Recorders::record_states(double t_ms, const NeuronStore& neurons,
                              const std::function<bool(std::uint32_t)>& holds) {
    // Forgetting a state record also drops its field pointers.
    std::size_t keep = 0;
    for (std::size_t i = 0; i < states_.size(); ++i) {
        if (states_[i].expired())
            continue;
        states_[keep] = states_[i];
        if (i < fields_.size())
            fields_[keep].swap(fields_[i]);
        ++keep;
    }
    states_.resize(keep);
    if (fields_.size() != keep || fields_for_neurons_ != neurons.size()) {
        fields_.assign(keep, {});
        fields_for_neurons_ = neurons.size();
    }
    for (std::size_t i = 0; i < states_.size(); ++i) {
        std::shared_ptr<StateRecord> r = states_[i].lock();
        if (!r)
            continue;
        std::lock_guard<std::mutex> hold(r->lock);
        if (++r->ticks_seen % r->every != 0)
            continue;
        std::vector<const float*>& fields = fields_[i];
        if (fields.size() != r->neurons.size()) {
            fields.clear();
            for (std::uint32_t n : r->neurons)
                fields.push_back(holds(n) ? neurons.model(n).numeric_field(r->key) : nullptr);
        }
        const std::size_t samples = r->t_ms.size() + 1;
        if (r->t_ms.capacity() < samples)
            r->t_ms.reserve(std::max(samples, 2 * r->t_ms.capacity()));
        const std::size_t values = r->values.size() + fields.size();
        if (r->values.capacity() < values)
            r->values.reserve(std::max(values, 2 * r->values.capacity()));
        r->t_ms.push_back(t_ms);
        for (const float* f : fields)
            r->values.push_back(f != nullptr ? *f : std::numeric_limits<float>::quiet_NaN());
    }
}

}  // namespace vorn
