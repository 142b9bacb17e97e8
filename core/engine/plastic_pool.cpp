#include "core/engine/plastic_pool.hpp"

#include <cstring>

#include "core/models/decay.hpp"

namespace vorn {

std::uint32_t PlasticPool::add(const Uuid& edge_id, std::uint32_t pre, std::uint32_t post,
                               const PlasticSynapseConfig& cfg, float weight) {
    auto slot = static_cast<std::uint32_t>(ids_.size());
    // The model clamps the initial weight and sets the starting state.
    const PlasticSynapse fresh(edge_id, Uuid{}, Uuid{}, cfg, weight);
    ids_.push_back(edge_id);
    pre_.push_back(pre);
    post_.push_back(post);
    config_.push_back(configs_.acquire(cfg));
    state_.push_back(fresh.state());
    return slot;
}

PlasticSynapse PlasticPool::get(std::uint32_t slot, const Uuid& pre_id, const Uuid& post_id) const {
    return PlasticSynapse(ids_[slot], pre_id, post_id, configs_[config_[slot]], state_[slot]);
}

void PlasticPool::put(std::uint32_t slot, const PlasticSynapse& syn) {
    state_[slot] = syn.state();
    const PlasticSynapseConfig& old = configs_[config_[slot]];
    if (std::memcmp(&old, &syn.config(), sizeof old) != 0) {
        std::uint32_t next = configs_.acquire(syn.config());
        configs_.release(config_[slot]);
        config_[slot] = next;
    }
}

void PlasticPool::update(const StepContext& ctx, const std::uint8_t* spiked,
                         const std::uint8_t* fused, float* pending) {
    DecayCache pre_decay(ctx.dt_ms);
    DecayCache post_decay(ctx.dt_ms);
    DecayCache eligibility_decay(ctx.dt_ms);
    DecayCache tag_decay(ctx.dt_ms);
    // Recycled slots get factors too; nothing reads them.
    decays_.resize(configs_.slots());
    for (std::uint32_t c = 0; c < decays_.size(); ++c) {
        const PlasticSynapseConfig& p = configs_[c];
        decays_[c] = {pre_decay(p.tau_plus_ms), post_decay(p.tau_minus_ms),
                      eligibility_decay(p.tau_eligibility_ms), tag_decay(p.tau_tag_ms)};
    }
    SynapseStepContext c{ctx, false, false};
    for (std::size_t k = 0; k < state_.size(); ++k) {
        const std::uint32_t config = config_[k];
        const std::uint32_t post = post_[k];
        c.pre_spiked = spiked[pre_[k]] != 0;
        c.post_spiked = spiked[post] != 0;
        const PlasticSynapseConfig& p = configs_[config];
        PlasticSynapse::advance(p, state_[k], c, decays_[config]);
        if (c.pre_spiked && fused[post])
            pending[post] += state_[k].weight * p.g_syn;
    }
}

void PlasticPool::deliver(const std::uint8_t* spiked, const std::uint8_t* fused,
                          float* pending) const {
    for (std::size_t k = 0; k < state_.size(); ++k) {
        const std::uint32_t post = post_[k];
        if (spiked[pre_[k]] && fused[post])
            pending[post] += state_[k].weight * configs_[config_[k]].g_syn;
    }
}

}  // namespace vorn
