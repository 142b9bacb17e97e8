#include "core/engine/synapse_store.hpp"

#include <algorithm>
#include <bit>
#include <limits>

#include "core/engine/plastic_synapse.hpp"
#include "core/engine/stdp_synapse.hpp"

namespace vorn {
namespace {

constexpr std::uint32_t kNone = 0xffffffffu;

std::uint64_t pair_key(std::uint32_t pre, std::uint32_t post) {
    return (std::uint64_t{pre} << 32) | post;
}

std::size_t pair_hash(std::uint64_t key) {
    key ^= key >> 33;
    key *= 0xff51afd7ed558ccdULL;
    key ^= key >> 33;
    return static_cast<std::size_t>(key);
}

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

}  // namespace

// ---- adding --------------------------------------------------------------

bool SynapseStore::connected(std::uint32_t pre, std::uint32_t post) const {
    return committed_has(pre, post) || tail_has(pair_key(pre, post));
}

bool SynapseStore::tail_has_pair(std::uint32_t pre, std::uint32_t post) const {
    return tail_has(pair_key(pre, post));
}

bool SynapseStore::committed_has(std::uint32_t pre, std::uint32_t post) const {
    if (committed_ > 0 && !shards_.empty()) {
        const std::size_t s = shard_of(post);
        if (s < shards_.size()) {
            const Shard& sh = shards_[s];
            if (pre + 1 < sh.row_begin.size()) {
                const std::uint32_t local = post - sh.begin;
                for (std::uint32_t pos = sh.row_begin[pre]; pos < sh.row_begin[pre + 1]; ++pos) {
                    if (sh.post[pos] == local)
                        return true;
                }
            }
        }
    }
    return false;
}

bool SynapseStore::tail_has(std::uint64_t key) const {
    if (tail_.empty())
        return false;
    if (tail_sorted_) {
        auto it = std::lower_bound(tail_.begin(), tail_.end(), key, [](const Record& r, auto k) {
            return pair_key(r.pre, r.post) < k;
        });
        return it != tail_.end() && pair_key(it->pre, it->post) == key;
    }
    const std::size_t mask = tail_pairs_.size() - 1;
    for (std::size_t i = pair_hash(key) & mask;; i = (i + 1) & mask) {
        if (tail_pairs_[i] == key)
            return true;
        if (tail_pairs_[i] == 0)
            return false;
    }
}

// Room for `count` pairs at load 1/2 at most; a self-edge's key 0 never
// occurs, so 0 marks a free entry.
void SynapseStore::grow_pairs(std::size_t count) {
    if (2 * count <= tail_pairs_.size())
        return;
    BigVector<std::uint64_t> bigger(std::bit_ceil(std::max<std::size_t>(64, 4 * count)), 0);
    const std::size_t mask = bigger.size() - 1;
    for (std::uint64_t key : tail_pairs_) {
        if (key == 0)
            continue;
        std::size_t i = pair_hash(key) & mask;
        while (bigger[i] != 0)
            i = (i + 1) & mask;
        bigger[i] = key;
    }
    tail_pairs_.swap(bigger);
}

void SynapseStore::reserve_unsorted(std::size_t more) {
    grow_pairs((tail_sorted_ ? tail_.size() : tail_pair_count_) + more);
}

void SynapseStore::insert_pair(std::uint64_t key) {
    const std::size_t mask = tail_pairs_.size() - 1;
    std::size_t i = pair_hash(key) & mask;
    while (tail_pairs_[i] != 0)
        i = (i + 1) & mask;
    tail_pairs_[i] = key;
    ++tail_pair_count_;
}

void SynapseStore::reserve(std::size_t more) {
    const std::size_t need = size() + more;
    if (ids_.capacity() < need)
        ids_.reserve(std::max(need, ids_.capacity() + ids_.capacity() / 2));
    const std::size_t tail_need = tail_.size() + more;
    if (tail_.capacity() < tail_need)
        tail_.reserve(std::max(tail_need, tail_.capacity() + tail_.capacity() / 2));
    // Once the tail is unsorted every pair goes into the set.
    if (!tail_sorted_)
        grow_pairs(tail_pair_count_ + more);
    if (index_.built())
        index_.reserve(ids_.data(), need);
}

bool SynapseStore::try_append(const Uuid& id, const SynapseData& data) {
    if (connected(data.pre, data.post))
        return false;
    reserve(1);
    const std::uint64_t key = pair_key(data.pre, data.post);
    const bool unsorts =
        tail_sorted_ && !tail_.empty() && pair_key(tail_.back().pre, tail_.back().post) >= key;
    if (unsorts)
        grow_pairs(tail_.size() + 1);
    std::uint32_t extra = kNoExtra;
    if (needs_extra(data.word)) {
        tail_extras_.push_back(
            {data.pre_trace, data.post_trace, data.plastic_config, data.plastic_state});
        extra = static_cast<std::uint32_t>(tail_extras_.size() - 1);
    }
    // Nothing below allocates: reserve made room.
    if (unsorts) {
        tail_sorted_ = false;
        for (const Record& r : tail_)
            insert_pair(pair_key(r.pre, r.post));
    }
    if (!tail_sorted_)
        insert_pair(key);
    tail_.push_back({data.pre, data.post, data.weight, data.delay, data.word, extra});
    ids_.push_back(id);
    if (index_.built())
        index_.add(ids_.data(), static_cast<std::uint32_t>(ids_.size() - 1));
    return true;
}

SynapseData SynapseStore::make_data(std::uint32_t pre, std::uint32_t post,
                                    const SynapseConfig& config, float weight, float delay,
                                    const SharedTraces& traces) {
    SynapseData d;
    d.pre = pre;
    d.post = post;
    d.delay = delay;
    if (const auto* c = std::get_if<StdpConfig>(&config)) {
        d.weight = clamp_weight(weight, c->w_min, c->w_max);
        std::uint32_t w =
            word::make(SynapseKind::Stdp,
                       params_.stdp.acquire({c->w_min, c->w_max, c->g_syn, c->a_plus, c->a_minus}));
        // A new trace (+0.0) follows its neuron's shared trace exactly when
        // that trace is +0.0 too and decays with the same tau.
        if (!same_bits(c->tau_plus, SharedTraces::kTau) || !traces.can_share(pre)) {
            w |= word::kPrePrivate;
            d.pre_trace = {pre, c->tau_plus, 0.0f, 0.0f};
        }
        if (!same_bits(c->tau_minus, SharedTraces::kTau) || !traces.can_share(post)) {
            w |= word::kPostPrivate;
            d.post_trace = {post, c->tau_minus, 0.0f, 0.0f};
        }
        d.word = w;
    } else if (const auto* p = std::get_if<PlasticSynapseConfig>(&config)) {
        const PlasticSynapse fresh(Uuid{}, Uuid{}, Uuid{}, *p, weight);
        d.weight = fresh.weight();
        d.plastic_config = params_.plastic.acquire(*p);
        d.plastic_state = fresh.state();
        d.word = word::make(SynapseKind::Plastic, 0);
    } else {
        const auto& s = std::get<StaticConfig>(config);
        d.weight = weight;
        d.word = word::make(SynapseKind::Static, params_.statics.acquire({s.g_syn}));
    }
    return d;
}

// ---- access by slot ------------------------------------------------------

SynapseStore::Place SynapseStore::place_of(std::uint32_t slot) const {
    if (!canonical_) {
        if (position_of_slot_.empty())
            build_position_index();
        const std::uint64_t p = position_of_slot_[slot];
        return {static_cast<std::uint32_t>(p >> 32), static_cast<std::uint32_t>(p)};
    }
    auto it = std::upper_bound(slot_base_.begin(), slot_base_.end(), slot);
    const auto pre = static_cast<std::uint32_t>(it - slot_base_.begin() - 1);
    for (std::uint32_t s = 0; s < shards_.size(); ++s) {
        const Shard& sh = shards_[s];
        const std::uint32_t base = sh.canon_base[pre];
        const std::uint32_t len = sh.row_begin[pre + 1] - sh.row_begin[pre];
        if (slot >= base && slot < base + len)
            return {s, sh.row_begin[pre] + (slot - base)};
    }
    return {kElsewhere, 0};
}

bool SynapseStore::is_local(std::uint32_t slot) const {
    return slot >= committed_ || place_of(slot).shard != kElsewhere;
}

std::size_t SynapseStore::rank_of(std::uint32_t n) const {
    if (rank_bounds_.size() < 2)
        return 0;
    auto it = std::upper_bound(rank_bounds_.begin(), rank_bounds_.end(), n);
    return std::min<std::size_t>(static_cast<std::size_t>(it - rank_bounds_.begin()) - 1,
                                 rank_bounds_.size() - 2);
}

void SynapseStore::build_position_index() const {
    BigVector<std::uint64_t> index(committed_, std::uint64_t{kElsewhere} << 32);
    for (std::uint32_t s = 0; s < shards_.size(); ++s) {
        const Shard& sh = shards_[s];
        for (std::uint32_t pos = 0; pos < sh.size(); ++pos)
            index[sh.slots[pos]] = (std::uint64_t{s} << 32) | pos;
    }
    position_of_slot_.swap(index);
}

SynapseData SynapseStore::read_layout(const Place& at) const {
    const Shard& sh = shards_[at.shard];
    const std::uint32_t pos = at.position;
    SynapseData d;
    d.pre = sh.pre_of(pos);
    d.post = sh.begin + sh.post[pos];
    d.weight = sh.weight[pos];
    d.delay = sh.delay_of(pos);
    d.word = sh.word_at(pos);
    if (d.word & word::kPrePrivate)
        d.pre_trace = sh.privates.at(sh.pre_private[pos]);
    if (d.word & word::kPostPrivate)
        d.post_trace = sh.privates.at(sh.post_private[pos]);
    if (word::kind(d.word) == SynapseKind::Plastic) {
        const PlasticEntry& e = sh.plastic[word::index(d.word)];
        d.plastic_config = e.config;
        d.plastic_state = e.state;
        d.plastic_state.weight = d.weight;
    }
    return d;
}

void SynapseStore::write_layout(const Place& at, const SynapseData& d) {
    Shard& sh = shards_[at.shard];
    const std::uint32_t pos = at.position;
    const std::uint32_t old = sh.word_at(pos);
    // Private slots are made before anything changes, so that running out
    // of memory leaves the synapse as it was.
    auto ensure_slots = [&](BigVector<std::uint32_t>& slots) {
        if (slots.empty())
            slots.assign(sh.size(), kNone);
    };
    const bool new_pre = (d.word & word::kPrePrivate) && !(old & word::kPrePrivate);
    const bool new_post = (d.word & word::kPostPrivate) && !(old & word::kPostPrivate);
    if (new_pre)
        ensure_slots(sh.pre_private);
    if (new_post)
        ensure_slots(sh.post_private);
    if (new_pre || new_post)
        sh.privates.reserve(sh.privates.size() + 2);
    if (d.word != old)
        sh.expand_words();
    sh.weight[pos] = d.weight;
    if (d.word != old)
        sh.words[pos] = d.word;
    if (d.word & word::kPrePrivate) {
        if (new_pre)
            sh.pre_private[pos] = sh.privates.add(d.pre_trace);
        else
            sh.privates.at(sh.pre_private[pos]) = d.pre_trace;
    }
    if (d.word & word::kPostPrivate) {
        if (new_post)
            sh.post_private[pos] = sh.privates.add(d.post_trace);
        else
            sh.privates.at(sh.post_private[pos]) = d.post_trace;
    }
    if (word::kind(d.word) == SynapseKind::Plastic) {
        PlasticEntry& e = sh.plastic[word::index(d.word)];
        e.config = d.plastic_config;
        e.state = d.plastic_state;
    }
}

SynapseData SynapseStore::get(std::uint32_t slot) const {
    if (slot < committed_)
        return read_layout(place_of(slot));
    return from_record(tail_[slot - committed_], tail_extras_);
}

void SynapseStore::put(std::uint32_t slot, const SynapseData& data) {
    if (slot < committed_) {
        write_layout(place_of(slot), data);
        return;
    }
    Record& r = tail_[slot - committed_];
    if (needs_extra(data.word) && r.extra == kNoExtra) {
        tail_extras_.push_back({});
        r.extra = static_cast<std::uint32_t>(tail_extras_.size() - 1);
    }
    r.weight = data.weight;
    r.word = data.word;
    if (r.extra != kNoExtra)
        tail_extras_[r.extra] = {data.pre_trace, data.post_trace, data.plastic_config,
                                 data.plastic_state};
}

float SynapseStore::weight(std::uint32_t slot) const {
    if (slot >= committed_)
        return tail_[slot - committed_].weight;
    const Place at = place_of(slot);
    if (at.shard == kElsewhere)
        return std::numeric_limits<float>::quiet_NaN();
    return shards_[at.shard].weight[at.position];
}

void SynapseStore::set_weight(std::uint32_t slot, float w) {
    if (slot >= committed_) {
        tail_[slot - committed_].weight = w;
        return;
    }
    const Place at = place_of(slot);
    if (at.shard != kElsewhere)
        shards_[at.shard].weight[at.position] = w;
}

float SynapseStore::delay(std::uint32_t slot) const {
    if (slot >= committed_)
        return tail_[slot - committed_].delay;
    const Place at = place_of(slot);
    if (at.shard == kElsewhere)
        return std::numeric_limits<float>::quiet_NaN();
    return shards_[at.shard].delay_of(at.position);
}

std::optional<std::uint32_t> SynapseStore::find(const Uuid& id) {
    if (!index_.built()) {
        if (ids_.empty())
            return std::nullopt;
        index_.build(ids_.data(), static_cast<std::uint32_t>(ids_.size()));
    }
    return index_.find(ids_.data(), id);
}

// The creation slot of a position of pre's row.
static std::uint32_t slot_at(const Shard& sh, std::uint32_t pre, std::uint32_t pos) {
    return sh.slots.empty() ? sh.canon_base[pre] + (pos - sh.row_begin[pre]) : sh.slots[pos];
}

// Visits every committed position of this rank: visit(shard, pre, position),
// in creation order when it is canonical.
template <class Visit>
static void for_each_committed(const std::vector<Shard>& shards, bool canonical, Visit visit) {
    if (shards.empty())
        return;
    const std::size_t n_pre = shards[0].row_begin.size() - 1;
    if (canonical) {
        for (std::uint32_t pre = 0; pre < n_pre; ++pre) {
            for (const Shard& sh : shards) {
                for (std::uint32_t pos = sh.row_begin[pre]; pos < sh.row_begin[pre + 1]; ++pos)
                    visit(sh, pre, pos);
            }
        }
        return;
    }
    for (const Shard& sh : shards) {
        for (std::uint32_t pre = 0; pre < n_pre; ++pre) {
            for (std::uint32_t pos = sh.row_begin[pre]; pos < sh.row_begin[pre + 1]; ++pos)
                visit(sh, pre, pos);
        }
    }
}

// Synapses of other ranks read as NaN.
void SynapseStore::weights(float* out) const {
    std::fill(out, out + committed_, std::numeric_limits<float>::quiet_NaN());
    for_each_committed(shards_, canonical_, [&](const Shard& sh, std::uint32_t pre, std::uint32_t pos) {
        out[slot_at(sh, pre, pos)] = sh.weight[pos];
    });
    for (std::size_t i = 0; i < tail_.size(); ++i)
        out[committed_ + i] = tail_[i].weight;
}

void SynapseStore::delays(float* out) const {
    std::fill(out, out + committed_, std::numeric_limits<float>::quiet_NaN());
    for_each_committed(shards_, canonical_, [&](const Shard& sh, std::uint32_t pre, std::uint32_t pos) {
        out[slot_at(sh, pre, pos)] = sh.delay_of(pos);
    });
    for (std::size_t i = 0; i < tail_.size(); ++i)
        out[committed_ + i] = tail_[i].delay;
}

void SynapseStore::endpoints(std::uint32_t* pre, std::uint32_t* post) const {
    for_each_committed(shards_, canonical_,
                       [&](const Shard& sh, std::uint32_t p, std::uint32_t pos) {
                           const std::uint32_t slot = slot_at(sh, p, pos);
                           pre[slot] = p;
                           post[slot] = sh.begin + sh.post[pos];
                       });
    for (std::size_t i = 0; i < tail_.size(); ++i) {
        pre[committed_ + i] = tail_[i].pre;
        post[committed_ + i] = tail_[i].post;
    }
}

void SynapseStore::weight_bounds(float* lo, float* hi) const {
    auto bounds = [&](std::uint32_t w, std::uint32_t plastic_config, std::uint32_t slot) {
        switch (word::kind(w)) {
            case SynapseKind::Stdp: {
                const StdpParams& p = params_.stdp[word::index(w)];
                lo[slot] = p.w_min;
                hi[slot] = p.w_max;
                return;
            }
            case SynapseKind::Static:
                lo[slot] = -std::numeric_limits<float>::infinity();
                hi[slot] = std::numeric_limits<float>::infinity();
                return;
            case SynapseKind::Plastic:
                break;
        }
        const PlasticSynapseConfig& c = params_.plastic[plastic_config];
        lo[slot] = c.w_min;
        hi[slot] = c.w_max;
    };
    std::fill(lo, lo + committed_, std::numeric_limits<float>::quiet_NaN());
    std::fill(hi, hi + committed_, std::numeric_limits<float>::quiet_NaN());
    for_each_committed(shards_, canonical_, [&](const Shard& sh, std::uint32_t pre, std::uint32_t pos) {
        const std::uint32_t w = sh.word_at(pos);
        const std::uint32_t config =
            word::kind(w) == SynapseKind::Plastic ? sh.plastic[word::index(w)].config : 0;
        bounds(w, config, slot_at(sh, pre, pos));
    });
    for (std::size_t i = 0; i < tail_.size(); ++i) {
        const Record& r = tail_[i];
        const std::uint32_t config = r.extra != kNoExtra ? tail_extras_[r.extra].plastic_config : 0;
        bounds(r.word, config, static_cast<std::uint32_t>(committed_ + i));
    }
}

void SynapseStore::set_weights(const float* in) {
    for_each_committed(shards_, canonical_, [&](const Shard& sh, std::uint32_t pre, std::uint32_t pos) {
        const_cast<Shard&>(sh).weight[pos] = in[slot_at(sh, pre, pos)];
    });
    for (std::size_t i = 0; i < tail_.size(); ++i)
        tail_[i].weight = in[committed_ + i];
}

std::size_t SynapseStore::shard_of(std::uint32_t n) const {
    auto it = std::upper_bound(shards_.begin(), shards_.end(), n,
                               [](std::uint32_t v, const Shard& s) { return v < s.end; });
    return static_cast<std::size_t>(it - shards_.begin());
}

void SynapseStore::release_pair_set() {
    BigVector<std::uint64_t>().swap(tail_pairs_);
    tail_pair_count_ = 0;
    tail_sorted_ = true;
}

}  // namespace vorn
