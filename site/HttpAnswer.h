#pragma once
// One answer of the simulator: status line, header fields and body, written
// out as HTTP/1.0 with "Connection: close" (the client reads until the close).

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quill::site {

class HttpAnswer {
public:
    HttpAnswer() = default;
    HttpAnswer(int status, std::string contentType, std::string body);

    // "200 OK", "302 Found", ...; unknown codes get the reason "Status".
    static std::string reason(int status);

    void addHeader(const std::string& name, const std::string& value);
    // A "Set-Cookie: name=value; path=/; domain=..." line.
    void setCookie(const std::string& name, const std::string& value, const std::string& domain);

    // The status line and header fields (through the empty line) for a body
    // of contentLength bytes, sent as it is or (gzipped) compressed.
    std::string head(std::int64_t now, std::size_t contentLength, bool gzipped = false) const;
    // The bytes to send. gzipMembers > 0 compresses the body into that many
    // gzip members and adds "Content-Encoding: gzip".
    std::string serialize(std::int64_t now, int gzipMembers = 0,
                          bool gzipHeaderFields = false) const;

    int status = 200;
    std::string contentType = "text/html";
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // A body borrowed from storage that outlives serialize() (a stored
    // message's part); when it points anywhere, it is sent instead of body, so
    // that a part of many megabytes is copied once, into the answer.
    std::string_view borrowedBody;
};

} // namespace quill::site
