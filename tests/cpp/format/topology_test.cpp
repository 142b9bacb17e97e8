#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <set>

#include "core/format/json_reader.hpp"
#include "core/format/topology.hpp"

namespace vorn {
namespace {

Uuid id(int n) {
    Uuid u;
    u.bytes[15] = static_cast<std::uint8_t>(n);
    u.bytes[0] = 0xab;
    return u;
}
std::string id_text(int n) {
    return id(n).to_string();
}

TopologyFile two_nodes() {
    TopologyFile t = TopologyFile::new_empty("lif", {{"lif", {}}, {"stdp", {}}});
    t.nodes.push_back({id(1), "in", {}, JsonValue(JsonObject{}), {}});
    t.nodes.push_back({id(2), "out", {}, JsonValue(JsonObject{}), {}});
    return t;
}

TopologyEdge edge(int n, int pre, int post, float w = 0.5f) {
    TopologyEdge e;
    e.id = id(n);
    e.pre = id(pre);
    e.post = id(post);
    e.init_weight = w;
    return e;
}

std::string validation_error(const TopologyFile& t) {
    auto err = validate_topology(t);
    return err ? err->message() : "<ok>";
}

// Ids in the texts below: id(n) is ab000000-0000-0000-0000-0000000000nn.
TEST(Topology, SerialisesByteExactly) {
    TopologyFile t = two_nodes();
    t.nodes[0].kind = NeuronSpec{"lif", {}};
    t.nodes[1].label = "";
    t.nodes[1].metadata = *parse_json_value(R"({"role": "out"})");
    t.nodes[1].init_state = *parse_json_value(R"({"v": -65})");
    t.edges.push_back(edge(3, 1, 2, 0.25f));
    TopologyEdge e = edge(4, 2, 1, 1.0f);
    e.kind = SynapseSpec{"stdp", *parse_json_value(R"({"a_plus": 0.01})")};
    e.delay_ms = 2.5f;
    t.edges.push_back(e);
    const std::string expected = R"({
  "format": "cortex.topology",
  "version": 1,
  "cortex_type": "lif",
  "defaults": {
    "neuron": {
      "kind": "lif"
    },
    "synapse": {
      "kind": "stdp"
    }
  },
  "nodes": [
    {
      "id": "ab000000-0000-0000-0000-000000000001",
      "label": "in",
      "kind": {
        "kind": "lif"
      }
    },
    {
      "id": "ab000000-0000-0000-0000-000000000002",
      "label": "",
      "metadata": {
        "role": "out"
      },
      "init_state": {
        "v": -65
      }
    }
  ],
  "edges": [
    {
      "id": "ab000000-0000-0000-0000-000000000003",
      "pre": "ab000000-0000-0000-0000-000000000001",
      "post": "ab000000-0000-0000-0000-000000000002",
      "init_weight": 0.25,
      "delay_ms": 1.0
    },
    {
      "id": "ab000000-0000-0000-0000-000000000004",
      "pre": "ab000000-0000-0000-0000-000000000002",
      "post": "ab000000-0000-0000-0000-000000000001",
      "kind": {
        "kind": "stdp",
        "config": {
          "a_plus": 0.01
        }
      },
      "init_weight": 1.0,
      "delay_ms": 2.5
    }
  ]
})";
    auto bytes = serialize_topology(t);
    ASSERT_TRUE(bytes) << bytes.error().message();
    EXPECT_EQ(*bytes, expected);
    auto back = parse_topology(*bytes);
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_EQ(*back, t);

    TopologyFile empty = TopologyFile::new_empty("hh", {{"hh", {}}, {"stdp", {}}});
    EXPECT_TRUE(serialize_topology(empty)->ends_with("\"nodes\": [],\n  \"edges\": []\n}"));
}

TEST(Topology, ReadDefaultsAndOptionalMembers) {
    auto t = parse_topology(R"({"format": "cortex.topology", "version": 1, "cortex_type": "lif",
        "defaults": {"neuron": {"kind": "lif", "config": null}, "synapse": {"kind": "stdp"}},
        "nodes": [{"id": "ab000000-0000-0000-0000-000000000001", "kind": null,
                   "init_state": null, "x": [{}]},
                  {"id": "ab000000-0000-0000-0000-000000000002", "metadata": null}],
        "edges": [{"id": "ab000000-0000-0000-0000-000000000003",
                   "pre": "ab000000-0000-0000-0000-000000000001",
                   "post": "ab000000-0000-0000-0000-000000000002", "init_weight": 1, "kind": null}],
        "metadata": {"k": [true]}})");
    ASSERT_TRUE(t) << t.error().message();
    EXPECT_EQ(t->nodes[0].label, "");
    EXPECT_FALSE(t->nodes[0].kind);
    EXPECT_FALSE(t->nodes[0].init_state);
    EXPECT_FALSE(t->defaults.neuron.config);
    EXPECT_TRUE(t->nodes[1].metadata.is_null());
    EXPECT_EQ(t->edges[0].delay_ms, 1.0f);
    EXPECT_EQ(t->edges[0].init_weight, 1.0f);
    EXPECT_FALSE(t->edges[0].kind);
    std::string out = *serialize_topology(*t);
    for (const char* part : {"\"label\": \"\"", "\"delay_ms\": 1.0", "\"metadata\": null",
                             "\"metadata\": {\n    \"k\": [\n      true\n    ]\n  }\n}"})
        EXPECT_NE(out.find(part), std::string::npos) << part;
    EXPECT_EQ(out.find("init_state"), std::string::npos);
}

TEST(Topology, SchemaErrors) {
    // A valid document with one edge whose members follow `ends`.
    const std::string ends = R"("id": "ab000000-0000-0000-0000-000000000003",
        "pre": "ab000000-0000-0000-0000-000000000001",
        "post": "ab000000-0000-0000-0000-000000000002")";
    auto with_edge = [](const std::string& body) {
        return R"({"format": "cortex.topology", "version": 1, "cortex_type": "lif",
        "defaults": {"neuron": {"kind": "lif"}, "synapse": {"kind": "stdp"}},
        "nodes": [{"id": "ab000000-0000-0000-0000-000000000001"},
                  {"id": "ab000000-0000-0000-0000-000000000002"}],
        "edges": [{)" +
               body + "}]}";
    };
    auto error = [](const std::string& text) {
        auto t = parse_topology(text);
        return t ? "<ok>" : t.error().message();
    };
    EXPECT_EQ(error(with_edge(ends + ", \"init_weight\": 0.5")), "<ok>");
    const std::pair<std::string, std::string> cases[] = {
        {with_edge(ends), "missing field `init_weight` at line 7"},
        {with_edge(ends + ", \"init_weight\": 0.5, \"pre\": \"x\""), "duplicate field `pre`"},
        {with_edge(ends + ", \"init_weight\": 0.5, \"kind\": \"stdp\""),
         "invalid type: string \"stdp\", expected a spec object"},
        {with_edge(ends + ", \"init_weight\": \"0.5\""),
         "invalid type: string \"0.5\", expected f32"},
        {with_edge(ends + ", \"init_weight\": 0.5, \"delay_ms\": null"),
         "invalid type: null, expected f32"},
        {with_edge("\"id\": \"nope\", \"pre\": 1"), "invalid UUID \"nope\""},
        {with_edge(ends + ", \"init_weight\": 0.5, \"zz\": [1,]"), "syntax error"},
        {with_edge(ends + ", \"init_weight\": 0.5, \"zz\": \"\xc3\""), "syntax error"},
        {with_edge(ends + ", \"init_weight\": 0.5") + "\n}", "syntax error"},
        {"[]", "invalid type: array"},
        {R"({"format": "cortex.topology"})", "missing field `version` at line 1 column 29"},
    };
    for (const auto& [text, message] : cases) {
        std::string got = error(text);
        EXPECT_TRUE(got.starts_with("topology JSON parse error: " + message)) << got;
    }
}

TEST(Topology, HeaderChecksInOrder) {
    TopologyFile t = two_nodes();
    t.format = "other";
    t.version = 2;
    EXPECT_EQ(validation_error(t), "topology format tag 'other' is not 'cortex.topology'");
    t.format = "cortex.topology";
    EXPECT_EQ(validation_error(t), "topology version 2 is not supported (max 1)");
    t.version = 1;
    t.cortex_type = "Lif";
    t.defaults.neuron.kind = "";
    EXPECT_EQ(validation_error(t), "cortex_type 'Lif' is not a valid kebab-case slug");
    t.cortex_type = "lif";
    t.defaults.synapse.kind = "st dp";
    EXPECT_EQ(validation_error(t), "neuron kind '' is not a valid kebab-case slug");
    t.defaults.neuron.kind = "lif";
    EXPECT_EQ(validation_error(t), "synapse kind 'st dp' is not a valid kebab-case slug");
}

TEST(Topology, NodeChecks) {
    TopologyFile t = two_nodes();
    t.nodes[1].kind = NeuronSpec{"-x", {}};
    EXPECT_EQ(validation_error(t), "neuron kind '-x' is not a valid kebab-case slug");
    t.nodes.push_back(t.nodes[0]);
    EXPECT_EQ(validation_error(t), "neuron kind '-x' is not a valid kebab-case slug");
    t.nodes[1].kind.reset();
    EXPECT_EQ(validation_error(t), "duplicate node id " + id_text(1));
}

TEST(Topology, EdgeChecksInOrder) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    auto with = [](float delay, std::optional<SynapseSpec> kind = {}) {
        TopologyEdge e = edge(11, 2, 1);
        e.delay_ms = delay;
        e.kind = std::move(kind);
        return e;
    };
    const std::string e11 = "edge " + id_text(11) + " ";
    const std::string weight = " is not finite or outside [0.0, 1.0]";
    const std::pair<TopologyEdge, std::string> cases[] = {
        {edge(11, 2, 1), "<ok>"},
        {edge(10, 2, 1), "duplicate edge id " + id_text(10)},
        // A self-loop on a missing node reports the self-loop.
        {edge(11, 9, 9), e11 + "is a self-loop (pre == post)"},
        {edge(11, 8, 9), e11 + "references missing node " + id_text(8)},
        {edge(11, 1, 9), e11 + "references missing node " + id_text(9)},
        {edge(11, 2, 1, 0.0f), "<ok>"},
        {edge(11, 2, 1, -0.0f), "<ok>"},
        {edge(11, 2, 1, 1.0f), "<ok>"},
        {edge(11, 2, 1, 1.0000001f), e11 + "init_weight 1.0000001" + weight},
        {edge(11, 2, 1, -0.1f), e11 + "init_weight -0.1" + weight},
        {edge(11, 2, 1, nan), e11 + "init_weight NaN" + weight},
        {with(-0.0f), "<ok>"},
        {with(-1.5f, SynapseSpec{"Bad", {}}), e11 + "delay_ms -1.5 is not finite or is negative"},
        {with(inf), e11 + "delay_ms inf is not finite or is negative"},
        {with(0.0f, SynapseSpec{"Bad", {}}), "synapse kind 'Bad' is not a valid kebab-case slug"},
    };
    TopologyFile t = two_nodes();
    for (const auto& [e, message] : cases) {
        t.edges = {edge(10, 1, 2), e};
        EXPECT_EQ(validation_error(t), message);
    }
}

TEST(Topology, TriplesUseTheEffectiveKind) {
    TopologyFile t = two_nodes();
    TopologyEdge explicit_stdp = edge(11, 1, 2);
    explicit_stdp.kind = SynapseSpec{"stdp", *parse_json_value("{\"x\": 1}")};
    t.edges = {edge(10, 1, 2), explicit_stdp};
    const std::string triple =
        "edge " + id_text(11) + " duplicates an existing (pre, post, kind) triple";
    EXPECT_EQ(validation_error(t), triple);
    t.edges[1].kind->kind = "plastic-synapse";
    EXPECT_EQ(validation_error(t), "<ok>");
    t.defaults.synapse.kind = "plastic-synapse";
    EXPECT_EQ(validation_error(t), triple);
}

// Random graphs with every optional member survive a write and a read.
TEST(Topology, RandomRoundTrips) {
    std::mt19937 rng(11);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    auto random_id = [&] {
        std::array<std::uint8_t, 16> raw;
        for (auto& b : raw)
            b = static_cast<std::uint8_t>(rng());
        return Uuid::v4_from_bytes(raw);
    };
    const char* labels[] = {"", "a", "\xc3\xa9t\xc3\xa9", "tab\there", "quote\"back\\", "\x01"};
    for (int round = 0; round < 30; ++round) {
        TopologyFile t = TopologyFile::new_empty("knowledge-graph", {{"lif", {}}, {"stdp", {}}});
        if (pick(2))
            t.defaults.neuron.config = *parse_json_value(R"({"tau_m": 20.5, "list": [1, -2]})");
        if (pick(3) == 0)
            t.metadata = *parse_json_value(R"({"note": "x", "n": null})");
        int nodes = 1 + pick(20);
        for (int i = 0; i < nodes; ++i) {
            TopologyNode n;
            n.id = random_id();
            n.label = labels[pick(6)];
            if (pick(3) == 0)
                n.kind = NeuronSpec{pick(2) ? "hh" : "lif", {}};
            if (pick(4) == 0)
                n.metadata = JsonValue::signed_int(-pick(100) - 1);
            if (pick(4) == 0)
                n.init_state = JsonValue::number(std::ldexp(static_cast<double>(rng()), -40));
            t.nodes.push_back(std::move(n));
        }
        int edges = pick(40);
        std::set<std::pair<Uuid, Uuid>> plain_pairs;  // unkinded edges must not repeat
        for (int i = 0; i < edges && nodes > 1; ++i) {
            TopologyEdge e;
            e.id = random_id();
            e.pre = t.nodes[pick(nodes)].id;
            e.post = t.nodes[pick(nodes)].id;
            if (e.pre == e.post)
                continue;
            if (pick(2))
                e.kind = SynapseSpec{"k" + std::to_string(i), {}};
            else if (!plain_pairs.insert({e.pre, e.post}).second)
                continue;
            std::uint32_t bits = rng() % 0x3f800001u;  // every float in [0, 1]
            std::memcpy(&e.init_weight, &bits, sizeof bits);
            e.delay_ms = static_cast<float>(rng() % 1000) / 7.0f;
            t.edges.push_back(std::move(e));
        }
        auto bytes = serialize_topology(t);
        ASSERT_TRUE(bytes) << bytes.error().message();
        auto back = parse_topology(*bytes);
        ASSERT_TRUE(back) << back.error().message();
        ASSERT_EQ(*back, t) << *bytes;
        EXPECT_EQ(*serialize_topology(*back), *bytes);
    }
}

}  // namespace
}  // namespace vorn
