#include "site/StoredMessage.h"

#include "platform/LargeBuffer.h"

namespace quill::site {

std::string StoredMessage::header() const {
    std::size_t end = raw.find("\r\n\r\n");
    return end == std::string::npos ? raw : raw.substr(0, end + 4);
}

std::string StoredMessage::text() const {
    std::size_t end = raw.find("\r\n\r\n");
    if (end == std::string::npos) {
        return std::string();
    }
    // A text of many megabytes is copied into huge pages where the system has
    // them, so that serving it costs the copy and not a page fault per 4 KiB.
    std::string text;
    text.reserve(raw.size() - (end + 4));
    platform::adviseLargeBuffer(&text[0], text.capacity());
    text.append(raw, end + 4, std::string::npos);
    return text;
}

} // namespace quill::site
