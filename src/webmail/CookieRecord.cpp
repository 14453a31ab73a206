#include "webmail/CookieRecord.h"

#include "platform/Clock.h"

namespace quill {

bool CookieRecord::withinBounds(const std::string& cookie) {
    if (cookie.size() > kMaxCookieBytes) {
        return false;
    }
    std::size_t start = 0;
    while (start < cookie.size()) {
        std::size_t end = cookie.find("; ", start);
        if (end == std::string::npos) {
            end = cookie.size();
        }
        if (end - start > kMaxPairBytes) {
            return false;
        }
        start = end + 2;
    }
    return true;
}

void CookieRecord::set(const std::string& user, const std::string& cookie,
                       const std::string& host) {
    set(user, cookie, host, static_cast<std::int32_t>(platform::nowSeconds()));
}

void CookieRecord::set(const std::string& user, const std::string& cookie, const std::string& host,
                       std::int32_t timestamp) {
    User = user;
    Cookie = cookie;
    Host = host;
    Timestamp = timestamp;
}

} // namespace quill
