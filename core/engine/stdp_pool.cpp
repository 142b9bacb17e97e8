#include "core/engine/stdp_pool.hpp"

#include <bit>

namespace vorn {
namespace {

constexpr std::uint32_t kNoSlot = 0xffffffffu;

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

}  // namespace

void StdpPool::resize_neurons(std::size_t n) {
    outgoing_.resize(n);
    incoming_.resize(n);
    traces_.resize(n);
}

std::uint32_t StdpPool::add(const Uuid& edge_id, std::uint32_t pre, std::uint32_t post,
                            float weight) {
    const StdpSynapse fresh(edge_id, Uuid{}, Uuid{}, weight);
    auto slot = static_cast<std::uint32_t>(hot_.size());
    std::uint32_t param =
        params_.acquire({fresh.w_min, fresh.w_max, fresh.g_syn, fresh.a_plus, fresh.a_minus});
    std::uint32_t pre_private = kNoSlot;
    std::uint32_t post_private = kNoSlot;
    // A new trace (+0.0, default tau) follows the neuron's shared trace
    // exactly when that trace is +0.0 too; otherwise it starts its own.
    if (!traces_.can_share(pre)) {
        param |= kPrePrivate;
        pre_private = traces_.add_private(pre, fresh.tau_plus, fresh.pre_trace);
    }
    if (!traces_.can_share(post)) {
        param |= kPostPrivate;
        post_private = traces_.add_private(post, fresh.tau_minus, fresh.post_trace);
    }
    hot_.push_back({fresh.weight(), pre, post, param});
    ids_.push_back(edge_id);
    pre_private_.push_back(pre_private);
    post_private_.push_back(post_private);
    outgoing_[pre].push_back(slot);
    incoming_[post].push_back(slot);
    return slot;
}

StdpSynapse StdpPool::get(std::uint32_t slot, const Uuid& pre_id, const Uuid& post_id) const {
    const Hot& h = hot_[slot];
    const StdpParams& p = params_[h.param & kParamMask];
    StdpSynapse s(ids_[slot], pre_id, post_id, 0.0f);
    s.weight_ = h.weight;
    s.w_min = p.w_min;
    s.w_max = p.w_max;
    s.g_syn = p.g_syn;
    s.a_plus = p.a_plus;
    s.a_minus = p.a_minus;
    if (h.param & kPrePrivate) {
        s.tau_plus = traces_.at(pre_private_[slot]).tau;
        s.pre_trace = traces_.at(pre_private_[slot]).value;
    } else {
        s.tau_plus = TraceTable::kSharedTau;
        s.pre_trace = traces_.shared_value(h.pre);
    }
    if (h.param & kPostPrivate) {
        s.tau_minus = traces_.at(post_private_[slot]).tau;
        s.post_trace = traces_.at(post_private_[slot]).value;
    } else {
        s.tau_minus = TraceTable::kSharedTau;
        s.post_trace = traces_.shared_value(h.post);
    }
    return s;
}

void StdpPool::put(std::uint32_t slot, const StdpSynapse& syn) {
    Hot& h = hot_[slot];
    h.weight = syn.weight_;

    std::uint32_t flags = h.param & ~kParamMask;
    std::uint32_t param = h.param & kParamMask;
    const StdpParams& old = params_[param];
    StdpParams now{syn.w_min, syn.w_max, syn.g_syn, syn.a_plus, syn.a_minus};
    if (!same_bits(old.w_min, now.w_min) || !same_bits(old.w_max, now.w_max) ||
        !same_bits(old.g_syn, now.g_syn) || !same_bits(old.a_plus, now.a_plus) ||
        !same_bits(old.a_minus, now.a_minus)) {
        std::uint32_t next = params_.acquire(now);
        params_.release(param);
        param = next;
    }

    // A trace leaves its shared slot only when its value or tau changed.
    auto store_trace = [&](std::uint32_t flag, std::uint32_t& private_slot, std::uint32_t neuron,
                           float tau, float value, float shared) {
        if (flags & flag) {
            TraceTable::Private& t = traces_.at(private_slot);
            t.tau = tau;
            t.value = value;
        } else if (!same_bits(tau, TraceTable::kSharedTau) || !same_bits(value, shared)) {
            flags |= flag;
            private_slot = traces_.add_private(neuron, tau, value);
        }
    };
    store_trace(kPrePrivate, pre_private_[slot], h.pre, syn.tau_plus, syn.pre_trace,
                traces_.shared_value(h.pre));
    store_trace(kPostPrivate, post_private_[slot], h.post, syn.tau_minus, syn.post_trace,
                traces_.shared_value(h.post));
    h.param = param | flags;
}

void StdpPool::update(float dt_ms, const std::uint8_t* spiked,
                      const std::vector<std::uint32_t>& spikes, const std::uint8_t* direct,
                      float* pending) {
    traces_.advance(dt_ms, spiked);
    potentiate_spiked_posts(spiked, spikes);
    depress_spiked_pres(spiked, spikes, direct, pending);
}

// Every synapse whose post spiked: depression first when its pre spiked too,
// then potentiation with the pre trace after this tick's increment.
void StdpPool::potentiate_spiked_posts(const std::uint8_t* spiked,
                                       const std::vector<std::uint32_t>& spikes) {
    for (std::uint32_t post : spikes) {
        for (std::uint32_t s : incoming_[post]) {
            Hot& h = hot_[s];
            const StdpParams& p = params_[h.param & kParamMask];
            float w = h.weight;
            if (spiked[h.pre])
                w = clamp_weight(w - p.a_minus * post_decayed(s, h), p.w_min, p.w_max);
            h.weight = clamp_weight(w + p.a_plus * pre_value(s, h), p.w_min, p.w_max);
        }
    }
}

// Every synapse whose pre spiked and whose post did not: depression. Its
// weight is then final for this tick, so its current for the next tick is
// added here. Pre neurons ascend, and each post of a direct entry receives
// from pre neurons in creation order, so every sum keeps creation order.
void StdpPool::depress_spiked_pres(const std::uint8_t* spiked,
                                   const std::vector<std::uint32_t>& spikes,
                                   const std::uint8_t* direct, float* pending) {
    for (std::uint32_t pre : spikes) {
        for (std::uint32_t s : outgoing_[pre]) {
            Hot& h = hot_[s];
            const StdpParams& p = params_[h.param & kParamMask];
            float w = h.weight;
            if (!spiked[h.post]) {
                w = clamp_weight(w - p.a_minus * post_decayed(s, h), p.w_min, p.w_max);
                h.weight = w;
            }
            if (direct[h.post])
                pending[h.post] += w * p.g_syn;
        }
    }
}

void StdpPool::deliver(const std::vector<std::uint32_t>& spikes, const std::uint8_t* direct,
                       float* pending) const {
    for (std::uint32_t pre : spikes) {
        for (std::uint32_t s : outgoing_[pre]) {
            const Hot& h = hot_[s];
            if (direct[h.post])
                pending[h.post] += h.weight * params_[h.param & kParamMask].g_syn;
        }
    }
}

}  // namespace vorn
