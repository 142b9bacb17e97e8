#pragma once
// JsonInput: the bytes of one JSON document as the reader consumes them,
// either a buffer in memory or chunks pulled from a ByteSource. It tracks the
// reading position for error messages and can stop after a byte cap so that
// a growing file cannot be read without bound.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/format/errors.hpp"

namespace vorn {

// A pull source of bytes (a file, in the store).
class ByteSource {
  public:
    virtual ~ByteSource() = default;
    // Reads up to n bytes into buf. Returns the count (0 at end of input) or the OS failure.
    virtual std::expected<std::size_t, IoError> read(char* buf, std::size_t n) = 0;
};

class JsonInput {
  public:
    // The whole document in memory; the bytes must outlive the input.
    explicit JsonInput(std::string_view bytes);
    // Pulled from source in chunks; at most cap + 1 bytes are read, and
    // reading stops (as if at end of input) once more than cap have arrived.
    JsonInput(ByteSource& source, std::uint64_t cap);

    // Bytes handed to the lexer so far.
    std::uint64_t consumed() const {
        return chunk_offset_ + static_cast<std::uint64_t>(cur_ - chunk_);
    }
    // 1-based line and byte column of the last byte handed to the lexer.
    std::pair<std::uint64_t, std::uint64_t> position() const;

    // The lexer was told that the input had ended: the bytes ran out, a
    // read failed or the cap was passed. False while it still had bytes.
    bool reached_end() const { return reached_end_; }
    // The last byte handed to the lexer was a NUL, which the lexer
    // takes for the end of input. Only meaningful while !reached_end().
    bool stopped_at_nul() const { return consumed() != 0 && cur_[-1] == '\0'; }

    // More than cap bytes arrived from the source.
    bool over_cap() const { return over_cap_; }
    // Total bytes pulled from the source (for messages about its size).
    std::uint64_t bytes_read() const { return total_read_; }
    const std::optional<IoError>& io_error() const { return io_error_; }

  private:
    // The lexer reads bytes straight from cur_/lim_ and calls next_chunk()
    // when they run out.
    friend class JsonLexer;

    // Makes the next chunk current and returns true, or records the end of
    // input (the bytes ran out, a read failed or the cap was passed).
    bool next_chunk();
    // Loads the next chunk into chunk_/lim_; false at end of input, after a
    // read error or past the cap.
    bool refill();

    const char* cur_ = nullptr;       // the next byte for the lexer
    const char* chunk_ = nullptr;     // start of the current chunk
    const char* lim_ = nullptr;       // end of the current chunk
    std::uint64_t chunk_offset_ = 0;  // offset of chunk_ in the document
    // Lines fully before the current chunk, and where the line holding its
    // first byte started.
    std::uint64_t lines_before_ = 0;
    std::uint64_t line_start_ = 0;

    std::string_view memory_;  // the whole input when not streamed
    bool memory_loaded_ = false;
    ByteSource* source_ = nullptr;
    std::unique_ptr<char[]> buffer_;  // one chunk when streamed
    std::uint64_t cap_ = 0;
    std::uint64_t total_read_ = 0;
    bool over_cap_ = false;
    bool reached_end_ = false;
    bool source_done_ = false;
    std::optional<IoError> io_error_;
};

}  // namespace vorn
