#include "core/engine/sim_engine.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <string>

#include "core/engine/plastic_synapse.hpp"
#include "core/engine/sim_engine_impl.hpp"
#include "core/engine/static_synapse.hpp"
#include "core/engine/stdp_synapse.hpp"

namespace vorn {

using engine_detail::same_bits;

void SimEngine::Impl::tick(float dt_ms) {
    ensure_layout();
    ++ticks;
    t_ms += static_cast<double>(dt_ms);
    const std::array<float, 4> levels = modulators.advance(dt_ms);
    std::fill(input.begin(), input.end(), 0.0f);
    stimulations.expire_and_apply(dt_ms, input.data());
    const StepContext ctx{levels, t_ms, dt_ms, levels[0]};
    std::vector<Shard>& shards = synapses.shards();
    const SynapseParams& params = synapses.params();
    const bool recompute = !pending_valid;

    // Each shard: its input (noise, then what arrives), its neurons, and
    // the shared traces of its neurons.
    const RecentSpikes kept_before = recent_spikes();
    auto neurons_phase = [&](std::size_t s) {
        Shard& sh = shards[s];
        if (recompute)
            sh.recompute_pending(ticks, spikes.data(), spikes.size(), params, &kept_before);
        if (!poisson.empty())
            poisson.apply(ticks, dt_ms, sh.begin, sh.end, input.data());
        sh.apply_pending(ticks, input.data());
        shard_spikes[s].clear();
        neurons.step_range(ctx, sh.begin, sh.end, input.data(), spiked.data(), shard_spikes[s]);
        traces.advance(sh.begin, sh.end, dt_ms, spiked.data());
    };
    each_shard(neurons_phase);

    std::vector<std::uint32_t>& mine = exchange ? local_spikes : spikes;
    mine.clear();
    for (const std::vector<std::uint32_t>& part : shard_spikes)
        mine.insert(mine.end(), part.begin(), part.end());
    if (exchange)
        share_spikes(dt_ms);
    history.push(ticks, dt_ms, spikes);
    history.trim(ticks, max_delay);
    // Shards read arrivals from these bits only for the ticks since they
    // last rescheduled, which they do when the step changes or the bits
    // are not kept.
    const bool keep_recent = delay_ticks(max_delay, dt_ms) > 1;
    if (keep_recent)
        keep_recent_spikes();
    const RecentSpikes kept = recent_spikes();

    const ShardTick t{ctx,           ticks,   spiked.data(), spikes.data(),
                      spikes.size(), &traces, &params,       keep_recent ? &kept : nullptr,
                      &history};
    auto plasticity_phase = [&](std::size_t s) { shards[s].plasticity(t); };
    each_shard(plasticity_phase);
    pending_valid = true;

    if (!recorders.empty())
        recorders.record(t_ms, spikes, neurons, [this](std::uint32_t n) { return holds(n); });
}

// Shifts this tick's spikes into the recent bits. While many neurons
// spiked within the last 64 ticks, every neuron's bits are shifted (a plain
// loop) and shards read them all; else only those of the neurons in
// recent_active and of this tick's spikes, and shards read those.
void SimEngine::Impl::keep_recent_spikes() {
    const std::size_t n = recent.size();
    if (recent_all || recent_active.size() + spikes.size() > n / 8) {
        std::size_t live = 0;
        for (std::size_t k = 0; k < n; ++k) {
            recent[k] = recent[k] << 1 | spiked[k];
            live += recent[k] != 0;
        }
        recent_all = live > n / 16;
        if (!recent_all) {
            recent_active.clear();
            for (std::uint32_t k = 0; k < n; ++k) {
                if (recent[k] != 0)
                    recent_active.push_back(k);
            }
        }
        return;
    }
    std::vector<std::uint32_t>& next = recent_scratch;
    next.clear();
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < recent_active.size() || j < spikes.size()) {
        std::uint32_t k;
        if (j == spikes.size() || (i < recent_active.size() && recent_active[i] < spikes[j])) {
            k = recent_active[i++];
        } else {
            k = spikes[j++];
            if (i < recent_active.size() && recent_active[i] == k)
                ++i;
        }
        recent[k] = recent[k] << 1 | spiked[k];
        if (recent[k] != 0)
            next.push_back(k);
    }
    recent_active.swap(next);
}

// Every rank's spikes, and the spike flags and shared traces of the
// neurons other ranks hold (plasticity here needs their pre traces).
void SimEngine::Impl::share_spikes(float dt_ms) {
    exchange->all_spikes(local_spikes, spikes);
    for (std::uint32_t n : remote_spiked)
        spiked[n] = 0;
    remote_spiked.clear();
    for (std::uint32_t n : spikes) {
        if (!holds(n)) {
            spiked[n] = 1;
            remote_spiked.push_back(n);
        }
    }
    traces.advance(0, mine_begin, dt_ms, spiked.data());
    traces.advance(mine_end, static_cast<std::uint32_t>(neurons.size()), dt_ms, spiked.data());
}

JsonValue SimEngine::Impl::synapse_params(std::uint32_t slot) const {
    const SynapseData d = synapses.get(slot);
    const Uuid& id = synapses.id(slot);
    const Uuid& pre = neurons.id(d.pre);
    const Uuid& post = neurons.id(d.post);
    const SynapseParams& p = synapses.params();
    switch (word::kind(d.word)) {
        case SynapseKind::Stdp: {
            StdpSynapse s(id, pre, post, 0.0f);
            const StdpParams& q = p.stdp[word::index(d.word)];
            s.set_state(d.weight, q.w_min, q.w_max, q.g_syn, q.a_plus, q.a_minus);
            s.tau_plus = (d.word & word::kPrePrivate) ? d.pre_trace.tau : SharedTraces::kTau;
            s.pre_trace = (d.word & word::kPrePrivate) ? d.pre_trace.value : traces.value(d.pre);
            s.tau_minus = (d.word & word::kPostPrivate) ? d.post_trace.tau : SharedTraces::kTau;
            s.post_trace =
                (d.word & word::kPostPrivate) ? d.post_trace.value : traces.value(d.post);
            return s.params();
        }
        case SynapseKind::Static:
            return StaticSynapse(id, pre, post, d.weight, p.statics[word::index(d.word)].g_syn)
                .params();
        case SynapseKind::Plastic:
            break;
    }
    PlasticState state = d.plastic_state;
    state.weight = d.weight;
    return PlasticSynapse(id, pre, post, p.plastic[d.plastic_config], state).params();
}

std::expected<JsonValue, ParamError> SimEngine::Impl::set_synapse_param(std::uint32_t slot,
                                                                        std::string_view key,
                                                                        const JsonValue& value) {
    SynapseData d = synapses.get(slot);
    const Uuid& id = synapses.id(slot);
    const Uuid& pre = neurons.id(d.pre);
    const Uuid& post = neurons.id(d.post);
    SynapseParams& p = synapses.params();
    std::expected<JsonValue, ParamError> result;
    switch (word::kind(d.word)) {
        case SynapseKind::Stdp: {
            StdpSynapse s(id, pre, post, 0.0f);
            const std::uint32_t old_index = word::index(d.word);
            const StdpParams q = p.stdp[old_index];
            s.set_state(d.weight, q.w_min, q.w_max, q.g_syn, q.a_plus, q.a_minus);
            const bool pre_private = d.word & word::kPrePrivate;
            const bool post_private = d.word & word::kPostPrivate;
            s.tau_plus = pre_private ? d.pre_trace.tau : SharedTraces::kTau;
            s.pre_trace = pre_private ? d.pre_trace.value : traces.value(d.pre);
            s.tau_minus = post_private ? d.post_trace.tau : SharedTraces::kTau;
            s.post_trace = post_private ? d.post_trace.value : traces.value(d.post);
            result = s.set_param(key, value);
            if (!result)
                return result;
            std::uint32_t w = d.word;
            const StdpParams now{s.w_min, s.w_max, s.g_syn, s.a_plus, s.a_minus};
            if (std::memcmp(&now, &q, sizeof now) != 0) {
                const std::uint32_t next = p.stdp.acquire(now);
                p.stdp.release(old_index);
                w = word::make(SynapseKind::Stdp, next) | (w & word::kPrivateMask);
            }
            // A trace leaves its shared slot only when its value or tau changed.
            if (pre_private) {
                d.pre_trace.tau = s.tau_plus;
                d.pre_trace.value = s.pre_trace;
            } else if (!same_bits(s.tau_plus, SharedTraces::kTau) ||
                       !same_bits(s.pre_trace, traces.value(d.pre))) {
                w |= word::kPrePrivate;
                d.pre_trace = {d.pre, s.tau_plus, s.pre_trace, s.pre_trace};
            }
            if (post_private) {
                d.post_trace.tau = s.tau_minus;
                d.post_trace.value = s.post_trace;
            } else if (!same_bits(s.tau_minus, SharedTraces::kTau) ||
                       !same_bits(s.post_trace, traces.value(d.post))) {
                w |= word::kPostPrivate;
                d.post_trace = {d.post, s.tau_minus, s.post_trace, s.post_trace};
            }
            d.word = w;
            d.weight = s.weight();
            break;
        }
        case SynapseKind::Static: {
            const std::uint32_t old_index = word::index(d.word);
            StaticSynapse s(id, pre, post, d.weight, p.statics[old_index].g_syn);
            result = s.set_param(key, value);
            if (!result)
                return result;
            if (!same_bits(s.g_syn, p.statics[old_index].g_syn)) {
                const std::uint32_t next = p.statics.acquire({s.g_syn});
                p.statics.release(old_index);
                d.word = word::make(SynapseKind::Static, next);
            }
            d.weight = s.weight();
            break;
        }
        case SynapseKind::Plastic: {
            PlasticState state = d.plastic_state;
            state.weight = d.weight;
            PlasticSynapse s(id, pre, post, p.plastic[d.plastic_config], state);
            result = s.set_param(key, value);
            if (!result)
                return result;
            if (std::memcmp(&s.config(), &p.plastic[d.plastic_config],
                            sizeof(PlasticSynapseConfig)) != 0) {
                const std::uint32_t next = p.plastic.acquire(s.config());
                p.plastic.release(d.plastic_config);
                d.plastic_config = next;
            }
            d.plastic_state = s.state();
            d.weight = s.weight();
            break;
        }
    }
    synapses.put(slot, d);
    // A new weight or gain changes what the next tick delivers.
    pending_valid = false;
    words_dirty = true;
    return result;
}

// ---- public interface ------------------------------------------------------

SimEngine::SimEngine() : impl_(std::make_unique<Impl>()) {}
SimEngine::~SimEngine() = default;
SimEngine::SimEngine(SimEngine&&) noexcept = default;
SimEngine& SimEngine::operator=(SimEngine&&) noexcept = default;

void SimEngine::add_neuron(const Uuid& id, const NeuronConfig& config) {
    impl_->add_neuron(id, config);
}

std::expected<std::vector<Uuid>, EngineError> SimEngine::add_neurons(std::size_t count,
                                                                     const NeuronConfig& config) {
    Impl& m = *impl_;
    auto minted = m.mint_ids(count);
    if (!minted)
        return std::unexpected(minted.error());
    std::vector<Uuid>& ids = *minted;
    m.reserve_neurons(count, config);
    for (const Uuid& id : ids)
        m.neurons.add(id, config);
    m.sync_neurons();
    return ids;
}

void SimEngine::add_edge(const Uuid& edge_id, const Uuid& pre, const Uuid& post,
                         const SynapseConfig& config, float weight, float delay_ms) {
    if (pre == post)
        return;
    Impl& m = *impl_;
    auto pre_index = m.neurons.find(pre);
    auto post_index = m.neurons.find(post);
    if (pre_index && post_index) {
        // Another rank may hold the pair's synapse: ask them all.
        std::vector<std::uint8_t> held{
            static_cast<std::uint8_t>(m.synapses.committed_has(*pre_index, *post_index))};
        if (m.exchange)
            m.exchange->any(held);
        if (held[0] || m.synapses.tail_has_pair(*pre_index, *post_index))
            return;
    }
    // Room first, so that running out of memory changes nothing.
    m.reserve_neurons(2, LifConfig{});
    m.synapses.reserve(1);
    pre_index = m.neurons.add(pre, LifConfig{});
    post_index = m.neurons.add(post, LifConfig{});
    m.sync_neurons();
    const SynapseData d =
        m.synapses.make_data(*pre_index, *post_index, config, weight, delay_ms, m.traces);
    m.synapses.try_append(edge_id, d);
    // The new synapse delivers on the next tick if its pre spiked on the last.
    m.pending_valid = false;
}

void SimEngine::stimulate(const Uuid& id, float current, float duration_ms) {
    if (auto index = impl_->neurons.find(id))
        impl_->stimulations.set(*index, current, duration_ms);
}

std::vector<SpikeEvent> SimEngine::tick(float dt_ms) {
    std::vector<SpikeEvent> out;
    tick_into(dt_ms, out);
    return out;
}

void SimEngine::tick_into(float dt_ms, std::vector<SpikeEvent>& out) {
    impl_->tick(dt_ms);
    for (std::uint32_t n : impl_->spikes)
        out.push_back({impl_->neurons.id(n), impl_->t_ms, n});
}

void SimEngine::step(float dt_ms) {
    impl_->tick(dt_ms);
}

const std::vector<std::uint32_t>& SimEngine::last_spikes() const {
    return impl_->spikes;
}

void SimEngine::set_threads(std::size_t threads) {
    threads = std::clamp<std::size_t>(threads, 1, 1024);
    if (threads == impl_->n_threads)
        return;
    if (impl_->pool && impl_->pool->owner() != getpid())
        (void)impl_->pool.release();  // a forked child cannot join its parent's workers
    impl_->pool.reset();
    impl_->n_threads = threads;
    impl_->synapses.invalidate();
}

void SimEngine::set_exchange(std::shared_ptr<Exchange> exchange) {
    impl_->exchange = std::move(exchange);
    impl_->synapses.invalidate();
}

int SimEngine::rank() const {
    return impl_->exchange ? impl_->exchange->rank() : 0;
}

int SimEngine::ranks() const {
    return impl_->exchange ? impl_->exchange->size() : 1;
}

bool SimEngine::holds_node(std::uint32_t index) const {
    if (!impl_->exchange)
        return true;
    impl_->ensure_layout();
    return impl_->holds(index);
}

bool SimEngine::holds_synapse(std::size_t slot) const {
    if (!impl_->exchange)
        return true;
    impl_->ensure_layout();
    return impl_->synapses.is_local(static_cast<std::uint32_t>(slot));
}

std::size_t SimEngine::node_rank(std::uint32_t index) const {
    if (!impl_->exchange)
        return 0;
    impl_->ensure_layout();
    return impl_->synapses.rank_of(index);
}

std::optional<std::size_t> SimEngine::synapse_slot(const Uuid& edge_id) const {
    return impl_->synapses.find(edge_id);
}

std::vector<std::string> SimEngine::gather(const std::string& mine) {
    if (!impl_->exchange)
        return {mine};
    return impl_->exchange->gather(mine);
}

void SimEngine::broadcast(std::string& bytes) {
    if (impl_->exchange)
        impl_->exchange->broadcast(bytes);
}

std::optional<std::vector<float>> SimEngine::gather_weights() {
    Impl& m = *impl_;
    m.ensure_layout();
    std::vector<float> all = weights();
    if (!m.exchange)
        return all;
    // Each rank sends its synapses' slots and weights.
    std::string mine;
    for (std::uint32_t s = 0; s < all.size(); ++s) {
        if (m.synapses.is_local(s)) {
            mine.append(reinterpret_cast<const char*>(&s), sizeof s);
            mine.append(reinterpret_cast<const char*>(&all[s]), sizeof(float));
        }
    }
    std::vector<std::string> parts = m.exchange->gather(mine);
    if (m.exchange->rank() != 0)
        return std::nullopt;
    for (const std::string& part : parts) {
        for (std::size_t at = 0; at + 8 <= part.size(); at += 8) {
            std::uint32_t s;
            std::memcpy(&s, part.data() + at, 4);
            std::memcpy(&all[s], part.data() + at + 4, 4);
        }
    }
    return all;
}

std::expected<std::vector<Uuid>, EngineError> SimEngine::mint_ids(std::size_t count) {
    return impl_->mint_ids(count);
}

void SimEngine::set_min_parallel_work(double work) {
    impl_->min_parallel_work = work;
}

std::size_t SimEngine::threads() const {
    return impl_->n_threads;
}

double SimEngine::t_ms() const {
    return impl_->t_ms;
}

std::uint64_t SimEngine::ticks_done() const {
    return impl_->ticks;
}

std::size_t SimEngine::n_neurons() const {
    return impl_->neurons.size();
}

std::size_t SimEngine::n_synapses() const {
    return impl_->synapses.size();
}

std::vector<Uuid> SimEngine::node_ids() const {
    return impl_->neurons.ids();
}

const Uuid& SimEngine::node_id(std::uint32_t index) const {
    return impl_->neurons.id(index);
}

std::optional<std::uint32_t> SimEngine::node_index(const Uuid& id) const {
    return impl_->neurons.find(id);
}

Uuid SimEngine::synapse_id(std::size_t i) const {
    return impl_->synapses.id(static_cast<std::uint32_t>(i));
}

float SimEngine::synapse_weight(std::size_t i) const {
    return impl_->synapses.weight(static_cast<std::uint32_t>(i));
}

const char* SimEngine::synapse_kind(std::size_t i) const {
    if (!holds_synapse(i))
        return "";
    switch (word::kind(impl_->synapses.get(static_cast<std::uint32_t>(i)).word)) {
        case SynapseKind::Stdp:
            return StdpSynapse::kKind;
        case SynapseKind::Static:
            return StaticSynapse::kKind;
        case SynapseKind::Plastic:
            break;
    }
    return "plastic-synapse";
}

std::vector<float> SimEngine::weights() const {
    std::vector<float> out(impl_->synapses.size());
    impl_->synapses.weights(out.data());
    return out;
}

std::vector<float> SimEngine::delays() const {
    std::vector<float> out(impl_->synapses.size());
    impl_->synapses.delays(out.data());
    return out;
}

void SimEngine::synapse_endpoints(std::vector<std::uint32_t>& pre,
                                  std::vector<std::uint32_t>& post) const {
    pre.resize(impl_->synapses.size());
    post.resize(impl_->synapses.size());
    impl_->synapses.endpoints(pre.data(), post.data());
}

std::optional<JsonValue> SimEngine::node_params(const Uuid& id) const {
    auto index = impl_->neurons.find(id);
    if (!index)
        return std::nullopt;
    return impl_->neurons.model(*index).params();
}

std::optional<JsonValue> SimEngine::synapse_params(const Uuid& edge_id) const {
    auto slot = impl_->synapses.find(edge_id);
    if (!slot || !holds_synapse(*slot))
        return std::nullopt;
    return impl_->synapse_params(*slot);
}

std::expected<JsonValue, ParamError> SimEngine::set_node_param(const Uuid& id, std::string_view key,
                                                               const JsonValue& value) {
    auto index = impl_->neurons.find(id);
    if (!index)
        return std::unexpected(ParamError::unknown("node " + id.to_string() + " (not in engine)"));
    return impl_->neurons.model(*index).set_param(key, value);
}

std::expected<JsonValue, ParamError> SimEngine::set_synapse_param(const Uuid& edge_id,
                                                                  std::string_view key,
                                                                  const JsonValue& value) {
    auto slot = impl_->synapses.find(edge_id);
    if (!slot) {
        return std::unexpected(
            ParamError::unknown("synapse " + edge_id.to_string() + " (not in engine)"));
    }
    // Another rank holds it: the write takes effect there.
    if (!holds_synapse(*slot))
        return JsonValue::null();
    return impl_->set_synapse_param(*slot, key, value);
}

std::vector<std::pair<Uuid, JsonValue>> SimEngine::all_node_params() const {
    std::vector<std::pair<Uuid, JsonValue>> out;
    out.reserve(impl_->neurons.size());
    for (std::uint32_t n = 0; n < impl_->neurons.size(); ++n) {
        if (holds_node(n))
            out.emplace_back(impl_->neurons.id(n), impl_->neurons.model(n).params());
    }
    return out;
}

std::vector<std::pair<Uuid, JsonValue>> SimEngine::all_synapse_params() const {
    std::vector<std::pair<Uuid, JsonValue>> out;
    out.reserve(impl_->synapses.size());
    for (std::uint32_t s = 0; s < impl_->synapses.size(); ++s) {
        if (holds_synapse(s))
            out.emplace_back(impl_->synapses.id(s), impl_->synapse_params(s));
    }
    return out;
}

void SimEngine::set_base_level(std::size_t channel, float level) {
    impl_->modulators.set_base_level(channel, level);
}

void SimEngine::add_modulator_pulse(const ModulatorPulse& pulse) {
    impl_->modulators.add_pulse(pulse);
}

std::array<float, 4> SimEngine::modulator_levels() const {
    return impl_->modulators.levels();
}

}  // namespace vorn
