#pragma once
// A literal engine for comparison: AoS model objects, ordered maps and sets
// instead of dense indices, every phase of the tick done as written with a
// per-item exp, no shared state between synapses.

#include <map>
#include <set>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "core/engine/stdp_synapse.hpp"
#include "core/models/lif_neuron.hpp"

namespace vorn::testing {

class ReferenceEngine {
  public:
    void add_neuron(const Uuid& id) {
        if (find_neuron(id) == nullptr)
            neurons.emplace_back(id);
    }

    void add_edge(const Uuid& edge_id, const Uuid& pre, const Uuid& post, float weight) {
        if (pre == post || !connected.insert({pre, post}).second)
            return;
        add_neuron(pre);
        add_neuron(post);
        synapses.emplace_back(edge_id, pre, post, weight);
        incoming[post].push_back(synapses.size() - 1);
    }

    void stimulate(const Uuid& id, float current, float duration_ms) {
        if (find_neuron(id) != nullptr)
            stimulations[id] = {current, duration_ms};
    }

    std::vector<SpikeEvent> tick(float dt_ms) {
        t_ms += static_cast<double>(dt_ms);
        for (auto it = stimulations.begin(); it != stimulations.end();) {
            it->second.second = it->second.second - dt_ms;
            it = it->second.second > 0.0f ? std::next(it) : stimulations.erase(it);
        }
        std::map<Uuid, float> input;
        for (const auto& [id, stim] : stimulations)
            input[id] += stim.first;
        for (const auto& [post, indices] : incoming) {
            float sum = 0.0f;
            for (std::size_t i : indices) {
                const StdpSynapse& s = synapses[i];
                sum += s.synaptic_current(spiked_last_tick.contains(s.pre_id()));
            }
            if (sum != 0.0f)
                input[post] += sum;
        }
        StepContext ctx;
        ctx.t_ms = t_ms;
        ctx.dt_ms = dt_ms;
        std::set<Uuid> spiked;
        std::vector<SpikeEvent> spikes;
        for (LifNeuron& n : neurons) {
            auto it = input.find(n.id());
            if (n.step(ctx, it == input.end() ? 0.0f : it->second)) {
                spiked.insert(n.id());
                spikes.push_back({n.id(), t_ms});
            }
        }
        for (StdpSynapse& s : synapses) {
            s.update({ctx, spiked.contains(s.pre_id()), spiked.contains(s.post_id())});
        }
        spiked_last_tick = std::move(spiked);
        return spikes;
    }

    LifNeuron* find_neuron(const Uuid& id) {
        for (LifNeuron& n : neurons) {
            if (n.id() == id)
                return &n;
        }
        return nullptr;
    }
    StdpSynapse* find_synapse(const Uuid& edge_id) {
        for (StdpSynapse& s : synapses) {
            if (s.id() == edge_id)
                return &s;
        }
        return nullptr;
    }

    std::vector<LifNeuron> neurons;  // insertion order
    std::vector<StdpSynapse> synapses;
    std::set<std::pair<Uuid, Uuid>> connected;
    std::map<Uuid, std::vector<std::size_t>> incoming;
    std::map<Uuid, std::pair<float, float>> stimulations;  // current, remaining ms
    std::set<Uuid> spiked_last_tick;
    double t_ms = 0.0;
};

}  // namespace vorn::testing
