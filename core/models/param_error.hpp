#pragma once
// ParamError: why a parameter write of a neuron or synapse was refused.

#include <string>

namespace vorn {

struct ParamError {
    enum class Kind { UnknownParameter, WrongType, OutOfRange, NotSettable, Missing };

    Kind kind;
    std::string key;
    // WrongType: the expected text; OutOfRange and NotSettable: the reason.
    std::string detail;

    static ParamError unknown(std::string key) {
        return {Kind::UnknownParameter, std::move(key), {}};
    }
    static ParamError wrong_type(std::string key, std::string expected) {
        return {Kind::WrongType, std::move(key), std::move(expected)};
    }
    static ParamError out_of_range(std::string key, std::string reason) {
        return {Kind::OutOfRange, std::move(key), std::move(reason)};
    }
    static ParamError not_settable(std::string key, std::string reason) {
        return {Kind::NotSettable, std::move(key), std::move(reason)};
    }
    // A configuration record without this field.
    static ParamError missing(std::string key) { return {Kind::Missing, std::move(key), {}}; }

    // The display text shown to users.
    std::string message() const;

    friend bool operator==(const ParamError&, const ParamError&) = default;
};

}  // namespace vorn
