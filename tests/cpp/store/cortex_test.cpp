#include "core/store/cortex.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/format/folder_layout.hpp"
#include "core/store/topology_store.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::slurp;
using testing::spit;
using testing::TempDir;

constexpr const char* kNow = "2024-05-01T12:00:00Z";

CreateOptions with_kind(const char* neuron_kind) {
    CreateOptions o;
    o.defaults_neuron_kind = neuron_kind;
    return o;
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
    bool exists(const std::string& name) const {
        return std::filesystem::exists(root + "/" + name);
    }
};

TEST_F(CortexTest, CreateBuildsTheWholePathAndOpenReadsItBack) {
    root = dir / "a/b/net.cortex";
    Cortex made = create("lif");
    const MetadataFile& m = made.metadata();
    EXPECT_EQ(m.version, 2u);
    EXPECT_EQ(m.id.bytes[6] >> 4, 4);  // a random version-4 id
    EXPECT_EQ(m.name, "Net");
    EXPECT_EQ(m.cortex_type, "lif");
    EXPECT_EQ(m.source_root, root);
    EXPECT_EQ(m.created_at, kNow);
    EXPECT_EQ(m.updated_at, kNow);
    EXPECT_FALSE(m.hh_config);
    EXPECT_FALSE(m.source_kind);
    const TopologyFile& t = made.topology();
    EXPECT_EQ(t.defaults.neuron, (NeuronSpec{"lif", std::nullopt}));
    EXPECT_EQ(t.defaults.synapse, (SynapseSpec{"stdp", std::nullopt}));
    EXPECT_TRUE(t.nodes.empty() && t.edges.empty());

    auto opened = Cortex::open(root);
    ASSERT_TRUE(opened) << opened.error().message();
    EXPECT_EQ(opened->root(), root);
    EXPECT_EQ(opened->metadata(), made.metadata());
    EXPECT_EQ(opened->topology(), made.topology());
}

TEST_F(CortexTest, CreateKeepsTheCallersValues) {
    root = dir.path + "/kept/";  // a trailing slash stays as given
    CreateOptions o;
    o.defaults_synapse_kind = "plastic-synapse";
    o.source_root = "/elsewhere/source";
    JsonObject config;
    config.insert_or_assign("g_na", JsonValue::number(120.0));
    o.hh_config = JsonValue(config);
    Cortex made = create("hh", o);
    EXPECT_EQ(made.root(), root);
    EXPECT_EQ(made.topology().defaults.synapse.kind, "plastic-synapse");

    auto opened = Cortex::open(root);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->metadata().source_root, "/elsewhere/source");
    EXPECT_EQ(opened->metadata().hh_config, JsonValue(config));
    EXPECT_EQ(opened->topology().defaults.synapse.kind, "plastic-synapse");
}

TEST_F(CortexTest, CreateChoosesAndChecksTheDefaultNeuronKind) {
    struct Case {
        const char* cortex_type;
        const char* given;     // nullptr: not given
        const char* expected;  // the default kind, or the error text
        bool ok;
    };
    const Case cases[] = {
        {"hh", nullptr, "hh", true},
        {"lif", nullptr, "lif", true},
        {"knowledge-graph", nullptr, "lif", true},
        {"izh", "izh", "izh", true},
        {"knowledge-graph", "hh",
         "defaults.neuron.kind 'hh' does not match cortex_type 'knowledge-graph'", false},
        {"izh", nullptr, "defaults.neuron.kind 'lif' does not match cortex_type 'izh'", false},
        {"lif", "hh", "defaults.neuron.kind 'hh' does not match cortex_type 'lif'", false},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.cortex_type) + " / " + (c.given ? c.given : "-"));
        root = dir / ("case" + std::to_string(n++));
        CreateOptions o;
        if (c.given)
            o.defaults_neuron_kind = c.given;
        auto made = Cortex::create(root, "Net", c.cortex_type, kNow, o);
        if (c.ok) {
            ASSERT_TRUE(made) << made.error().message();
            EXPECT_EQ(made->topology().defaults.neuron.kind, c.expected);
        } else {
            ASSERT_FALSE(made);
            EXPECT_EQ(made.error().kind(), CortexError::Kind::Topology);
            EXPECT_FALSE(made.error().is_os_error());
            EXPECT_EQ(made.error().message(), c.expected);
            EXPECT_FALSE(exists(std::string(kMetadataFileName)));
        }
    }
}

TEST_F(CortexTest, CreateRefusesAnExistingNetworkAndLeavesItUntouched) {
    create("lif");
    std::string metadata = slurp(root + "/metadata.json");
    std::string topology = slurp(root + "/topology.json");
    auto again = Cortex::create(root, "Other", "hh", "later");
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().kind(), CortexError::Kind::Io);
    EXPECT_EQ(again.error().io().kind, IoError::Kind::AlreadyExists);
    EXPECT_TRUE(again.error().is_os_error());
    EXPECT_EQ(again.error().message(),
              "disk I/O error: metadata already exists at " + root + "/metadata.json");
    EXPECT_EQ(slurp(root + "/metadata.json"), metadata);
    EXPECT_EQ(slurp(root + "/topology.json"), topology);
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
    auto made = Cortex::create(file, "Net", "lif", kNow);
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().message(), file + " is not a directory");
    EXPECT_EQ(slurp(file), "x");

    std::filesystem::create_directories(root);
    auto empty = Cortex::open(root);
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.error().message(), "expected file does not exist: " + root + "/metadata.json");
}

TEST_F(CortexTest, MissingTopologyOpensEmptyWithTypeDefaultsAndWritesNothing) {
    struct Case {
        const char* cortex_type;
        const char* create_kind;
        const char* open_kind;
    };
    // The open-time rule differs from the create-time one for unknown types.
    const Case cases[] = {{"hh", "hh", "hh"},
                          {"lif", "lif", "lif"},
                          {"knowledge-graph", "lif", "lif"},
                          {"izh", "izh", "izh"}};
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cortex_type);
        root = dir / ("case" + std::to_string(n++));
        CreateOptions o = with_kind(c.create_kind);
        o.defaults_synapse_kind = "plastic-synapse";
        create(c.cortex_type, o);
        std::filesystem::remove(root + "/topology.json");

        auto opened = Cortex::open(root);
        ASSERT_TRUE(opened) << opened.error().message();
        const TopologyFile& t = opened->topology();
        EXPECT_EQ(t.cortex_type, c.cortex_type);
        EXPECT_EQ(t.defaults.neuron, (NeuronSpec{c.open_kind, std::nullopt}));
        EXPECT_EQ(t.defaults.synapse, (SynapseSpec{"stdp", std::nullopt}));
        EXPECT_TRUE(t.nodes.empty() && t.edges.empty());
        EXPECT_FALSE(exists("topology.json"));
    }
}

TEST_F(CortexTest, DocumentsNamingDifferentTypesAreRefused) {
    create("hh");
    TopologyFile other = TopologyFile::new_empty(
        "lif",
        TopologyDefaults{NeuronSpec{"lif", std::nullopt}, SynapseSpec{"stdp", std::nullopt}});
    ASSERT_TRUE(write_topology(root, other));
    auto opened = Cortex::open(root);
    ASSERT_FALSE(opened);
    EXPECT_EQ(opened.error().kind(), CortexError::Kind::Topology);
    EXPECT_FALSE(opened.error().is_os_error());
    EXPECT_EQ(opened.error().message(), "topology says 'lif' but metadata says 'hh'");
}

TEST_F(CortexTest, FailedTopologyWriteAtCreateLeavesMetadataOnly) {
    auto made = Cortex::create(root, "Net", "lif", kNow,
                               CreateOptions{std::nullopt, "Bad_Kind", std::nullopt, std::nullopt});
    ASSERT_FALSE(made);
    EXPECT_EQ(made.error().message(), "synapse kind 'Bad_Kind' is not a valid kebab-case slug");
    EXPECT_TRUE(exists("metadata.json"));
    EXPECT_FALSE(exists("topology.json"));

    auto opened = Cortex::open(root);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->topology().defaults.synapse.kind, "stdp");
    auto again = Cortex::create(root, "Net", "lif", kNow);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().io().kind, IoError::Kind::AlreadyExists);
}

TEST_F(CortexTest, RenameWritesMetadataAndKeepsARefusedNameInMemory) {
    Cortex c = create("lif");
    ASSERT_TRUE(c.rename("Renamed", "2024-06-01T00:00:00Z"));
    auto opened = Cortex::open(root);
    ASSERT_TRUE(opened);
    EXPECT_EQ(opened->metadata().name, "Renamed");
    EXPECT_EQ(opened->metadata().updated_at, "2024-06-01T00:00:00Z");
    EXPECT_EQ(opened->metadata().created_at, kNow);

    std::string on_disk = slurp(root + "/metadata.json");
    auto refused = c.rename("", "2024-07-01T00:00:00Z");
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message(), "metadata.name must not be empty");
    EXPECT_EQ(c.metadata().name, "");
    EXPECT_EQ(slurp(root + "/metadata.json"), on_disk);
}

TEST_F(CortexTest, WeightsLiveUnderTheCortexType) {
    Cortex c = create("hh");
    std::vector<WeightRecord> records = {{c.metadata().id, 3.5f}};
    ASSERT_TRUE(c.persist_weights(records));
    EXPECT_TRUE(exists("weights/hh/latest.cwt"));
    auto back = c.load_weights();
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, records);
}

}  // namespace
}  // namespace vorn
