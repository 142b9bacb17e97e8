#include "core/engine/neuron_store.hpp"

#include <algorithm>
#include <variant>

#include "core/models/decay.hpp"

namespace vorn {
namespace {

template <class Model, class Tuple, std::size_t K = 0>
constexpr std::size_t pool_number() {
    static_assert(K < std::tuple_size_v<Tuple>, "model has no pool");
    if constexpr (std::is_same_v<std::tuple_element_t<K, Tuple>, NeuronPool<Model>>) {
        return K;
    } else {
        return pool_number<Model, Tuple, K + 1>();
    }
}

// Any other model: its non-virtual step_impl, for pool items [from, to).
template <class Model>
void step_pool(NeuronPool<Model>& pool, std::size_t from, std::size_t to, const StepContext& ctx,
               const float* input, std::uint8_t* spiked) {
    for (std::size_t k = from; k < to; ++k) {
        std::uint32_t n = pool.node[k];
        spiked[n] = pool.items[k].step_impl(ctx.dt_ms, input[n]) ? 1 : 0;
    }
}

// LIF: the synaptic decay factor is shared by all neurons with equal tau_syn.
void step_pool(NeuronPool<LifNeuron>& pool, std::size_t from, std::size_t to,
               const StepContext& ctx, const float* input, std::uint8_t* spiked) {
    DecayMemo syn_decay(ctx.dt_ms);
    for (std::size_t k = from; k < to; ++k) {
        LifNeuron& nrn = pool.items[k];
        std::uint32_t n = pool.node[k];
        spiked[n] = nrn.advance(ctx.dt_ms, input[n], syn_decay(nrn.tau_syn)) ? 1 : 0;
    }
}

}  // namespace

std::optional<std::uint32_t> NeuronStore::add(const Uuid& id, const NeuronConfig& config) {
    if (auto found = find(id)) {
        return found;
    }
    // Everything that can run out of memory happens before any change.
    reserve(1, config);
    return std::visit(
        [&](const auto& cfg) -> std::optional<std::uint32_t> {
            if constexpr (requires { make_neuron(id, cfg); }) {
                using Model = decltype(make_neuron(id, cfg));
                constexpr std::size_t kPool = pool_number<Model, NeuronPools>();
                auto& pool = std::get<kPool>(pools_);
                auto index = static_cast<std::uint32_t>(ids_.size());
                index_.emplace(id, index);
                pool_of_.push_back(static_cast<std::uint8_t>(kPool));
                slot_of_.push_back(static_cast<std::uint32_t>(pool.items.size()));
                pool.items.push_back(make_neuron(id, cfg));
                pool.node.push_back(index);
                ids_.push_back(id);
                return index;
            } else {
                return std::nullopt;
            }
        },
        config);
}

std::optional<std::uint32_t> NeuronStore::find(const Uuid& id) const {
    auto it = index_.find(id);
    if (it == index_.end())
        return std::nullopt;
    return it->second;
}

template <std::size_t K>
NeuronModel& NeuronStore::model_in_pool(std::uint8_t pool, std::uint32_t slot) {
    if constexpr (K + 1 < std::tuple_size_v<NeuronPools>) {
        if (pool != K)
            return model_in_pool<K + 1>(pool, slot);
    }
    return std::get<K>(pools_).items[slot];
}

NeuronModel& NeuronStore::model(std::uint32_t index) {
    return model_in_pool(pool_of_[index], slot_of_[index]);
}

const NeuronModel& NeuronStore::model(std::uint32_t index) const {
    return const_cast<NeuronStore*>(this)->model(index);
}

void NeuronStore::step_all(const StepContext& ctx, const float* input, std::uint8_t* spiked,
                           std::vector<std::uint32_t>& spikes) {
    step_range(ctx, 0, static_cast<std::uint32_t>(ids_.size()), input, spiked, spikes);
}

void NeuronStore::step_range(const StepContext& ctx, std::uint32_t begin, std::uint32_t end,
                             const float* input, std::uint8_t* spiked,
                             std::vector<std::uint32_t>& spikes) {
    // Each pool holds its neurons in ascending index order, so the range is
    // one run of items per pool.
    std::apply(
        [&](auto&... pool) {
            (step_pool(
                 pool,
                 static_cast<std::size_t>(
                     std::lower_bound(pool.node.begin(), pool.node.end(), begin) -
                     pool.node.begin()),
                 static_cast<std::size_t>(
                     std::lower_bound(pool.node.begin(), pool.node.end(), end) - pool.node.begin()),
                 ctx, input, spiked),
             ...);
        },
        pools_);
    for (std::uint32_t n = begin; n < end; ++n) {
        if (spiked[n])
            spikes.push_back(n);
    }
}

float NeuronStore::step_cost(std::uint32_t index) const {
    // LIF, HH (many integration sub-steps), Izhikevich, AdEx.
    static constexpr float kCost[] = {4.0f, 200.0f, 4.0f, 8.0f};
    return kCost[pool_of_[index]];
}

void NeuronStore::reserve(std::size_t more, const NeuronConfig& config) {
    const std::size_t n = ids_.size() + more;
    auto grow = [n](auto& v) {
        if (v.capacity() < n)
            v.reserve(std::max(n, v.capacity() + v.capacity() / 2));
    };
    grow(ids_);
    grow(pool_of_);
    grow(slot_of_);
    index_.reserve(n);
    std::visit(
        [&](const auto& cfg) {
            if constexpr (requires { make_neuron(Uuid{}, cfg); }) {
                using Model = decltype(make_neuron(Uuid{}, cfg));
                auto& pool = std::get<pool_number<Model, NeuronPools>()>(pools_);
                const std::size_t k = pool.items.size() + more;
                if (pool.items.capacity() < k) {
                    pool.items.reserve(std::max(k, pool.items.capacity() * 3 / 2));
                    pool.node.reserve(std::max(k, pool.node.capacity() * 3 / 2));
                }
            }
        },
        config);
}

}  // namespace vorn
