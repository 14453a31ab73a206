#pragma once
// A TLS client connection over a byte transport that the caller supplies. The
// system's TLS library (OpenSSL on POSIX, SChannel on Windows) does all of its
// I/O through TlsTransport and never touches a socket itself, so that the
// transport's time-outs, cancellation and byte counting stay in charge.
//
// Errors: a failure of the TLS layer throws TlsError, whose what() names the
// reason ("certificate: unknown issuer", "certificate: expired",
// "certificate: name mismatch", "protocol too old", "handshake failed", ...).
// An exception thrown by the transport passes through unchanged, so a
// canceled receive stays a cancel.
//
// Threads: a TlsClient and its transport belong to the thread that runs the
// exchange; nothing here may be called from another thread. To cancel, close
// the socket under the transport: the blocked transport call then throws.

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace quill::platform {

class TlsTransport {
public:
    virtual ~TlsTransport() = default;
    // One receive of at most capacity bytes; 0 at the end of the stream.
    virtual std::size_t receive(void* buffer, std::size_t capacity) = 0;
    // Sends all length bytes.
    virtual void write(const void* bytes, std::size_t length) = 0;
};

class TlsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TlsClient {
public:
    virtual ~TlsClient() = default;

    // A client that will speak to hostName at port: hostName is the DNS name
    // or dotted IPv4 address that the server's certificate must be valid for
    // (sent as the server name indication unless it is an address); a DNS
    // name is looked for among the certificate's DNS subject names only,
    // never its common name. port is the server's TCP port: with hostName it
    // names the server whose earlier session this connection may resume (a
    // session is offered to the same hostName and port only). The transport
    // must outlive the client. Nothing is sent before handshake().
    static std::unique_ptr<TlsClient> create(TlsTransport& transport, const std::string& hostName,
                                             int port);

    // The handshake: TLS 1.2 at least, 1.3 where both sides offer it; the
    // chain verified against the system's trust store, the host name checked,
    // the negotiated version checked. There is no way to turn checking off.
    // A server that asks for a client certificate gets none, and goes on
    // if it can. The session of an earlier connection to the same server
    // (checked as thoroughly when it was made) is offered for resumption;
    // nothing is ever sent as early data, so no request can be replayed.
    virtual void handshake() = 0;
    // True when the handshake resumed an earlier session instead of making
    // a new one. Where the TLS library cannot resume (SChannel under wine),
    // always false.
    virtual bool resumed() const noexcept = 0;
    // Decrypted bytes, at most capacity; 0 at the end of the stream, either
    // after the peer's close_notify or when the transport ended without one
    // (closeNotifyReceived() then tells false).
    virtual std::size_t receive(void* buffer, std::size_t capacity) = 0;
    // Encrypts and sends all length bytes.
    virtual void write(const void* bytes, std::size_t length) = 0;
    // True once the peer's close_notify has arrived.
    virtual bool closeNotifyReceived() const noexcept = 0;
    // Sends close_notify when the connection is still usable; never throws.
    virtual void shutdown() noexcept = 0;
};

} // namespace quill::platform
