#include <gtest/gtest.h>

#include <filesystem>

#include "core/store/event_log.hpp"
#include "temp_dir.hpp"

namespace vorn {
namespace {

using testing::slurp;
using testing::spit;
using testing::TempDir;

const Uuid kNode = *Uuid::parse("30000000-0000-4000-8000-000000000001");

TEST(EventLog, AppendsOneLinePerRecord) {
    TempDir dir;
    EventRecord add = EventRecord::of(NeuronAddEvent{kNode, "input"});
    EventRecord remove = EventRecord::of(NeuronRemoveEvent{kNode, 3});
    ASSERT_TRUE(append_event(dir.path, add));
    EXPECT_EQ(slurp(dir / "events.jsonl"), *serialize_event(add) + "\n");
    ASSERT_TRUE(append_event(dir.path, remove));
    EXPECT_EQ(slurp(dir / "events.jsonl"),
              *serialize_event(add) + "\n" + *serialize_event(remove) + "\n");
    auto all = read_events(dir.path);
    ASSERT_TRUE(all) << all.error().message();
    ASSERT_EQ(all->size(), 2u);
    EXPECT_EQ((*all)[0], add);
    EXPECT_EQ((*all)[1], remove);
}

TEST(EventLog, AppendFailuresAreIoErrors) {
    TempDir dir;
    std::filesystem::create_directory(dir / "events.jsonl");
    auto r = append_event(dir.path, EventRecord::of(SynapseRemoveEvent{kNode}));
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().kind(), CortexError::Kind::Io);
    // The folder itself is never created by an append.
    auto no_folder = append_event(dir / "absent", EventRecord::of(SynapseRemoveEvent{kNode}));
    ASSERT_FALSE(no_folder);
    EXPECT_FALSE(std::filesystem::exists(dir / "absent"));
    auto bad_label = append_event(dir.path, EventRecord::of(NeuronAddEvent{kNode, "\xfe"}));
    ASSERT_FALSE(bad_label);
    EXPECT_EQ(bad_label.error().message(), "event serialize error: string is not valid UTF-8");
}

TEST(EventLog, ReaderReportsTheFirstBadLine) {
    TempDir dir;
    auto none = read_events(dir.path);
    ASSERT_TRUE(none);
    EXPECT_TRUE(none->empty());
    std::string good = *serialize_event(EventRecord::of(SeedApplyEvent{10, 20}));
    spit(dir / "events.jsonl", good + "\n" + good.substr(0, 20) + "\n" + good + "\n");
    auto r = read_events(dir.path);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().message().starts_with("event parse error: ")) << r.error().message();
    EXPECT_NE(r.error().message().find(" at line 2 column "), std::string::npos);
    spit(dir / "events.jsonl", good + "\n" + R"({"format":"other","version":1})" + "\n");
    EXPECT_EQ(read_events(dir.path).error().message(),
              "event format tag 'other' is not 'cortex.event'");
}

}  // namespace
}  // namespace vorn
