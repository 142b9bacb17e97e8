#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <limits>

#include "core/seeds/generators.hpp"
#include "core/store/cortex.hpp"
#include "core/store/event_log.hpp"
#include "core/store/topology_store.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::slurp;
using testing::TempDir;

Uuid id_of(const char* text) {
    return *Uuid::parse(text);
}

const Uuid kA = id_of("aaaaaaaa-0000-4000-8000-000000000001");
const Uuid kB = id_of("bbbbbbbb-0000-4000-8000-000000000002");
const Uuid kC = id_of("cccccccc-0000-4000-8000-000000000003");
const Uuid kMissing = id_of("dddddddd-0000-4000-8000-000000000004");

class GraphEditsTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string root = dir / "net.cortex";
    Cortex cortex = make();

    Cortex make() {
        auto c = Cortex::create(root, "Net", "lif", "2024-05-01T12:00:00Z");
        EXPECT_TRUE(c) << c.error().message();
        return std::move(*c);
    }

    Uuid add_node(Uuid id, std::string label = "") {
        auto r = cortex.add_neuron(NeuronInput{id, std::move(label), {}, {}, {}});
        EXPECT_TRUE(r) << r.error().message();
        return id;
    }
    std::expected<Uuid, CortexError> connect(Uuid pre, Uuid post, float weight = 0.5f,
                                             std::optional<Uuid> id = std::nullopt) {
        SynapseInput in;
        in.id = id;
        in.pre = pre;
        in.post = post;
        in.init_weight = weight;
        return cortex.add_synapse(std::move(in));
    }

    TopologyFile on_disk() {
        auto t = read_topology(root);
        EXPECT_TRUE(t) << t.error().message();
        return t ? *t : TopologyFile{};
    }
    std::vector<EventRecord> events() {
        auto e = read_events(root);
        EXPECT_TRUE(e) << e.error().message();
        return e ? *e : std::vector<EventRecord>{};
    }
    std::string topology_text() { return slurp(root + "/topology.json"); }
    std::string events_text() { return slurp(root + "/events.jsonl"); }
};

TEST_F(GraphEditsTest, AddNeuronPersistsAndLogs) {
    auto id = cortex.add_neuron(NeuronInput{std::nullopt, "input", {}, {}, {}});
    ASSERT_TRUE(id);
    EXPECT_EQ(id->bytes[6] >> 4, 4);
    ASSERT_EQ(cortex.topology().nodes.size(), 1u);
    const TopologyNode& n = cortex.topology().nodes[0];
    EXPECT_EQ(n.id, *id);
    EXPECT_EQ(n.label, "input");
    EXPECT_FALSE(n.kind);
    EXPECT_EQ(n.metadata, JsonValue(JsonObject{}));
    EXPECT_FALSE(n.init_state);
    EXPECT_EQ(on_disk(), cortex.topology());
    EXPECT_EQ(events_text(), R"({"format":"cortex.event","version":1,"t_ms":0.0,)"
                             R"("kind":"neuron_add","id":")" +
                                 id->to_string() + R"(","label":"input"})" + "\n");

    // Given fields are stored as they are.
    JsonObject meta;
    meta.insert_or_assign("x", JsonValue::unsigned_int(3));
    JsonValue state = JsonValue::number(-65.0);
    auto given = cortex.add_neuron(
        NeuronInput{kA, "hidden", NeuronSpec{"hh", JsonValue(meta)}, JsonValue(meta), state});
    ASSERT_TRUE(given);
    EXPECT_EQ(*given, kA);
    TopologyFile t = on_disk();
    const TopologyNode& stored = t.nodes.at(1);
    EXPECT_EQ(stored.kind, (NeuronSpec{"hh", JsonValue(meta)}));
    EXPECT_EQ(stored.metadata, JsonValue(meta));
    EXPECT_EQ(stored.init_state, state);
}

TEST_F(GraphEditsTest, RefusedNeuronLeavesMemoryAndFilesUnchanged) {
    add_node(kA);
    std::string topology = topology_text();
    std::string log = events_text();
    TopologyFile before = cortex.topology();

    auto dup = cortex.add_neuron(NeuronInput{kA, "again", {}, {}, {}});
    ASSERT_FALSE(dup);
    EXPECT_EQ(dup.error().message(), "duplicate node id " + kA.to_string());
    auto bad_kind = cortex.add_neuron(NeuronInput{kB, "", NeuronSpec{"Not A Slug", {}}, {}, {}});
    ASSERT_FALSE(bad_kind);
    EXPECT_EQ(bad_kind.error().message(),
              "neuron kind 'Not A Slug' is not a valid kebab-case slug");
    EXPECT_FALSE(bad_kind.error().is_os_error());

    EXPECT_EQ(cortex.topology(), before);
    EXPECT_EQ(topology_text(), topology);
    EXPECT_EQ(events_text(), log);
}

TEST_F(GraphEditsTest, AddSynapseAppliesDefaultsPersistsAndLogs) {
    add_node(kA);
    add_node(kB);
    auto id = connect(kA, kB, 1.0f);
    ASSERT_TRUE(id) << id.error().message();
    const TopologyEdge& e = cortex.topology().edges.at(0);
    EXPECT_EQ(e.id, *id);
    EXPECT_EQ(e.pre, kA);
    EXPECT_EQ(e.post, kB);
    EXPECT_FALSE(e.kind);
    EXPECT_EQ(e.init_weight, 1.0f);
    EXPECT_EQ(e.delay_ms, 1.0f);
    EXPECT_EQ(e.metadata, JsonValue(JsonObject{}));
    EXPECT_EQ(on_disk(), cortex.topology());
    auto log = events();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log.back().kind, EventKind(SynapseAddEvent{*id, kA, kB, 1.0f}));

    SynapseInput explicit_in{kC, kB, kA, SynapseSpec{"plastic-synapse", {}}, 0.25f, 2.5f, {}};
    ASSERT_TRUE(cortex.add_synapse(explicit_in));
    TopologyFile t = on_disk();
    const TopologyEdge& e2 = t.edges.at(1);
    EXPECT_EQ(e2.id, kC);
    EXPECT_EQ(e2.delay_ms, 2.5f);
    EXPECT_EQ(e2.kind, (SynapseSpec{"plastic-synapse", {}}));
}

TEST_F(GraphEditsTest, RefusedSynapsesReportTheFirstFaultAndChangeNothing) {
    add_node(kA);
    add_node(kB);
    const Uuid first = *connect(kA, kB);
    std::string topology = topology_text();
    std::string log = events_text();
    TopologyFile before = cortex.topology();
    const Uuid e = id_of("eeeeeeee-0000-4000-8000-000000000005");
    const std::string es = e.to_string();
    const float nan = std::numeric_limits<float>::quiet_NaN();

    struct Case {
        SynapseInput input;
        std::string message;
    };
    const Case cases[] = {
        {{e, kA, kA, {}, 0.5f, {}, {}}, "edge " + es + " is a self-loop (pre == post)"},
        {{e, kMissing, kA, {}, 0.5f, {}, {}},
         "edge " + es + " references missing node " + kMissing.to_string()},
        {{e, kA, kMissing, {}, 0.5f, {}, {}},
         "edge " + es + " references missing node " + kMissing.to_string()},
        {{e, kB, kA, {}, 1.5f, {}, {}},
         "edge " + es + " init_weight 1.5 is not finite or outside [0.0, 1.0]"},
        {{e, kB, kA, {}, nan, {}, {}},
         "edge " + es + " init_weight NaN is not finite or outside [0.0, 1.0]"},
        {{e, kB, kA, {}, 0.5f, -1.0f, {}},
         "edge " + es + " delay_ms -1 is not finite or is negative"},
        {{e, kB, kA, SynapseSpec{"STDP", {}}, 0.5f, {}, {}},
         "synapse kind 'STDP' is not a valid kebab-case slug"},
        // The default kind is stdp, so naming it explicitly duplicates the first edge.
        {{e, kA, kB, SynapseSpec{"stdp", {}}, 0.5f, {}, {}},
         "edge " + es + " duplicates an existing (pre, post, kind) triple"},
        {{first, kB, kA, {}, 0.5f, {}, {}}, "duplicate edge id " + first.to_string()},
    };
    for (const Case& c : cases) {
        auto r = cortex.add_synapse(c.input);
        ASSERT_FALSE(r) << c.message;
        EXPECT_EQ(r.error().message(), c.message);
        EXPECT_EQ(r.error().kind(), CortexError::Kind::Topology);
    }
    EXPECT_EQ(cortex.topology(), before);
    EXPECT_EQ(topology_text(), topology);
    EXPECT_EQ(events_text(), log);

    // The reverse direction and another kind between the same pair are distinct.
    EXPECT_TRUE(connect(kB, kA));
    EXPECT_TRUE(cortex.add_synapse({{}, kA, kB, SynapseSpec{"plastic-synapse", {}}, 0.0f, {}, {}}));
}

TEST_F(GraphEditsTest, RemoveNeuronCascadesToIncidentEdgesOnly) {
    add_node(kA, "a");
    add_node(kB, "b");
    add_node(kC, "c");
    Uuid d = add_node(kMissing, "d");
    ASSERT_TRUE(connect(kA, kB));
    Uuid kept1 = *connect(kB, kC);
    ASSERT_TRUE(connect(kA, kC));
    ASSERT_TRUE(connect(kB, kA));
    Uuid kept2 = *connect(kC, d);

    auto removed = cortex.remove_neuron(kA);
    ASSERT_TRUE(removed);
    EXPECT_EQ(*removed, 3u);
    TopologyFile t = on_disk();
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.nodes[0].label, "b");
    EXPECT_EQ(t.nodes[2].label, "d");
    ASSERT_EQ(t.edges.size(), 2u);
    EXPECT_EQ(t.edges[0].id, kept1);
    EXPECT_EQ(t.edges[1].id, kept2);
    EXPECT_EQ(events().back().kind, EventKind(NeuronRemoveEvent{kA, 3}));

    std::string topology = topology_text();
    std::string log = events_text();
    auto unknown = cortex.remove_neuron(kA);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(*unknown, 0u);
    EXPECT_EQ(topology_text(), topology);
    EXPECT_EQ(events_text(), log);
}

TEST_F(GraphEditsTest, RemoveNeuronAcceptsAnIdHeldByTheGraphItself) {
    add_node(kA);
    add_node(kB);
    add_node(kC);
    ASSERT_TRUE(connect(kB, kC));
    ASSERT_TRUE(connect(kC, kA));
    // The argument refers into the node list that the removal compacts.
    auto removed = cortex.remove_neuron(cortex.topology().nodes[0].id);
    ASSERT_TRUE(removed);
    EXPECT_EQ(*removed, 1u);
    ASSERT_EQ(cortex.topology().nodes.size(), 2u);
    EXPECT_EQ(cortex.topology().nodes[0].id, kB);
    EXPECT_EQ(cortex.topology().nodes[1].id, kC);
    EXPECT_EQ(cortex.topology().edges.size(), 1u);
}

TEST_F(GraphEditsTest, RemoveSynapseReportsWhetherItRemovedAnything) {
    add_node(kA);
    add_node(kB);
    Uuid e1 = *connect(kA, kB);
    Uuid e2 = *connect(kB, kA);
    auto removed = cortex.remove_synapse(e1);
    ASSERT_TRUE(removed);
    EXPECT_TRUE(*removed);
    TopologyFile t = on_disk();
    ASSERT_EQ(t.edges.size(), 1u);
    EXPECT_EQ(t.edges[0].id, e2);
    EXPECT_EQ(events().back().kind, EventKind(SynapseRemoveEvent{e1}));

    std::string log = events_text();
    auto again = cortex.remove_synapse(e1);
    ASSERT_TRUE(again);
    EXPECT_FALSE(*again);
    EXPECT_EQ(events_text(), log);
}

TEST_F(GraphEditsTest, FailedWriteLeavesMemoryAheadUntilTheNextSave) {
    add_node(kA);
    std::string log = events_text();
    // A directory where the temporary file must go makes every rewrite fail.
    std::filesystem::create_directory(root + "/topology.json.tmp");

    auto added = cortex.add_neuron(NeuronInput{kB, "late", {}, {}, {}});
    ASSERT_FALSE(added);
    EXPECT_EQ(added.error().kind(), CortexError::Kind::Io);
    EXPECT_TRUE(added.error().is_os_error());
    auto removed = cortex.remove_neuron(kA);
    ASSERT_FALSE(removed);
    ASSERT_EQ(cortex.topology().nodes.size(), 1u);
    EXPECT_EQ(cortex.topology().nodes[0].id, kB);
    // Disk still has the old graph; the log has no line for either edit.
    TopologyFile stale = on_disk();
    ASSERT_EQ(stale.nodes.size(), 1u);
    EXPECT_EQ(stale.nodes[0].id, kA);
    EXPECT_EQ(events_text(), log);

    std::filesystem::remove(root + "/topology.json.tmp");
    ASSERT_TRUE(cortex.save());
    EXPECT_EQ(on_disk(), cortex.topology());
}

TEST_F(GraphEditsTest, UnwritableEventLogDoesNotFailEdits) {
    std::filesystem::create_directory(root + "/events.jsonl");
    add_node(kA);
    add_node(kB);
    ASSERT_TRUE(connect(kA, kB));
    ASSERT_TRUE(cortex.remove_neuron(kB));
    EXPECT_EQ(on_disk(), cortex.topology());
    EXPECT_TRUE(std::filesystem::is_directory(root + "/events.jsonl"));
}

TEST_F(GraphEditsTest, ApplySeedAppendsEverythingWithOneWriteAndOneEvent) {
    add_node(kA, "existing");
    SeedParams params;
    JsonObject config;
    config.insert_or_assign("tau_m", JsonValue::number(20.0));
    params.neuron = NeuronSpec{"lif", JsonValue(config)};
    params.synapse = SynapseSpec{"plastic-synapse", std::nullopt};
    auto seed = ring(5, 2, 7, params);
    ASSERT_TRUE(seed);

    // Seed items become topology items field by field, templates as kinds.
    TopologyFile expected = cortex.topology();
    for (const SeedNode& n : seed->nodes)
        expected.nodes.push_back({n.id, n.label, params.neuron, n.metadata, std::nullopt});
    for (const SeedEdge& e : seed->edges) {
        expected.edges.push_back({e.id, e.pre, e.post, params.synapse, e.init_weight, e.delay_ms,
                                  JsonValue(JsonObject{})});
    }

    auto counts = cortex.apply_seed(std::move(*seed));
    ASSERT_TRUE(counts) << counts.error().message();
    EXPECT_EQ(*counts, (SeedApplyCounts{5, 20}));
    EXPECT_EQ(cortex.topology(), expected);
    EXPECT_EQ(on_disk(), expected);
    auto log = events();
    ASSERT_EQ(log.size(), 2u);  // the neuron_add, then one line for the whole seed
    EXPECT_EQ(log.back().kind, EventKind(SeedApplyEvent{5, 20}));
}

TEST_F(GraphEditsTest, RefusedSeedIsRolledBackWhole) {
    auto seed = layered(std::vector<std::uint64_t>{2, 3}, 1, SeedParams{});
    ASSERT_TRUE(seed);
    Seed again = *seed;
    ASSERT_TRUE(cortex.apply_seed(std::move(*seed)));
    TopologyFile before = cortex.topology();
    std::string topology = topology_text();
    std::string log = events_text();

    auto dup = cortex.apply_seed(std::move(again));
    ASSERT_FALSE(dup);
    EXPECT_EQ(dup.error().message(), "duplicate node id " + before.nodes[0].id.to_string());

    // A fault in the last edge also takes the seed's nodes back out.
    Seed bad;
    bad.nodes.push_back(SeedNode{kB, "b", {}, JsonValue(JsonObject{})});
    bad.nodes.push_back(SeedNode{kC, "c", {}, JsonValue(JsonObject{})});
    bad.edges.push_back(
        SeedEdge{id_of("eeeeeeee-0000-4000-8000-000000000005"), kB, kC, {}, 0.5f, 1.0f});
    bad.edges.push_back(
        SeedEdge{id_of("eeeeeeee-0000-4000-8000-000000000006"), kC, kC, {}, 0.5f, 1.0f});
    auto loop = cortex.apply_seed(std::move(bad));
    ASSERT_FALSE(loop);
    EXPECT_EQ(loop.error().message(),
              "edge eeeeeeee-0000-4000-8000-000000000006 is a self-loop (pre == post)");

    EXPECT_EQ(cortex.topology(), before);
    EXPECT_EQ(topology_text(), topology);
    EXPECT_EQ(events_text(), log);
}

}  // namespace
}  // namespace vorn
