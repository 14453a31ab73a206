#pragma once
// One request as the simulator received it, kept for tests to assert on.

#include <string>

namespace quill::site {

struct RecordedRequest {
    // The bytes received: the header block and the body as long as its
    // Content-Length says. Bytes a client sends after that are not included.
    std::string raw;
    std::string method;
    std::string target; // the request target as sent (absolute URL in proxy form)
    std::string host;   // the URL's host in proxy form, else the Host header without port
    std::string path;   // path and query, also in proxy form
    bool proxyForm = false;
    int status = 0; // status of the answer (0 when none was sent)
};

} // namespace quill::site
