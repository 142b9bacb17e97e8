#pragma once
// StaticSynapse: the "static" kind, a fixed weight that never learns. A
// negative weight inhibits. A plain record behind the SynapseModel
// interface, used for parameter access and as the reference of its rule.

#include "core/engine/synapse_model.hpp"

namespace vorn {

class StaticSynapse final : public SynapseModel {
  public:
    static constexpr const char* kKind = "static";

    StaticSynapse(const Uuid& id, const Uuid& pre, const Uuid& post, float weight,
                  float g_syn = 1.0f)
        : g_syn(g_syn), id_(id), pre_id_(pre), post_id_(post), weight_(weight) {}

    Uuid id() const override { return id_; }
    Uuid pre_id() const override { return pre_id_; }
    Uuid post_id() const override { return post_id_; }
    float weight() const override { return weight_; }
    void set_weight(float w) override { weight_ = w; }
    const char* kind() const override { return kKind; }
    float synaptic_current(bool pre_spiked_last_tick) const override {
        return pre_spiked_last_tick ? weight_ * g_syn : 0.0f;
    }
    void update(const SynapseStepContext&) override {}
    // Keys "id", "pre_id", "post_id", "weight", "g_syn".
    JsonValue snapshot() const override;
    // "weight": any finite value; "g_syn": [0, 10000].
    std::expected<JsonValue, ParamError> set_param(std::string_view key,
                                                   const JsonValue& value) override;

    float g_syn;  // current per unit weight

  private:
    Uuid id_;
    Uuid pre_id_;
    Uuid post_id_;
    float weight_;
};

}  // namespace vorn
