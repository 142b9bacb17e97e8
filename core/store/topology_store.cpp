#include "core/store/topology_store.hpp"

#include <fcntl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>

#include "core/format/folder_layout.hpp"
#include "core/format/utf8.hpp"
#include "core/store/atomic_file.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {

std::uint64_t max_topology_bytes() {
    const char* raw = std::getenv(kMaxTopologyBytesEnv);
    if (raw == nullptr)
        return kDefaultMaxTopologyBytes;
    std::string_view text(raw);
    if (!is_valid_utf8(text))
        return kDefaultMaxTopologyBytes;
    if (text.starts_with('+'))
        text.remove_prefix(1);
    if (text.empty() ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return kDefaultMaxTopologyBytes;
    std::uint64_t value = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size())
        return kDefaultMaxTopologyBytes;
    return value;
}

std::expected<TopologyFile, CortexError> read_topology(const std::string& root, FileAccess& fs,
                                                       FileIdentity* seen) {
    std::string path = join_path(root, kTopologyFileName);
    auto opened = open_regular(fs, path, O_RDONLY);
    if (!opened) {
        if (opened.error().is_missing())
            return std::unexpected(CortexError::missing_file(std::move(path)));
        return std::unexpected(CortexError(opened.error()));
    }
    FdSource source(fs, opened->fd);
    if (seen != nullptr)
        *seen = FileIdentity::of(opened->st);
    const auto size = static_cast<std::uint64_t>(opened->st.st_size);
    std::uint64_t limit = max_topology_bytes();
    if (size > limit)
        return std::unexpected(CortexError::topology_too_large(std::move(path), size, limit));
    if (size > kTopologyByteCap)
        return std::unexpected(CortexError(TopologyError::too_large(size, kTopologyByteCap)));

    JsonInput input(source, kTopologyByteCap);
    auto file = read_topology_json(input);
    // A read failure or a file that grew past the cap explains any parse error.
    if (input.io_error())
        return std::unexpected(CortexError(*input.io_error()));
    if (input.over_cap()) {
        std::uint64_t got = std::max(size, input.bytes_read());
        return std::unexpected(CortexError(TopologyError::too_large(got, kTopologyByteCap)));
    }
    if (!file)
        return std::unexpected(CortexError(TopologyError::json_error(std::move(file.error()))));
    if (auto err = validate_topology(*file))
        return std::unexpected(CortexError(std::move(*err)));
    return std::move(*file);
}

std::expected<void, CortexError> write_topology(const std::string& root, const TopologyFile& t,
                                                FileAccess& fs) {
    auto bytes = serialize_topology(t);
    if (!bytes)
        return std::unexpected(CortexError(std::move(bytes.error())));
    return atomic_write(join_path(root, kTopologyFileName), *bytes, fs);
}

}  // namespace vorn
