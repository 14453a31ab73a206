#include "site/HttpRequest.h"

#include "site/TextUtil.h"

namespace quill::site {

namespace {

// Header blocks larger than this are refused whatever maxBytes says: no client
// of this site sends more than a few cookies.
constexpr std::size_t kMaxHeaderBytes = 64 * 1024;

bool isToken(const std::string& s) {
    if (s.empty()) {
        return false;
    }
    for (unsigned char c : s) {
        if (c <= 32 || c >= 127 || c == '(' || c == ')' || c == ',' || c == '/' || c == ':' ||
            c == ';' || c == '"') {
            return false;
        }
    }
    return true;
}

} // namespace

HttpRequest::Parse HttpRequest::fail(int status) {
    errorStatus_ = status;
    return Parse::Bad;
}

HttpRequest::Parse HttpRequest::parse(const std::string& bytes, std::size_t maxBytes) {
    *this = HttpRequest();
    // End of the header: the first empty line, CR LF or LF style.
    std::size_t end = std::string::npos;
    for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1)) {
        if (i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            end = i + 1;
            bodyStart = i + 2;
            break;
        }
        if (i + 2 < bytes.size() && bytes[i + 1] == '\r' && bytes[i + 2] == '\n') {
            end = i + 1;
            bodyStart = i + 3;
            break;
        }
    }
    if (end == std::string::npos) {
        if (bytes.size() > kMaxHeaderBytes || bytes.size() > maxBytes) {
            return fail(413);
        }
        // A first line that cannot start a request need not wait for more bytes.
        std::size_t firstSpace = bytes.find(' ');
        std::size_t scan = firstSpace == std::string::npos ? bytes.size() : firstSpace;
        for (std::size_t i = 0; i < scan && i < 32; ++i) {
            unsigned char c = static_cast<unsigned char>(bytes[i]);
            if (c < 'A' || c > 'Z') {
                return fail(400);
            }
        }
        if (firstSpace == std::string::npos && bytes.size() > 32) {
            return fail(400);
        }
        return Parse::Incomplete;
    }
    if (bodyStart > kMaxHeaderBytes || bodyStart > maxBytes) {
        return fail(413);
    }

    std::vector<std::string> lines;
    std::size_t pos = 0;
    while (pos < end) {
        std::size_t nl = bytes.find('\n', pos);
        std::string line = bytes.substr(pos, nl - pos);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
        pos = nl + 1;
    }
    if (lines.empty()) {
        return fail(400);
    }

    // Request line: method SP target SP version.
    const std::string& first = lines[0];
    std::size_t sp1 = first.find(' ');
    std::size_t sp2 = sp1 == std::string::npos ? sp1 : first.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || first.find(' ', sp2 + 1) != std::string::npos) {
        return fail(400);
    }
    method = first.substr(0, sp1);
    target = first.substr(sp1 + 1, sp2 - sp1 - 1);
    version = first.substr(sp2 + 1);
    if (!isToken(method) || target.empty()) {
        return fail(400);
    }
    for (unsigned char c : target) {
        if (c <= 32 || c == 127) {
            return fail(400);
        }
    }
    if (version != "HTTP/1.0" && version != "HTTP/1.1") {
        return fail(version.compare(0, 5, "HTTP/") == 0 ? 505 : 400);
    }

    if (startsWithNoCase(target, "http://")) {
        proxyForm = true;
        std::size_t slash = target.find('/', 7);
        std::string authority = target.substr(7, slash == std::string::npos ? slash : slash - 7);
        path = slash == std::string::npos ? "/" : target.substr(slash);
        std::size_t colon = authority.find(':');
        urlHost = authority.substr(0, colon);
        if (colon != std::string::npos) {
            std::string digits = authority.substr(colon + 1);
            if (digits.empty() || digits.size() > 5 ||
                digits.find_first_not_of("0123456789") != std::string::npos) {
                return fail(400);
            }
            urlPort = std::stoi(digits);
        }
        if (urlHost.empty() || urlHost.find('@') != std::string::npos) {
            return fail(400);
        }
    } else if (target[0] == '/') {
        path = target;
    } else {
        return fail(400);
    }
    std::size_t q = path.find('?');
    route = path.substr(0, q);
    query = q == std::string::npos ? std::string() : path.substr(q + 1);

    for (std::size_t i = 1; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (!line.empty() && (line[0] == ' ' || line[0] == '\t') && !headers.empty()) {
            headers.back().second += " " + trim(line); // folded continuation
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string::npos || colon == 0 || !isToken(line.substr(0, colon))) {
            return fail(400);
        }
        headers.emplace_back(line.substr(0, colon), trim(line.substr(colon + 1)));
    }

    std::size_t length = 0;
    if (hasHeader("Content-Length")) {
        std::string value = header("Content-Length");
        if (value.empty() || value.size() > 12 ||
            value.find_first_not_of("0123456789") != std::string::npos) {
            return fail(400);
        }
        unsigned long long n = std::stoull(value);
        if (n > maxBytes || bodyStart + n > maxBytes) {
            return fail(413);
        }
        length = static_cast<std::size_t>(n);
    } else if (method == "POST" || method == "PUT") {
        return fail(411);
    }
    if (!header("Transfer-Encoding").empty()) {
        return fail(501);
    }
    consumed = bodyStart + length;
    if (bytes.size() < consumed) {
        return Parse::Incomplete;
    }
    return Parse::Complete;
}

std::string HttpRequest::header(const std::string& name) const {
    for (const auto& h : headers) {
        if (equalsNoCase(h.first, name)) {
            return h.second;
        }
    }
    return std::string();
}

bool HttpRequest::hasHeader(const std::string& name) const {
    for (const auto& h : headers) {
        if (equalsNoCase(h.first, name)) {
            return true;
        }
    }
    return false;
}

} // namespace quill::site
