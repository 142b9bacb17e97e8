#include "core/store/event_log.hpp"

#include <fcntl.h>

#include <cerrno>

#include "core/format/folder_layout.hpp"
#include "core/store/file_ops.hpp"

namespace vorn {

std::expected<void, CortexError> append_event(const std::string& root, const EventRecord& e,
                                              FileAccess& fs) {
    auto line = serialize_event(e);
    if (!line)
        return std::unexpected(CortexError(std::move(line.error())));
    line->push_back('\n');
    std::string path = join_path(root, kEventsFileName);
    int fd = fs.open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0)
        return std::unexpected(CortexError(IoError::os(errno)));
    // One write call for the whole line keeps concurrent appends from interleaving.
    auto written = write_all(fs, fd, *line);
    fs.close(fd);
    if (!written)
        return std::unexpected(CortexError(written.error()));
    return {};
}

std::expected<std::vector<EventRecord>, CortexError> read_events(const std::string& root,
                                                                 FileAccess& fs) {
    std::string path = join_path(root, kEventsFileName);
    auto status = file_status(fs, path);
    if (!status)
        return std::unexpected(CortexError(status.error()));
    std::vector<EventRecord> out;
    if (*status == FileStatus::Missing)
        return out;
    auto bytes = read_file(fs, path);
    if (!bytes)
        return std::unexpected(CortexError(bytes.error()));
    std::string_view rest = *bytes;
    std::uint64_t line_number = 0;
    while (!rest.empty()) {
        ++line_number;
        auto nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl == std::string_view::npos ? rest.size() : nl + 1);
        auto rec = parse_event_line(line, line_number);
        if (!rec)
            return std::unexpected(CortexError(std::move(rec.error())));
        out.push_back(std::move(*rec));
    }
    return out;
}

}  // namespace vorn
