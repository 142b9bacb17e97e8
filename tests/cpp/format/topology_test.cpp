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
    std::string a = id_text(1), b = id_text(2);
    std::string expected =
        "{\n"
        "  \"format\": \"cortex.topology\",\n"
        "  \"version\": 1,\n"
        "  \"cortex_type\": \"lif\",\n"
        "  \"defaults\": {\n"
        "    \"neuron\": {\n"
        "      \"kind\": \"lif\"\n"
        "    },\n"
        "    \"synapse\": {\n"
        "      \"kind\": \"stdp\"\n"
        "    }\n"
        "  },\n"
        "  \"nodes\": [\n"
        "    {\n"
        "      \"id\": \"" +
        a +
        "\",\n"
        "      \"label\": \"in\",\n"
        "      \"kind\": {\n"
        "        \"kind\": \"lif\"\n"
        "      }\n"
        "    },\n"
        "    {\n"
        "      \"id\": \"" +
        b +
        "\",\n"
        "      \"label\": \"\",\n"
        "      \"metadata\": {\n"
        "        \"role\": \"out\"\n"
        "      },\n"
        "      \"init_state\": {\n"
        "        \"v\": -65\n"
        "      }\n"
        "    }\n"
        "  ],\n"
        "  \"edges\": [\n"
        "    {\n"
        "      \"id\": \"" +
        id_text(3) +
        "\",\n"
        "      \"pre\": \"" +
        a +
        "\",\n"
        "      \"post\": \"" +
        b +
        "\",\n"
        "      \"init_weight\": 0.25,\n"
        "      \"delay_ms\": 1.0\n"
        "    },\n"
        "    {\n"
        "      \"id\": \"" +
        id_text(4) +
        "\",\n"
        "      \"pre\": \"" +
        b +
        "\",\n"
        "      \"post\": \"" +
        a +
        "\",\n"
        "      \"kind\": {\n"
        "        \"kind\": \"stdp\",\n"
        "        \"config\": {\n"
        "          \"a_plus\": 0.01\n"
        "        }\n"
        "      },\n"
        "      \"init_weight\": 1.0,\n"
        "      \"delay_ms\": 2.5\n"
        "    }\n"
        "  ]\n"
        "}";
    auto bytes = serialize_topology(t);
    ASSERT_TRUE(bytes) << bytes.error().message();
    EXPECT_EQ(*bytes, expected);
    auto back = parse_topology(*bytes);
    ASSERT_TRUE(back) << back.error().message();
    EXPECT_EQ(*back, t);

    TopologyFile empty = TopologyFile::new_empty("hh", {{"hh", {}}, {"stdp", {}}});
    std::string empty_text = *serialize_topology(empty);
    EXPECT_NE(empty_text.find("\"nodes\": [],\n  \"edges\": []\n}"), std::string::npos);
}

TEST(Topology, ReadDefaultsAndOptionalMembers) {
    std::string text = R"({"format": "cortex.topology", "version": 1, "cortex_type": "lif",
        "defaults": {"neuron": {"kind": "lif", "config": null}, "synapse": {"kind": "stdp"}},
        "nodes": [{"id": ")" +
                       id_text(1) + R"(", "kind": null, "init_state": null, "x": [{}]},
                  {"id": ")" +
                       id_text(2) + R"(", "metadata": null}],
        "edges": [{"id": ")" +
                       id_text(3) + R"(", "pre": ")" + id_text(1) + R"(",
                   "post": ")" +
                       id_text(2) + R"(", "init_weight": 1, "kind": null}],
        "metadata": {"k": [true]}})";
    auto t = parse_topology(text);
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
    EXPECT_NE(out.find("\"label\": \"\""), std::string::npos);
    EXPECT_NE(out.find("\"delay_ms\": 1.0"), std::string::npos);
    EXPECT_NE(out.find("\"metadata\": null"), std::string::npos);
    EXPECT_NE(out.find("\"metadata\": {\n    \"k\": [\n      true\n    ]\n  }\n}"),
              std::string::npos);
    EXPECT_EQ(out.find("init_state"), std::string::npos);
}

std::string json_error(const std::string& text) {
    auto t = parse_topology(text);
    return t ? "<ok>" : t.error().message();
}

// A valid document with one edge whose body is given.
std::string with_edge(const std::string& body) {
    return R"({"format": "cortex.topology", "version": 1, "cortex_type": "lif",
        "defaults": {"neuron": {"kind": "lif"}, "synapse": {"kind": "stdp"}},
        "nodes": [{"id": ")" +
           id_text(1) + R"("}, {"id": ")" + id_text(2) + R"("}], "edges": [{)" + body + "}]}";
}

TEST(Topology, SchemaErrors) {
    std::string ends = "\"id\": \"" + id_text(3) + "\", \"pre\": \"" + id_text(1) +
                       "\", \"post\": \"" + id_text(2) + "\"";
    EXPECT_EQ(json_error(with_edge(ends + ", \"init_weight\": 0.5")), "<ok>");
    auto starts = [](const std::string& s, const std::string& prefix) {
        return s.starts_with(prefix) ? std::string() : s;
    };
    EXPECT_EQ(starts(json_error(with_edge(ends)),
                     "topology JSON parse error: missing field `init_weight` at line 3"),
              "");
    EXPECT_EQ(starts(json_error(with_edge(ends + ", \"init_weight\": 0.5, \"pre\": \"x\"")),
                     "topology JSON parse error: duplicate field `pre`"),
              "");
    EXPECT_EQ(starts(json_error(with_edge(ends + ", \"init_weight\": 0.5, \"kind\": \"stdp\"")),
                     "topology JSON parse error: invalid type: string \"stdp\", expected a spec "
                     "object"),
              "");
    EXPECT_EQ(starts(json_error(with_edge(ends + ", \"init_weight\": \"0.5\"")),
                     "topology JSON parse error: invalid type: string \"0.5\", expected f32"),
              "");
    EXPECT_EQ(starts(json_error(with_edge(ends + ", \"init_weight\": 0.5, \"delay_ms\": null")),
                     "topology JSON parse error: invalid type: null, expected f32"),
              "");
    EXPECT_EQ(starts(json_error(with_edge("\"id\": \"nope\", \"pre\": 1")),
                     "topology JSON parse error: invalid UUID \"nope\""),
              "");
    EXPECT_EQ(starts(json_error(with_edge(ends + ", \"init_weight\": 0.5, \"zz\": [1,]")),
                     "topology JSON parse error: syntax error"),
              "");
    EXPECT_EQ(starts(json_error(with_edge(ends + ", \"init_weight\": 0.5, \"zz\": \"\xc3\"")),
                     "topology JSON parse error: syntax error"),
              "");
    EXPECT_EQ(starts(json_error(with_edge(ends + ", \"init_weight\": 0.5") + "\n}"),
                     "topology JSON parse error: syntax error"),
              "");
    EXPECT_EQ(starts(json_error("[]"), "topology JSON parse error: invalid type: array"), "");
    EXPECT_EQ(json_error(R"({"format": "cortex.topology"})"),
              "topology JSON parse error: missing field `version` at line 1 column 29");
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
    TopologyFile t = two_nodes();
    auto check = [&](TopologyEdge e) {
        t.edges = {edge(10, 1, 2), e};
        return validation_error(t);
    };
    EXPECT_EQ(check(edge(11, 2, 1)), "<ok>");
    EXPECT_EQ(check(edge(10, 2, 1)), "duplicate edge id " + id_text(10));
    // A self-loop on a missing node reports the self-loop.
    EXPECT_EQ(check(edge(11, 9, 9)), "edge " + id_text(11) + " is a self-loop (pre == post)");
    EXPECT_EQ(check(edge(11, 8, 9)),
              "edge " + id_text(11) + " references missing node " + id_text(8));
    EXPECT_EQ(check(edge(11, 1, 9)),
              "edge " + id_text(11) + " references missing node " + id_text(9));
    for (float ok : {0.0f, -0.0f, 1.0f})
        EXPECT_EQ(check(edge(11, 2, 1, ok)), "<ok>");
    EXPECT_EQ(check(edge(11, 2, 1, 1.0000001f)),
              "edge " + id_text(11) + " init_weight 1.0000001 is not finite or outside [0.0, 1.0]");
    EXPECT_EQ(check(edge(11, 2, 1, -0.1f)),
              "edge " + id_text(11) + " init_weight -0.1 is not finite or outside [0.0, 1.0]");
    EXPECT_EQ(check(edge(11, 2, 1, std::numeric_limits<float>::quiet_NaN())),
              "edge " + id_text(11) + " init_weight NaN is not finite or outside [0.0, 1.0]");
    TopologyEdge d = edge(11, 2, 1);
    d.delay_ms = -0.0f;
    EXPECT_EQ(check(d), "<ok>");
    d.delay_ms = -1.5f;
    d.kind = SynapseSpec{"Bad", {}};
    EXPECT_EQ(check(d), "edge " + id_text(11) + " delay_ms -1.5 is not finite or is negative");
    d.delay_ms = std::numeric_limits<float>::infinity();
    EXPECT_EQ(check(d), "edge " + id_text(11) + " delay_ms inf is not finite or is negative");
    d.delay_ms = 0.0f;
    EXPECT_EQ(check(d), "synapse kind 'Bad' is not a valid kebab-case slug");
}

TEST(Topology, TriplesUseTheEffectiveKind) {
    TopologyFile t = two_nodes();
    TopologyEdge explicit_stdp = edge(11, 1, 2);
    explicit_stdp.kind = SynapseSpec{"stdp", *parse_json_value("{\"x\": 1}")};
    t.edges = {edge(10, 1, 2), explicit_stdp};
    EXPECT_EQ(validation_error(t),
              "edge " + id_text(11) + " duplicates an existing (pre, post, kind) triple");
    t.edges[1].kind->kind = "plastic-synapse";
    EXPECT_EQ(validation_error(t), "<ok>");
    t.defaults.synapse.kind = "plastic-synapse";
    EXPECT_EQ(validation_error(t),
              "edge " + id_text(11) + " duplicates an existing (pre, post, kind) triple");
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
