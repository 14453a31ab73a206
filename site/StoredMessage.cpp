#include "site/StoredMessage.h"

namespace quill::site {

std::string StoredMessage::header() const {
    std::size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? raw : raw.substr(0, end + 4);
}

std::string StoredMessage::text() const {
    std::size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : raw.substr(end + 4);
}

} // namespace quill::site
