#include "site/HttpAnswer.h"

#include "platform/LargeBuffer.h"
#include "site/GzipWriter.h"
#include "site/TextUtil.h"

namespace quill::site {

HttpAnswer::HttpAnswer(int status_, std::string contentType_, std::string body_)
    : status(status_), contentType(std::move(contentType_)), body(std::move(body_)) {}

std::string HttpAnswer::reason(int status) {
    struct Entry {
        int code;
        const char* text;
    };
    static const Entry table[] = {
        {200, "OK"},
        {302, "Found"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {405, "Method Not Allowed"},
        {407, "Proxy Authentication Required"},
        {408, "Request Timeout"},
        {411, "Length Required"},
        {413, "Request Entity Too Large"},
        {500, "Internal Server Error"},
        {501, "Not Implemented"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
        {505, "HTTP Version Not Supported"},
    };
    for (const auto& e : table) {
        if (e.code == status) {
            return e.text;
        }
    }
    return "Status";
}

void HttpAnswer::addHeader(const std::string& name, const std::string& value) {
    headers.emplace_back(name, value);
}

void HttpAnswer::setCookie(const std::string& name, const std::string& value,
                           const std::string& domain) {
    std::string line = name + "=" + value + "; path=/";
    if (!domain.empty()) {
        line += "; domain=" + domain;
    }
    headers.emplace_back("Set-Cookie", line);
}

std::string HttpAnswer::head(std::int64_t now, std::size_t contentLength, bool gzipped) const {
    std::string out = "HTTP/1.0 " + std::to_string(status) + " " + reason(status) + "\r\n";
    out += "Date: " + httpDate(now) + "\r\n";
    out += "Server: VurelWebServer/1.0\r\n";
    for (const auto& h : headers) {
        out += h.first + ": " + h.second + "\r\n";
    }
    if (gzipped) {
        out += "Content-Encoding: gzip\r\n";
    }
    out += "Cache-Control: private\r\n";
    out += "Connection: close\r\n";
    if (!contentType.empty()) {
        out += "Content-Type: " + contentType + "\r\n";
    }
    out += "Content-Length: " + std::to_string(contentLength) + "\r\n\r\n";
    return out;
}

std::string HttpAnswer::serialize(std::int64_t now, int gzipMembers, bool gzipHeaderFields) const {
    std::string_view payload =
        borrowedBody.data() != nullptr ? borrowedBody : std::string_view(body);
    std::string compressed;
    if (gzipMembers > 0) {
        compressed = gzipCompress(std::string(payload), gzipMembers, gzipHeaderFields);
        payload = compressed;
    }
    std::string out = head(now, payload.size(), gzipMembers > 0);
    // A message text can be tens of megabytes: it is copied once, into a
    // buffer sized for the whole answer.
    out.reserve(out.size() + payload.size());
    platform::adviseLargeBuffer(&out[0], out.capacity());
    out += payload;
    return out;
}

} // namespace quill::site
