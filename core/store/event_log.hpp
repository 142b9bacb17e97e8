#pragma once
// The append-only edit journal of a folder (events.jsonl): appending one
// line per edit, and reading the journal back for tools and tests.

#include <expected>
#include <string>
#include <vector>

#include "core/format/event.hpp"
#include "core/store/cortex_error.hpp"
#include "core/store/file_access.hpp"

namespace vorn {

// Appends the record as one compact line. The file is created if absent
// (the folder is not); no flush to stable storage. A write that fails part
// way truncates the file back to its previous length, so the log never keeps
// a partial line; callers hold the folder lock so that no other appender can
// have added in between. Returns nothing, or Event(Serialize) or Io.
std::expected<void, CortexError> append_event(const std::string& root, const EventRecord& e,
                                              FileAccess& fs = system_file_access());

// Every record of the journal in file order; an absent journal is empty.
// Fails with Io, or Event for the first malformed, foreign or newer line.
std::expected<std::vector<EventRecord>, CortexError> read_events(
    const std::string& root, FileAccess& fs = system_file_access());

}  // namespace vorn
