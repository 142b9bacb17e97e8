#include <gtest/gtest.h>

#include "core/store/cortex_error.hpp"

namespace vorn {
namespace {

// The error kinds that no store path raises in the tests; the others are
// checked, text and classification, where they are raised.
TEST(CortexError, MessagesAndOsClassification) {
    struct Case {
        CortexError error;
        std::string message;
        bool os;
    };
    const Case cases[] = {
        // Ill-formed bytes of a path are shown as replacement characters.
        {CortexError::not_a_directory("a\xff"), "a\xef\xbf\xbd is not a directory", true},
        {CortexError::missing_file("m"), "expected file does not exist: m", true},
        {CortexError(MetadataError::empty_name()), "metadata.name must not be empty", false},
        {CortexError(EventError::serialize(JsonError{"bad", 0, 0})), "event serialize error: bad",
         false},
        {CortexError(StateError::format_tag_mismatch("x")),
         "state format tag 'x' is not 'cortex.state'", false},
        {CortexError(StateError::unsupported_version(3, 1)),
         "state version 3 is not supported (max 1)", false},
        {CortexError(StateError::json_error(JsonError{"eof", 2, 5})),
         "state JSON parse error: eof at line 2 column 5", false},
        {CortexError(WeightsError::io_error(IoError::write_zero())),
         "weights I/O error: failed to write whole buffer", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.error.message(), c.message);
        EXPECT_EQ(c.error.is_os_error(), c.os) << c.message;
    }
}

}  // namespace
}  // namespace vorn
