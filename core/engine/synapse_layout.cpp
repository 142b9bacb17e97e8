// Building the shards' layout from every synapse in creation order.
#include <algorithm>
#include <bit>
#include <functional>

#include "core/engine/synapse_store.hpp"

namespace vorn {
namespace {

constexpr std::uint32_t kNone = 0xffffffffu;

bool same_bits(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Contiguous neuron ranges [bounds[s], bounds[s + 1]) of about equal load.
std::vector<std::uint32_t> split(const std::vector<double>& load, std::size_t n_shards) {
    const auto n = static_cast<std::uint32_t>(load.size());
    std::vector<std::uint32_t> bounds{0};
    double total = 0.0;
    for (double x : load)
        total += x;
    double acc = 0.0;
    std::uint32_t next = 0;
    for (std::size_t s = 1; s < n_shards; ++s) {
        const double target = total * static_cast<double>(s) / static_cast<double>(n_shards);
        // Leave at least one neuron for each remaining shard.
        const std::uint32_t limit = n - static_cast<std::uint32_t>(n_shards - s);
        while (next < limit && (acc + load[next] <= target || next <= bounds.back())) {
            acc += load[next];
            ++next;
        }
        bounds.push_back(next);
    }
    bounds.push_back(n);
    return bounds;
}

}  // namespace

SynapseStore::Record SynapseStore::to_record(const SynapseData& d, BigVector<Extra>& extras) const {
    std::uint32_t extra = kNoExtra;
    if (needs_extra(d.word)) {
        extras.push_back({d.pre_trace, d.post_trace, d.plastic_config, d.plastic_state});
        extra = static_cast<std::uint32_t>(extras.size() - 1);
    }
    return {d.pre, d.post, d.weight, d.delay, d.word, extra};
}

SynapseData SynapseStore::from_record(const Record& r, const BigVector<Extra>& extras) const {
    SynapseData d;
    d.pre = r.pre;
    d.post = r.post;
    d.weight = r.weight;
    d.delay = r.delay;
    d.word = r.word;
    if (r.extra != kNoExtra) {
        const Extra& e = extras[r.extra];
        d.pre_trace = e.pre_trace;
        d.post_trace = e.post_trace;
        d.plastic_config = e.plastic_config;
        d.plastic_state = e.plastic_state;
        d.plastic_state.weight = r.weight;
    }
    return d;
}

void SynapseStore::visit_all(
    const std::function<void(std::uint32_t, const SynapseData&)>& visit) const {
    auto store = [&](const Shard& sh, std::uint32_t pre, std::uint32_t pos, float delay) {
        SynapseData d;
        d.pre = pre;
        d.post = sh.begin + sh.post[pos];
        d.weight = sh.weight[pos];
        d.delay = delay;
        d.word = sh.word_at(pos);
        if (d.word & word::kPrePrivate)
            d.pre_trace = sh.privates.at(sh.pre_private[pos]);
        if (d.word & word::kPostPrivate)
            d.post_trace = sh.privates.at(sh.post_private[pos]);
        if (word::kind(d.word) == SynapseKind::Plastic) {
            const PlasticEntry& e = sh.plastic[word::index(d.word)];
            d.plastic_config = e.config;
            d.plastic_state = e.state;
        }
        visit(sh.slots.empty() ? sh.canon_base[pre] + (pos - sh.row_begin[pre]) : sh.slots[pos], d);
    };
    auto walk_row = [&](const Shard& sh, std::uint32_t pre) {
        if (sh.row_group.empty()) {
            for (std::uint32_t pos = sh.row_begin[pre]; pos < sh.row_begin[pre + 1]; ++pos)
                store(sh, pre, pos, sh.uniform_delay);
            return;
        }
        for (std::uint32_t g = sh.row_group[pre]; g < sh.row_group[pre + 1]; ++g) {
            for (std::uint32_t pos = sh.group_begin(pre, g); pos < sh.group_end[g]; ++pos)
                store(sh, pre, pos, sh.group_delay[g]);
        }
    };
    if (committed_ > 0) {
        const std::size_t n_pre = shards_[0].row_begin.size() - 1;
        if (canonical_) {
            for (std::uint32_t pre = 0; pre < n_pre; ++pre) {
                for (const Shard& sh : shards_)
                    walk_row(sh, pre);
            }
        } else {
            for (const Shard& sh : shards_) {
                for (std::uint32_t pre = 0; pre < n_pre; ++pre)
                    walk_row(sh, pre);
            }
        }
    }
    for (std::size_t i = 0; i < tail_.size(); ++i)
        visit(static_cast<std::uint32_t>(committed_ + i), from_record(tail_[i], tail_extras_));
}

// Every synapse as a record by slot, the layout's first and then the tail's.
void SynapseStore::collect(BigVector<Record>& records, BigVector<Extra>& extras) {
    if (committed_ == 0) {
        records.swap(tail_);
        extras.swap(tail_extras_);
        tail_.clear();
        tail_extras_.clear();
        return;
    }
    // Slots this rank does not hold stay holes: another rank has their
    // synapses, and the rebuild must neither place nor count them.
    records.assign(size(), Record{kHole, 0, 0.0f, 0.0f, 0, kNoExtra});
    visit_all(
        [&](std::uint32_t slot, const SynapseData& d) { records[slot] = to_record(d, extras); });
    tail_.clear();
    tail_extras_.clear();
}

void SynapseStore::commit(std::size_t n_neurons, const ShardPlan& plan,
                          const std::vector<float>& cost) {
    if (!needs_commit())
        return;
    BigVector<Record> records;
    BigVector<Extra> extras;
    collect(records, extras);
    build(records, extras, n_neurons, plan, cost);
}

void SynapseStore::set_delays(const float* in, std::size_t n_neurons, const ShardPlan& plan,
                              const std::vector<float>& cost) {
    BigVector<Record> records;
    BigVector<Extra> extras;
    collect(records, extras);
    for (std::size_t i = 0; i < records.size(); ++i)
        records[i].delay = in[i];
    build(records, extras, n_neurons, plan, cost);
}

void SynapseStore::build(BigVector<Record>& records, BigVector<Extra>& extras,
                         std::size_t n_neurons, const ShardPlan& plan,
                         const std::vector<float>& cost) {
    const auto n = static_cast<std::uint32_t>(n_neurons);
    const std::size_t count = records.size();

    // Ranks, then this rank's shards, of about equal work: each neuron's own
    // cost plus the synapses onto it. Every rank computes the same ranges.
    std::vector<double> load(n, 0.0);
    for (std::uint32_t i = 0; i < n; ++i)
        load[i] = 1.0 + (i < cost.size() ? cost[i] : 0.0f);
    bool holes = false;
    for (const Record& r : records) {
        if (r.pre == kHole)
            holes = true;
        else
            load[r.post] += 1.0;
    }
    std::vector<std::uint32_t> rank_bounds;
    if (holes && rank_bounds_.size() == plan.ranks + 1) {
        // A rebuild on one rank of many: synapses cannot move between ranks,
        // so the ranges stay, and new neurons join the last rank.
        rank_bounds = rank_bounds_;
        rank_bounds.back() = n;
    } else {
        const std::size_t ranks =
            std::clamp<std::size_t>(plan.ranks, 1, std::max<std::size_t>(n, 1));
        rank_bounds = split(load, ranks);
        rank_bounds.resize(plan.ranks + 1, n);  // more ranks than neurons: the last hold none
    }
    const std::uint32_t mine_begin = rank_bounds[plan.rank];
    const std::uint32_t mine_end = rank_bounds[plan.rank + 1];
    const std::vector<double> local_load(load.begin() + mine_begin, load.begin() + mine_end);
    std::vector<double>().swap(load);
    std::size_t n_shards =
        std::clamp<std::size_t>(plan.threads, 1, std::max<std::size_t>(mine_end - mine_begin, 1));
    n_shards = std::min<std::size_t>(n_shards, 0xfffe);
    std::vector<std::uint32_t> bounds = split(local_load, n_shards);
    for (std::uint32_t& b : bounds)
        b += mine_begin;
    constexpr std::uint16_t kRemote = 0xffff;
    std::vector<std::uint16_t> shard_of_neuron(n, kRemote);
    for (std::size_t s = 0; s < n_shards; ++s)
        std::fill(shard_of_neuron.begin() + bounds[s], shard_of_neuron.begin() + bounds[s + 1],
                  static_cast<std::uint16_t>(s));

    // Per local shard, a counting sort by pre in creation order: order[pos]
    // = slot. Per pre, the slot of its first synapse (slot_base) and how
    // many of its synapses go to ranks before this one (before).
    std::vector<Shard> shards(n_shards);
    std::vector<BigVector<std::uint32_t>> order(n_shards);
    for (std::size_t s = 0; s < n_shards; ++s) {
        shards[s].begin = bounds[s];
        shards[s].end = bounds[s + 1];
        shards[s].row_begin.assign(n + 1, 0);
    }
    std::vector<std::uint32_t> slot_base(n + 1, 0);
    std::vector<std::uint32_t> before(n, 0);
    for (const Record& r : records) {
        if (r.pre == kHole)
            continue;
        ++slot_base[r.pre + 1];
        const std::uint16_t s = shard_of_neuron[r.post];
        if (s != kRemote)
            ++shards[s].row_begin[r.pre + 1];
        else if (r.post < mine_begin)
            ++before[r.pre];
    }
    for (std::uint32_t i = 0; i < n; ++i)
        slot_base[i + 1] += slot_base[i];
    for (std::size_t s = 0; s < n_shards; ++s) {
        std::vector<std::uint32_t>& rb = shards[s].row_begin;
        for (std::uint32_t i = 0; i < n; ++i)
            rb[i + 1] += rb[i];
        order[s].resize(rb[n]);
    }
    {
        std::vector<std::vector<std::uint32_t>> cursor(n_shards);
        for (std::size_t s = 0; s < n_shards; ++s)
            cursor[s].assign(shards[s].row_begin.begin(), shards[s].row_begin.end() - 1);
        for (std::uint32_t slot = 0; slot < count; ++slot) {
            const Record& r = records[slot];
            if (r.pre == kHole)
                continue;
            const std::uint16_t s = shard_of_neuron[r.post];
            if (s != kRemote)
                order[s][cursor[s][r.pre]++] = slot;
        }
    }

    // Creation order is canonical (for this rank's synapses) when each
    // row's slots follow on from the pre's first slot, the synapses of
    // earlier ranks and earlier shards, as when synapses are made sorted by
    // pre and post with one delay per pre.
    bool canonical = !holes;
    for (std::uint32_t pre = 0; pre < n && canonical; ++pre) {
        std::uint32_t expect = slot_base[pre] + before[pre];
        for (std::size_t s = 0; s < n_shards && canonical; ++s) {
            const std::vector<std::uint32_t>& rb = shards[s].row_begin;
            for (std::uint32_t pos = rb[pre]; pos < rb[pre + 1]; ++pos) {
                if (order[s][pos] != expect++) {
                    canonical = false;
                    break;
                }
            }
        }
    }

    // Within each row, synapses by delay (creation order among equal ones).
    for (std::size_t s = 0; s < n_shards; ++s) {
        Shard& sh = shards[s];
        BigVector<std::uint32_t>& ord = order[s];
        const std::size_t m = ord.size();
        const bool uniform_delay = std::all_of(ord.begin(), ord.end(), [&](std::uint32_t slot) {
            return same_bits(records[slot].delay, records[ord[0]].delay);
        });
        sh.uniform_delay = m == 0 ? 1.0f : records[ord[0]].delay;
        sh.max_delay = m == 0 ? 0.0f : sh.uniform_delay;
        if (uniform_delay)
            continue;
        canonical = false;
        auto by_delay = [&](std::uint32_t a, std::uint32_t b) {
            return records[a].delay < records[b].delay;
        };
        sh.row_group.assign(n + 1, 0);
        for (std::uint32_t pre = 0; pre < n; ++pre) {
            auto first = ord.begin() + sh.row_begin[pre];
            auto last = ord.begin() + sh.row_begin[pre + 1];
            if (!std::is_sorted(first, last, by_delay))
                std::stable_sort(first, last, by_delay);
            sh.row_group[pre] = static_cast<std::uint32_t>(sh.group_end.size());
            for (auto it = first; it != last; ++it) {
                const float d = records[*it].delay;
                if (it + 1 == last || !same_bits(records[*(it + 1)].delay, d)) {
                    sh.group_end.push_back(static_cast<std::uint32_t>(it + 1 - ord.begin()));
                    sh.group_delay.push_back(d);
                    sh.max_delay = std::max(sh.max_delay, d);
                }
            }
        }
        sh.row_group[n] = static_cast<std::uint32_t>(sh.group_end.size());
    }

    // Per post: do its synapses, in creation order, come from ascending pres?
    std::vector<std::uint8_t> direct(n, 1);
    {
        std::vector<std::uint32_t> last_pre(n, kNone);
        for (const Record& r : records) {
            if (r.pre == kHole)
                continue;
            if (last_pre[r.post] != kNone && r.pre < last_pre[r.post])
                direct[r.post] = 0;
            last_pre[r.post] = r.pre;
        }
    }

    for (std::size_t s = 0; s < n_shards; ++s) {
        Shard& sh = shards[s];
        const BigVector<std::uint32_t>& ord = order[s];
        const std::size_t m = ord.size();
        const std::uint32_t local_n = sh.end - sh.begin;
        sh.weight.resize(m);
        sh.post.assign(m, local_n <= CompactIndices::kNarrowLimit);
        bool uniform_words = true;
        const std::uint32_t first_word = m == 0 ? 0 : records[ord[0]].word;
        std::size_t n_private = 0;
        for (std::size_t pos = 0; pos < m; ++pos) {
            const Record& r = records[ord[pos]];
            sh.weight[pos] = r.weight;
            sh.post.set(pos, r.post - sh.begin);
            uniform_words = uniform_words && r.word == first_word;
            n_private += (r.word & word::kPrePrivate) ? 1 : 0;
            n_private += (r.word & word::kPostPrivate) ? 1 : 0;
        }
        if (m == 0 || (uniform_words && !needs_extra(first_word))) {
            sh.uniform_word = m == 0 ? word::make(SynapseKind::Static, 0) : first_word;
            sh.uniform = word::kind(sh.uniform_word) == SynapseKind::Stdp ? Shard::Uniform::Stdp
                                                                          : Shard::Uniform::Static;
        } else {
            sh.uniform = Shard::Uniform::None;
            sh.words.resize(m);
            if (n_private > 0) {
                sh.pre_private.assign(m, kNone);
                sh.post_private.assign(m, kNone);
                sh.privates.reserve(n_private);
            }
            for (std::uint32_t pre = 0; pre < n; ++pre) {
                for (std::uint32_t pos = sh.row_begin[pre]; pos < sh.row_begin[pre + 1]; ++pos) {
                    const Record& r = records[ord[pos]];
                    std::uint32_t w = r.word;
                    if (r.extra != kNoExtra) {
                        const Extra& e = extras[r.extra];
                        if (w & word::kPrePrivate)
                            sh.pre_private[pos] = sh.privates.add(e.pre_trace);
                        if (w & word::kPostPrivate)
                            sh.post_private[pos] = sh.privates.add(e.post_trace);
                        if (word::kind(w) == SynapseKind::Plastic) {
                            w = word::make(SynapseKind::Plastic,
                                           static_cast<std::uint32_t>(sh.plastic.size()));
                            sh.plastic.push_back(
                                {pos, pre, r.post, e.plastic_config, e.plastic_state});
                        }
                    }
                    sh.words[pos] = w;
                }
            }
        }

        // STDP in-links per local post, in position order.
        sh.in_begin.assign(local_n + 1, 0);
        auto is_stdp = [&](std::size_t pos) {
            return word::kind(sh.word_at(static_cast<std::uint32_t>(pos))) == SynapseKind::Stdp;
        };
        for (std::size_t pos = 0; pos < m; ++pos) {
            if (is_stdp(pos))
                ++sh.in_begin[sh.post[pos] + 1];
        }
        for (std::uint32_t j = 0; j < local_n; ++j)
            sh.in_begin[j + 1] += sh.in_begin[j];
        sh.in_position.resize(sh.in_begin[local_n]);
        sh.in_pre.assign(sh.in_begin[local_n], n <= CompactIndices::kNarrowLimit);
        {
            std::vector<std::uint32_t> cursor(sh.in_begin.begin(), sh.in_begin.end() - 1);
            for (std::uint32_t pre = 0; pre < n; ++pre) {
                for (std::uint32_t pos = sh.row_begin[pre]; pos < sh.row_begin[pre + 1]; ++pos) {
                    if (is_stdp(pos)) {
                        const std::uint32_t k = cursor[sh.post[pos]]++;
                        sh.in_position[k] = pos;
                        sh.in_pre.set(k, pre);
                    }
                }
            }
        }
        sh.direct.assign(direct.begin() + sh.begin, direct.begin() + sh.end);
        sh.all_direct =
            std::all_of(sh.direct.begin(), sh.direct.end(), [](std::uint8_t d) { return d != 0; });
        sh.pending.assign(local_n, 0.0f);
    }

    // Slot bookkeeping.
    slot_base_.clear();
    if (canonical) {
        for (std::uint32_t pre = 0; pre < n; ++pre) {
            std::uint32_t base = slot_base[pre] + before[pre];
            for (Shard& sh : shards) {
                if (sh.canon_base.empty())
                    sh.canon_base.assign(n, 0);
                sh.canon_base[pre] = base;
                base += sh.row_begin[pre + 1] - sh.row_begin[pre];
            }
        }
        slot_base_.swap(slot_base);
    } else {
        for (std::size_t s = 0; s < n_shards; ++s)
            shards[s].slots.swap(order[s]);
    }
    BigVector<Record>().swap(records);
    BigVector<Extra>().swap(extras);
    shards_.swap(shards);
    rank_bounds_.swap(rank_bounds);
    canonical_ = canonical;
    committed_ = static_cast<std::uint32_t>(count);
    BigVector<std::uint64_t>().swap(position_of_slot_);
    release_pair_set();
    layout_valid_ = true;
}

}  // namespace vorn
