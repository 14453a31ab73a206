#pragma once
// The web-mail client's own failure: the site did not give what an operation
// needs. CVurelClient::Error is this type; it lives apart so that the HTTP
// layer under the client can report an answer beyond its bounds the same way.

#include <exception>
#include <string>
#include <utility>

namespace quill {

class WebmailError : public std::exception {
public:
    explicit WebmailError(std::string message) : message_(std::move(message)) {}
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

} // namespace quill
