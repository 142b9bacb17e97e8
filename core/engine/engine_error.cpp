#include "core/engine/engine_error.hpp"

#include "core/util/float_format.hpp"

namespace vorn {
namespace {

std::string num(double v) {
    return format_double(v);
}

// Concatenates the parts (appending avoids a false -Wrestrict of g++ 12 on
// "literal" + std::string).
template <class... Parts>
std::string cat(const Parts&... parts) {
    std::string out;
    (out.append(std::string_view(parts)), ...);
    return out;
}

}  // namespace

EngineError EngineError::random_source(std::string detail) {
    return {Kind::RandomSource, std::move(detail)};
}

EngineError EngineError::length(std::string_view a, std::size_t na, std::string_view b,
                                std::size_t nb) {
    return {Kind::Length, cat(a, " has length ", std::to_string(na), " but ", b, " has length ",
                              std::to_string(nb))};
}

EngineError EngineError::count(std::string_view a, std::size_t na, std::size_t n,
                               std::string_view items) {
    return {Kind::Count, cat(a, " has length ", std::to_string(na), " but the sim has ",
                             std::to_string(n), " ", items)};
}

EngineError EngineError::negative_index(std::string_view array, std::size_t i, std::int64_t value) {
    return {Kind::NegativeIndex, cat(element(array, i), " is negative: ", std::to_string(value))};
}

EngineError EngineError::index_range(std::string_view array, std::size_t i, std::int64_t value,
                                     std::size_t n_neurons) {
    return {Kind::IndexRange,
            cat(element(array, i), " = ", std::to_string(value),
                " is not a neuron index: the sim has ", std::to_string(n_neurons), " neurons")};
}

EngineError EngineError::not_finite(std::string_view what, double value) {
    return {Kind::NotFinite, cat(what, " is not finite: ", num(value))};
}

EngineError EngineError::out_of_range(std::string_view what, double value, double lo, double hi,
                                      std::string_view context) {
    return {Kind::OutOfRange,
            cat(what, " = ", num(value), " is outside [", num(lo), ", ", num(hi), "] ", context)};
}

EngineError EngineError::negative(std::string_view what, double value) {
    return {Kind::Negative, cat(what, " must be >= 0, got ", num(value))};
}

EngineError EngineError::not_positive(std::string_view what, double value) {
    return {Kind::NotPositive, cat(what, " must be > 0, got ", num(value))};
}

EngineError EngineError::not_numeric(std::string_view key, std::string_view node) {
    return {Kind::NotNumeric, cat("'", key, "' is not a number of node ", node)};
}

std::string EngineError::element(std::string_view array, std::size_t i) {
    return cat(array, "[", std::to_string(i), "]");
}

}  // namespace vorn
