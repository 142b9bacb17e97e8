#include "core/models/param_error.hpp"

namespace vorn {

std::string ParamError::message() const {
    switch (kind) {
        case Kind::UnknownParameter:
            return "unknown parameter '" + key + "'";
        case Kind::WrongType:
            return "parameter '" + key + "' expects a " + detail;
        case Kind::OutOfRange:
            return "parameter '" + key + "' out of range: " + detail;
        case Kind::NotSettable:
            return "parameter '" + key + "' cannot be set right now: " + detail;
        case Kind::Missing:
            return "missing parameter '" + key + "'";
    }
    return {};
}

}  // namespace vorn
