#include "core/format/event_error.hpp"

#include "core/format/folder_layout.hpp"

namespace vorn {

std::string EventError::message() const {
    switch (kind) {
        case Kind::Serialize:
            return "event serialize error: " + json.message();
        case Kind::Parse:
            return "event parse error: " + json.message();
        case Kind::FormatTagMismatch:
            return "event format tag '" + text + "' is not '" + std::string(kEventFormatTag) + "'";
        case Kind::UnsupportedVersion:
            return "event version " + std::to_string(found) + " is not supported (max " +
                   std::to_string(max) + ")";
    }
    return {};
}

std::string StateError::message() const {
    switch (kind) {
        case Kind::Json:
            return "state JSON parse error: " + json.message();
        case Kind::FormatTagMismatch:
            return "state format tag '" + text + "' is not '" + std::string(kStateFormatTag) + "'";
        case Kind::UnsupportedVersion:
            return "state version " + std::to_string(found) + " is not supported (max " +
                   std::to_string(max) + ")";
    }
    return {};
}

}  // namespace vorn
