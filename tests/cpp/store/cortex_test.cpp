#include "core/store/cortex.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include "core/format/folder_layout.hpp"
#include "core/format/json_reader.hpp"
#include "core/seeds/generators.hpp"
#include "core/store/event_log.hpp"
#include "core/store/topology_store.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::error_text;
using testing::slurp;
using testing::spit;
using testing::TempDir;

constexpr const char* kNow = "2024-05-01T12:00:00Z";
const JsonValue kEmpty = JsonValue(JsonObject{});

Uuid id_of(const char* text) {
    return *Uuid::parse(text);
}
const Uuid kA = id_of("aaaaaaaa-0000-4000-8000-000000000001");
const Uuid kB = id_of("bbbbbbbb-0000-4000-8000-000000000002");
const Uuid kC = id_of("cccccccc-0000-4000-8000-000000000003");
const Uuid kD = id_of("dddddddd-0000-4000-8000-000000000004");
const Uuid kE = id_of("eeeeeeee-0000-4000-8000-000000000005");

TopologyFile empty_topology(const char* cortex_type, const char* neuron_kind) {
    return TopologyFile::new_empty(cortex_type, {{neuron_kind, {}}, {"stdp", {}}});
}

class CortexTest : public ::testing::Test {
  protected:
    TempDir dir;
    std::string root = dir / "net.cortex";

    Cortex create(const std::string& cortex_type, CreateOptions options = {}) {
        auto c = Cortex::create(root, "Net", cortex_type, kNow, std::move(options));
        EXPECT_TRUE(c) << c.error().message();
        return std::move(*c);
    }
    bool exists(const std::string& name) const { return testing::exists(root + "/" + name); }
    std::string text(const std::string& name) const { return slurp(root + "/" + name); }
};

TEST_F(CortexTest, CreateBuildsTheWholePathAndOpenReadsItBack) {
    root = dir / "a/b/net.cortex";
    Cortex made = create("lif");
    const MetadataFile& m = made.metadata();
    EXPECT_EQ(m.id.bytes[6] >> 4, 4);  // a random version-4 id
    EXPECT_EQ(m, (MetadataFile{2, m.id, "Net", "lif", {}, {}, root, kNow, kNow}));
    EXPECT_EQ(made.topology(), empty_topology("lif", "lif"));

    auto opened = Cortex::open(root);
    ASSERT_TRUE(opened) << opened.error().message();
    EXPECT_EQ(opened->root(), root);
    EXPECT_EQ(opened->metadata(), made.metadata());
    EXPECT_EQ(opened->topology(), made.topology());
}

TEST_F(CortexTest, CreateKeepsTheCallersValues) {
    root = dir.path + "/kept/";  // a trailing slash stays as given
    JsonObject config;
    config.insert_or_assign("g_na", JsonValue::number(120.0));
    Cortex made = create("hh", {{}, "plastic-synapse", "/elsewhere/source", JsonValue(config)});
    EXPECT_EQ(made.root(), root);

    auto opened = Cortex::open(root);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->metadata().source_root, "/elsewhere/source");
    EXPECT_EQ(opened->metadata().hh_config, JsonValue(config));
    EXPECT_EQ(opened->topology().defaults.synapse.kind, "plastic-synapse");
}

TEST_F(CortexTest, CreateRefusesAConfigNestedTooDeepToReadBack) {
    // The deepest value the reader takes on its own; inside metadata.json it
    // sits one level lower, which the reader would refuse at the next open.
    auto config = parse_json_value(std::string(128, '[') + std::string(128, ']'));
    ASSERT_TRUE(config);
    auto made = Cortex::create(root, "Net", "hh", kNow, {{}, {}, {}, std::move(*config)});
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().message(), "metadata JSON parse error: nesting deeper than 128 levels");
    EXPECT_FALSE(exists(std::string(kMetadataFileName)));
}

TEST_F(CortexTest, CreateChoosesAndChecksTheDefaultNeuronKind) {
    // The kind given (nullptr: none), then the default kind chosen or the error text.
    const std::tuple<const char*, const char*, std::string> cases[] = {
        {"hh", nullptr, "hh"},
        {"lif", nullptr, "lif"},
        {"knowledge-graph", nullptr, "lif"},
        {"izh", "izh", "izh"},
        {"knowledge-graph", "hh",
         "defaults.neuron.kind 'hh' does not match cortex_type 'knowledge-graph'"},
        {"izh", nullptr, "defaults.neuron.kind 'lif' does not match cortex_type 'izh'"},
        {"lif", "hh", "defaults.neuron.kind 'hh' does not match cortex_type 'lif'"},
    };
    int n = 0;
    for (const auto& [cortex_type, given, expected] : cases) {
        root = dir / ("case" + std::to_string(n++));
        CreateOptions o;
        if (given)
            o.defaults_neuron_kind = given;
        auto made = Cortex::create(root, "Net", cortex_type, kNow, o);
        EXPECT_EQ(made ? made->topology().defaults.neuron.kind : made.error().message(), expected);
        // A refused kind is found before anything is written.
        EXPECT_EQ(exists(std::string(kMetadataFileName)), made.has_value()) << expected;
    }
}

// A folder holding either document is refused and left as it was; without
// metadata.json it is topology.json that is found.
TEST_F(CortexTest, CreateRefusesAnExistingNetworkAndLeavesItUntouched) {
    Cortex c = create("lif");
    ASSERT_TRUE(c.apply_seed(*ring(5, 2, 1, {})));
    for (const std::string found : {"metadata", "topology"}) {
        SCOPED_TRACE(found);
        if (found == "topology")
            std::filesystem::remove(root + "/metadata.json");
        const bool has_metadata = exists("metadata.json");
        const std::string metadata = has_metadata ? text("metadata.json") : "";
        const std::string topology = text("topology.json");
        auto again = Cortex::create(root, "Other", "hh", "later");
        ASSERT_FALSE(again);
        EXPECT_EQ(again.error().io().kind, IoError::Kind::AlreadyExists);
        EXPECT_TRUE(again.error().is_os_error());
        EXPECT_EQ(again.error().message(), "disk I/O error: " + found + " already exists at " +
                                               root + "/" + found + ".json");
        EXPECT_EQ(exists("metadata.json"), has_metadata);
        if (has_metadata) {
            EXPECT_EQ(text("metadata.json"), metadata);
        }
        EXPECT_EQ(text("topology.json"), topology);
    }
}

TEST_F(CortexTest, OpenNeedsAFolderWithMetadata) {
    std::string file = dir / "plain";
    spit(file, "x");
    for (const std::string& path : {file, dir / "missing"}) {
        auto opened = Cortex::open(path);
        ASSERT_FALSE(opened);
        EXPECT_EQ(opened.error().kind(), CortexError::Kind::NotADirectory);
        EXPECT_TRUE(opened.error().is_os_error());
        EXPECT_EQ(opened.error().message(), path + " is not a directory");
    }
    EXPECT_EQ(error_text(Cortex::create(file, "Net", "lif", kNow)), file + " is not a directory");
    EXPECT_EQ(slurp(file), "x");

    std::filesystem::create_directories(root);
    EXPECT_EQ(error_text(Cortex::open(root)),
              "expected file does not exist: " + root + "/metadata.json");
    spit(root + "/metadata.json", "{\"version\": 2,");
    EXPECT_TRUE(error_text(Cortex::open(root)).starts_with("metadata JSON parse error: "));
}

TEST_F(CortexTest, MissingTopologyOpensEmptyWithTypeDefaultsAndWritesNothing) {
    // The open-time rule differs from the create-time one for unknown types.
    const std::pair<const char*, const char*> cases[] = {
        {"hh", "hh"}, {"lif", "lif"}, {"knowledge-graph", "lif"}, {"izh", "izh"}};
    int n = 0;
    for (const auto& [cortex_type, kind] : cases) {
        SCOPED_TRACE(cortex_type);
        root = dir / ("case" + std::to_string(n++));
        create(cortex_type, {kind, "plastic-synapse", {}, {}});
        std::filesystem::remove(root + "/topology.json");

        auto opened = Cortex::open(root);
        ASSERT_TRUE(opened) << opened.error().message();
        EXPECT_EQ(opened->topology(), empty_topology(cortex_type, kind));
        EXPECT_FALSE(exists("topology.json"));
    }
}

TEST_F(CortexTest, DocumentsNamingDifferentTypesAreRefused) {
    create("hh");
    ASSERT_TRUE(write_topology(root, empty_topology("lif", "lif")));
    auto opened = Cortex::open(root);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().kind(), CortexError::Kind::Topology);
    EXPECT_FALSE(opened.error().is_os_error());
    EXPECT_EQ(opened.error().message(), "topology says 'lif' but metadata says 'hh'");
}

TEST_F(CortexTest, CreateChecksBothDocumentsBeforeWritingEither) {
    auto made = Cortex::create(root, "Net", "lif", kNow, {{}, "Bad_Kind", {}, {}});
    EXPECT_EQ(error_text(made), "synapse kind 'Bad_Kind' is not a valid kebab-case slug");
    EXPECT_FALSE(testing::exists(root));  // not even the folder
    EXPECT_EQ(error_text(Cortex::create(root, "", "lif", kNow)), "metadata.name must not be empty");
    EXPECT_FALSE(testing::exists(root));
    EXPECT_TRUE(Cortex::create(root, "Net", "lif", kNow));
}

// Fails renames onto one document, as a full or failing disk would.
struct FailingRename : testing::FaultyFiles {
    std::string target;
    int rename(const char* from, const char* to) override {
        if (std::string_view(to).ends_with(target))
            return fail(ENOSPC);
        return FaultyFiles::rename(from, to);
    }
};

TEST_F(CortexTest, CreateTakesMetadataBackOutWhenTopologyCannotBeWritten) {
    FailingRename full;
    full.target = "/topology.json";
    auto made = Cortex::create(root, "Net", "lif", kNow, {}, full);
    EXPECT_EQ(error_text(made), std::string("disk I/O error: ") + std::strerror(ENOSPC));
    EXPECT_FALSE(exists("metadata.json"));
    EXPECT_FALSE(exists("topology.json"));
    EXPECT_EQ(testing::temp_files(root), std::vector<std::string>{});
    EXPECT_TRUE(Cortex::create(root, "Net", "lif", kNow));
}

TEST_F(CortexTest, RenameWritesMetadataAndRefusedNamesChangeNothing) {
    Cortex c = create("lif");
    ASSERT_TRUE(c.rename("Renamed", "2024-06-01T00:00:00Z"));
    auto opened = Cortex::open(root);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->metadata().name, "Renamed");
    EXPECT_EQ(opened->metadata().updated_at, "2024-06-01T00:00:00Z");
    EXPECT_EQ(opened->metadata().created_at, kNow);

    std::string on_disk = text("metadata.json");
    EXPECT_EQ(error_text(c.rename("", "2024-07-01T00:00:00Z")), "metadata.name must not be empty");
    EXPECT_EQ(c.metadata().name, "Renamed");
    EXPECT_EQ(c.metadata().updated_at, "2024-06-01T00:00:00Z");
    EXPECT_EQ(text("metadata.json"), on_disk);
    EXPECT_EQ(testing::temp_files(root), std::vector<std::string>{});
}

TEST_F(CortexTest, WeightsLiveUnderTheCortexType) {
    Cortex c = create("hh");
    std::vector<WeightRecord> records = {{c.metadata().id, 3.5f}};
    ASSERT_TRUE(c.persist_weights(records));
    EXPECT_TRUE(exists("weights/hh/latest.cwt"));
    EXPECT_EQ(c.load_weights(), records);
}

// Graph edits on a fresh lif network.
class GraphEditsTest : public CortexTest {
  protected:
    Cortex cortex = create("lif");

    void add_node(Uuid id, std::string label = "") {
        auto r = cortex.add_neuron(NeuronInput{id, std::move(label), {}, {}, {}});
        EXPECT_TRUE(r) << r.error().message();
    }
    std::expected<Uuid, CortexError> connect(Uuid pre, Uuid post) {
        return cortex.add_synapse({{}, pre, post, {}, 0.5f, {}, {}});
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
    // Memory, topology.json and the event log, to compare before and after.
    std::tuple<TopologyFile, std::string, std::string> state() {
        return {cortex.topology(), text("topology.json"), text("events.jsonl")};
    }
};

TEST_F(GraphEditsTest, AddNeuronPersistsAndLogs) {
    auto id = cortex.add_neuron(NeuronInput{std::nullopt, "input", {}, {}, {}});
    ASSERT_TRUE(id);
    EXPECT_EQ(id->bytes[6] >> 4, 4);
    EXPECT_EQ(cortex.topology().nodes, (std::vector<TopologyNode>{{*id, "input", {}, kEmpty, {}}}));
    EXPECT_EQ(on_disk(), cortex.topology());
    EXPECT_EQ(text("events.jsonl"), R"({"format":"cortex.event","version":1,"t_ms":0.0,)"
                                    R"("kind":"neuron_add","id":")" +
                                        id->to_string() + R"(","label":"input"})" + "\n");

    // Given fields are stored as they are.
    JsonObject meta;
    meta.insert_or_assign("x", JsonValue::unsigned_int(3));
    TopologyNode given{kA, "hidden", NeuronSpec{"hh", JsonValue(meta)}, JsonValue(meta),
                       JsonValue::number(-65.0)};
    EXPECT_EQ(cortex.add_neuron({kA, given.label, given.kind, given.metadata, given.init_state}),
              kA);
    EXPECT_EQ(on_disk().nodes.at(1), given);
}

TEST_F(GraphEditsTest, RefusedNeuronLeavesMemoryAndFilesUnchanged) {
    add_node(kA);
    auto before = state();
    EXPECT_EQ(error_text(cortex.add_neuron(NeuronInput{kA, "again", {}, {}, {}})),
              "duplicate node id " + kA.to_string());
    auto bad_kind = cortex.add_neuron(NeuronInput{kB, "", NeuronSpec{"Not A Slug", {}}, {}, {}});
    EXPECT_EQ(error_text(bad_kind), "neuron kind 'Not A Slug' is not a valid kebab-case slug");
    EXPECT_FALSE(bad_kind.error().is_os_error());
    EXPECT_EQ(state(), before);
    // A node that would make topology.json too large to read back is refused the same way.
    auto huge = cortex.add_neuron(NeuronInput{kB, std::string(kTopologyByteCap, 'x'), {}, {}, {}});
    EXPECT_TRUE(error_text(huge).starts_with("topology file too large: "));
    EXPECT_EQ(state(), before);
}

TEST_F(GraphEditsTest, AddSynapseAppliesDefaultsPersistsAndLogs) {
    add_node(kA);
    add_node(kB);
    auto id = cortex.add_synapse({{}, kA, kB, {}, 1.0f, {}, {}});
    ASSERT_TRUE(id) << id.error().message();
    EXPECT_EQ(cortex.topology().edges,
              (std::vector<TopologyEdge>{{*id, kA, kB, {}, 1.0f, 1.0f, kEmpty}}));
    EXPECT_EQ(on_disk(), cortex.topology());
    auto log = events();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log.back().kind, EventKind(SynapseAddEvent{*id, kA, kB, 1.0f}));

    SynapseSpec plastic{"plastic-synapse", {}};
    EXPECT_EQ(cortex.add_synapse({kC, kB, kA, plastic, 0.25f, 2.5f, {}}), kC);
    EXPECT_EQ(on_disk().edges.at(1), (TopologyEdge{kC, kB, kA, plastic, 0.25f, 2.5f, kEmpty}));
}

// The validation rules themselves are covered with the topology format.
TEST_F(GraphEditsTest, RefusedSynapsesReportTheFirstFaultAndChangeNothing) {
    add_node(kA);
    add_node(kB);
    const Uuid first = *connect(kA, kB);
    auto before = state();
    const std::string e = "edge " + kE.to_string();
    const std::pair<SynapseInput, std::string> cases[] = {
        {{kE, kA, kA, {}, 0.5f, {}, {}}, e + " is a self-loop (pre == post)"},
        {{kE, kB, kA, {}, 0.5f, -1.0f, {}}, e + " delay_ms -1 is not finite or is negative"},
        // The default kind is stdp, so naming it explicitly duplicates the first edge.
        {{kE, kA, kB, SynapseSpec{"stdp", {}}, 0.5f, {}, {}},
         e + " duplicates an existing (pre, post, kind) triple"},
        {{first, kB, kA, {}, 0.5f, {}, {}}, "duplicate edge id " + first.to_string()},
    };
    for (const auto& [input, message] : cases)
        EXPECT_EQ(error_text(cortex.add_synapse(input)), message);
    EXPECT_EQ(state(), before);

    // The reverse direction and another kind between the same pair are distinct.
    EXPECT_TRUE(connect(kB, kA));
    EXPECT_TRUE(cortex.add_synapse({{}, kA, kB, SynapseSpec{"plastic-synapse", {}}, 0.0f, {}, {}}));
}

TEST_F(GraphEditsTest, RemoveNeuronCascadesToIncidentEdgesOnly) {
    for (const Uuid& id : {kA, kB, kC, kD})
        add_node(id);
    ASSERT_TRUE(connect(kA, kB));
    Uuid kept1 = *connect(kB, kC);
    ASSERT_TRUE(connect(kA, kC));
    ASSERT_TRUE(connect(kB, kA));
    Uuid kept2 = *connect(kC, kD);

    // The argument refers into the node list that the removal compacts.
    EXPECT_EQ(cortex.remove_neuron(cortex.topology().nodes[0].id), 3u);
    TopologyFile t = on_disk();
    ASSERT_EQ(t.nodes.size(), 3u);
    EXPECT_EQ(t.nodes[0].id, kB);
    EXPECT_EQ(t.nodes[2].id, kD);
    ASSERT_EQ(t.edges.size(), 2u);
    EXPECT_EQ(t.edges[0].id, kept1);
    EXPECT_EQ(t.edges[1].id, kept2);
    EXPECT_EQ(events().back().kind, EventKind(NeuronRemoveEvent{kA, 3}));

    auto before = state();
    EXPECT_EQ(cortex.remove_neuron(kA), 0u);
    EXPECT_EQ(state(), before);
}

TEST_F(GraphEditsTest, RemoveSynapseReportsWhetherItRemovedAnything) {
    add_node(kA);
    add_node(kB);
    Uuid e1 = *connect(kA, kB);
    Uuid e2 = *connect(kB, kA);
    EXPECT_EQ(cortex.remove_synapse(e1), true);
    TopologyFile t = on_disk();
    ASSERT_EQ(t.edges.size(), 1u);
    EXPECT_EQ(t.edges[0].id, e2);
    EXPECT_EQ(events().back().kind, EventKind(SynapseRemoveEvent{e1}));

    auto before = state();
    EXPECT_EQ(cortex.remove_synapse(e1), false);
    EXPECT_EQ(state(), before);
}

TEST_F(GraphEditsTest, FailedWriteLeavesMemoryAheadUntilTheNextSave) {
    add_node(kA);
    std::string log = text("events.jsonl");
    // A disk on which every new file fails makes every rewrite fail.
    testing::FaultyFiles full;
    auto handle = Cortex::open(root, full);
    ASSERT_TRUE(handle);
    full.temp_open_errno = ENOSPC;

    EXPECT_EQ(error_text(handle->add_neuron(NeuronInput{kB, "late", {}, {}, {}})),
              std::string("disk I/O error: ") + std::strerror(ENOSPC));
    EXPECT_FALSE(handle->remove_neuron(kA));
    ASSERT_EQ(handle->topology().nodes.size(), 1u);
    EXPECT_EQ(handle->topology().nodes[0].id, kB);
    // Disk still has the old graph; the log has no line for either edit.
    TopologyFile stale = on_disk();
    ASSERT_EQ(stale.nodes.size(), 1u);
    EXPECT_EQ(stale.nodes[0].id, kA);
    EXPECT_EQ(text("events.jsonl"), log);

    full.temp_open_errno = 0;
    ASSERT_TRUE(handle->save());
    EXPECT_EQ(on_disk(), handle->topology());
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
        expected.edges.push_back(
            {e.id, e.pre, e.post, params.synapse, e.init_weight, e.delay_ms, kEmpty});
    }

    EXPECT_EQ(cortex.apply_seed(std::move(*seed)), (SeedApplyCounts{5, 20}));
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
    auto before = state();
    EXPECT_EQ(error_text(cortex.apply_seed(std::move(again))),
              "duplicate node id " + cortex.topology().nodes[0].id.to_string());

    // A fault in the last edge also takes the seed's nodes back out.
    Seed bad;
    bad.nodes = {SeedNode{kB, "b", {}, kEmpty}, SeedNode{kC, "c", {}, kEmpty}};
    bad.edges = {SeedEdge{kD, kB, kC, {}, 0.5f, 1.0f}, SeedEdge{kE, kC, kC, {}, 0.5f, 1.0f}};
    EXPECT_EQ(error_text(cortex.apply_seed(std::move(bad))),
              "edge " + kE.to_string() + " is a self-loop (pre == post)");
    EXPECT_EQ(state(), before);

    // A graph whose topology.json the reader would refuse is refused before
    // anything is written, and taken back out like an invalid one.
    Seed huge;
    huge.nodes = {SeedNode{kA, std::string(kTopologyByteCap, 'x'), {}, kEmpty}};
    const std::string text = error_text(cortex.apply_seed(std::move(huge)));
    EXPECT_TRUE(text.starts_with("topology file too large: ")) << text;
    EXPECT_TRUE(text.ends_with(" bytes exceeds limit of " + std::to_string(kTopologyByteCap)))
        << text;
    EXPECT_EQ(state(), before);
}

}  // namespace
}  // namespace vorn
