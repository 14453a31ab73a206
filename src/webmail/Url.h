#pragma once
// An absolute "http://" or "https://" URL split into scheme, host, port and path.

#include <string>

namespace quill {

struct Url {
    static constexpr int kHttpPort = 80;
    static constexpr int kHttpsPort = 443;

    // Splits "https://" host [":" port] "/" path (port 443 by default) or
    // "http://" host [":" port] "/" path (port 80). Without either scheme the
    // scheme, host and path stay empty and the port 80; without a "/" after
    // the host the path is "/".
    explicit Url(const std::string& text);
    Url() = default;

    // True for an "https://" URL: it is reached over TLS.
    bool secure() const { return scheme == "https"; }
    // The port the scheme implies when the URL names none.
    int defaultPort() const { return secure() ? kHttpsPort : kHttpPort; }
    // scheme "://" host, with ":" port when it is not the scheme's default: the
    // URL without its path, to which a path of the same site is appended.
    std::string origin() const;
    // host, with ":" port when it is not the scheme's default: the authority
    // of a proxy's CONNECT line takes the port always (see HttpClient).
    std::string authority() const;

    std::string scheme; // "http", "https", or empty when the text is neither
    std::string host;
    int port = kHttpPort;
    std::string path; // begins with "/", query included
};

} // namespace quill
