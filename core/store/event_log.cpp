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
    auto file = open_regular(fs, path, O_WRONLY | O_APPEND | O_CREAT, 0666);
    if (!file)
        return std::unexpected(CortexError(file.error()));
    UniqueFd fd(fs, file->fd);
    // One write call for the whole line keeps concurrent appends from interleaving.
    auto written = write_all(fs, fd.get(), *line);
    if (!written) {
        // A short or failed append (a full disk) would leave a partial line
        // for the next append to be glued onto: cut the log back to where it
        // ended. Appenders holding the folder lock cannot have added since.
        while (fs.ftruncate(fd.get(), file->st.st_size) != 0 && errno == EINTR) {
        }
        return std::unexpected(CortexError(written.error()));
    }
    return {};
}

std::expected<std::vector<EventRecord>, CortexError> read_events(const std::string& root,
                                                                 FileAccess& fs) {
    std::string path = join_path(root, kEventsFileName);
    std::vector<EventRecord> out;
    auto bytes = read_file(fs, path);
    if (!bytes) {
        if (bytes.error().is_missing())
            return out;
        return std::unexpected(CortexError(bytes.error()));
    }
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
