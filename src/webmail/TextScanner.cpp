#include "webmail/TextScanner.h"

namespace quill {

bool TextScanner::find(const std::string& begin, const std::string& end) {
    const std::size_t from = position_ + length_;
    if (from > text_.size()) {
        return false;
    }
    const std::size_t start = text_.find(begin, from);
    if (start == std::string::npos) {
        return false;
    }
    const std::size_t matchStart = start + begin.size();
    const std::size_t stop = text_.find(end, matchStart);
    if (stop == std::string::npos) {
        return false;
    }
    position_ = matchStart;
    length_ = stop - matchStart;
    return true;
}

} // namespace quill
