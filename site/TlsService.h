#pragma once
// The simulator's TLS: a test certificate authority and a server certificate
// made at start (or a certificate and key read from files), and the server
// side of a handshake over an accepted connection. Built with OpenSSL in the
// native build; the Windows build of the simulator has none (create throws).
//
// Faults for the certificate checks of the client: a certificate from an
// authority that is not the one written out, one that has expired, one for
// another name, and a server that speaks TLS 1.0 only.
//
// Threads: accept() may run on many connection threads at once.

#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"

#include <memory>
#include <string>
#include <vector>

namespace quill::site {

class TlsService {
public:
    enum class Fault { None, OtherAuthority, Expired, WrongName, Tls10Only };

    struct Options {
        // Names and dotted addresses the made certificate is valid for.
        std::vector<std::string> names;
        // Where the test authority's certificate is written (PEM), so that
        // clients can trust it (SSL_CERT_FILE); empty: not written.
        std::string authorityFile;
        // A certificate chain and key to serve instead of made ones (PEM);
        // of the faults only Tls10Only goes with them (create throws).
        std::string certificateFile;
        std::string keyFile;
        Fault fault = Fault::None;
    };

    // Throws std::runtime_error when TLS is not built in or the certificate
    // cannot be made or read.
    static std::shared_ptr<TlsService> create(const Options& options);
    // Whether this build has TLS at all.
    static bool available();

    virtual ~TlsService() = default;

    // The server side of a handshake on socket, whose first bytes (already
    // received) are early. Returns the channel that carries the decrypted
    // bytes; its finish() sends close_notify, then ends the socket's sending
    // side. Throws on a failed handshake.
    virtual std::unique_ptr<ByteChannel> accept(CBlockSocket& socket, std::string early) = 0;
};

} // namespace quill::site
