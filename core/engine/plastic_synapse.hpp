#pragma once
// PlasticSynapse: the "plastic-synapse" kind, a three-factor rule. Pre/post
// spike pairs build a signed eligibility trace; the weight moves only when the
// channel-0 modulator level leaves a dead band, and is scaled towards a target
// post-synaptic rate estimated online.

#include <cmath>
#include <expected>
#include <string_view>

#include "core/engine/synapse_config.hpp"
#include "core/engine/synapse_model.hpp"
#include "core/models/decay.hpp"

namespace vorn {

// Checks every field against the range set_param enforces for it, in field
// order, with w_max >= w_min checked at w_max; the error of the first bad key.
std::expected<void, ParamError> validate_plastic_config(const PlasticSynapseConfig& cfg);

// Per-tick decay factors exp(-dt / tau) of the four decaying quantities.
// An engine may compute them once per distinct (dt, tau) and share them.
struct PlasticDecays {
    float pre;          // pre_trace, tau_plus_ms
    float post;         // post_trace, tau_minus_ms
    float eligibility;  // eligibility_trace, tau_eligibility_ms
    float tag;          // tag, tau_tag_ms
};

// The fields that change while the synapse runs.
struct PlasticState {
    float weight = 0.0f;
    float pre_trace = 0.0f;
    float post_trace = 0.0f;
    float eligibility_trace = 0.0f;
    float tag = 0.0f;
    float observed_post_rate_hz = 0.0f;  // Hz
};

class PlasticSynapse final : public SynapseModel {
  public:
    // Traces, tag and rate estimate start at 0; the weight is clamped into
    // [w_min, w_max]. Requires cfg.w_min <= cfg.w_max.
    PlasticSynapse(const Uuid& id, const Uuid& pre, const Uuid& post,
                   const PlasticSynapseConfig& cfg, float weight);
    // A synapse with this exact state, as a pool that stores the parts
    // apart hands it out.
    PlasticSynapse(const Uuid& id, const Uuid& pre, const Uuid& post,
                   const PlasticSynapseConfig& cfg, const PlasticState& state)
        : id_(id), pre_(pre), post_(post), cfg_(cfg), s_(state) {}

    // The decay factors one update of dt_ms applies (decay_factor per tau).
    PlasticDecays decays(float dt_ms) const {
        return {decay_factor(dt_ms, cfg_.tau_plus_ms), decay_factor(dt_ms, cfg_.tau_minus_ms),
                decay_factor(dt_ms, cfg_.tau_eligibility_ms), decay_factor(dt_ms, cfg_.tau_tag_ms)};
    }

    // One tick of plasticity with externally computed decay factors; gives
    // bit-identical results to update() when they equal decays(dt).
    void update_with(const SynapseStepContext& c, const PlasticDecays& d) {
        advance(cfg_, s_, c, d);
    }

    // update_with on a configuration and state held elsewhere.
    static void advance(const PlasticSynapseConfig& p, PlasticState& s, const SynapseStepContext& c,
                        const PlasticDecays& d) {
        const float dt = c.ctx.dt_ms;

        s.pre_trace *= d.pre;
        s.post_trace *= d.post;
        s.eligibility_trace *= d.eligibility;
        s.tag *= d.tag;

        if (c.pre_spiked) {
            s.pre_trace += 1.0f;
            s.eligibility_trace -= s.post_trace * p.a_minus;
        }
        if (c.post_spiked) {
            s.eligibility_trace += s.pre_trace * p.a_plus;
            s.post_trace += 1.0f;
        }

        modulated_change(p, s, c.ctx.level0);

        const float dt_s = dt / 1000.0f;
        const float r = (dt_s > 0.0f && c.post_spiked) ? 1.0f / dt_s : 0.0f;
        const float alpha = dt_s / (dt_s + p.tau_rate_ms / 1000.0f);
        s.observed_post_rate_hz += alpha * (r - s.observed_post_rate_hz);

        if (p.homeostatic_rate != 0.0f) {
            s.weight = clamp_weight(
                p, s.weight * (1.0f + dt_s * (p.homeostatic_rate *
                                              (p.target_post_rate_hz - s.observed_post_rate_hz))));
        }
    }

    Uuid id() const override { return id_; }
    Uuid pre_id() const override { return pre_; }
    Uuid post_id() const override { return post_; }
    float weight() const override { return s_.weight; }
    void set_weight(float w) override { s_.weight = clamp_weight(cfg_, w); }
    const char* kind() const override { return "plastic-synapse"; }
    float synaptic_current(bool pre_spiked_last_tick) const override {
        return pre_spiked_last_tick ? s_.weight * cfg_.g_syn : 0.0f;
    }
    void update(const SynapseStepContext& c) override { update_with(c, decays(c.ctx.dt_ms)); }
    JsonValue snapshot() const override;
    std::expected<JsonValue, ParamError> set_param(std::string_view key,
                                                   const JsonValue& value) override;

    const PlasticSynapseConfig& config() const { return cfg_; }
    const PlasticState& state() const { return s_; }

  private:
    // Raises below w_min first, then lowers above w_max; NaN passes through.
    static float clamp_weight(const PlasticSynapseConfig& p, float w) {
        if (w < p.w_min) {
            w = p.w_min;
        }
        if (w > p.w_max) {
            w = p.w_max;
        }
        return w;
    }

    // Moves the weight by the eligibility trace when the modulator level m
    // lies outside [-threshold, threshold]; the unclamped size goes to the tag.
    static void modulated_change(const PlasticSynapseConfig& p, PlasticState& s, float m) {
        const float theta = p.dopamine_threshold;
        float d;
        if (m > theta) {
            d = m - theta;
        } else if (m < -theta) {
            d = m + theta;
        } else {
            return;  // inside the dead band, or NaN
        }
        if (d == 0.0f || s.eligibility_trace == 0.0f) {
            return;
        }
        const float delta = d * (s.eligibility_trace * p.learning_rate) * p.dopamine_gain;
        s.weight = clamp_weight(p, s.weight + delta);
        s.tag += std::fabs(delta);
        s.eligibility_trace *= p.post_consolidation_decay;
    }

    Uuid id_;
    Uuid pre_;
    Uuid post_;
    PlasticSynapseConfig cfg_;
    PlasticState s_;
};

}  // namespace vorn
