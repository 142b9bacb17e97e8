#include "core/format/io_error.hpp"

#include <cstring>

namespace vorn {

std::string IoError::message() const {
    if (kind == Kind::Os)
        return std::strerror(code);
    return custom;
}

}  // namespace vorn
