// SimEngine operations on many items at once: edges, weights and delays by
// array, noise inputs and monitors. Each checks everything before it
// changes anything.
#include <algorithm>
#include <cmath>
#include <limits>

#include "core/engine/plastic_synapse.hpp"
#include "core/engine/sim_engine_impl.hpp"

namespace vorn {
namespace {

std::expected<void, EngineError> check_index(std::string_view array, std::size_t i,
                                             std::int64_t value, std::size_t n) {
    if (value < 0)
        return std::unexpected(EngineError::negative_index(array, i, value));
    if (static_cast<std::uint64_t>(value) >= n)
        return std::unexpected(EngineError::index_range(array, i, value, n));
    return {};
}

std::string value_name(std::string_view name, bool scalar, std::size_t i) {
    return scalar ? std::string(name) : EngineError::element(name, i);
}

// A delay as stored: finite, >= 0, with -0 read as 0.
std::expected<float, EngineError> checked_delay(const std::string& what, double value) {
    const auto d = static_cast<float>(value);
    if (!std::isfinite(d))
        return std::unexpected(EngineError::not_finite(what, value));
    if (d < 0.0f)
        return std::unexpected(EngineError::negative(what, d));
    return d + 0.0f;
}

struct WeightRange {
    float lo;
    float hi;
    const char* kind;
};

WeightRange range_of(const SynapseConfig& config) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    if (const auto* c = std::get_if<StdpConfig>(&config))
        return {c->w_min, c->w_max, "stdp"};
    if (const auto* c = std::get_if<PlasticSynapseConfig>(&config))
        return {c->w_min, c->w_max, "plastic-synapse"};
    return {-kInf, kInf, "static"};
}

}  // namespace

std::expected<std::size_t, EngineError> SimEngine::add_edges(const EdgeBatch& b) {
    Impl& m = *impl_;
    const std::size_t n = m.neurons.size();
    const std::size_t count = b.pre.size();
    if (b.post.size() != count)
        return std::unexpected(EngineError::length("post", b.post.size(), "pre", count));
    if (!b.weight_scalar && b.weight.size() != count)
        return std::unexpected(EngineError::length("weight", b.weight.size(), "pre", count));
    if (!b.delay_scalar && b.delay_ms.size() != count)
        return std::unexpected(EngineError::length("delay_ms", b.delay_ms.size(), "pre", count));
    if (count == 0)
        return 0;
    const WeightRange range = range_of(b.config);
    const std::string context = std::string("for kind '") + range.kind + "'";
    auto weight_at = [&](std::size_t i) { return b.weight[b.weight_scalar ? 0 : i]; };
    auto delay_at = [&](std::size_t i) { return b.delay_ms[b.delay_scalar ? 0 : i]; };

    bool sorted = true;
    std::uint64_t last_key = 0;
    bool any = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (auto ok = check_index("pre", i, b.pre[i], n); !ok)
            return std::unexpected(ok.error());
        if (auto ok = check_index("post", i, b.post[i], n); !ok)
            return std::unexpected(ok.error());
        if (!b.weight_scalar || i == 0) {
            const double w = weight_at(i);
            const auto wf = static_cast<float>(w);
            const std::string what = value_name("weight", b.weight_scalar, i);
            if (!std::isfinite(wf))
                return std::unexpected(EngineError::not_finite(what, w));
            if (wf < range.lo || wf > range.hi)
                return std::unexpected(
                    EngineError::out_of_range(what, wf, range.lo, range.hi, context));
        }
        if (!b.delay_scalar || i == 0) {
            auto d = checked_delay(value_name("delay_ms", b.delay_scalar, i), delay_at(i));
            if (!d)
                return std::unexpected(d.error());
        }
        const auto pre = static_cast<std::uint64_t>(b.pre[i]);
        const auto post = static_cast<std::uint64_t>(b.post[i]);
        if (pre != post) {
            const std::uint64_t key = pre << 32 | post;
            sorted = sorted && (!any || key > last_key);
            if (!any)
                sorted = sorted && m.synapses.keeps_sorted(static_cast<std::uint32_t>(pre),
                                                           static_cast<std::uint32_t>(post));
            last_key = key;
            any = true;
        }
    }

    auto minted = m.mint_ids(count);
    if (!minted)
        return std::unexpected(minted.error());
    const std::vector<Uuid>& ids = *minted;
    // Pairs that some rank's committed synapses hold already.
    std::vector<std::uint8_t> held(count, 0);
    for (std::size_t i = 0; i < count; ++i)
        held[i] = m.synapses.committed_has(static_cast<std::uint32_t>(b.pre[i]),
                                           static_cast<std::uint32_t>(b.post[i]));
    if (m.exchange)
        m.exchange->any(held);

    // Room for everything first: after this, nothing below can fail.
    m.synapses.reserve(count);
    if (!sorted)
        m.synapses.reserve_unsorted(count);
    const bool stdp = std::holds_alternative<StdpConfig>(b.config);
    bool private_traces = std::holds_alternative<PlasticSynapseConfig>(b.config);
    if (stdp) {
        const StdpConfig& c = std::get<StdpConfig>(b.config);
        private_traces = !engine_detail::same_bits(c.tau_plus, SharedTraces::kTau) ||
                         !engine_detail::same_bits(c.tau_minus, SharedTraces::kTau);
        for (std::uint32_t i = 0; i < n && !private_traces; ++i)
            private_traces = !m.traces.can_share(i);
    }
    if (private_traces)
        m.synapses.reserve_extras(count);
    // One parameter set for all: the first synapse acquires it, the others
    // add references.
    const SynapseData proto =
        m.synapses.make_data(0, 0, b.config, static_cast<float>(weight_at(0)), 1.0f, m.traces);
    std::size_t created = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const auto pre = static_cast<std::uint32_t>(b.pre[i]);
        const auto post = static_cast<std::uint32_t>(b.post[i]);
        if (pre == post || held[i])
            continue;
        SynapseData d = proto;
        d.pre = pre;
        d.post = post;
        d.weight = static_cast<float>(weight_at(i));
        d.delay = static_cast<float>(delay_at(i)) + 0.0f;
        if (stdp) {
            const StdpConfig& c = std::get<StdpConfig>(b.config);
            d.word &= ~word::kPrivateMask;
            if (!engine_detail::same_bits(c.tau_plus, SharedTraces::kTau) ||
                !m.traces.can_share(pre)) {
                d.word |= word::kPrePrivate;
                d.pre_trace = {pre, c.tau_plus, 0.0f, 0.0f};
            }
            if (!engine_detail::same_bits(c.tau_minus, SharedTraces::kTau) ||
                !m.traces.can_share(post)) {
                d.word |= word::kPostPrivate;
                d.post_trace = {post, c.tau_minus, 0.0f, 0.0f};
            }
        } else if (word::kind(d.word) == SynapseKind::Plastic) {
            d.plastic_state = PlasticState{};
            d.plastic_state.weight = d.weight;
        }
        if (m.synapses.try_append(ids[created], d))
            ++created;
    }
    // References for the parameter set, one per synapse made.
    SynapseParams& params = m.synapses.params();
    const std::uint32_t index = word::kind(proto.word) == SynapseKind::Plastic
                                    ? proto.plastic_config
                                    : word::index(proto.word);
    auto adjust = [&](auto& table) {
        if (created == 0)
            table.release(index);
        else
            table.add_refs(index, static_cast<std::uint32_t>(created - 1));
    };
    switch (word::kind(proto.word)) {
        case SynapseKind::Stdp:
            adjust(params.stdp);
            break;
        case SynapseKind::Static:
            adjust(params.statics);
            break;
        case SynapseKind::Plastic:
            adjust(params.plastic);
            break;
    }
    if (created > 0)
        m.pending_valid = false;
    return created;
}

std::expected<void, EngineError> SimEngine::add_poisson_input(std::span<const std::int64_t> nodes,
                                                              double rate_hz, float weight,
                                                              std::uint64_t seed) {
    Impl& m = *impl_;
    if (!std::isfinite(rate_hz))
        return std::unexpected(EngineError::not_finite("rate_hz", rate_hz));
    if (rate_hz < 0.0)
        return std::unexpected(EngineError::negative("rate_hz", rate_hz));
    if (!std::isfinite(weight))
        return std::unexpected(EngineError::not_finite("weight", weight));
    PoissonInput in{{}, rate_hz, weight, seed};
    in.targets.reserve(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        if (auto ok = check_index("nodes", i, nodes[i], m.neurons.size()); !ok)
            return std::unexpected(ok.error());
        in.targets.push_back(static_cast<std::uint32_t>(nodes[i]));
    }
    std::sort(in.targets.begin(), in.targets.end());
    in.targets.erase(std::unique(in.targets.begin(), in.targets.end()), in.targets.end());
    m.poisson.add(std::move(in));
    return {};
}

std::expected<void, EngineError> SimEngine::set_weights(std::span<const float> weights) {
    Impl& m = *impl_;
    const std::size_t count = m.synapses.size();
    if (weights.size() != count)
        return std::unexpected(EngineError::count("weights", weights.size(), count, "synapses"));
    std::vector<float> lo(count);
    std::vector<float> hi(count);
    m.synapses.weight_bounds(lo.data(), hi.data());
    for (std::size_t i = 0; i < count; ++i) {
        const float w = weights[i];
        const std::string what = EngineError::element("weights", i);
        if (!std::isfinite(w))
            return std::unexpected(EngineError::not_finite(what, w));
        if (w < lo[i] || w > hi[i]) {
            return std::unexpected(EngineError::out_of_range(
                what, w, lo[i], hi[i],
                "for synapse " + m.synapses.id(static_cast<std::uint32_t>(i)).to_string()));
        }
    }
    m.synapses.set_weights(weights.data());
    m.pending_valid = false;
    return {};
}

std::expected<void, EngineError> SimEngine::set_delays(std::span<const float> delays) {
    Impl& m = *impl_;
    const std::size_t count = m.synapses.size();
    if (delays.size() != count)
        return std::unexpected(EngineError::count("delays", delays.size(), count, "synapses"));
    std::vector<float> checked(count);
    for (std::size_t i = 0; i < count; ++i) {
        auto d = checked_delay(EngineError::element("delays", i), delays[i]);
        if (!d)
            return std::unexpected(d.error());
        checked[i] = *d;
    }
    m.synapses.set_delays(checked.data(), m.neurons.size(), m.plan(), m.neuron_costs());
    m.after_rebuild();
    return {};
}

std::shared_ptr<SpikeRecord> SimEngine::add_spike_monitor() {
    auto record = std::make_shared<SpikeRecord>();
    impl_->recorders.add(record);
    return record;
}

std::expected<std::shared_ptr<StateRecord>, EngineError> SimEngine::add_state_monitor(
    std::span<const std::int64_t> neurons, std::string_view key, std::uint64_t every) {
    Impl& m = *impl_;
    if (every == 0)
        return std::unexpected(EngineError::not_positive("every", 0.0));
    auto record = std::make_shared<StateRecord>();
    record->neurons.reserve(neurons.size());
    for (std::size_t i = 0; i < neurons.size(); ++i) {
        if (auto ok = check_index("nodes", i, neurons[i], m.neurons.size()); !ok)
            return std::unexpected(ok.error());
        const auto n = static_cast<std::uint32_t>(neurons[i]);
        if (m.neurons.model(n).numeric_field(key) == nullptr)
            return std::unexpected(EngineError::not_numeric(key, m.neurons.id(n).to_string()));
        record->neurons.push_back(n);
    }
    record->key = std::string(key);
    record->every = every;
    m.recorders.add(record);
    return record;
}

}  // namespace vorn
