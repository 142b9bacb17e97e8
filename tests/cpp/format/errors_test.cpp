#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <limits>

#include "core/format/cortex_error.hpp"

namespace vorn {
namespace {

TEST(CortexError, MessagesAndPythonClasses) {
    struct Case {
        CortexError error;
        std::string message;
        bool os;
    };
    const Case cases[] = {
        {CortexError::not_a_directory("/tmp/x"), "/tmp/x is not a directory", true},
        {CortexError::missing_file("r/metadata.json"),
         "expected file does not exist: r/metadata.json", true},
        {CortexError(IoError::os(ENOENT)), std::string("disk I/O error: ") + std::strerror(ENOENT),
         true},
        {CortexError(IoError::already_exists("metadata already exists at r/metadata.json")),
         "disk I/O error: metadata already exists at r/metadata.json", true},
        {CortexError(IoError::write_zero()), "disk I/O error: failed to write whole buffer", true},
        {CortexError::topology_too_large("r/topology.json", 11, 10),
         "topology file r/topology.json is 11 bytes, exceeds limit of 10 (set "
         "CORTEX_MAX_TOPOLOGY_BYTES to override)",
         false},
        {CortexError(TopologyError::too_large(300000000, 268435456)),
         "topology file too large: 300000000 bytes exceeds limit of 268435456", false},
        {CortexError(MetadataError::empty_name()), "metadata.name must not be empty", false},
        {CortexError(EventError::serialize(JsonError{"bad", 0, 0})), "event serialize error: bad",
         false},
        {CortexError(StateError::format_tag_mismatch("x")),
         "state format tag 'x' is not 'cortex.state'", false},
        {CortexError(StateError::unsupported_version(3, 1)),
         "state version 3 is not supported (max 1)", false},
        {CortexError(StateError::json_error(JsonError{"eof", 2, 5})),
         "state JSON parse error: eof at line 2 column 5", false},
        {CortexError(WeightsError::header_truncated(10)), "weights header truncated: read 10 bytes",
         false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_EQ(c.error.is_os_error(), c.os) << c.message;
    }
    // Ill-formed bytes of a path are shown as replacement characters.
    EXPECT_EQ(CortexError::not_a_directory("a\xff").message(), "a\xef\xbf\xbd is not a directory");
}

TEST(WeightsError, Messages) {
    EXPECT_EQ(WeightsError::bad_magic({1, 2, 3, 4}).message(),
              "weights file bad magic [1, 2, 3, 4] (expected [67, 87, 84, 49])");
    EXPECT_EQ(WeightsError::unsupported_version(2, 1).message(),
              "weights version 2 is not supported (max 1)");
    EXPECT_EQ(WeightsError::record_size_mismatch(16, 20).message(),
              "weights record_size 16 != expected 20 for this version");
    EXPECT_EQ(WeightsError::body_length_mismatch(60, 40).message(),
              "weights body length mismatch: expected 60 bytes, got 40");
    EXPECT_EQ(WeightsError::record_count_overflow(1ull << 62).message(),
              "weights record_count 4611686018427387904 overflows usize multiplication; file is "
              "corrupt");
    EXPECT_EQ(WeightsError::non_finite_weight(1, std::numeric_limits<float>::quiet_NaN()).message(),
              "weights record at index 1 has non-finite value (NaN)");
    EXPECT_EQ(WeightsError::non_finite_weight(0, -std::numeric_limits<float>::infinity()).message(),
              "weights record at index 0 has non-finite value (-inf)");
    EXPECT_EQ(WeightsError::io_error(IoError::write_zero()).message(),
              "weights I/O error: failed to write whole buffer");
    EXPECT_EQ(CortexError(WeightsError::io_error(IoError::os(EIO))).is_os_error(), false);
}

}  // namespace
}  // namespace vorn
