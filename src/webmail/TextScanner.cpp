#include "webmail/TextScanner.h"

namespace quill {

std::size_t TextScanner::search(const std::string& marker, std::size_t from) {
    for (auto& known : absent_) {
        if (known.first == marker) {
            if (from >= known.second) {
                return std::string::npos;
            }
            const std::size_t at = text_.find(marker, from);
            if (at == std::string::npos) {
                known.second = from;
            }
            return at;
        }
    }
    const std::size_t at = text_.find(marker, from);
    if (at == std::string::npos) {
        absent_.emplace_back(marker, from);
    }
    return at;
}

bool TextScanner::find(const std::string& begin, const std::string& end) {
    const std::size_t from = position_ + length_;
    if (from > text_.size()) {
        return false;
    }
    const std::size_t start = search(begin, from);
    if (start == std::string::npos) {
        return false;
    }
    const std::size_t matchStart = start + begin.size();
    const std::size_t stop = search(end, matchStart);
    if (stop == std::string::npos) {
        return false;
    }
    position_ = matchStart;
    length_ = stop - matchStart;
    return true;
}

} // namespace quill
