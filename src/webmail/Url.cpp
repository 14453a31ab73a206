#include "webmail/Url.h"

#include "webmail/TextScanner.h"

namespace quill {

namespace {

// Leading decimal digits; 0 when there are none. Values past the largest port
// saturate, so connecting to them fails instead of wrapping to a valid port.
int parsePort(const std::string& text) {
    long value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > 65536) {
            return 65536;
        }
    }
    return static_cast<int>(value);
}

} // namespace

Url::Url(const std::string& text) {
    static const std::string kHttps = "https://";
    // An "https://" URL is recognised at the start only; a plain one anywhere,
    // as it always was.
    const bool tls = text.compare(0, kHttps.size(), kHttps) == 0;
    const std::string marker = tls ? kHttps : std::string("http://");
    std::string authority;
    TextScanner scanner(text);
    if (scanner.find(marker, "/")) {
        authority = scanner.match();
        path = scanner.rest();
    } else {
        const std::size_t start = text.find(marker);
        if (start == std::string::npos) {
            return;
        }
        authority = text.substr(start + marker.size());
        path = "/";
    }
    scheme = tls ? "https" : "http";
    port = defaultPort();
    const std::size_t colon = authority.find(':');
    if (colon == std::string::npos) {
        host = authority;
    } else {
        host = authority.substr(0, colon);
        port = parsePort(authority.substr(colon + 1));
    }
}

std::string Url::authority() const {
    return port == defaultPort() ? host : host + ":" + std::to_string(port);
}

std::string Url::origin() const {
    return scheme + "://" + authority();
}

} // namespace quill
