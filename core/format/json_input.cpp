#include "core/format/json_input.hpp"

#include <algorithm>
#include <string_view>
#include <tuple>

namespace vorn {
namespace {

constexpr std::size_t kChunkBytes = 256 * 1024;

}  // namespace

JsonInput::JsonInput(std::string_view bytes) : memory_(bytes) {}

// The chunk is left uninitialised: only the bytes read are ever looked at,
// and a small document should not pay for clearing the whole chunk.
JsonInput::JsonInput(ByteSource& source, std::uint64_t cap)
    : source_(&source), buffer_(new char[kChunkBytes]), cap_(cap) {
    cur_ = chunk_ = lim_ = buffer_.get();
}

bool JsonInput::next_chunk() {
    if (reached_end_)
        return false;
    if (!refill()) {
        reached_end_ = true;
        cur_ = lim_;
        return false;
    }
    cur_ = chunk_;
    return true;
}

bool JsonInput::refill() {
    if (source_ == nullptr) {
        // In memory: the whole input is the one and only chunk.
        if (memory_loaded_ || memory_.empty())
            return false;
        memory_loaded_ = true;
        chunk_ = memory_.data();
        lim_ = chunk_ + memory_.size();
        return true;
    }
    if (source_done_)
        return false;
    // When no byte follows, the finished chunk stays the current one, so
    // that positions still point at its last byte (the read left it intact).
    const auto keep = std::tuple(chunk_, lim_, chunk_offset_, lines_before_, line_start_);
    auto stay = [&] {
        std::tie(chunk_, lim_, chunk_offset_, lines_before_, line_start_) = keep;
        source_done_ = true;
        return false;
    };
    // Fold the finished chunk into the line count before it is overwritten.
    std::string_view done(chunk_, static_cast<std::size_t>(lim_ - chunk_));
    if (auto last = done.rfind('\n'); last != std::string_view::npos) {
        lines_before_ += static_cast<std::uint64_t>(std::count(done.begin(), done.end(), '\n'));
        line_start_ = chunk_offset_ + last + 1;
    }
    chunk_offset_ += static_cast<std::uint64_t>(lim_ - chunk_);
    chunk_ = lim_ = buffer_.get();

    // Never pull more than cap + 1 bytes in total.
    std::uint64_t allowed = cap_ - std::min(cap_, total_read_) + 1;
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunkBytes, allowed));
    auto got = source_->read(buffer_.get(), want);
    if (!got) {
        io_error_ = got.error();
        return stay();
    }
    if (*got == 0)
        return stay();
    total_read_ += *got;
    if (total_read_ > cap_) {
        over_cap_ = true;
        source_done_ = true;
        return false;
    }
    lim_ = buffer_.get() + *got;
    return true;
}

std::pair<std::uint64_t, std::uint64_t> JsonInput::position() const {
    std::uint64_t line = lines_before_ + 1;
    std::uint64_t start = line_start_;
    std::uint64_t done = consumed();
    if (done == 0)
        return {1, 0};
    // The last consumed byte is just before cur; count the newlines before it.
    // (cur may be the chunk's start, so no pointer before it is formed.)
    for (const char* p = chunk_; p + 1 < cur_; ++p) {
        if (*p == '\n') {
            ++line;
            start = chunk_offset_ + static_cast<std::uint64_t>(p - chunk_) + 1;
        }
    }
    return {line, done - start};
}

}  // namespace vorn
