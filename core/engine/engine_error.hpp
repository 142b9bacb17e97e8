#pragma once
// EngineError: why the engine refused a bulk operation, a monitor or an
// argument. Each kind owns its message template here and in the source.

#include <cstdint>
#include <string>
#include <string_view>

namespace vorn {

class EngineError {
  public:
    enum class Kind {
        RandomSource,   // "could not retrieve random bytes for uuid: {}"
        Length,         // "{} has length {} but {} has length {}"
        Count,          // "{} has length {} but the sim has {} {}"
        NegativeIndex,  // "{}[{}] is negative: {}"
        IndexRange,     // "{}[{}] = {} is not a neuron index: the sim has {} neurons"
        NotFinite,      // "{} is not finite: {}"
        OutOfRange,     // "{} = {} is outside [{}, {}] {}"
        Negative,       // "{} must be >= 0, got {}"
        NotPositive,    // "{} must be > 0, got {}"
        NotNumeric,     // "'{}' is not a number of node {}"
    };

    // `what` names a value: an argument ("rate_hz") or an array element
    // ("weight[3]"; see element()).
    static EngineError random_source(std::string detail);
    static EngineError length(std::string_view a, std::size_t na, std::string_view b,
                              std::size_t nb);
    static EngineError count(std::string_view a, std::size_t na, std::size_t n,
                             std::string_view items);
    static EngineError negative_index(std::string_view array, std::size_t i, std::int64_t value);
    static EngineError index_range(std::string_view array, std::size_t i, std::int64_t value,
                                   std::size_t n_neurons);
    static EngineError not_finite(std::string_view what, double value);
    // `context` ends the text, e.g. "for kind 'stdp'".
    static EngineError out_of_range(std::string_view what, double value, double lo, double hi,
                                    std::string_view context);
    static EngineError negative(std::string_view what, double value);
    static EngineError not_positive(std::string_view what, double value);
    static EngineError not_numeric(std::string_view key, std::string_view node);

    // "name[i]", for element errors.
    static std::string element(std::string_view array, std::size_t i);

    Kind kind() const { return kind_; }
    const std::string& message() const { return message_; }

  private:
    EngineError(Kind kind, std::string message) : kind_(kind), message_(std::move(message)) {}
    Kind kind_;
    std::string message_;
};

}  // namespace vorn
