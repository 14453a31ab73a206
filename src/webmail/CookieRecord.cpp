#include "webmail/CookieRecord.h"

#include "platform/Clock.h"

namespace quill {

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
