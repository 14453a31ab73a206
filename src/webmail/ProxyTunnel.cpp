#include "webmail/ProxyTunnel.h"

#include "codec/Base64.h"
#include "net/DiagnosticLog.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quill {

ProxyTunnel::ProxyTunnel(std::shared_ptr<ByteChannel> socket, std::string proxyHost, int proxyPort,
                         std::string user, std::string password)
    : socket_(std::move(socket)), proxyHost_(std::move(proxyHost)), proxyPort_(proxyPort),
      user_(std::move(user)), password_(std::move(password)) {}

void ProxyTunnel::connect(const std::string& host, int port) {
    socket_->connect(proxyHost_, proxyPort_);
    const std::string authority = host + ":" + std::to_string(port);
    std::string head = "CONNECT " + authority + " HTTP/1.0\r\nHost: " + authority + "\r\n";
    if (!user_.empty()) {
        const std::string credentials = user_ + ":" + password_;
        Base64Coder coder;
        coder.encode(credentials.data(), credentials.size());
        head += "Proxy-authorization: Basic ";
        head.append(coder.result(), coder.size());
        head += "\r\n";
    }
    head += "\r\n";
    socket_->write(head.data(), head.size());

    std::string answer;
    std::size_t end = std::string::npos;
    char chunk[4096];
    while (end == std::string::npos) {
        if (answer.size() > kMaxAnswerHeader) {
            logEvent("proxy: the answer to CONNECT " + authority + " has no end of header");
            throw Refused("the proxy's answer to CONNECT has no end of header");
        }
        const std::size_t got = socket_->receive(chunk, sizeof chunk);
        if (got == 0) {
            logEvent("proxy: closed without answering CONNECT " + authority);
            throw Refused("the proxy closed without answering CONNECT");
        }
        const std::size_t from = answer.size() < 3 ? 0 : answer.size() - 3;
        answer.append(chunk, got);
        end = answer.find("\r\n\r\n", from);
    }
    early_ = answer.substr(end + 4);
    const std::string statusLine = answer.substr(0, std::min(answer.find("\r\n"), std::size_t{80}));
    // "HTTP/1.x 2xx ...": the status is the word after the first blank.
    const std::size_t blank = statusLine.find(' ');
    const bool accepted = statusLine.compare(0, 5, "HTTP/") == 0 && blank != std::string::npos &&
                          blank + 1 < statusLine.size() && statusLine[blank + 1] == '2';
    if (!accepted) {
        logEvent("proxy: CONNECT " + authority + " answered \"" + statusLine + "\"");
        throw Refused("the proxy refused CONNECT: " + statusLine);
    }
}

std::size_t ProxyTunnel::receive(void* buffer, std::size_t capacity) {
    if (!early_.empty()) {
        const std::size_t n = std::min(capacity, early_.size());
        std::memcpy(buffer, early_.data(), n);
        early_.erase(0, n);
        return n;
    }
    return socket_->receive(buffer, capacity);
}

void ProxyTunnel::write(const void* bytes, std::size_t length) {
    socket_->write(bytes, length);
}

} // namespace quill
