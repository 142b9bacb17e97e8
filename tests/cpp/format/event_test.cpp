#include <gtest/gtest.h>

#include <limits>

#include "core/format/event.hpp"

namespace vorn {
namespace {

const Uuid kA = *Uuid::parse("00000000-0000-4000-8000-00000000000a");
const Uuid kB = *Uuid::parse("00000000-0000-4000-8000-00000000000b");
const Uuid kC = *Uuid::parse("00000000-0000-4000-8000-00000000000c");

TEST(Event, LinesAreCompactAndByteExact) {
    EXPECT_EQ(*serialize_event(EventRecord::of(NeuronAddEvent{kA, "input"})),
              R"({"format":"cortex.event","version":1,"t_ms":0.0,"kind":"neuron_add",)"
              R"("id":"00000000-0000-4000-8000-00000000000a","label":"input"})");
    EXPECT_EQ(*serialize_event(EventRecord::of(SynapseAddEvent{kC, kA, kB, 0.4f})),
              R"({"format":"cortex.event","version":1,"t_ms":0.0,"kind":"synapse_add",)"
              R"("id":"00000000-0000-4000-8000-00000000000c",)"
              R"("pre":"00000000-0000-4000-8000-00000000000a",)"
              R"("post":"00000000-0000-4000-8000-00000000000b","init_weight":0.4})");
    EXPECT_EQ(*serialize_event(EventRecord::of(SeedApplyEvent{10, 20})),
              R"({"format":"cortex.event","version":1,"t_ms":0.0,"kind":"seed_apply",)"
              R"("added_nodes":10,"added_edges":20})");
    EventRecord odd =
        EventRecord::of(SynapseAddEvent{kC, kA, kB, std::numeric_limits<float>::infinity()});
    odd.t_ms = std::numeric_limits<double>::quiet_NaN();
    std::string line = *serialize_event(odd);
    EXPECT_NE(line.find("\"t_ms\":null"), std::string::npos);
    EXPECT_NE(line.find("\"init_weight\":null"), std::string::npos);
}

TEST(Event, EveryKindReadsBack) {
    for (const EventKind& kind :
         {EventKind{NeuronAddEvent{kA, "caf\xc3\xa9\n"}}, EventKind{NeuronRemoveEvent{kA, 3}},
          EventKind{SynapseAddEvent{kC, kA, kB, 0.1f}}, EventKind{SynapseRemoveEvent{kC}},
          EventKind{SeedApplyEvent{7, 0}}}) {
        EventRecord rec = EventRecord::of(kind);
        rec.t_ms = 12.5;
        auto back = parse_event_line(*serialize_event(rec), 1);
        ASSERT_TRUE(back) << back.error().message();
        EXPECT_EQ(*back, rec);
    }
}

TEST(Event, ReadingRejectsMalformedForeignAndNewerLines) {
    auto error = [](std::string_view line, std::uint64_t n) {
        auto r = parse_event_line(line, n);
        return r ? std::string("<ok>") : r.error().message();
    };
    EXPECT_TRUE(error(R"({"format":"cortex.event",)", 4).starts_with("event parse error: "));
    EXPECT_NE(error(R"({"format":"cortex.event",)", 4).find(" at line 4 column "),
              std::string::npos);
    EXPECT_EQ(error(R"({"format":"cortex.state","version":1})", 2),
              "event format tag 'cortex.state' is not 'cortex.event'");
    EXPECT_EQ(error(R"({"format":"cortex.event","version":2,"kind":"future"})", 2),
              "event version 2 is not supported (max 1)");
    EXPECT_EQ(error(R"({"format":"cortex.event","version":1,"t_ms":0.0,"kind":"x"})", 5),
              "event parse error: unknown event kind `x` at line 5");
    EXPECT_EQ(
        error(R"({"format":"cortex.event","version":1,"t_ms":0.0,"kind":"synapse_remove"})", 6),
        "event parse error: missing field `id` at line 6");
    EXPECT_EQ(error("[]", 1), "event parse error: expected an event object at line 1");
}

}  // namespace
}  // namespace vorn
