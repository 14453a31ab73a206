#pragma once
// A byte channel through an HTTP proxy's tunnel: connect(host, port) connects
// to the proxy and asks it "CONNECT host:port HTTP/1.0" (with the proxy's Basic
// credentials when a user is set); once the proxy answers 2xx, the channel
// carries the bytes to and from host:port as they are. TLS runs over it, so
// the proxy sees neither the request nor the answer, and the certificate is
// checked against host, not against the proxy.
//
// Errors: a proxy that answers anything but 2xx, closes first, or sends a
// header longer than kMaxAnswerHeader throws Refused (a WebmailError whose
// text names the proxy's status) before any byte of the tunnel is sent.
// Failures of the socket underneath pass unchanged.
//
// Threads: as every channel: one owner; close() from any thread closes the
// socket underneath.

#include "net/ByteChannel.h"
#include "webmail/WebmailError.h"

#include <cstddef>
#include <memory>
#include <string>

namespace quill {

class ProxyTunnel : public ByteChannel {
public:
    class Refused : public WebmailError {
    public:
        using WebmailError::WebmailError;
    };

    // A proxy's answer to CONNECT is a status line and a few headers.
    static constexpr std::size_t kMaxAnswerHeader = 16384;

    // socket: the unconnected channel to the proxy. An empty user sends no
    // Proxy-authorization line.
    ProxyTunnel(std::shared_ptr<ByteChannel> socket, std::string proxyHost, int proxyPort,
                std::string user, std::string password);

    // Connects to the proxy and opens the tunnel to host:port.
    void connect(const std::string& host, int port) override;
    std::size_t receive(void* buffer, std::size_t capacity) override;
    void write(const void* bytes, std::size_t length) override;
    void close() noexcept override { socket_->close(); }
    void finish() noexcept override { socket_->finish(); }

private:
    const std::shared_ptr<ByteChannel> socket_;
    const std::string proxyHost_;
    const int proxyPort_;
    const std::string user_;
    const std::string password_;
    // Bytes that came with the proxy's answer after its header: the tunnel's
    // first bytes, handed out before the socket is read again.
    std::string early_;
};

} // namespace quill
