#include "webmail/CookieRecord.h"

#include <ctime>

namespace quill {

void CookieRecord::set(const std::string& user, const std::string& cookie,
                       const std::string& host) {
    set(user, cookie, host, static_cast<std::int32_t>(std::time(nullptr)));
}

void CookieRecord::set(const std::string& user, const std::string& cookie, const std::string& host,
                       std::int32_t timestamp) {
    User = user;
    Cookie = cookie;
    Host = host;
    Timestamp = timestamp;
}

} // namespace quill
