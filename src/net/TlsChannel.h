#pragma once
// TLS over another byte channel: the socket of an HTTPS exchange, or the
// socket whose proxy tunnel has just opened. The platform's TLS client does
// all of its I/O through that channel, so the socket's time-outs, its
// low-speed limit, its byte counting and Cancel stay where they are.
//
// Errors: a failure of TLS itself throws platform::TlsError, whose what()
// names the reason ("certificate: unknown issuer", "certificate: expired",
// "certificate: name mismatch", "protocol too old", ...); the web-mail client
// turns it into its own error. Failures of the channel underneath pass
// unchanged (CBlockSocket::Error, CBlockSocket::Canceled).
//
// Threads: the conversation's thread makes every call but close(). close()
// may come from any thread and closes the channel underneath only, never the
// TLS state: the blocked call then fails on the owning thread.

#include "net/ByteChannel.h"

#include <cstddef>
#include <memory>
#include <string>

namespace quill {

namespace platform {
class TlsClient;
}

class TlsChannel : public ByteChannel {
public:
    // serverName: the DNS name or dotted IPv4 address that the server's
    // certificate must be valid for. Nothing is sent before the handshake.
    TlsChannel(std::shared_ptr<ByteChannel> transport, std::string serverName);
    ~TlsChannel() override;

    TlsChannel(const TlsChannel&) = delete;
    TlsChannel& operator=(const TlsChannel&) = delete;

    // Connects the channel underneath to host:port, then handshake(port).
    void connect(const std::string& host, int port) override;
    // The handshake over the channel underneath as it is (already connected:
    // a proxy's tunnel) with the server at port: the session of an earlier
    // connection to serverName and port may be resumed. A certificate or
    // protocol that fails the checks throws TlsError before any data has
    // been sent.
    void handshake(int port);
    // Decrypted bytes; 0 at the end, after close_notify or without it (see
    // endConfirmed). Before the handshake: TlsError.
    std::size_t receive(void* buffer, std::size_t capacity) override;
    void write(const void* bytes, std::size_t length) override;
    void close() noexcept override;
    // Sends close_notify, then finishes the channel underneath.
    void finish() noexcept override;
    // True once the peer's close_notify has come.
    bool endConfirmed() const noexcept override;

private:
    class Transport;

    const std::shared_ptr<ByteChannel> transport_;
    const std::string serverName_;
    std::unique_ptr<Transport> adapter_;
    std::unique_ptr<platform::TlsClient> tls_; // made by handshake(port)
};

} // namespace quill
