#pragma once
// IoError: an operating-system failure (errno) or a store-made I/O condition
// with its own text, such as a document that already exists.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace vorn {

struct IoError {
    enum class Kind { Os, AlreadyExists, WriteZero, NotRegularFile };

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
    // "{path} is a {type}, not a regular file": a directory, FIFO, socket or
    // device where a document belongs, named by its file-type bits (st_mode).
    static IoError not_regular_file(std::string_view path, mode_t mode);

    // The path or one of its folders does not exist (ENOENT, ENOTDIR).
    bool is_missing() const;

    // The platform's error text for Os, else the custom text.
    std::string message() const;

    friend bool operator==(const IoError&, const IoError&) = default;
};

}  // namespace vorn
