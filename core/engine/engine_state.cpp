// SimEngine checkpoints: the whole engine as a state document and back.
// Sections (creation order for synapses, index order for neurons):
//   neuron_id (uuid), neuron_kind (u8: 0 lif, 1 hh, 2 izhikevich, 3 adex),
//   neuron_state (f32: each neuron's model floats back to back),
//   trace_value, trace_decayed (f32 per neuron: the shared STDP traces),
//   synapse_id (uuid), synapse_pre, synapse_post (u32 neuron indices),
//   synapse_kind (u8: 0 stdp, 1 plastic-synapse, 2 static),
//   synapse_param (u32: index into the kind's parameter table),
//   synapse_private (u8: bit 0 pre trace, bit 1 post trace private),
//   synapse_weight, synapse_delay (f32),
//   stdp_params (f32 x 5: w_min, w_max, g_syn, a_plus, a_minus),
//   static_params (f32: g_syn), plastic_params (f32 x 16, config order),
//   plastic_state (f32 x 5 per plastic synapse: pre_trace, post_trace,
//   eligibility_trace, tag, observed_post_rate_hz),
//   private_trace (f32 x 3 per private trace, pre before post: tau, value,
//   decayed),
//   stim_neuron (u32), stim_current, stim_remaining (f32),
//   modulator_base, modulator_level (f32 x 4), pulse_amount, pulse_tau (f32),
//   pulse_channel (u8),
//   noise_rate (f64), noise_weight (f32), noise_seed (u64), noise_count (u64),
//   noise_target (u32),
//   history_tick (u64), history_dt (f32), history_count (u64),
//   history_spike (u32): the spikes of the recent ticks still in flight.
//   clock (f64: t_ms).
// The "simulation" header holds ticks, neurons and synapses.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "core/engine/plastic_synapse.hpp"
#include "core/engine/sim_engine_impl.hpp"
#include "core/format/state_document.hpp"
#include "core/models/hh_neuron.hpp"

namespace vorn {
namespace {

constexpr std::size_t kStdpFloats = 5;
constexpr std::size_t kPlasticFloats = 16;
constexpr std::size_t kPlasticStateFloats = 5;
constexpr std::size_t kTraceFloats = 3;

// Neuron kinds in NeuronPools order, with a config that builds each (the
// checkpoint's floats then replace parameters and state alike).
NeuronConfig placeholder_config(std::uint8_t kind) {
    switch (kind) {
        case 1:
            return HhConfig{
                1.0f, 120.0f,           36.0f, 0.3f, 50.0f, -77.0f, -54.4f, -65.0f, 0.0f,
                2.0f, Integrator::Euler};
        case 2:
            return IzhikevichConfig{0.02f, 0.2f, -65.0f, 8.0f, 30.0f};
        case 3:
            return AdExConfig{20.0f, 1.0f, -70.0f, -50.0f, 2.0f, 0.0f, -58.0f, 100.0f, 0.1f, 2.0f};
        default:
            return LifConfig{};
    }
}

// A parameter table of the document: the distinct parameter sets in use,
// by value, in order of first use.
class ValueTable {
  public:
    explicit ValueTable(std::size_t width) : width_(width) {}
    std::uint32_t index(const float* values) {
        // Neighbouring synapses nearly always share their set.
        if (!flat_.empty() && std::memcmp(values, last_.data(), width_ * sizeof(float)) == 0)
            return last_index_;
        last_.assign(values, values + width_);
        std::string key(reinterpret_cast<const char*>(values), width_ * sizeof(float));
        auto [it, fresh] = index_.try_emplace(std::move(key), static_cast<std::uint32_t>(size()));
        if (fresh)
            flat_.insert(flat_.end(), values, values + width_);
        last_index_ = it->second;
        return it->second;
    }
    std::size_t size() const { return flat_.size() / width_; }
    const std::vector<float>& flat() const { return flat_; }

    // Puts the sets in the order of their bytes, so that the document does
    // not depend on the order synapses were met in; returns the new index
    // of each old one.
    std::vector<std::uint32_t> sort() {
        std::vector<std::uint32_t> order(size());
        for (std::uint32_t i = 0; i < order.size(); ++i)
            order[i] = i;
        auto bytes = [&](std::uint32_t i) {
            return std::string_view(reinterpret_cast<const char*>(flat_.data() + i * width_),
                                    width_ * sizeof(float));
        };
        std::sort(order.begin(), order.end(),
                  [&](std::uint32_t a, std::uint32_t b) { return bytes(a) < bytes(b); });
        std::vector<float> sorted;
        std::vector<std::uint32_t> remap(order.size());
        for (std::uint32_t k = 0; k < order.size(); ++k) {
            remap[order[k]] = k;
            sorted.insert(sorted.end(), flat_.begin() + order[k] * width_,
                          flat_.begin() + (order[k] + 1) * width_);
        }
        flat_.swap(sorted);
        return remap;
    }

  private:
    std::size_t width_;
    std::unordered_map<std::string, std::uint32_t> index_;
    std::vector<float> flat_;
    std::vector<float> last_;
    std::uint32_t last_index_ = 0;
};

// One synapse by value, as a rank sends it to rank 0 for a checkpoint.
struct SynapseRow {
    std::uint32_t slot;
    std::uint32_t pre;
    std::uint32_t post;
    std::uint8_t kind;
    std::uint8_t priv;
    float weight;
    float delay;
    float params[kPlasticFloats];  // stdp: 5, static: 1, plastic: 16
    float plastic[kPlasticStateFloats];
    float pre_trace[kTraceFloats];
    float post_trace[kTraceFloats];
};

SynapseRow row_of(std::uint32_t slot, const SynapseData& d, const SynapseParams& p) {
    SynapseRow r{};
    r.slot = slot;
    r.pre = d.pre;
    r.post = d.post;
    r.kind = static_cast<std::uint8_t>(word::kind(d.word));
    r.priv = ((d.word & word::kPrePrivate) ? 1 : 0) | ((d.word & word::kPostPrivate) ? 2 : 0);
    r.weight = d.weight;
    r.delay = d.delay;
    switch (word::kind(d.word)) {
        case SynapseKind::Stdp: {
            const StdpParams& q = p.stdp[word::index(d.word)];
            const float v[] = {q.w_min, q.w_max, q.g_syn, q.a_plus, q.a_minus};
            std::memcpy(r.params, v, sizeof v);
            break;
        }
        case SynapseKind::Static:
            r.params[0] = p.statics[word::index(d.word)].g_syn;
            break;
        case SynapseKind::Plastic: {
            std::memcpy(r.params, &p.plastic[d.plastic_config], sizeof(PlasticSynapseConfig));
            const PlasticState& st = d.plastic_state;
            const float v[] = {st.pre_trace, st.post_trace, st.eligibility_trace, st.tag,
                               st.observed_post_rate_hz};
            std::memcpy(r.plastic, v, sizeof v);
            break;
        }
    }
    const float pre_t[] = {d.pre_trace.tau, d.pre_trace.value, d.pre_trace.decayed};
    const float post_t[] = {d.post_trace.tau, d.post_trace.value, d.post_trace.decayed};
    std::memcpy(r.pre_trace, pre_t, sizeof pre_t);
    std::memcpy(r.post_trace, post_t, sizeof post_t);
    return r;
}

std::expected<std::uint64_t, StateError> count(const JsonObject& o, std::string_view key) {
    const JsonValue* v = o.find(key);
    if (v == nullptr || v->kind() != JsonValue::Kind::UInt)
        return std::unexpected(state_content_error("missing field `" + std::string(key) + "`"));
    return v->as_u64();
}

#define VORN_TRY(var, expr)                           \
    auto var##_result = (expr);                       \
    if (!var##_result)                                \
        return std::unexpected(var##_result.error()); \
    auto var = std::move(*var##_result)

}  // namespace

std::expected<std::string, StateError> SimEngine::save_state() const {
    impl_->ensure_layout();  // which rank holds what
    const Impl& m = *impl_;
    const std::uint32_t n = static_cast<std::uint32_t>(m.neurons.size());
    const std::size_t s_count = m.synapses.size();
    const SynapseParams& p = m.synapses.params();

    // What this rank holds: its neurons' floats and its synapses by value.
    // Alone, that is everything; in a distributed run rank 0 gathers the
    // others' and writes the document (the others return an empty one).
    std::string local_neurons;
    std::vector<SynapseRow> local_rows;
    for (std::uint32_t i = 0; i < n; ++i) {
        if (!m.holds(i))
            continue;
        const NeuronModel& model = m.neurons.model(i);
        std::vector<float> f(model.state_size());
        model.save(f.data());
        local_neurons.append(reinterpret_cast<const char*>(&i), sizeof i);
        local_neurons.append(reinterpret_cast<const char*>(f.data()), f.size() * sizeof(float));
    }
    if (m.exchange) {
        m.synapses.visit_all([&](std::uint32_t slot, const SynapseData& d) {
            local_rows.push_back(row_of(slot, d, p));
        });
    }
    std::vector<std::string> neuron_parts{local_neurons};
    std::vector<std::string> synapse_parts;
    if (m.exchange) {
        neuron_parts = m.exchange->gather(local_neurons);
        synapse_parts = m.exchange->gather(std::string(
            reinterpret_cast<const char*>(local_rows.data()), local_rows.size() * sizeof(SynapseRow)));
        if (m.exchange->rank() != 0)
            return std::string();
    }

    StateWriter w;
    JsonObject& sim = w.simulation();
    sim.insert_or_assign("ticks", JsonValue::unsigned_int(m.ticks));
    const double clock[] = {m.t_ms};
    w.add("clock", std::span<const double>(clock));
    sim.insert_or_assign("neurons", JsonValue::unsigned_int(n));
    sim.insert_or_assign("synapses", JsonValue::unsigned_int(s_count));

    // Neurons: every neuron's floats, from the rank that holds it.
    std::vector<std::size_t> offset(n + 1, 0);
    for (std::uint32_t i = 0; i < n; ++i)
        offset[i + 1] = offset[i] + m.neurons.model(i).state_size();
    std::vector<float> states(offset[n]);
    for (const std::string& part : neuron_parts) {
        for (std::size_t at = 0; at < part.size();) {
            std::uint32_t i;
            std::memcpy(&i, part.data() + at, sizeof i);
            const std::size_t bytes = (offset[i + 1] - offset[i]) * sizeof(float);
            std::memcpy(states.data() + offset[i], part.data() + at + sizeof i, bytes);
            at += sizeof i + bytes;
        }
    }
    std::vector<std::uint8_t> kinds(n);
    std::vector<float> trace_value(n);
    std::vector<float> trace_decayed(n);
    for (std::uint32_t i = 0; i < n; ++i) {
        kinds[i] = m.neurons.kind(i);
        trace_value[i] = m.traces.value(i);
        trace_decayed[i] = m.traces.decayed(i);
    }
    w.add("neuron_id", std::span<const Uuid>(m.neurons.ids()));
    w.add("neuron_kind", std::span<const std::uint8_t>(kinds));
    w.add("neuron_state", std::span<const float>(states));
    w.add("trace_value", std::span<const float>(trace_value));
    w.add("trace_decayed", std::span<const float>(trace_decayed));

    // Synapses by slot; parameter sets in tables by value.
    std::vector<Uuid> ids(s_count);
    std::vector<std::uint32_t> pre(s_count), post(s_count), param(s_count);
    std::vector<std::uint8_t> kind(s_count), priv(s_count);
    std::vector<float> weight(s_count), delay(s_count);
    ValueTable stdp(kStdpFloats);
    ValueTable statics(1);
    ValueTable plastic(kPlasticFloats);
    // Plastic state and private traces, by slot, for writing in slot order.
    std::vector<std::pair<std::uint32_t, std::array<float, kPlasticStateFloats + 2 * kTraceFloats>>>
        extras;
    auto fill = [&](const SynapseRow& r) {
        const std::uint32_t slot = r.slot;
        ids[slot] = m.synapses.id(slot);
        pre[slot] = r.pre;
        post[slot] = r.post;
        kind[slot] = r.kind;
        priv[slot] = r.priv;
        weight[slot] = r.weight;
        delay[slot] = r.delay;
        switch (static_cast<SynapseKind>(r.kind)) {
            case SynapseKind::Stdp:
                param[slot] = stdp.index(r.params);
                break;
            case SynapseKind::Static:
                param[slot] = statics.index(r.params);
                break;
            case SynapseKind::Plastic:
                param[slot] = plastic.index(r.params);
                break;
        }
        if (r.kind == static_cast<std::uint8_t>(SynapseKind::Plastic) || r.priv != 0) {
            std::array<float, kPlasticStateFloats + 2 * kTraceFloats> e;
            std::memcpy(e.data(), r.plastic, sizeof r.plastic);
            std::memcpy(e.data() + kPlasticStateFloats, r.pre_trace, sizeof r.pre_trace);
            std::memcpy(e.data() + kPlasticStateFloats + kTraceFloats, r.post_trace,
                        sizeof r.post_trace);
            extras.push_back({slot, e});
        }
    };
    if (m.exchange) {
        for (const std::string& part : synapse_parts) {
            for (std::size_t at = 0; at + sizeof(SynapseRow) <= part.size(); at += sizeof(SynapseRow)) {
                SynapseRow r;
                std::memcpy(&r, part.data() + at, sizeof r);
                fill(r);
            }
        }
    } else {
        m.synapses.visit_all(
            [&](std::uint32_t slot, const SynapseData& d) { fill(row_of(slot, d, p)); });
    }
    std::sort(extras.begin(), extras.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    {
        const std::vector<std::uint32_t> stdp_to = stdp.sort();
        const std::vector<std::uint32_t> statics_to = statics.sort();
        const std::vector<std::uint32_t> plastic_to = plastic.sort();
        for (std::size_t slot = 0; slot < s_count; ++slot) {
            switch (static_cast<SynapseKind>(kind[slot])) {
                case SynapseKind::Stdp:
                    param[slot] = stdp_to[param[slot]];
                    break;
                case SynapseKind::Static:
                    param[slot] = statics_to[param[slot]];
                    break;
                case SynapseKind::Plastic:
                    param[slot] = plastic_to[param[slot]];
                    break;
            }
        }
    }
    std::vector<float> plastic_state;
    std::vector<float> private_trace;
    for (const auto& [slot, e] : extras) {
        if (kind[slot] == static_cast<std::uint8_t>(SynapseKind::Plastic))
            plastic_state.insert(plastic_state.end(), e.begin(), e.begin() + kPlasticStateFloats);
        if (priv[slot] & 1)
            private_trace.insert(private_trace.end(), e.begin() + kPlasticStateFloats,
                                 e.begin() + kPlasticStateFloats + kTraceFloats);
        if (priv[slot] & 2)
            private_trace.insert(private_trace.end(), e.begin() + kPlasticStateFloats + kTraceFloats,
                                 e.end());
    }
    w.add("synapse_id", std::span<const Uuid>(ids));
    w.add("synapse_pre", std::span<const std::uint32_t>(pre));
    w.add("synapse_post", std::span<const std::uint32_t>(post));
    w.add("synapse_kind", std::span<const std::uint8_t>(kind));
    w.add("synapse_param", std::span<const std::uint32_t>(param));
    w.add("synapse_private", std::span<const std::uint8_t>(priv));
    w.add("synapse_weight", std::span<const float>(weight));
    w.add("synapse_delay", std::span<const float>(delay));
    w.add("stdp_params", std::span<const float>(stdp.flat()));
    w.add("static_params", std::span<const float>(statics.flat()));
    w.add("plastic_params", std::span<const float>(plastic.flat()));
    w.add("plastic_state", std::span<const float>(plastic_state));
    w.add("private_trace", std::span<const float>(private_trace));

    std::vector<std::uint32_t> stim_neuron;
    std::vector<float> stim_current, stim_remaining;
    for (const Stimulations::Entry& e : m.stimulations.entries()) {
        stim_neuron.push_back(e.neuron);
        stim_current.push_back(e.current);
        stim_remaining.push_back(e.remaining_ms);
    }
    w.add("stim_neuron", std::span<const std::uint32_t>(stim_neuron));
    w.add("stim_current", std::span<const float>(stim_current));
    w.add("stim_remaining", std::span<const float>(stim_remaining));

    std::vector<float> pulse_amount, pulse_tau;
    std::vector<std::uint8_t> pulse_channel;
    for (const ModulatorPulse& pulse : m.modulators.pulses()) {
        pulse_amount.push_back(pulse.amount);
        pulse_tau.push_back(pulse.tau_ms);
        pulse_channel.push_back(pulse.channel);
    }
    w.add("modulator_base", std::span<const float>(m.modulators.base_levels()));
    w.add("modulator_level", std::span<const float>(m.modulators.levels()));
    w.add("pulse_amount", std::span<const float>(pulse_amount));
    w.add("pulse_tau", std::span<const float>(pulse_tau));
    w.add("pulse_channel", std::span<const std::uint8_t>(pulse_channel));

    std::vector<double> noise_rate;
    std::vector<float> noise_weight;
    std::vector<std::uint64_t> noise_seed, noise_count;
    std::vector<std::uint32_t> noise_target;
    for (const PoissonInput& in : m.poisson.inputs()) {
        noise_rate.push_back(in.rate_hz);
        noise_weight.push_back(in.weight);
        noise_seed.push_back(in.seed);
        noise_count.push_back(in.targets.size());
        noise_target.insert(noise_target.end(), in.targets.begin(), in.targets.end());
    }
    w.add("noise_rate", std::span<const double>(noise_rate));
    w.add("noise_weight", std::span<const float>(noise_weight));
    w.add("noise_seed", std::span<const std::uint64_t>(noise_seed));
    w.add("noise_count", std::span<const std::uint64_t>(noise_count));
    w.add("noise_target", std::span<const std::uint32_t>(noise_target));

    std::vector<std::uint64_t> history_tick, history_count;
    std::vector<float> history_dt;
    std::vector<std::uint32_t> history_spike;
    for (const TickSpikes& t : m.history.ticks()) {
        history_tick.push_back(t.tick);
        history_dt.push_back(t.dt_ms);
        history_count.push_back(t.spikes.size());
        history_spike.insert(history_spike.end(), t.spikes.begin(), t.spikes.end());
    }
    w.add("history_tick", std::span<const std::uint64_t>(history_tick));
    w.add("history_dt", std::span<const float>(history_dt));
    w.add("history_count", std::span<const std::uint64_t>(history_count));
    w.add("history_spike", std::span<const std::uint32_t>(history_spike));
    return w.finish();
}

std::expected<SimEngine, StateError> SimEngine::load_state(std::string_view bytes) {
    VORN_TRY(r, StateReader::open(bytes));
    const JsonObject& sim = r.simulation();
    VORN_TRY(clock, r.f64("clock", 1));
    const double t_ms = clock[0];
    VORN_TRY(ticks, count(sim, "ticks"));
    VORN_TRY(n64, count(sim, "neurons"));
    VORN_TRY(s64, count(sim, "synapses"));
    if (n64 >= 0xfffffff0u || s64 >= 0xfffffff0u)
        return std::unexpected(state_content_error("too many neurons or synapses"));
    const auto n = static_cast<std::int64_t>(n64);
    const auto s_count = static_cast<std::int64_t>(s64);
    auto bad = [](const std::string& what) { return std::unexpected(state_content_error(what)); };

    SimEngine engine;
    Impl& m = *engine.impl_;
    VORN_TRY(neuron_id, r.uuids("neuron_id", n));
    VORN_TRY(neuron_kind, r.u8("neuron_kind", n));
    VORN_TRY(neuron_state, r.f32("neuron_state"));
    std::size_t at = 0;
    for (std::int64_t i = 0; i < n; ++i) {
        if (neuron_kind[i] > 3)
            return bad("neuron_kind " + std::to_string(neuron_kind[i]) + " at " +
                       std::to_string(i) + " is not a neuron kind");
        const NeuronConfig placeholder = placeholder_config(neuron_kind[i]);
        if (!m.add_neuron(neuron_id[i], placeholder) || m.neurons.size() != std::size_t(i + 1))
            return bad("neuron_id repeats " + neuron_id[i].to_string());
        NeuronModel& model = m.neurons.model(static_cast<std::uint32_t>(i));
        if (at + model.state_size() > neuron_state.size())
            return bad("neuron_state is too short");
        model.load(neuron_state.data() + at);
        at += model.state_size();
        if (neuron_kind[i] == 1) {
            const auto& hh = static_cast<const HhNeuron&>(model);
            if (auto ok = validate_hh_config(hh.config()); !ok)
                return bad("neuron " + neuron_id[i].to_string() + ": " + ok.error().message());
        }
    }
    if (at != neuron_state.size())
        return bad("neuron_state is too long");
    VORN_TRY(trace_value, r.f32("trace_value", n));
    VORN_TRY(trace_decayed, r.f32("trace_decayed", n));
    for (std::int64_t i = 0; i < n; ++i)
        m.traces.set(static_cast<std::uint32_t>(i), trace_value[i], trace_decayed[i]);

    VORN_TRY(ids, r.uuids("synapse_id", s_count));
    VORN_TRY(pre, r.u32("synapse_pre", s_count));
    VORN_TRY(post, r.u32("synapse_post", s_count));
    VORN_TRY(kind, r.u8("synapse_kind", s_count));
    VORN_TRY(param, r.u32("synapse_param", s_count));
    VORN_TRY(priv, r.u8("synapse_private", s_count));
    VORN_TRY(weight, r.f32("synapse_weight", s_count));
    VORN_TRY(delay, r.f32("synapse_delay", s_count));
    VORN_TRY(stdp_params, r.f32("stdp_params"));
    VORN_TRY(static_params, r.f32("static_params"));
    VORN_TRY(plastic_params, r.f32("plastic_params"));
    VORN_TRY(plastic_state, r.f32("plastic_state"));
    VORN_TRY(private_trace, r.f32("private_trace"));
    if (stdp_params.size() % kStdpFloats != 0 || plastic_params.size() % kPlasticFloats != 0)
        return bad("a parameter table has a partial entry");
    SynapseParams& p = m.synapses.params();
    std::size_t next_plastic = 0;
    std::size_t next_trace = 0;
    m.synapses.reserve(static_cast<std::size_t>(s_count));
    for (std::int64_t s = 0; s < s_count; ++s) {
        const std::string where = " of synapse " + ids[s].to_string();
        if (pre[s] >= n || post[s] >= n || pre[s] == post[s])
            return bad("endpoints" + where + " are not two neurons of the network");
        if (!std::isfinite(delay[s]) || delay[s] < 0.0f)
            return bad("delay" + where + " is not finite and >= 0");
        if (!std::isfinite(weight[s]))
            return bad("weight" + where + " is not finite");
        SynapseData d;
        d.pre = pre[s];
        d.post = post[s];
        d.weight = weight[s];
        d.delay = delay[s];
        switch (kind[s]) {
            case 0: {
                if (param[s] >= stdp_params.size() / kStdpFloats)
                    return bad("parameters" + where + " are not in stdp_params");
                const float* q = stdp_params.data() + param[s] * kStdpFloats;
                if (!(q[0] <= q[1]))
                    return bad("w_min > w_max" + where);
                d.word =
                    word::make(SynapseKind::Stdp, p.stdp.acquire({q[0], q[1], q[2], q[3], q[4]}));
                break;
            }
            case 2:
                if (param[s] >= static_params.size())
                    return bad("parameters" + where + " are not in static_params");
                d.word =
                    word::make(SynapseKind::Static, p.statics.acquire({static_params[param[s]]}));
                break;
            case 1: {
                if (param[s] >= plastic_params.size() / kPlasticFloats)
                    return bad("parameters" + where + " are not in plastic_params");
                PlasticSynapseConfig c;
                std::memcpy(&c, plastic_params.data() + param[s] * kPlasticFloats, sizeof c);
                if (auto ok = validate_plastic_config(c); !ok)
                    return bad(ok.error().message() + where);
                if (next_plastic + kPlasticStateFloats > plastic_state.size())
                    return bad("plastic_state is too short");
                const float* st = plastic_state.data() + next_plastic;
                next_plastic += kPlasticStateFloats;
                d.plastic_config = p.plastic.acquire(c);
                d.plastic_state = {weight[s], st[0], st[1], st[2], st[3], st[4]};
                d.word = word::make(SynapseKind::Plastic, 0);
                break;
            }
            default:
                return bad("synapse_kind " + std::to_string(kind[s]) + where +
                           " is not a synapse kind");
        }
        if (priv[s] > 3 || (priv[s] != 0 && kind[s] != 0))
            return bad("synapse_private" + where + " is not a set of STDP traces");
        auto take_trace = [&](std::uint32_t neuron) -> std::optional<PrivateTraces::Trace> {
            if (next_trace + kTraceFloats > private_trace.size())
                return std::nullopt;
            const float* q = private_trace.data() + next_trace;
            next_trace += kTraceFloats;
            return PrivateTraces::Trace{neuron, q[0], q[1], q[2]};
        };
        if (priv[s] & 1) {
            auto t = take_trace(d.pre);
            if (!t)
                return bad("private_trace is too short");
            d.pre_trace = *t;
            d.word |= word::kPrePrivate;
        }
        if (priv[s] & 2) {
            auto t = take_trace(d.post);
            if (!t)
                return bad("private_trace is too short");
            d.post_trace = *t;
            d.word |= word::kPostPrivate;
        }
        if (!m.synapses.try_append(ids[s], d))
            return bad("synapse " + ids[s].to_string() + " repeats a connected pair");
    }
    if (next_plastic != plastic_state.size() || next_trace != private_trace.size())
        return bad("plastic_state or private_trace is too long");

    VORN_TRY(stim_neuron, r.u32("stim_neuron"));
    VORN_TRY(stim_current, r.f32("stim_current", std::int64_t(stim_neuron.size())));
    VORN_TRY(stim_remaining, r.f32("stim_remaining", std::int64_t(stim_neuron.size())));
    for (std::size_t i = 0; i < stim_neuron.size(); ++i) {
        if (stim_neuron[i] >= n)
            return bad("stim_neuron " + std::to_string(stim_neuron[i]) + " is not a neuron");
        m.stimulations.set(stim_neuron[i], stim_current[i], stim_remaining[i]);
    }

    VORN_TRY(base, r.f32("modulator_base", 4));
    VORN_TRY(level, r.f32("modulator_level", 4));
    VORN_TRY(pulse_amount, r.f32("pulse_amount"));
    VORN_TRY(pulse_tau, r.f32("pulse_tau", std::int64_t(pulse_amount.size())));
    VORN_TRY(pulse_channel, r.u8("pulse_channel", std::int64_t(pulse_amount.size())));
    std::vector<ModulatorPulse> pulses;
    for (std::size_t i = 0; i < pulse_amount.size(); ++i)
        pulses.push_back({pulse_amount[i], pulse_tau[i], pulse_channel[i]});
    m.modulators.restore({base[0], base[1], base[2], base[3]},
                         {level[0], level[1], level[2], level[3]}, std::move(pulses));

    VORN_TRY(noise_rate, r.f64("noise_rate"));
    const auto n_noise = static_cast<std::int64_t>(noise_rate.size());
    VORN_TRY(noise_weight, r.f32("noise_weight", n_noise));
    VORN_TRY(noise_seed, r.u64("noise_seed", n_noise));
    VORN_TRY(noise_count, r.u64("noise_count", n_noise));
    VORN_TRY(noise_target, r.u32("noise_target"));
    std::size_t target = 0;
    for (std::int64_t i = 0; i < n_noise; ++i) {
        if (noise_count[i] > noise_target.size() - target)
            return bad("noise_target is too short");
        PoissonInput in{
            {noise_target.begin() + target, noise_target.begin() + target + noise_count[i]},
            noise_rate[i],
            noise_weight[i],
            noise_seed[i]};
        target += noise_count[i];
        for (std::size_t k = 0; k < in.targets.size(); ++k) {
            if (in.targets[k] >= n || (k > 0 && in.targets[k] <= in.targets[k - 1]))
                return bad("noise targets of input " + std::to_string(i) +
                           " are not ascending neuron indices");
        }
        if (!(in.rate_hz >= 0.0) || !std::isfinite(in.rate_hz) || !std::isfinite(in.weight))
            return bad("noise input " + std::to_string(i) + " has a bad rate or weight");
        m.poisson.add(std::move(in));
    }
    if (target != noise_target.size())
        return bad("noise_target is too long");

    VORN_TRY(history_tick, r.u64("history_tick"));
    const auto n_hist = static_cast<std::int64_t>(history_tick.size());
    VORN_TRY(history_dt, r.f32("history_dt", n_hist));
    VORN_TRY(history_count, r.u64("history_count", n_hist));
    VORN_TRY(history_spike, r.u32("history_spike"));
    std::size_t spike = 0;
    std::vector<std::uint32_t> tick_spikes;
    for (std::int64_t i = 0; i < n_hist; ++i) {
        if (history_count[i] > history_spike.size() - spike)
            return bad("history_spike is too short");
        if (history_tick[i] > ticks || (i > 0 && history_tick[i] != history_tick[i - 1] + 1))
            return bad("history_tick is not a run of consecutive ticks up to `ticks`");
        tick_spikes.assign(history_spike.begin() + spike,
                           history_spike.begin() + spike + history_count[i]);
        spike += history_count[i];
        for (std::size_t k = 0; k < tick_spikes.size(); ++k) {
            if (tick_spikes[k] >= n || (k > 0 && tick_spikes[k] <= tick_spikes[k - 1]))
                return bad("history spikes are not ascending neuron indices");
        }
        m.history.push(history_tick[i], history_dt[i], tick_spikes);
        if (history_tick[i] == ticks)
            m.spikes = tick_spikes;
    }
    if (spike != history_spike.size())
        return bad("history_spike is too long");
    m.t_ms = t_ms;
    m.ticks = ticks;
    m.pending_valid = false;
    return engine;
}

}  // namespace vorn
