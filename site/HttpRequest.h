#pragma once
// An HTTP/1.x request as the simulator reads it: origin form ("GET /path") and
// absolute form ("GET http://host/path", as sent to a proxy). One request per
// connection; a body only as long as its Content-Length.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace quill::site {

class HttpRequest {
public:
    enum class Parse {
        Incomplete, // more bytes are needed
        Complete,   // the request is in the object
        Bad,        // malformed; errorStatus() tells the answer
    };

    // Parses the bytes received so far. Never throws; maxBytes bounds header and
    // body together (beyond it the result is Bad with status 413). Lines may end
    // in CR LF or in LF alone.
    Parse parse(const std::string& bytes, std::size_t maxBytes);

    // The status to answer a Bad request with (400, 411, 413, 501, 505).
    int errorStatus() const { return errorStatus_; }

    // Case-insensitive header lookup; the first value, or empty.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;

    std::string method;
    std::string target;  // as sent
    std::string version; // "HTTP/1.0" or "HTTP/1.1"
    bool proxyForm = false;
    std::string urlHost; // host of an absolute-form target
    int urlPort = 80;
    std::string path;  // path with query ("/vm/ShowFolder?box=Inbox")
    std::string route; // path without query
    std::string query; // after "?", raw
    std::vector<std::pair<std::string, std::string>> headers;
    // Where the body begins in the parsed bytes; it runs from there to
    // consumed. Not copied out: a post can be tens of megabytes.
    std::size_t bodyStart = 0;
    // Bytes of header and body; once an incomplete request's header is in,
    // the size the whole request will have (0 before).
    std::size_t consumed = 0;

private:
    Parse fail(int status);
    int errorStatus_ = 0;
};

} // namespace quill::site
