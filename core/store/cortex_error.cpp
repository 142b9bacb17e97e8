#include "core/store/cortex_error.hpp"

#include "core/format/utf8.hpp"
#include "core/store/topology_store.hpp"

namespace vorn {

std::string CortexError::path() const {
    switch (kind()) {
        case Kind::NotADirectory:
            return std::get<NotADirectoryError>(v_).path;
        case Kind::MissingFile:
            return std::get<MissingFileError>(v_).path;
        case Kind::TopologyTooLarge:
            return std::get<TopologyTooLargeError>(v_).path;
        case Kind::StaleHandle:
            return std::get<StaleHandleError>(v_).path;
        default:
            return {};
    }
}

std::string CortexError::message() const {
    switch (kind()) {
        case Kind::NotADirectory:
            return utf8_lossy(path()) + " is not a directory";
        case Kind::MissingFile:
            return "expected file does not exist: " + utf8_lossy(path());
        case Kind::Io:
            return "disk I/O error: " + io().message();
        case Kind::Topology:
            return topology().message();
        case Kind::Weights:
            return weights().message();
        case Kind::State:
            return state().message();
        case Kind::Metadata:
            return metadata().message();
        case Kind::Event:
            return event().message();
        case Kind::TopologyTooLarge: {
            const auto& e = too_large();
            return "topology file " + utf8_lossy(e.path) + " is " + std::to_string(e.size) +
                   " bytes, exceeds limit of " + std::to_string(e.limit) + " (set " +
                   kMaxTopologyBytesEnv + " to override)";
        }
        case Kind::RandomSource:
            return std::get<RandomSourceError>(v_).text;
        case Kind::StaleHandle:
            return utf8_lossy(path()) +
                   " was changed by another writer since this handle last read or wrote it; "
                   "nothing was written: reopen the folder and repeat the change";
    }
    return {};
}

}  // namespace vorn
