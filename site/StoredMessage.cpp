#include "site/StoredMessage.h"

namespace quill::site {

std::string StoredMessage::header() const {
    return std::string(headerView());
}

std::string StoredMessage::text() const {
    return std::string(textView());
}

std::string_view StoredMessage::headerView() const {
    std::size_t end = raw.find("\r\n\r\n");
    return std::string_view(raw).substr(0, end == std::string::npos ? raw.size() : end + 4);
}

std::string_view StoredMessage::textView() const {
    std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) {
        return std::string_view();
    }
    return std::string_view(raw).substr(end + 4);
}

} // namespace quill::site
