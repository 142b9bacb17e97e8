#pragma once
// IoError: an operating-system failure (errno) or a store-made I/O condition
// with its own text, such as a document that already exists.

#include <string>

namespace vorn {

struct IoError {
    enum class Kind { Os, AlreadyExists, WriteZero };

    Kind kind = Kind::Os;
    int code = 0;        // errno for Kind::Os
    std::string custom;  // the text of store-made conditions

    static IoError os(int errno_value) { return {Kind::Os, errno_value, {}}; }
    // "metadata already exists at {}" and similar refusals to overwrite.
    static IoError already_exists(std::string text) {
        return {Kind::AlreadyExists, 0, std::move(text)};
    }
    // A write that accepted zero bytes.
    static IoError write_zero() { return {Kind::WriteZero, 0, "failed to write whole buffer"}; }

    // The platform's error text for Os, else the custom text.
    std::string message() const;

    friend bool operator==(const IoError&, const IoError&) = default;
};

}  // namespace vorn
