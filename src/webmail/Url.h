#pragma once
// An absolute "http://" URL split into host, port and path.

#include <string>

namespace quill {

struct Url {
    // Splits "http://" host [":" port] "/" path. Without "http://" host and path
    // stay empty and port 80; without a "/" after the host the path is "/".
    explicit Url(const std::string& text);
    Url() = default;

    std::string host;
    int port = 80;
    std::string path; // begins with "/", query included
};

} // namespace quill
