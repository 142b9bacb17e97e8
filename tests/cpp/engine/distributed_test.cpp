// Distributed engines without MPI: the ranks are threads of this process,
// joined by an in-memory Exchange. Built and edited by the same calls, the
// ranks together must tick exactly like one engine holding the whole
// network, also after edits that rebuild the layout while running.
#include <gtest/gtest.h>

#include <barrier>
#include <bit>
#include <functional>
#include <random>
#include <thread>

#include "core/engine/sim_engine.hpp"

namespace vorn {
namespace {

// What the ranks of one run share: a slot per rank and a barrier. Each
// collective fills this rank's slot, waits for every rank, reads, and waits
// again so that the next collective cannot overwrite a slot still read.
struct Hub {
    explicit Hub(int n) : sync(n), spikes(n), bytes(n), numbers(n), flags(n) {}
    std::barrier<> sync;
    std::vector<std::vector<std::uint32_t>> spikes;
    std::vector<std::string> bytes;
    std::vector<std::uint64_t> numbers;
    std::vector<std::vector<std::uint8_t>> flags;
};

class ThreadExchange final : public Exchange {
  public:
    ThreadExchange(std::shared_ptr<Hub> hub, int rank) : hub_(std::move(hub)), rank_(rank) {}

    int rank() const override { return rank_; }
    int size() const override { return static_cast<int>(hub_->spikes.size()); }

    void all_spikes(const std::vector<std::uint32_t>& mine,
                    std::vector<std::uint32_t>& all) override {
        hub_->spikes[rank_] = mine;
        hub_->sync.arrive_and_wait();
        all.clear();
        for (const auto& part : hub_->spikes)
            all.insert(all.end(), part.begin(), part.end());
        hub_->sync.arrive_and_wait();
    }
    void broadcast(std::string& bytes) override {
        if (rank_ == 0)
            hub_->bytes[0] = bytes;
        hub_->sync.arrive_and_wait();
        bytes = hub_->bytes[0];
        hub_->sync.arrive_and_wait();
    }
    std::vector<std::string> gather(const std::string& mine) override {
        hub_->bytes[rank_] = mine;
        hub_->sync.arrive_and_wait();
        std::vector<std::string> out;
        if (rank_ == 0)
            out = hub_->bytes;
        hub_->sync.arrive_and_wait();
        return out;
    }
    std::uint64_t sum(std::uint64_t value) override {
        hub_->numbers[rank_] = value;
        hub_->sync.arrive_and_wait();
        std::uint64_t total = 0;
        for (std::uint64_t v : hub_->numbers)
            total += v;
        hub_->sync.arrive_and_wait();
        return total;
    }
    void any(std::vector<std::uint8_t>& flags) override {
        hub_->flags[rank_] = flags;
        hub_->sync.arrive_and_wait();
        for (const auto& part : hub_->flags) {
            for (std::size_t i = 0; i < flags.size(); ++i)
                flags[i] |= part[i];
        }
        hub_->sync.arrive_and_wait();
    }

  private:
    std::shared_ptr<Hub> hub_;
    int rank_;
};

// What a run leaves to compare: the spiking neurons of every tick, every
// weight (gathered: rank 0's), and how many synapses this engine holds.
struct Outcome {
    std::vector<std::vector<std::uint32_t>> spikes;
    std::vector<float> weights;
    std::size_t held = 0;
};

using Script = std::function<void(SimEngine&, Outcome&)>;

Outcome run_alone(const Script& script) {
    SimEngine engine;
    Outcome out;
    script(engine, out);
    out.weights = *engine.gather_weights();
    out.held = engine.n_synapses();
    return out;
}

std::vector<Outcome> run_distributed(const Script& script, int ranks) {
    auto hub = std::make_shared<Hub>(ranks);
    std::vector<Outcome> outs(static_cast<std::size_t>(ranks));
    std::vector<std::jthread> threads;
    for (int r = 0; r < ranks; ++r) {
        threads.emplace_back([&, r] {
            SimEngine engine;
            engine.set_exchange(std::make_shared<ThreadExchange>(hub, r));
            Outcome& out = outs[static_cast<std::size_t>(r)];
            script(engine, out);
            out.weights = engine.gather_weights().value_or(std::vector<float>{});
            for (std::size_t s = 0; s < engine.n_synapses(); ++s)
                out.held += engine.holds_synapse(s) ? 1 : 0;
        });
    }
    threads.clear();  // joins
    return outs;
}

Uuid neuron_id(std::uint32_t n) {
    Uuid u;
    u.bytes[0] = 0x5a;
    u.bytes[14] = static_cast<std::uint8_t>(n >> 8);
    u.bytes[15] = static_cast<std::uint8_t>(n);
    return u;
}

void tick(SimEngine& engine, Outcome& out, int n) {
    for (int i = 0; i < n; ++i) {
        std::vector<std::uint32_t> fired;
        for (const SpikeEvent& e : engine.tick(0.5f))
            fired.push_back(e.neuron);
        out.spikes.push_back(std::move(fired));
    }
}

// count random edges among the first n neurons, drawn from seed, with
// delays from 0 to 4 ms and STDP (static and inhibitory when inhibit).
void add_random_edges(SimEngine& engine, std::uint32_t n, std::size_t count, unsigned seed,
                      bool inhibit) {
    std::mt19937 rng(seed);
    std::vector<std::int64_t> pre(count), post(count);
    std::vector<double> weight(count), delay(count);
    for (std::size_t i = 0; i < count; ++i) {
        pre[i] = rng() % n;
        post[i] = rng() % n;
        weight[i] = inhibit ? -2.0 - (rng() % 4) : 0.3 + 0.1 * (rng() % 6);
        delay[i] = 0.5 * (rng() % 9);
    }
    SynapseConfig config = StdpConfig{};
    if (inhibit)
        config = StaticConfig{};
    else
        std::get<StdpConfig>(config).g_syn = 25.0f;
    EXPECT_TRUE(engine.add_edges({pre, post, weight, delay, false, false, config}));
}

void build(SimEngine& engine, std::uint32_t n) {
    for (std::uint32_t i = 0; i < n; ++i)
        engine.add_neuron(neuron_id(i), LifConfig{});
    add_random_edges(engine, n, 12 * n, 1, false);
    add_random_edges(engine, n, 3 * n, 2, true);
    for (std::uint32_t i = 0; i < n; i += 3)
        engine.stimulate(neuron_id(i), 18.0f + static_cast<float>(i % 7), 1e9f);
}

bool same_bits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](float x, float y) {
               return std::bit_cast<std::uint32_t>(x) == std::bit_cast<std::uint32_t>(y);
           });
}

void expect_like_alone(const Script& script, int ranks) {
    const Outcome alone = run_alone(script);
    std::size_t fired = 0;
    for (const auto& t : alone.spikes)
        fired += t.size();
    ASSERT_GT(fired, 200u) << "too quiet to tell";
    const std::vector<Outcome> outs = run_distributed(script, ranks);
    std::size_t held = 0;
    for (int r = 0; r < ranks; ++r) {
        const Outcome& out = outs[static_cast<std::size_t>(r)];
        EXPECT_EQ(out.spikes, alone.spikes) << "rank " << r;
        held += out.held;
    }
    EXPECT_EQ(held, alone.held) << "each synapse held by exactly one rank";
    EXPECT_TRUE(same_bits(outs[0].weights, alone.weights)) << "gathered weights";
}

class Distributed : public testing::TestWithParam<int> {};

TEST_P(Distributed, TicksLikeOneEngine) {
    expect_like_alone(
        [](SimEngine& e, Outcome& out) {
            build(e, 90);
            tick(e, out, 200);
        },
        GetParam());
}

// New neurons and synapses after ticking rebuild each rank's layout from
// the synapses it holds; the slots of other ranks' synapses must stay
// empty there, not become synapses of its own.
TEST_P(Distributed, GrowsWhileRunning) {
    expect_like_alone(
        [](SimEngine& e, Outcome& out) {
            build(e, 90);
            tick(e, out, 60);
            for (std::uint32_t i = 90; i < 100; ++i)
                e.add_neuron(neuron_id(i), LifConfig{});
            add_random_edges(e, 100, 300, 3, false);
            e.stimulate(neuron_id(95), 30.0f, 1e9f);
            tick(e, out, 60);
            add_random_edges(e, 100, 100, 4, true);
            tick(e, out, 60);
        },
        GetParam());
}

TEST_P(Distributed, NewDelaysWhileRunning) {
    expect_like_alone(
        [](SimEngine& e, Outcome& out) {
            build(e, 90);
            tick(e, out, 60);
            std::vector<float> delays(e.n_synapses());
            for (std::size_t s = 0; s < delays.size(); ++s)
                delays[s] = 0.5f * static_cast<float>((s * 7) % 11);
            EXPECT_TRUE(e.set_delays(delays));
            tick(e, out, 100);
        },
        GetParam());
}

INSTANTIATE_TEST_SUITE_P(Ranks, Distributed, testing::Values(2, 3),
                         [](const auto& info) { return std::to_string(info.param) + "ranks"; });

}  // namespace
}  // namespace vorn
