#pragma once
// CortexError: the single error type of the network store. It wraps the
// error class of each document; its display text is message().

#include <cstdint>
#include <string>
#include <variant>

#include "core/format/errors.hpp"

namespace vorn {

class CortexError {
  public:
    enum class Kind {
        NotADirectory,
        MissingFile,
        Io,
        Topology,
        Weights,
        State,
        Metadata,
        Event,
        TopologyTooLarge,
        RandomSource,
        StaleHandle,
    };

    // Paths are kept as the bytes given and rendered lossily in messages.
    struct NotADirectoryError {
        std::string path;
        friend bool operator==(const NotADirectoryError&, const NotADirectoryError&) = default;
    };
    struct MissingFileError {
        std::string path;
        friend bool operator==(const MissingFileError&, const MissingFileError&) = default;
    };
    struct TopologyTooLargeError {
        std::string path;
        std::uint64_t size = 0;   // bytes
        std::uint64_t limit = 0;  // bytes
        friend bool operator==(const TopologyTooLargeError&,
                               const TopologyTooLargeError&) = default;
    };

    // The operating system's random source could not deliver a fresh id.
    struct RandomSourceError {
        std::string text;  // "could not retrieve random bytes for uuid: {}"
        friend bool operator==(const RandomSourceError&, const RandomSourceError&) = default;
    };

    // A document was replaced by another writer after this handle last read
    // or wrote it, so this handle's change would silently undo that one.
    struct StaleHandleError {
        std::string path;  // the document
        friend bool operator==(const StaleHandleError&, const StaleHandleError&) = default;
    };

    static CortexError not_a_directory(std::string path) {
        return CortexError(NotADirectoryError{std::move(path)});
    }
    static CortexError random_source(std::string text) {
        return CortexError(RandomSourceError{std::move(text)});
    }
    static CortexError stale_handle(std::string path) {
        return CortexError(StaleHandleError{std::move(path)});
    }
    static CortexError missing_file(std::string path) {
        return CortexError(MissingFileError{std::move(path)});
    }
    static CortexError topology_too_large(std::string path, std::uint64_t size,
                                          std::uint64_t limit) {
        return CortexError(TopologyTooLargeError{std::move(path), size, limit});
    }
    CortexError(IoError e) : v_(std::move(e)) {}
    CortexError(TopologyError e) : v_(std::move(e)) {}
    CortexError(WeightsError e) : v_(std::move(e)) {}
    CortexError(StateError e) : v_(std::move(e)) {}
    CortexError(MetadataError e) : v_(std::move(e)) {}
    CortexError(EventError e) : v_(std::move(e)) {}

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    // NotADirectory, MissingFile, Io, RandomSource and StaleHandle concern
    // the file system or the machine rather than the data (Python OSError);
    // every other kind is a content failure (Python ValueError).
    bool is_os_error() const {
        return kind() == Kind::NotADirectory || kind() == Kind::MissingFile || kind() == Kind::Io ||
               kind() == Kind::RandomSource || kind() == Kind::StaleHandle;
    }

    // The wrapped value of the given alternative; the caller checks kind() first.
    const IoError& io() const { return std::get<IoError>(v_); }
    const TopologyError& topology() const { return std::get<TopologyError>(v_); }
    const WeightsError& weights() const { return std::get<WeightsError>(v_); }
    const StateError& state() const { return std::get<StateError>(v_); }
    const MetadataError& metadata() const { return std::get<MetadataError>(v_); }
    const EventError& event() const { return std::get<EventError>(v_); }
    const TopologyTooLargeError& too_large() const { return std::get<TopologyTooLargeError>(v_); }
    // The path of NotADirectory, MissingFile, TopologyTooLarge and
    // StaleHandle; empty otherwise.
    std::string path() const;

    std::string message() const;

    friend bool operator==(const CortexError&, const CortexError&) = default;

  private:
    template <typename T>
    explicit CortexError(T payload) : v_(std::move(payload)) {}

    // Alternative order matches Kind.
    std::variant<NotADirectoryError, MissingFileError, IoError, TopologyError, WeightsError,
                 StateError, MetadataError, EventError, TopologyTooLargeError, RandomSourceError,
                 StaleHandleError>
        v_;
};

}  // namespace vorn
