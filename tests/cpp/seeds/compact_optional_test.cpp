#include "core/seeds/compact_optional.hpp"

#include <gtest/gtest.h>

#include "core/format/spec.hpp"

namespace vorn {
namespace {

TEST(CompactOptional, BehavesAsAnOptionalValue) {
    const std::optional<SynapseSpec> spec = SynapseSpec{"stdp", JsonValue::string("cfg")};
    CompactOptional<SynapseSpec> a(spec);
    CompactOptional<SynapseSpec> copy = a;
    ASSERT_TRUE(copy.has_value());
    // Copies are deep: changing one leaves the other as it was.
    copy->kind = "plastic-synapse";
    EXPECT_EQ(a->kind, "stdp");
    EXPECT_FALSE(a == copy);
    copy = a;
    EXPECT_TRUE(a == copy);
    EXPECT_TRUE(a == spec);
    EXPECT_EQ(static_cast<std::optional<SynapseSpec>>(a), spec);

    CompactOptional<SynapseSpec> empty;
    EXPECT_FALSE(empty);
    EXPECT_TRUE(empty == CompactOptional<SynapseSpec>(std::nullopt));
    EXPECT_TRUE(empty == std::optional<SynapseSpec>());
    EXPECT_FALSE(empty == spec);
    EXPECT_FALSE(empty == a);
    EXPECT_EQ(static_cast<std::optional<SynapseSpec>>(empty), std::nullopt);

    const std::optional<SynapseSpec> moved_out = std::move(a);
    EXPECT_EQ(moved_out, spec);
    EXPECT_EQ(sizeof(CompactOptional<SynapseSpec>), sizeof(void*));
}

}  // namespace
}  // namespace vorn
