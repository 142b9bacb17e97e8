#include "core/engine/stdp_pool.hpp"

#include <bit>

namespace vorn {
namespace {

constexpr std::uint32_t kNoSlot = 0xffffffffu;
constexpr std::size_t kPrefetch = 32;  // links ahead in the scattered walk

constexpr std::size_t kRangesAhead = 2;  // spiking neurons ahead in a sequential walk

// Asks for every cache line of [begin, begin + count).
template <class T>
void prefetch_range(const T* begin, std::size_t count) {
    const char* p = reinterpret_cast<const char*>(begin);
    const char* end = p + count * sizeof(T);
    for (; p < end; p += 64)
        __builtin_prefetch(p);
}

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

}  // namespace

void StdpPool::resize_neurons(std::size_t n) {
    if (n == n_neurons_)
        return;
    n_neurons_ = n;
    traces_.resize(n);
    layout_valid_ = false;
}

std::uint32_t StdpPool::add(const Uuid& edge_id, std::uint32_t pre, std::uint32_t post,
                            float weight) {
    const StdpSynapse fresh(edge_id, Uuid{}, Uuid{}, weight);
    auto slot = static_cast<std::uint32_t>(ids_.size());
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
    if (param & ~kParamMask)
        ++private_synapses_;
    ids_.push_back(edge_id);
    pre_.push_back(pre);
    post_.push_back(post);
    param_.push_back(param);
    pre_private_.push_back(pre_private);
    post_private_.push_back(post_private);
    position_.push_back(static_cast<std::uint32_t>(weight_.size()));
    weight_.push_back(fresh.weight());
    post_at_.push_back(post);
    param_at_.push_back(param);
    slot_at_.push_back(slot);
    layout_valid_ = false;
    return slot;
}

StdpSynapse StdpPool::get(std::uint32_t slot, const Uuid& pre_id, const Uuid& post_id) const {
    const std::uint32_t param = param_[slot];
    const StdpParams& p = params_[param & kParamMask];
    StdpSynapse s(ids_[slot], pre_id, post_id, 0.0f);
    s.weight_ = weight(slot);
    s.w_min = p.w_min;
    s.w_max = p.w_max;
    s.g_syn = p.g_syn;
    s.a_plus = p.a_plus;
    s.a_minus = p.a_minus;
    if (param & kPrePrivate) {
        s.tau_plus = traces_.at(pre_private_[slot]).tau;
        s.pre_trace = traces_.at(pre_private_[slot]).value;
    } else {
        s.tau_plus = TraceTable::kSharedTau;
        s.pre_trace = traces_.shared_value(pre_[slot]);
    }
    if (param & kPostPrivate) {
        s.tau_minus = traces_.at(post_private_[slot]).tau;
        s.post_trace = traces_.at(post_private_[slot]).value;
    } else {
        s.tau_minus = TraceTable::kSharedTau;
        s.post_trace = traces_.shared_value(post_[slot]);
    }
    return s;
}

void StdpPool::put(std::uint32_t slot, const StdpSynapse& syn) {
    weight_[position_[slot]] = syn.weight_;

    std::uint32_t flags = param_[slot] & ~kParamMask;
    std::uint32_t param = param_[slot] & kParamMask;
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
                           float tau, float value) {
        if (flags & flag) {
            TraceTable::Private& t = traces_.at(private_slot);
            t.tau = tau;
            t.value = value;
        } else if (!same_bits(tau, TraceTable::kSharedTau) ||
                   !same_bits(value, traces_.shared_value(neuron))) {
            flags |= flag;
            private_slot = traces_.add_private(neuron, tau, value);
        }
    };
    store_trace(kPrePrivate, pre_private_[slot], pre_[slot], syn.tau_plus, syn.pre_trace);
    store_trace(kPostPrivate, post_private_[slot], post_[slot], syn.tau_minus, syn.post_trace);
    set_param_word(slot, param | flags);
}

void StdpPool::set_param_word(std::uint32_t slot, std::uint32_t word) {
    if ((param_[slot] & ~kParamMask) == 0 && (word & ~kParamMask) != 0)
        ++private_synapses_;
    param_[slot] = word;
    param_at_[position_[slot]] = word;
}

// Groups positions by pre neuron (creation order within each group) and
// builds the incoming links per post in creation order; counting sorts.
void StdpPool::ensure_layout() {
    if (layout_valid_)
        return;
    const std::size_t n = n_neurons_;
    const std::size_t count = ids_.size();

    out_begin_.assign(n + 1, 0);
    in_begin_.assign(n + 1, 0);
    for (std::size_t s = 0; s < count; ++s) {
        ++out_begin_[pre_[s] + 1];
        ++in_begin_[post_[s] + 1];
    }
    for (std::size_t i = 0; i < n; ++i) {
        out_begin_[i + 1] += out_begin_[i];
        in_begin_[i + 1] += in_begin_[i];
    }

    BigVector<float> weight(count);
    BigVector<std::uint32_t> post_at(count);
    BigVector<std::uint32_t> param_at(count);
    std::vector<std::uint32_t> slot_at(count);
    std::vector<std::uint32_t> cursor(out_begin_.begin(), out_begin_.end() - 1);
    for (std::uint32_t s = 0; s < count; ++s) {
        std::uint32_t p = cursor[pre_[s]]++;
        weight[p] = weight_[position_[s]];
        post_at[p] = post_[s];
        param_at[p] = param_[s];
        slot_at[p] = s;
        position_[s] = p;
    }
    weight_ = std::move(weight);
    post_at_ = std::move(post_at);
    param_at_ = std::move(param_at);
    slot_at_ = std::move(slot_at);

    in_links_.resize(count);
    cursor.assign(in_begin_.begin(), in_begin_.end() - 1);
    for (std::uint32_t s = 0; s < count; ++s) {
        in_links_[cursor[post_[s]]++] = {position_[s], pre_[s]};
    }
    layout_valid_ = true;
}

void StdpPool::update(float dt_ms, const std::uint8_t* spiked,
                      const std::vector<std::uint32_t>& spikes, const std::uint8_t* direct,
                      float* pending) {
    ensure_layout();
    traces_.advance(dt_ms, spiked);
    if (uniform()) {
        potentiate_spiked_posts<true>(spiked, spikes);
        depress_spiked_pres<true>(spiked, spikes, direct, pending);
    } else {
        potentiate_spiked_posts<false>(spiked, spikes);
        depress_spiked_pres<false>(spiked, spikes, direct, pending);
    }
}

// Every synapse whose post spiked: depression first when its pre spiked too,
// then potentiation with the pre trace after this tick's increment.
template <bool kUniform>
void StdpPool::potentiate_spiked_posts(const std::uint8_t* spiked,
                                       const std::vector<std::uint32_t>& spikes) {
    const std::uint32_t uniform_word = param_.empty() ? 0 : param_[0];
    // The links of all spiking posts, back to back, so that the scattered
    // weights can be fetched a fixed distance ahead.
    links_scratch_.clear();
    for (std::uint32_t post : spikes) {
        links_scratch_.insert(links_scratch_.end(), in_links_.begin() + in_begin_[post],
                              in_links_.begin() + in_begin_[post + 1]);
    }
    const InLink* links = links_scratch_.data();
    const std::size_t total = links_scratch_.size();
    std::size_t k = 0;
    for (std::uint32_t post : spikes) {
        const std::size_t end = k + (in_begin_[post + 1] - in_begin_[post]);
        for (; k < end; ++k) {
            if (k + kPrefetch < total) {
                __builtin_prefetch(weight_.data() + links[k + kPrefetch].position, 1);
                if (!kUniform)
                    __builtin_prefetch(param_at_.data() + links[k + kPrefetch].position);
            }
            const InLink link = links[k];
            const std::uint32_t param = kUniform ? uniform_word : param_at_[link.position];
            const StdpParams& p = params_[param & kParamMask];
            float w = weight_[link.position];
            if (spiked[link.pre]) {
                float post_trace = kUniform ? traces_.shared_decayed(post)
                                            : post_decayed(link.position, param, post);
                w = clamp_weight(w - p.a_minus * post_trace, p.w_min, p.w_max);
            }
            float pre_trace = kUniform ? traces_.shared_value(link.pre)
                                       : pre_value(link.position, param, link.pre);
            weight_[link.position] = clamp_weight(w + p.a_plus * pre_trace, p.w_min, p.w_max);
        }
    }
}

// Every synapse whose pre spiked and whose post did not: depression. Its
// weight is then final for this tick, so its current for the next tick is
// added here. Pre neurons ascend, and each post of a direct entry receives
// from pre neurons in creation order, so every sum keeps creation order.
template <bool kUniform>
void StdpPool::depress_spiked_pres(const std::uint8_t* spiked,
                                   const std::vector<std::uint32_t>& spikes,
                                   const std::uint8_t* direct, float* pending) {
    const std::uint32_t uniform_word = param_.empty() ? 0 : param_[0];
    for (std::size_t i = 0; i < spikes.size(); ++i) {
        const std::uint32_t pre = spikes[i];
        if (i + kRangesAhead < spikes.size()) {
            std::uint32_t next = spikes[i + kRangesAhead];
            std::uint32_t from = out_begin_[next];
            std::uint32_t count = out_begin_[next + 1] - from;
            prefetch_range(weight_.data() + from, count);
            prefetch_range(post_at_.data() + from, count);
            if (!kUniform)
                prefetch_range(param_at_.data() + from, count);
        }
        for (std::uint32_t pos = out_begin_[pre]; pos < out_begin_[pre + 1]; ++pos) {
            const std::uint32_t post = post_at_[pos];
            const std::uint32_t param = kUniform ? uniform_word : param_at_[pos];
            const StdpParams& p = params_[param & kParamMask];
            float w = weight_[pos];
            if (!spiked[post]) {
                float post_trace =
                    kUniform ? traces_.shared_decayed(post) : post_decayed(pos, param, post);
                w = clamp_weight(w - p.a_minus * post_trace, p.w_min, p.w_max);
                weight_[pos] = w;
            }
            if (direct[post])
                pending[post] += w * p.g_syn;
        }
    }
}

void StdpPool::deliver(const std::vector<std::uint32_t>& spikes, const std::uint8_t* direct,
                       float* pending) {
    ensure_layout();
    for (std::uint32_t pre : spikes) {
        for (std::uint32_t pos = out_begin_[pre]; pos < out_begin_[pre + 1]; ++pos) {
            const std::uint32_t post = post_at_[pos];
            if (direct[post])
                pending[post] += weight_[pos] * params_[param_at_[pos] & kParamMask].g_syn;
        }
    }
}

}  // namespace vorn
