#include "core/format/slug.hpp"

namespace vorn {

bool is_slug(std::string_view text) {
    if (text.empty() || text.front() == '-' || text.back() == '-')
        return false;
    for (char c : text) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
        if (!ok)
            return false;
    }
    return true;
}

}  // namespace vorn
