#pragma once
// A literal engine for comparison: boxed model objects reached through their
// interfaces, ordered maps and sets instead of dense indices, every phase of
// the tick done as written with a per-item exp, no shared state between
// synapses.

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "core/engine/plastic_synapse.hpp"
#include "core/engine/poisson_inputs.hpp"
#include "core/engine/sim_engine.hpp"
#include "core/engine/static_synapse.hpp"
#include "core/engine/stdp_synapse.hpp"
#include "core/models/adex_neuron.hpp"
#include "core/models/hh_neuron.hpp"
#include "core/models/izhikevich_neuron.hpp"
#include "core/models/lif_neuron.hpp"

namespace vorn::testing {

inline std::unique_ptr<NeuronModel> build_neuron(const Uuid& id, const NeuronConfig& config) {
    struct Build {
        const Uuid& id;
        std::unique_ptr<NeuronModel> operator()(const LifConfig&) const {
            return std::make_unique<LifNeuron>(id);
        }
        std::unique_ptr<NeuronModel> operator()(const HhConfig& c) const {
            return std::make_unique<HhNeuron>(id, c);
        }
        std::unique_ptr<NeuronModel> operator()(const IzhikevichConfig& c) const {
            return std::make_unique<IzhikevichNeuron>(id, c);
        }
        std::unique_ptr<NeuronModel> operator()(const AdExConfig& c) const {
            return std::make_unique<AdExNeuron>(id, c);
        }
    };
    return std::visit(Build{id}, config);
}

class ReferenceEngine {
  public:
    void add_neuron(const Uuid& id, const NeuronConfig& config = LifConfig{}) {
        if (find_neuron(id) == nullptr)
            neurons.push_back(build_neuron(id, config));
    }

    // True when a synapse was made.
    bool add_edge(const Uuid& edge_id, const Uuid& pre, const Uuid& post, float weight,
                  const SynapseConfig& config = StdpConfig{}, float delay_ms = 1.0f) {
        if (pre == post || !connected.insert({pre, post}).second)
            return false;
        add_neuron(pre);
        add_neuron(post);
        if (const auto* cfg = std::get_if<PlasticSynapseConfig>(&config))
            synapses.push_back(std::make_unique<PlasticSynapse>(edge_id, pre, post, *cfg, weight));
        else if (const auto* st = std::get_if<StaticConfig>(&config))
            synapses.push_back(
                std::make_unique<StaticSynapse>(edge_id, pre, post, weight, st->g_syn));
        else
            synapses.push_back(std::make_unique<StdpSynapse>(edge_id, pre, post,
                                                             std::get<StdpConfig>(config), weight));
        delays.push_back(delay_ms);
        incoming[post].push_back(synapses.size() - 1);
        return true;
    }

    void add_poisson(const std::vector<Uuid>& targets, double rate_hz, float weight,
                     std::uint64_t seed) {
        poisson.push_back({std::set<Uuid>(targets.begin(), targets.end()), rate_hz, weight, seed});
    }

    // Ticks of delay of a spike fired in a tick of dt: max(1, round(d / dt)),
    // or never when that is not a finite count.
    static std::optional<std::uint64_t> ticks_of(float delay_ms, float dt_ms) {
        const double q = static_cast<double>(delay_ms) / static_cast<double>(dt_ms);
        if (std::isnan(q) || q < 1.5)
            return 1;
        if (q >= 0x1p40)
            return std::nullopt;
        return static_cast<std::uint64_t>(std::round(q));
    }

    // How many spikes of the pre neuron of synapse i arrive on this tick:
    // after a change of step, spikes of two ticks can arrive together.
    int arrivals(std::size_t i) const {
        const Uuid pre = synapses[i]->pre_id();
        int count = 0;
        for (const Fired& f : history) {
            auto d = ticks_of(delays[i], f.dt_ms);
            if (d && f.tick + *d == tick_count && f.spiked.contains(pre))
                ++count;
        }
        return count;
    }

    void stimulate(const Uuid& id, float current, float duration_ms) {
        if (find_neuron(id) != nullptr)
            stimulations[id] = {current, duration_ms};
    }

    std::vector<SpikeEvent> tick(float dt_ms) {
        t_ms += static_cast<double>(dt_ms);
        std::vector<ModulatorPulse> kept;
        for (ModulatorPulse p : pulses) {
            if (!(p.tau_ms > 0.0f))
                continue;
            p.amount = p.amount * std::exp(-dt_ms / p.tau_ms);
            if (std::fabs(p.amount) > 0.000001f)
                kept.push_back(p);
        }
        pulses = std::move(kept);
        levels = base_levels;
        for (const ModulatorPulse& p : pulses)
            levels[p.channel < 3 ? p.channel : 3] += p.amount;

        for (auto it = stimulations.begin(); it != stimulations.end();) {
            it->second.second = it->second.second - dt_ms;
            it = it->second.second > 0.0f ? std::next(it) : stimulations.erase(it);
        }
        ++tick_count;
        std::map<Uuid, float> input;
        for (const auto& [id, stim] : stimulations)
            input[id] += stim.first;
        for (std::size_t p = 0; p < poisson.size(); ++p) {
            const Noise& in = poisson[p];
            for (std::size_t n = 0; n < neurons.size(); ++n) {
                if (!in.targets.contains(neurons[n]->id()))
                    continue;
                const double lambda = in.rate_hz * static_cast<double>(dt_ms) / 1000.0;
                const std::uint64_t k =
                    poisson_draw(lambda, poisson_key(in.seed, p, n, tick_count));
                if (k != 0)
                    input[neurons[n]->id()] += in.weight * static_cast<float>(k);
            }
        }
        for (const auto& [post, indices] : incoming) {
            float sum = 0.0f;
            for (std::size_t i : indices) {
                for (int n = arrivals(i); n > 0; --n)
                    sum += synapses[i]->synaptic_current(true);
            }
            if (sum != 0.0f)
                input[post] += sum;
        }
        const StepContext ctx{levels, t_ms, dt_ms, levels[0]};
        std::set<Uuid> spiked;
        std::vector<SpikeEvent> spikes;
        for (auto& n : neurons) {
            auto it = input.find(n->id());
            if (n->step(ctx, it == input.end() ? 0.0f : it->second)) {
                spiked.insert(n->id());
                spikes.push_back({n->id(), t_ms});
            }
        }
        for (auto& s : synapses) {
            s->update({ctx, spiked.contains(s->pre_id()), spiked.contains(s->post_id())});
        }
        // Spikes stay in flight as long as the longest delay can bring them.
        float longest = 0.0f;
        for (float d : delays)
            longest = std::max(longest, d);
        history.push_back({tick_count, dt_ms, spiked});
        while (!history.empty()) {
            auto d = ticks_of(longest, history.front().dt_ms);
            if (d && history.front().tick + *d > tick_count)
                break;
            history.pop_front();
        }
        spiked_last_tick = std::move(spiked);
        return spikes;
    }

    NeuronModel* find_neuron(const Uuid& id) {
        for (auto& n : neurons) {
            if (n->id() == id)
                return n.get();
        }
        return nullptr;
    }
    SynapseModel* find_synapse(const Uuid& edge_id) {
        for (auto& s : synapses) {
            if (s->id() == edge_id)
                return s.get();
        }
        return nullptr;
    }

    std::vector<std::unique_ptr<NeuronModel>> neurons;  // insertion order
    std::vector<std::unique_ptr<SynapseModel>> synapses;
    std::set<std::pair<Uuid, Uuid>> connected;
    std::map<Uuid, std::vector<std::size_t>> incoming;
    std::map<Uuid, std::pair<float, float>> stimulations;  // current, remaining ms
    std::set<Uuid> spiked_last_tick;
    std::vector<float> delays;  // ms, per synapse
    struct Fired {
        std::uint64_t tick;
        float dt_ms;
        std::set<Uuid> spiked;
    };
    std::deque<Fired> history;
    std::uint64_t tick_count = 0;
    struct Noise {
        std::set<Uuid> targets;
        double rate_hz;
        float weight;
        std::uint64_t seed;
    };
    std::vector<Noise> poisson;
    std::array<float, 4> base_levels{};
    std::vector<ModulatorPulse> pulses;
    std::array<float, 4> levels{};  // of the last tick
    double t_ms = 0.0;
};

}  // namespace vorn::testing
