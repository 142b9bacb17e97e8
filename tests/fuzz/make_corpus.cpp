// Writes the starting corpus of every fuzz target from real folders made
// through the store: documents, journal lines, weights files and ids as the
// store writes them, plus Python values in the value target's grammar.
//   make_fuzz_corpus OUT_DIR
// Each target's inputs go to OUT_DIR/<target>/; existing files are kept.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/engine/sim_engine.hpp"
#include "core/format/weights_codec.hpp"
#include "core/seeds/generators.hpp"
#include "core/store/cortex.hpp"
#include "py_value_grammar.hpp"

using namespace vorn;
namespace fs = std::filesystem;
using vorn::fuzz::PyTag;

namespace {

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void put(const fs::path& dir, const std::string& name, const std::string& bytes) {
    fs::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary) << bytes;
}

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "make_fuzz_corpus: %s failed\n", what);
        std::exit(1);
    }
}

// Three folders with different contents, as the tests build them.
std::vector<fs::path> make_folders(const fs::path& scratch) {
    std::vector<fs::path> roots;
    {
        const fs::path root = scratch / "small.cortex";
        auto c = Cortex::create(root, "Small net", "lif", "2024-01-01T00:00:00Z");
        require(c.has_value(), "create");
        auto a = c->add_neuron({std::nullopt, "input", {}, {}, {}});
        JsonObject meta;
        meta.insert_or_assign("note", JsonValue::string("h\xc3\xa9llo \"quoted\"\n"));
        meta.insert_or_assign("big", JsonValue::unsigned_int(18446744073709551615ull));
        meta.insert_or_assign("neg", JsonValue::signed_int(-3));
        meta.insert_or_assign("pi", JsonValue::number(3.14159));
        auto b = c->add_neuron({std::nullopt, "hidden", NeuronSpec{"hh", JsonValue(meta)},
                                JsonValue(meta), JsonValue::number(-65.0)});
        require(a && b, "add_neuron");
        require(c->add_synapse({{}, *a, *b, SynapseSpec{"plastic-synapse", {}}, 0.25f, 2.5f, {}})
                    .has_value(),
                "add_synapse");
        auto e = c->add_synapse({{}, *b, *a, {}, 1.0f, 0.0f, JsonValue(meta)});
        require(e.has_value(), "add_synapse");
        require(c->remove_synapse(*e).has_value(), "remove_synapse");
        require(c->rename("Renamed", "2024-02-02T00:00:00Z").has_value(), "rename");
        std::vector<WeightRecord> records = {{*a, 0.5f}, {*b, -2.0f}, {*a, 3.5f}};
        require(c->persist_weights(records).has_value(), "persist_weights");
        roots.push_back(root);
    }
    {
        const fs::path root = scratch / "seeded.cortex";
        JsonObject config;
        config.insert_or_assign("dt", JsonValue::number(0.01));
        CreateOptions options;
        options.hh_config = JsonValue(config);
        auto c = Cortex::create(root, "Seeded", "hh", "now", options);
        require(c.has_value(), "create");
        require(c->apply_seed(*small_world(8, 2, 3, {}, 0.4f)).has_value(), "apply_seed");
        require(c->apply_seed(*layered(std::vector<std::uint64_t>{2, 3}, 1, {})).has_value(),
                "apply_seed");
        require(c->remove_neuron(c->topology().nodes[1].id).has_value(), "remove_neuron");
        std::vector<WeightRecord> records;
        for (const TopologyEdge& edge : c->topology().edges)
            records.push_back({edge.id, edge.init_weight});
        require(c->persist_weights(records).has_value(), "persist_weights");
        roots.push_back(root);
    }
    {
        const fs::path root = scratch / "empty.cortex";
        auto c = Cortex::create(root, "Empty", "knowledge-graph", "now");
        require(c.has_value(), "create");
        require(c->persist_weights({}).has_value(), "persist_weights");
        roots.push_back(root);
    }
    return roots;
}

// Encoders for the value grammar.
std::string tag(PyTag t) {
    return std::string(1, static_cast<char>(t));
}
std::string u64(std::uint64_t v) {
    std::string out;
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>(v >> (8 * i)));
    return out;
}
std::string f64(double d) {
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof d);
    return tag(PyTag::Float) + u64(bits);
}
std::string str(const std::string& s) {
    return tag(PyTag::Str) + std::string(1, static_cast<char>(s.size())) + s;
}
std::string seq(PyTag t, const std::vector<std::string>& items) {
    std::string out = tag(t) + std::string(1, static_cast<char>(items.size()));
    for (const auto& item : items)
        out += item;
    return out;
}

// Parameter values of the kind the tests hand to set_node_param.
std::vector<std::string> python_values() {
    const std::string none = tag(PyTag::None);
    const std::string yes = tag(PyTag::Bool) + "\x01";
    const std::string five = tag(PyTag::Int64) + u64(5);
    const std::string minus = tag(PyTag::Int64) + u64(static_cast<std::uint64_t>(-5));
    const std::string big = tag(PyTag::BigInt) + std::string("\x09", 1) + u64(0) + "\x01";
    return {
        none,
        yes,
        five,
        minus,
        big,
        f64(-65.0),
        f64(2.5),
        f64(1.0 / 0.0),
        str("lif"),
        str("x\xc3\xa9"),
        tag(PyTag::Bytes) +
            "\x02"
            "ab",
        seq(PyTag::List, {five, f64(2.5), str("x")}),
        seq(PyTag::Tuple, {five, seq(PyTag::List, {five, minus})}),
        seq(PyTag::Dict, {str("b"), five, str("a"), seq(PyTag::List, {none, yes})}),
        seq(PyTag::Dict, {five, str("int key")}),
        tag(PyTag::Nest) + std::string("\x03\x00", 2) + five,
        tag(PyTag::FloatLike) + u64(0x4004000000000000ull),
    };
}

// Checkpoints of small simulations: every model and synapse kind, delays
// with spikes in flight, a stimulation, a modulator pulse and noise.
std::vector<std::string> state_documents() {
    std::vector<std::string> docs;
    auto id = [](std::uint8_t n) {
        std::array<std::uint8_t, 16> b{};
        b[15] = n;
        return Uuid::v4_from_bytes(b);
    };
    {
        SimEngine e;
        e.add_neuron(id(1), LifConfig{});
        e.add_neuron(id(2), LifConfig{});
        e.add_edge(id(3), id(1), id(2), StdpConfig{}, 0.5f);
        docs.push_back(*e.save_state());
        e.stimulate(id(1), 500.0f, 5.0f);
        for (int t = 0; t < 4; ++t)
            e.tick(1.0f);
        docs.push_back(*e.save_state());
    }
    {
        SimEngine e;
        e.add_neuron(id(1), LifConfig{});
        e.add_neuron(id(2), IzhikevichConfig{0.02f, 0.2f, -65.0f, 8.0f, 30.0f});
        e.add_neuron(id(3), AdExConfig{281.0f, 30.0f, -70.6f, -50.4f, 2.0f, 0.0f, -70.6f, 144.0f,
                                       4.0f, 80.5f});
        e.add_neuron(id(4), HhConfig{1.0f, 120.0f, 36.0f, 0.3f, 50.0f, -77.0f, -54.4f, -65.0f, 0.0f,
                                     2.0f, Integrator::Rk4});
        e.add_edge(id(5), id(1), id(2), StdpConfig{}, 0.7f, 3.0f);
        e.add_edge(id(6), id(2), id(3), StaticConfig{-2.0f}, 1.0f, 2.0f);
        e.add_edge(id(7), id(3), id(4),
                   PlasticSynapseConfig{0.0f, 1.0f, 50.0f, 0.01f, 0.012f, 20.0f, 20.0f, 200.0f,
                                        500.0f, 0.1f, 0.2f, 1.0f, 5.0f, 0.001f, 1000.0f, 0.0f},
                   0.4f, 1.0f);
        const std::int64_t all[] = {0, 1, 2, 3};
        (void)e.add_poisson_input(all, 200.0, 5.0f, 7);
        e.set_base_level(0, 0.3f);
        e.add_modulator_pulse({0.5f, 20.0f, 0});
        e.stimulate(id(1), 800.0f, 10.0f);
        for (int t = 0; t < 6; ++t)
            e.tick(t % 2 ? 0.5f : 1.0f);
        docs.push_back(*e.save_state());
    }
    return docs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fuzz_corpus OUT_DIR\n");
        return 2;
    }
    const fs::path out = argv[1];
    char pattern[] = "/tmp/vorn_fuzz_corpus_XXXXXX";
    require(mkdtemp(pattern) != nullptr, "mkdtemp");
    const fs::path scratch = pattern;

    int n = 0;
    for (const fs::path& root : make_folders(scratch)) {
        const std::string stem = root.stem().string();
        put(out / "topology", stem + ".json", slurp(root / "topology.json"));
        put(out / "metadata", stem + ".json", slurp(root / "metadata.json"));
        std::istringstream lines(slurp(root / "events.jsonl"));
        std::string line;
        while (std::getline(lines, line))
            put(out / "event_line", stem + "-" + std::to_string(n++), line);
        for (const auto& entry : fs::recursive_directory_iterator(root / "weights")) {
            if (entry.path().filename() == "latest.cwt")
                put(out / "weights", stem + ".cwt", slurp(entry.path()));
        }
        auto c = Cortex::open(root.string());
        require(c.has_value(), "open");
        for (const TopologyNode& node : c->topology().nodes) {
            std::string id = node.id.to_string();
            put(out / "uuid", id, id);
        }
    }
    const std::string id = "00112233-4455-6677-8899-aabbccddeeff";
    put(out / "uuid", "braced", "{" + id + "}");
    put(out / "uuid", "urn", "urn:uuid:" + id);
    put(out / "uuid", "bare", "00112233445566778899AABBCCDDEEFF");
    put(out / "metadata", "version1.json",
        R"({"version": 1, "id": ")" + id +
            R"(", "name": "old", "source_kind": "fresh", "source_root": "/src",)"
            R"( "created_at": "c", "updated_at": "u"})");
    int d = 0;
    for (const std::string& doc : state_documents())
        put(out / "state", "state" + std::to_string(d++) + ".cstate", doc);
    int v = 0;
    for (const std::string& value : python_values())
        put(out / "py_value", "value" + std::to_string(v++), value);
    fs::remove_all(scratch);
    return 0;
}
