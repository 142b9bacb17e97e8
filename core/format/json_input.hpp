#pragma once
// JsonInput: the bytes of one JSON document as the reader consumes them,
// either a buffer in memory or chunks pulled from a ByteSource. It tracks the
// reading position for error messages and can stop after a byte cap so that
// a growing file cannot be read without bound.

#include <cstdint>
#include <expected>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/format/io_error.hpp"

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

    // The parser's view of the input: one byte at a time, with the chunk
    // bounds held by value so that the byte loop touches no other object.
    struct Adapter {
        using char_type = char;

        JsonInput* in;
        const char* cur = nullptr;
        const char* lim = nullptr;

        std::char_traits<char>::int_type get_character() {
            if (cur != lim) [[likely]]
                return std::char_traits<char>::to_int_type(*cur++);
            return in->next_chunk(*this);
        }
    };

    // The adapter to hand to the parser (at most once per input).
    Adapter adapter() { return Adapter{this}; }

    // Bytes handed to the parser so far.
    std::uint64_t consumed() const {
        return live_ == nullptr ? 0
                                : chunk_offset_ + static_cast<std::uint64_t>(live_->cur - chunk_);
    }
    // 1-based line and byte column of the last byte handed to the parser.
    std::pair<std::uint64_t, std::uint64_t> position() const;

    // The parser was told that the input had ended: the bytes ran out, a
    // read failed or the cap was passed. False while it still had bytes.
    bool reached_end() const { return reached_end_; }
    // The last byte handed to the parser was a NUL, which the JSON library
    // takes for the end of input. Only meaningful while !reached_end().
    bool stopped_at_nul() const { return live_ != nullptr && live_->cur[-1] == '\0'; }

    // More than cap bytes arrived from the source.
    bool over_cap() const { return over_cap_; }
    // Total bytes pulled from the source (for messages about its size).
    std::uint64_t bytes_read() const { return total_read_; }
    const std::optional<IoError>& io_error() const { return io_error_; }

  private:
    // Moves the adapter to the next chunk and returns its first byte, or
    // end of input. The adapter lives inside the parser: its address is
    // recorded here so that positions can be reported while parsing.
    std::char_traits<char>::int_type next_chunk(Adapter& a);
    // Loads the next chunk into chunk_/lim_; false at end of input, after a
    // read error or past the cap.
    bool refill();

    Adapter* live_ = nullptr;
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
