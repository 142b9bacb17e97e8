// Cost of one model step: Hodgkin-Huxley (Euler and RK4 at dt 1 ms),
// Izhikevich, AdEx, and one plastic-synapse update, in ns per call.

#include <chrono>
#include <cstdio>
#include <vector>

#include "core/engine/plastic_synapse.hpp"
#include "core/models/adex_neuron.hpp"
#include "core/models/hh_neuron.hpp"
#include "core/models/izhikevich_neuron.hpp"

namespace {

using Clock = std::chrono::steady_clock;

// Steps every model `ticks` times and returns ns per single step.
template <typename Model>
double ns_per_step(std::vector<Model>& models, int ticks, float dt, float input) {
    int spikes = 0;
    const auto start = Clock::now();
    for (int t = 0; t < ticks; ++t) {
        for (Model& m : models) {
            spikes += m.step_impl(dt, input) ? 1 : 0;
        }
    }
    const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    // Keeps the work observable so it cannot be optimised away.
    if (spikes < 0) {
        std::printf("unreachable\n");
    }
    return ns / (static_cast<double>(ticks) * static_cast<double>(models.size()));
}

vorn::Uuid id_of(std::size_t i) {
    vorn::Uuid id;
    id.bytes[0] = static_cast<std::uint8_t>(i);
    id.bytes[1] = static_cast<std::uint8_t>(i >> 8);
    return id;
}

}  // namespace

int main() {
    using namespace vorn;
    constexpr std::size_t kNeurons = 1000;
    const HhConfig hh{1.0f, 120.0f,           36.0f, 0.3f, 50.0f, -77.0f, -54.387f, -65.0f, 0.0f,
                      2.0f, Integrator::Euler};
    for (Integrator integrator : {Integrator::Euler, Integrator::Rk4}) {
        HhConfig cfg = hh;
        cfg.integrator = integrator;
        std::vector<HhNeuron> neurons;
        for (std::size_t i = 0; i < kNeurons; ++i) {
            neurons.emplace_back(id_of(i), cfg);
        }
        const double ns = ns_per_step(neurons, 20, 1.0f, 10.0f);
        std::printf("%s=%.0f\n",
                    integrator == Integrator::Rk4 ? "hh_rk4_step_dt1_ns" : "hh_euler_step_dt1_ns",
                    ns);
    }

    std::vector<IzhikevichNeuron> izh;
    std::vector<AdExNeuron> adex;
    for (std::size_t i = 0; i < kNeurons; ++i) {
        izh.emplace_back(id_of(i), IzhikevichConfig{0.02f, 0.2f, -65.0f, 8.0f, 30.0f});
        adex.emplace_back(id_of(i), AdExConfig{200.0f, 10.0f, -70.0f, -50.0f, 2.0f, 0.0f, -58.0f,
                                               30.0f, 2.0f, 60.0f});
    }
    std::printf("izhikevich_step_ns=%.2f\n", ns_per_step(izh, 2000, 0.5f, 10.0f));
    std::printf("adex_step_ns=%.2f\n", ns_per_step(adex, 2000, 0.1f, 500.0f));

    const PlasticSynapseConfig pcfg{0.0f,     1.0f, 80.0f, 0.01f, 0.012f, 20.0f, 20.0f,   1000.0f,
                                    10000.0f, 1.0f, 0.1f,  1.0f,  5.0f,   0.1f,  1000.0f, 0.5f};
    std::vector<PlasticSynapse> syn;
    for (std::size_t i = 0; i < 10 * kNeurons; ++i) {
        syn.emplace_back(id_of(i), id_of(i + 1), id_of(i + 2), pcfg, 0.5f);
    }
    constexpr int kTicks = 500;
    for (bool shared_decays : {false, true}) {
        SynapseStepContext c;
        c.ctx.dt_ms = 1.0f;
        const PlasticDecays d = syn.front().decays(1.0f);
        const auto start = Clock::now();
        for (int t = 0; t < kTicks; ++t) {
            for (std::size_t i = 0; i < syn.size(); ++i) {
                c.pre_spiked = (i + t) % 17 == 0;
                c.post_spiked = (i + t) % 23 == 0;
                if (shared_decays) {
                    syn[i].update_with(c, d);
                } else {
                    syn[i].update(c);
                }
            }
        }
        const double ns = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
        std::printf("%s=%.2f\n",
                    shared_decays ? "plastic_update_shared_decays_ns" : "plastic_update_ns",
                    ns / (static_cast<double>(kTicks) * static_cast<double>(syn.size())));
    }
    return 0;
}
