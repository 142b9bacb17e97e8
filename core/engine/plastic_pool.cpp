#include "core/engine/plastic_pool.hpp"

#include "core/models/decay.hpp"

namespace vorn {

std::uint32_t PlasticPool::add(const Uuid& edge_id, const Uuid& pre_id, const Uuid& post_id,
                               std::uint32_t pre, std::uint32_t post,
                               const PlasticSynapseConfig& cfg, float weight) {
    auto slot = static_cast<std::uint32_t>(items_.size());
    items_.emplace_back(edge_id, pre_id, post_id, cfg, weight);
    pre_.push_back(pre);
    post_.push_back(post);
    return slot;
}

void PlasticPool::update(const StepContext& ctx, const std::uint8_t* spiked) {
    // expf once per distinct time constant of each trace per tick; the
    // factors equal the synapse's own decays().
    DecayCache pre_decay(ctx.dt_ms);
    DecayCache post_decay(ctx.dt_ms);
    DecayCache eligibility_decay(ctx.dt_ms);
    DecayCache tag_decay(ctx.dt_ms);
    SynapseStepContext c{ctx, false, false};
    for (std::size_t k = 0; k < items_.size(); ++k) {
        PlasticSynapse& s = items_[k];
        const PlasticSynapseConfig& p = s.config();
        const PlasticDecays d{pre_decay(p.tau_plus_ms), post_decay(p.tau_minus_ms),
                              eligibility_decay(p.tau_eligibility_ms), tag_decay(p.tau_tag_ms)};
        c.pre_spiked = spiked[pre_[k]] != 0;
        c.post_spiked = spiked[post_[k]] != 0;
        s.update_with(c, d);
    }
}

}  // namespace vorn
