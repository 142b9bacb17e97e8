#include "core/engine/shard.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

#include "core/engine/stdp_kernels.hpp"
#include "core/engine/stdp_synapse.hpp"
#include "core/models/decay.hpp"

namespace vorn {
namespace {

constexpr std::size_t kPrefetch = 32;    // links ahead in the scattered walk
constexpr std::size_t kRowsAhead = 2;    // spiking neurons ahead in a row walk
constexpr std::size_t kSpikesAhead = 4;  // spiking neurons ahead when scheduling

// Asks for every cache line of [begin, begin + count).
template <class T>
void prefetch_range(const T* begin, std::size_t count) {
    const char* p = reinterpret_cast<const char*>(begin);
    const char* end = p + count * sizeof(T);
    for (; p < end; p += 64)
        __builtin_prefetch(p);
}

// Sorts arrivals by pre neuron: they come as sorted runs (one per emitting
// tick), so a counting sort over the pre range is usually cheapest.
void sort_by_pre(std::vector<Arrival>& a, std::vector<Arrival>& scratch,
                 std::vector<std::uint32_t>& count) {
    auto by_pre = [](const Arrival& x, const Arrival& y) { return x.pre < y.pre; };
    if (std::is_sorted(a.begin(), a.end(), by_pre))
        return;
    std::uint32_t lo = a[0].pre;
    std::uint32_t hi = a[0].pre;
    for (const Arrival& x : a) {
        lo = std::min(lo, x.pre);
        hi = std::max(hi, x.pre);
    }
    const std::size_t range = std::size_t{hi} - lo + 1;
    if (range > 4 * a.size() + 4096) {
        std::sort(a.begin(), a.end(), by_pre);
        return;
    }
    count.assign(range + 1, 0);
    for (const Arrival& x : a)
        ++count[x.pre - lo + 1];
    for (std::size_t i = 1; i <= range; ++i)
        count[i] += count[i - 1];
    scratch.resize(a.size());
    for (const Arrival& x : a)
        scratch[count[x.pre - lo]++] = x;
    a.swap(scratch);
}

}  // namespace

std::uint64_t delay_ticks(float delay_ms, float dt_ms) {
    const double q = static_cast<double>(delay_ms) / static_cast<double>(dt_ms);
    // Short, zero and negative ratios (and 0 / 0) take the minimum of one tick.
    if (!(q >= 1.5))
        return 1;
    if (!(q < 0x1p40))
        return kNever;
    return static_cast<std::uint64_t>(std::round(q));
}

std::uint32_t Shard::pre_of(std::uint32_t position) const {
    auto it = std::upper_bound(row_begin.begin(), row_begin.end(), position);
    return static_cast<std::uint32_t>(it - row_begin.begin() - 1);
}

std::uint32_t Shard::slot_of(std::uint32_t position) const {
    if (!slots.empty())
        return slots[position];
    const std::uint32_t pre = pre_of(position);
    return canon_base[pre] + (position - row_begin[pre]);
}

std::uint32_t Shard::group_of(std::uint32_t position) const {
    if (row_group.empty())
        return kWholeRow;
    const std::uint32_t pre = pre_of(position);
    auto first = group_end.begin() + row_group[pre];
    auto last = group_end.begin() + row_group[pre + 1];
    return static_cast<std::uint32_t>(std::upper_bound(first, last, position) - group_end.begin());
}

float Shard::delay_of(std::uint32_t position) const {
    return row_group.empty() ? uniform_delay : group_delay[group_of(position)];
}

float Shard::gain_at(std::uint32_t position, const SynapseParams& p) const {
    const std::uint32_t w = word_at(position);
    switch (word::kind(w)) {
        case SynapseKind::Stdp:
            return p.stdp[word::index(w)].g_syn;
        case SynapseKind::Static:
            return p.statics[word::index(w)].g_syn;
        case SynapseKind::Plastic:
            break;
    }
    return p.plastic[plastic[word::index(w)].config].g_syn;
}

void Shard::expand_words() {
    if (words.empty()) {
        words.assign(size(), uniform_word);
        uniform = Uniform::None;
    }
}

void Shard::compact_words() {
    if (words.empty())
        return;
    const std::uint32_t first = words[0];
    if (word::kind(first) == SynapseKind::Plastic || (first & word::kPrivateMask) != 0)
        return;
    if (std::any_of(words.begin(), words.end(), [first](std::uint32_t w) { return w != first; }))
        return;
    uniform_word = first;
    uniform = word::kind(first) == SynapseKind::Stdp ? Uniform::Stdp : Uniform::Static;
    BigVector<std::uint32_t>().swap(words);
}

// ---- the plasticity phase ------------------------------------------------

void Shard::plasticity(const ShardTick& t) {
    const float dt = t.ctx.dt_ms;
    if (size() == 0) {
        std::fill(pending.begin(), pending.end(), 0.0f);
        last_fused = true;
        return;
    }
    privates.advance(dt, t.spiked);
    if (!plastic.empty())
        update_plastic(t);
    if (uniform == Uniform::Stdp) {
        uniform_potentiate(t);
    } else if (uniform == Uniform::None) {
        potentiate<Uniform::None>(t);
    }
    const bool rescheduled = sync_recent(t);
    const bool use_recent = !rescheduled && recent_valid_ && steady_ >= 2 && t.recent != nullptr;
    // Delivery on the next tick, straight from this walk, when every delay
    // is one tick and nothing else arrives then; else through the schedule.
    const bool fuse = ring.find(t.tick + 1) == nullptr && delay_ticks(max_delay, dt) == 1;
    last_fused = fuse;
    if (fuse) {
        std::fill(pending.begin(), pending.end(), 0.0f);
        if (uniform == Uniform::Stdp && all_direct) {
            uniform_depress(t, true);
            return;
        }
        indirect_.clear();
    }
    switch (uniform) {
        case Uniform::Stdp:
            fuse ? depress_and_emit<Uniform::Stdp, true>(t) : uniform_depress(t, false);
            break;
        case Uniform::Static:
            if (fuse)
                depress_and_emit<Uniform::Static, true>(t);
            break;
        case Uniform::None:
            fuse ? depress_and_emit<Uniform::None, true>(t)
                 : depress_and_emit<Uniform::None, false>(t);
            break;
    }
    if (fuse) {
        sum_indirect();
        return;
    }
    if (use_recent) {
        if (has_long_)
            schedule(t.spikes, t.n_spikes, t, true);
        recent_ticks_ |= 1;
    } else if (!rescheduled) {
        schedule(t.spikes, t.n_spikes, t, false);
    }
    recompute_pending(t.tick + 1, nullptr, 0, *t.params, t.recent);
}

// Keeps reading arrivals from the recent bits only while they mean what
// they did: when the step changes or the engine keeps no bits this tick,
// every spike in flight goes into the ring (true: this tick's too). The
// bits are read again once a step has held for two ticks, so that a step
// that changes every tick does not reschedule every tick.
bool Shard::sync_recent(const ShardTick& t) {
    const float dt = t.ctx.dt_ms;
    if (std::bit_cast<std::uint32_t>(dt) != std::bit_cast<std::uint32_t>(recent_dt_)) {
        recent_dt_ = dt;
        recent_valid_ = false;
        steady_ = 0;
    }
    steady_ = std::min<std::uint32_t>(steady_ + 1, 2);
    bool rescheduled = false;
    if (recent_ticks_ != 0 && (!recent_valid_ || t.recent == nullptr)) {
        reschedule(*t.history, t.tick);
        rescheduled = true;
    }
    recent_ticks_ <<= 1;
    if (!recent_valid_ && steady_ >= 2 && t.recent != nullptr)
        refresh_recent(dt);
    return rescheduled;
}

// The delay masks and runs of equal delay in ticks at step dt.
void Shard::refresh_recent(float dt) {
    const std::size_t n_pre = row_begin.size() - 1;
    delay_mask_.assign(n_pre, 0);
    tick_group_.assign(n_pre + 1, 0);
    tick_end_.clear();
    long_group_.clear();
    has_long_ = false;
    if (row_group.empty()) {
        const std::uint64_t d = delay_ticks(uniform_delay, dt);
        has_long_ = d > kRecentTicks && d != kNever;
        for (std::size_t pre = 0; pre < n_pre; ++pre) {
            tick_group_[pre] = static_cast<std::uint32_t>(tick_end_.size());
            if (d <= kRecentTicks && row_begin[pre] != row_begin[pre + 1]) {
                delay_mask_[pre] = std::uint64_t{1} << (d - 1);
                tick_end_.push_back(row_begin[pre + 1]);
            }
        }
    } else {
        long_group_.resize(n_pre);
        for (std::size_t pre = 0; pre < n_pre; ++pre) {
            tick_group_[pre] = static_cast<std::uint32_t>(tick_end_.size());
            long_group_[pre] = row_group[pre + 1];
            std::uint64_t mask = 0;
            std::uint64_t last = 0;
            // A row's groups ascend in delay, so in ticks too.
            for (std::uint32_t g = row_group[pre]; g < row_group[pre + 1]; ++g) {
                const std::uint64_t d = delay_ticks(group_delay[g], dt);
                if (d > kRecentTicks) {
                    long_group_[pre] = g;
                    has_long_ = has_long_ || d != kNever;
                    break;
                }
                if (d == last) {
                    tick_end_.back() = group_end[g];
                } else {
                    tick_end_.push_back(group_end[g]);
                    mask |= std::uint64_t{1} << (d - 1);
                    last = d;
                }
            }
            delay_mask_[pre] = mask;
        }
    }
    tick_group_[n_pre] = static_cast<std::uint32_t>(tick_end_.size());
    recent_valid_ = true;
}

// What arrives on the tick after the last from the spikes of the ticks in
// recent_ticks_, in pre order: bit d - 1 of a pre's recent bits is its
// spike d ticks before that tick.
__attribute__((always_inline)) inline void Shard::recent_arrivals_with(
    const RecentSpikes& recent, std::vector<Arrival>& out) const {
    const std::uint64_t ticks = recent_ticks_;
    const std::size_t n_pre = delay_mask_.size();
    auto visit = [&](std::uint32_t pre) {
        const std::uint64_t mask = delay_mask_[pre];
        std::uint64_t due = recent.bits[pre] & mask & ticks;
        if (due == 0)
            return;
        const std::uint32_t first = tick_group_[pre];
        do {
            const std::uint64_t below = (due & (0 - due)) - 1;
            const std::uint32_t g = first + static_cast<std::uint32_t>(std::popcount(mask & below));
            out.push_back({pre, g == first ? row_begin[pre] : tick_end_[g - 1], tick_end_[g]});
            due &= due - 1;
        } while (due != 0);
    };
    if (recent.active == nullptr) {
        const std::size_t n = std::min(n_pre, recent.n_active);
        for (std::uint32_t pre = 0; pre < n; ++pre)
            visit(pre);
        return;
    }
    for (std::size_t i = 0; i < recent.n_active && recent.active[i] < n_pre; ++i)
        visit(recent.active[i]);
}

// Counting the bits below a delay takes one instruction where the processor
// has it, and a library call otherwise, a sizeable share of this walk: the
// walk is compiled both ways and chosen at run time (not by an ifunc, which
// the thread sanitizer's runtime cannot start under).
void Shard::recent_arrivals(const RecentSpikes& recent, std::vector<Arrival>& out) const {
#if defined(__x86_64__)
    static const bool has_popcnt = __builtin_cpu_supports("popcnt");
    if (has_popcnt) {
        recent_arrivals_popcnt(recent, out);
        return;
    }
#endif
    recent_arrivals_with(recent, out);
}

#if defined(__x86_64__)
__attribute__((target("popcnt"))) void Shard::recent_arrivals_popcnt(
    const RecentSpikes& recent, std::vector<Arrival>& out) const {
    recent_arrivals_with(recent, out);
}
#endif

// Potentiation when every synapse is STDP with one parameter set and shared
// traces: the raw-array kernel.
void Shard::uniform_potentiate(const ShardTick& t) {
    const std::uint32_t* first = std::lower_bound(t.spikes, t.spikes + t.n_spikes, begin);
    const std::uint32_t* last = std::lower_bound(first, t.spikes + t.n_spikes, end);
    if (first == last)
        return;
    const StdpParams p = t.params->stdp[word::index(uniform_word)];
    const SharedTraces& traces = *t.traces;
    if (in_pre.narrow()) {
        kernels::potentiate(first, last, begin, in_begin.data(), in_position.data(),
                            in_pre.data16(), weight.data(), t.spiked, traces.values(),
                            traces.decayed_values(), p);
    } else {
        kernels::potentiate(first, last, begin, in_begin.data(), in_position.data(),
                            in_pre.data32(), weight.data(), t.spiked, traces.values(),
                            traces.decayed_values(), p);
    }
}

// Depression in the same case, delivering into pending too when deliver is
// set (every post direct).
void Shard::uniform_depress(const ShardTick& t, bool deliver) {
    const StdpParams p = t.params->stdp[word::index(uniform_word)];
    const std::uint8_t* spiked_local = t.spiked + begin;
    const float* decayed_local = t.traces->decayed_values() + begin;
    const std::uint32_t* first = t.spikes;
    const std::uint32_t* last = t.spikes + t.n_spikes;
    auto run = [&](const auto* post_ix) {
        if (deliver) {
            kernels::depress_and_deliver(first, last, row_begin.data(), weight.data(), post_ix,
                                         spiked_local, decayed_local, p, pending.data());
        } else {
            kernels::depress(first, last, row_begin.data(), weight.data(), post_ix, spiked_local,
                             decayed_local, p);
        }
    };
    if (post.narrow())
        run(post.data16());
    else
        run(post.data32());
}

void Shard::update_plastic(const ShardTick& t) {
    const PlasticConfigTable& configs = t.params->plastic;
    DecayCache pre_decay(t.ctx.dt_ms);
    DecayCache post_decay(t.ctx.dt_ms);
    DecayCache eligibility_decay(t.ctx.dt_ms);
    DecayCache tag_decay(t.ctx.dt_ms);
    // Recycled configuration slots get factors too; nothing reads them.
    decays_.resize(configs.slots());
    for (std::uint32_t c = 0; c < decays_.size(); ++c) {
        const PlasticSynapseConfig& p = configs[c];
        decays_[c] = {pre_decay(p.tau_plus_ms), post_decay(p.tau_minus_ms),
                      eligibility_decay(p.tau_eligibility_ms), tag_decay(p.tau_tag_ms)};
    }
    SynapseStepContext c{t.ctx, false, false};
    for (PlasticEntry& e : plastic) {
        c.pre_spiked = t.spiked[e.pre] != 0;
        c.post_spiked = t.spiked[e.post] != 0;
        e.state.weight = weight[e.position];
        PlasticSynapse::advance(configs[e.config], e.state, c, decays_[e.config]);
        weight[e.position] = e.state.weight;
    }
}

// Every STDP synapse onto a spiking post of this shard: depression first
// when its pre spiked too, then potentiation with the pre trace after this
// tick's increment.
template <Shard::Uniform kMode>
void Shard::potentiate(const ShardTick& t) {
    constexpr bool kUniform = kMode == Uniform::Stdp;
    const std::uint32_t* first = std::lower_bound(t.spikes, t.spikes + t.n_spikes, begin);
    const std::uint32_t* last = std::lower_bound(first, t.spikes + t.n_spikes, end);
    if (first == last)
        return;
    const SharedTraces& traces = *t.traces;
    const StdpParamTable& table = t.params->stdp;
    const StdpParams uniform_params = kUniform ? table[word::index(uniform_word)] : StdpParams{};
    // The links of all spiking posts, back to back, so that the scattered
    // weights can be fetched a fixed distance ahead.
    links_.clear();
    for (const std::uint32_t* s = first; s != last; ++s) {
        const std::uint32_t local = *s - begin;
        for (std::uint32_t k = in_begin[local]; k < in_begin[local + 1]; ++k)
            links_.push_back({in_position[k], in_pre[k]});
    }
    const Link* links = links_.data();
    const std::size_t total = links_.size();
    std::size_t k = 0;
    for (const std::uint32_t* s = first; s != last; ++s) {
        const std::uint32_t post_n = *s;
        const std::uint32_t local = post_n - begin;
        const std::size_t stop = k + (in_begin[local + 1] - in_begin[local]);
        for (; k < stop; ++k) {
            if (k + kPrefetch < total) {
                __builtin_prefetch(weight.data() + links[k + kPrefetch].position, 1);
                if (!kUniform)
                    __builtin_prefetch(words.data() + links[k + kPrefetch].position);
            }
            const std::uint32_t position = links[k].position;
            const std::uint32_t pre = links[k].pre;
            const std::uint32_t w_word = kUniform ? uniform_word : words[position];
            const StdpParams& p = kUniform ? uniform_params : table[word::index(w_word)];
            float w = weight[position];
            if (t.spiked[pre]) {
                const float post_trace = (!kUniform && (w_word & word::kPostPrivate))
                                             ? privates.at(post_private[position]).decayed
                                             : traces.decayed(post_n);
                w = clamp_weight(w - p.a_minus * post_trace, p.w_min, p.w_max);
            }
            const float pre_trace = (!kUniform && (w_word & word::kPrePrivate))
                                        ? privates.at(pre_private[position]).value
                                        : traces.value(pre);
            weight[position] = clamp_weight(w + p.a_plus * pre_trace, p.w_min, p.w_max);
        }
    }
}

// Every synapse whose pre spiked: STDP depression where the post did not
// spike (its weight is then final for this tick), then with kFuse (every
// delay is one tick and nothing else arrives then) the current it delivers
// next tick. Pre neurons ascend, so each direct post sums in creation order.
template <Shard::Uniform kMode, bool kFuse>
void Shard::depress_and_emit(const ShardTick& t) {
    const SharedTraces& traces = *t.traces;
    const SynapseParams& params = *t.params;
    const std::uint32_t* spikes = t.spikes;
    const std::size_t n = t.n_spikes;
    const std::uint32_t u = uniform_word;
    const StdpParams stdp_u = kMode == Uniform::Stdp ? params.stdp[word::index(u)] : StdpParams{};
    const float static_gain =
        kMode == Uniform::Static ? params.statics[word::index(u)].g_syn : 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t pre = spikes[i];
        if (i + kRowsAhead < n) {
            const std::uint32_t next = spikes[i + kRowsAhead];
            const std::uint32_t from = row_begin[next];
            const std::uint32_t count = row_begin[next + 1] - from;
            prefetch_range(weight.data() + from, count);
            post.prefetch(from, count);
            if (kMode == Uniform::None)
                prefetch_range(words.data() + from, count);
        }
        for (std::uint32_t pos = row_begin[pre]; pos < row_begin[pre + 1]; ++pos) {
            const std::uint32_t local = post[pos];
            float w = weight[pos];
            float gain;
            if constexpr (kMode == Uniform::Stdp) {
                if (!t.spiked[begin + local]) {
                    w = clamp_weight(w - stdp_u.a_minus * traces.decayed(begin + local),
                                     stdp_u.w_min, stdp_u.w_max);
                    weight[pos] = w;
                }
                gain = stdp_u.g_syn;
            } else if constexpr (kMode == Uniform::Static) {
                gain = static_gain;
            } else {
                const std::uint32_t w_word = words[pos];
                const SynapseKind kind = word::kind(w_word);
                if (kind == SynapseKind::Stdp) {
                    const StdpParams& p = params.stdp[word::index(w_word)];
                    if (!t.spiked[begin + local]) {
                        const float post_trace = (w_word & word::kPostPrivate)
                                                     ? privates.at(post_private[pos]).decayed
                                                     : traces.decayed(begin + local);
                        w = clamp_weight(w - p.a_minus * post_trace, p.w_min, p.w_max);
                        weight[pos] = w;
                    }
                    gain = p.g_syn;
                } else if (kind == SynapseKind::Static) {
                    gain = params.statics[word::index(w_word)].g_syn;
                } else {
                    gain = params.plastic[plastic[word::index(w_word)].config].g_syn;
                }
            }
            if constexpr (kFuse)
                deliver(pos, w * gain);
        }
    }
}

// Every spike of spikes[0, n) into the ring, one entry per delay group at
// its arrival tick (with long_only, only the groups of over kRecentTicks
// ticks). The buckets of the next few ticks are looked up once.
void Shard::schedule(const std::uint32_t* spikes, std::size_t n, const ShardTick& t,
                     bool long_only) {
    const float dt = t.ctx.dt_ms;
    if (row_group.empty()) {
        const std::uint64_t d = delay_ticks(uniform_delay, dt);
        if (d == kNever || (long_only && d <= kRecentTicks))
            return;
        std::vector<Arrival>* bucket = nullptr;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t pre = spikes[i];
            if (row_begin[pre] == row_begin[pre + 1])
                continue;
            if (bucket == nullptr)
                bucket = &ring.at(t.tick + d);
            bucket->push_back({pre, row_begin[pre], row_begin[pre + 1]});
        }
        return;
    }
    refresh_group_ticks(dt);
    std::array<std::vector<Arrival>*, 64> near{};  // by delay in ticks
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t pre = spikes[i];
        if (i + kSpikesAhead < n && !long_only) {
            const std::uint32_t next = spikes[i + kSpikesAhead];
            const std::uint32_t g0 = row_group[next];
            const std::uint32_t count = row_group[next + 1] - g0;
            prefetch_range(group_ticks_.data() + g0, count);
            prefetch_range(group_end.data() + g0, count);
        }
        std::uint32_t g = long_only ? long_group_[pre] : row_group[pre];
        std::uint32_t from = group_begin(pre, g);
        for (; g < row_group[pre + 1]; from = group_end[g++]) {
            std::uint64_t d = group_ticks_[g];
            if (d == 0)
                d = delay_ticks(group_delay[g], dt);
            if (d == kNever)
                continue;
            std::vector<Arrival>* bucket;
            if (d < near.size()) {
                if (near[d] == nullptr)
                    near[d] = &ring.at(t.tick + d);
                bucket = near[d];
            } else {
                bucket = &ring.at(t.tick + d);
            }
            bucket->push_back({pre, from, group_end[g]});
        }
    }
}

// Each group's delay in ticks of length dt, kept while dt stays the same
// (the layout is rebuilt, and this with it, when delays change).
void Shard::refresh_group_ticks(float dt) {
    if (group_ticks_.size() == group_delay.size() &&
        std::bit_cast<std::uint32_t>(dt) == std::bit_cast<std::uint32_t>(group_ticks_dt_))
        return;
    group_ticks_.resize(group_delay.size());
    for (std::size_t g = 0; g < group_delay.size(); ++g) {
        const std::uint64_t d = delay_ticks(group_delay[g], dt);
        group_ticks_[g] = d <= UINT16_MAX ? static_cast<std::uint16_t>(d) : 0;
    }
    group_ticks_dt_ = dt;
}

// ---- delivery ------------------------------------------------------------

void Shard::recompute_pending(std::uint64_t tick, const std::uint32_t* last_spikes,
                              std::size_t n_last, const SynapseParams& p,
                              const RecentSpikes* recent) {
    std::fill(pending.begin(), pending.end(), 0.0f);
    indirect_.clear();
    const bool due = ring.find(tick) != nullptr;
    const bool rows = last_fused && n_last > 0;
    const bool from_recent = recent != nullptr && recent_ticks_ != 0;
    if (!rows && !from_recent) {
        // The tick's entries are delivered where they are: the ring drops
        // them after this tick.
        if (due)
            deliver_arrivals(ring.at(tick), p);
    } else if (!rows && !due) {
        arrivals_.clear();
        recent_arrivals(*recent, arrivals_);
        deliver_sorted(arrivals_, p);
    } else {
        arrivals_.clear();
        for (std::size_t i = 0; i < n_last && rows; ++i) {
            const std::uint32_t pre = last_spikes[i];
            if (row_begin[pre] != row_begin[pre + 1])
                arrivals_.push_back({pre, row_begin[pre], row_begin[pre + 1]});
        }
        if (due) {
            const std::vector<Arrival>& more = ring.at(tick);
            arrivals_.insert(arrivals_.end(), more.begin(), more.end());
        }
        if (from_recent)
            recent_arrivals(*recent, arrivals_);
        deliver_arrivals(arrivals_, p);
    }
    sum_indirect();
}

void Shard::deliver_arrivals(std::vector<Arrival>& arrivals, const SynapseParams& p) {
    if (arrivals.empty())
        return;
    sort_by_pre(arrivals, arrivals_scratch_, sort_count_);
    deliver_sorted(arrivals, p);
}

void Shard::deliver_sorted(const std::vector<Arrival>& arrivals, const SynapseParams& p) {
    if (arrivals.empty())
        return;
    if (words.empty() && all_direct) {
        // One gain for all, every post direct: the runs through the kernel.
        const float gain = gain_at(arrivals[0].from, p);
        const Arrival* first = arrivals.data();
        const Arrival* last = first + arrivals.size();
        if (post.narrow())
            kernels::deliver(first, last, weight.data(), post.data16(), gain, pending.data());
        else
            kernels::deliver(first, last, weight.data(), post.data32(), gain, pending.data());
        return;
    }
    for (const Arrival& a : arrivals) {
        if (words.empty()) {
            const float gain = gain_at(a.from, p);
            for (std::uint32_t pos = a.from; pos < a.to; ++pos)
                deliver(pos, weight[pos] * gain);
        } else {
            for (std::uint32_t pos = a.from; pos < a.to; ++pos)
                deliver(pos, weight[pos] * gain_at(pos, p));
        }
    }
}

// Posts whose synapses are not in pre order sum their contributions in
// creation order.
void Shard::sum_indirect() {
    if (indirect_.empty())
        return;
    std::sort(indirect_.begin(), indirect_.end(), [](const Contribution& a, const Contribution& b) {
        return a.post != b.post ? a.post < b.post : a.slot < b.slot;
    });
    for (std::size_t i = 0; i < indirect_.size();) {
        const std::uint32_t p = indirect_[i].post;
        float sum = 0.0f;
        for (; i < indirect_.size() && indirect_[i].post == p; ++i)
            sum = sum + indirect_[i].value;
        pending[p] = sum;
    }
    indirect_.clear();
}

void Shard::reschedule(const SpikeHistory& history, std::uint64_t now) {
    ring.clear();
    last_fused = false;
    recent_ticks_ = 0;
    for (const TickSpikes& t : history.ticks()) {
        for (std::uint32_t pre : t.spikes) {
            if (row_begin[pre] == row_begin[pre + 1])
                continue;
            if (row_group.empty()) {
                const std::uint64_t d = delay_ticks(uniform_delay, t.dt_ms);
                if (d != kNever && t.tick + d > now)
                    ring.at(t.tick + d).push_back({pre, row_begin[pre], row_begin[pre + 1]});
                continue;
            }
            std::uint32_t from = row_begin[pre];
            for (std::uint32_t g = row_group[pre]; g < row_group[pre + 1]; from = group_end[g++]) {
                const std::uint64_t d = delay_ticks(group_delay[g], t.dt_ms);
                if (d != kNever && t.tick + d > now)
                    ring.at(t.tick + d).push_back({pre, from, group_end[g]});
            }
        }
    }
}

void Shard::apply_pending(std::uint64_t tick, float* input) {
    for (std::uint32_t j = 0; j < pending.size(); ++j) {
        if (pending[j] != 0.0f)
            input[begin + j] = input[begin + j] + pending[j];
    }
    ring.release(tick);
}

}  // namespace vorn
