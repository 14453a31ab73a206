// The simulator's TLS with OpenSSL: certificates made with its X509 functions,
// the handshake and records through a BIO over the connection's CBlockSocket
// (so that stop() still ends every connection by closing its socket).

#include "site/TlsService.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <fstream>
#include <stdexcept>
#include <utility>

namespace quill::site {

namespace {

constexpr long kDay = 24L * 3600;

std::runtime_error opensslError(const std::string& what) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return std::runtime_error(what + (reason != nullptr ? std::string(": ") + reason : ""));
}

struct KeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct CertFree {
    void operator()(X509* c) const { X509_free(c); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;
using Cert = std::unique_ptr<X509, CertFree>;

Key makeKey() {
    Key key(EVP_EC_gen("P-256"));
    if (!key) {
        throw opensslError("TLS: cannot make a key");
    }
    return key;
}

void addExtension(X509* cert, X509* issuer, int nid, const std::string& value) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value.c_str());
    if (extension == nullptr) {
        throw opensslError("TLS: bad certificate extension " + value);
    }
    X509_add_ext(cert, extension, -1);
    X509_EXTENSION_free(extension);
}

// A certificate for key, signed by issuerKey as issuer (itself when null).
// Valid from `from` to `to` seconds from now.
Cert makeCertificate(EVP_PKEY* key, const std::string& commonName, X509* issuer,
                     EVP_PKEY* issuerKey, long serial, long from, long to, bool authority,
                     const std::string& altNames) {
    Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), from);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), to);
    X509_set_pubkey(cert.get(), key);
    X509_NAME* name = X509_get_subject_name(cert.get());
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Vurel simulator"), -1, -1,
                               0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1,
                               0);
    X509* signer = issuer != nullptr ? issuer : cert.get();
    X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
    addExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
    if (authority) {
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(cert.get(), signer, NID_authority_key_identifier, "keyid");
        addExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
        addExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
        addExtension(cert.get(), signer, NID_subject_alt_name, altNames);
    }
    if (X509_sign(cert.get(), issuerKey != nullptr ? issuerKey : key, EVP_sha256()) == 0) {
        throw opensslError("TLS: cannot sign a certificate");
    }
    return cert;
}

bool isAddress(const std::string& name) {
    return !name.empty() && name.find_first_not_of("0123456789.") == std::string::npos;
}

std::string pemOf(X509* cert) {
    BIO* bio = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(bio, cert);
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<std::size_t>(length));
    BIO_free(bio);
    return text;
}

// One connection's TLS over its socket. The BIO's callbacks catch what the
// socket throws (OpenSSL is C: nothing may unwind through it) and the call
// that reached OpenSSL throws it again once OpenSSL has returned.
class ServerChannel final : public ByteChannel {
public:
    ServerChannel(SSL_CTX* context, BIO_METHOD* method, CBlockSocket& socket, std::string early)
        : socket_(socket), early_(std::move(early)) {
        ssl_ = SSL_new(context);
        BIO* bio = BIO_new(method);
        if (ssl_ == nullptr || bio == nullptr) {
            BIO_free(bio);
            SSL_free(ssl_);
            throw opensslError("TLS: out of memory");
        }
        BIO_set_data(bio, this);
        BIO_set_init(bio, 1);
        SSL_set_bio(ssl_, bio, bio);
    }
    ~ServerChannel() override { SSL_free(ssl_); }
    ServerChannel(const ServerChannel&) = delete;
    ServerChannel& operator=(const ServerChannel&) = delete;

    void handshake() {
        ERR_clear_error();
        if (SSL_accept(ssl_) != 1) {
            rethrowPending();
            throw opensslError("TLS: handshake failed");
        }
    }

    void connect(const std::string&, int) override {
        throw std::logic_error("a server channel is connected");
    }

    std::size_t receive(void* buffer, std::size_t capacity) override {
        ERR_clear_error();
        std::size_t got = 0;
        if (SSL_read_ex(ssl_, buffer, capacity, &got) == 1) {
            return got;
        }
        rethrowPending();
        ERR_clear_error();
        const int error = SSL_get_error(ssl_, 0);
        if (error == SSL_ERROR_ZERO_RETURN || ended_) {
            return 0;
        }
        throw CBlockSocket::Error("receive");
    }

    void write(const void* bytes, std::size_t length) override {
        const char* at = static_cast<const char*>(bytes);
        while (length > 0) {
            ERR_clear_error();
            std::size_t sent = 0;
            if (SSL_write_ex(ssl_, at, length, &sent) != 1) {
                rethrowPending();
                ERR_clear_error();
                throw CBlockSocket::Error("write");
            }
            at += sent;
            length -= sent;
        }
    }

    void close() noexcept override { socket_.close(); }

    // close_notify; the socket's own ending is the caller's.
    void finish() noexcept override {
        ERR_clear_error();
        SSL_shutdown(ssl_);
        pending_ = nullptr;
        ERR_clear_error();
    }

    int bioRead(char* buffer, std::size_t capacity, std::size_t* got) noexcept {
        if (!early_.empty()) {
            *got = std::min(capacity, early_.size());
            std::memcpy(buffer, early_.data(), *got);
            early_.erase(0, *got);
            return 1;
        }
        try {
            *got = socket_.receive(buffer, capacity);
        } catch (...) {
            pending_ = std::current_exception();
            return 0;
        }
        if (*got == 0) {
            ended_ = true;
            return 0;
        }
        return 1;
    }

    int bioWrite(const char* bytes, std::size_t length, std::size_t* sent) noexcept {
        try {
            socket_.write(bytes, length);
        } catch (...) {
            pending_ = std::current_exception();
            return 0;
        }
        *sent = length;
        return 1;
    }

private:
    void rethrowPending() {
        if (pending_) {
            ERR_clear_error();
            std::exception_ptr pending = pending_;
            pending_ = nullptr;
            std::rethrow_exception(pending);
        }
    }

    CBlockSocket& socket_;
    std::string early_;
    SSL* ssl_ = nullptr;
    std::exception_ptr pending_;
    bool ended_ = false;
};

int channelRead(BIO* bio, char* buffer, std::size_t capacity, std::size_t* got) {
    BIO_clear_retry_flags(bio);
    return static_cast<ServerChannel*>(BIO_get_data(bio))->bioRead(buffer, capacity, got);
}

int channelWrite(BIO* bio, const char* bytes, std::size_t length, std::size_t* sent) {
    BIO_clear_retry_flags(bio);
    return static_cast<ServerChannel*>(BIO_get_data(bio))->bioWrite(bytes, length, sent);
}

long channelControl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

class OpenSslService final : public TlsService {
public:
    explicit OpenSslService(const Options& options) {
        method_ = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "vurel-sim socket");
        BIO_meth_set_read_ex(method_, channelRead);
        BIO_meth_set_write_ex(method_, channelWrite);
        BIO_meth_set_ctrl(method_, channelControl);
        context_ = SSL_CTX_new(TLS_server_method());
        if (method_ == nullptr || context_ == nullptr) {
            throw opensslError("TLS: no context");
        }
        if (options.fault == Fault::Tls10Only) {
            // Old enough that nothing current accepts it: TLS 1.0 with the
            // security level that still allows it.
            SSL_CTX_set_security_level(context_, 0);
            SSL_CTX_set_min_proto_version(context_, TLS1_VERSION);
            SSL_CTX_set_max_proto_version(context_, TLS1_VERSION);
            SSL_CTX_set_cipher_list(context_, "DEFAULT:@SECLEVEL=0");
        }
        if (!options.certificateFile.empty()) {
            // The certificate faults are made certificates: with a given one
            // they would silently not be there.
            if (options.fault != Fault::None && options.fault != Fault::Tls10Only) {
                throw std::runtime_error("TLS: a certificate fault makes its own certificate, "
                                         "not with " +
                                         options.certificateFile);
            }
            if (SSL_CTX_use_certificate_chain_file(context_, options.certificateFile.c_str()) !=
                    1 ||
                SSL_CTX_use_PrivateKey_file(context_, options.keyFile.c_str(), SSL_FILETYPE_PEM) !=
                    1) {
                throw opensslError("TLS: cannot use " + options.certificateFile + " and " +
                                   options.keyFile);
            }
            return;
        }
        makeCertificates(options);
    }

    ~OpenSslService() override {
        SSL_CTX_free(context_);
        BIO_meth_free(method_);
    }
    OpenSslService(const OpenSslService&) = delete;
    OpenSslService& operator=(const OpenSslService&) = delete;

    std::unique_ptr<ByteChannel> accept(CBlockSocket& socket, std::string early) override {
        auto channel = std::make_unique<ServerChannel>(context_, method_, socket, std::move(early));
        channel->handshake();
        return channel;
    }

private:
    void makeCertificates(const Options& options) {
        const Key authorityKey = makeKey();
        const Cert authority = makeCertificate(authorityKey.get(), "Vurel simulator test CA",
                                               nullptr, nullptr, 1, -kDay, 3650 * kDay, true, "");
        if (!options.authorityFile.empty()) {
            std::ofstream out(options.authorityFile, std::ios::binary | std::ios::trunc);
            out << pemOf(authority.get());
            if (!out.flush()) {
                throw std::runtime_error("TLS: cannot write " + options.authorityFile);
            }
        }
        // The certificate's signer: the written authority, or for that fault
        // a second one that no client trusts.
        Key otherKey;
        Cert other;
        EVP_PKEY* signerKey = authorityKey.get();
        X509* signer = authority.get();
        if (options.fault == Fault::OtherAuthority) {
            otherKey = makeKey();
            other = makeCertificate(otherKey.get(), "Vurel simulator test CA", nullptr, nullptr, 1,
                                    -kDay, 3650 * kDay, true, "");
            signerKey = otherKey.get();
            signer = other.get();
        }
        std::string altNames;
        std::vector<std::string> names = options.names;
        if (options.fault == Fault::WrongName) {
            names = {"wrong.name.invalid", "127.1.2.3"};
        }
        for (const std::string& name : names) {
            altNames += (altNames.empty() ? "" : ",") +
                        std::string(isAddress(name) ? "IP:" : "DNS:") + name;
        }
        if (altNames.empty()) {
            altNames = "DNS:localhost";
        }
        const bool expired = options.fault == Fault::Expired;
        const Key key = makeKey();
        const Cert cert = makeCertificate(key.get(), names.empty() ? "localhost" : names.front(),
                                          signer, signerKey, 2, expired ? -30 * kDay : -kDay,
                                          expired ? -kDay : 365 * kDay, false, altNames);
        if (SSL_CTX_use_certificate(context_, cert.get()) != 1 ||
            SSL_CTX_use_PrivateKey(context_, key.get()) != 1) {
            throw opensslError("TLS: cannot use the made certificate");
        }
        if (other) {
            SSL_CTX_add1_chain_cert(context_, other.get());
        }
    }

    BIO_METHOD* method_ = nullptr;
    SSL_CTX* context_ = nullptr;
};

} // namespace

std::shared_ptr<TlsService> TlsService::create(const Options& options) {
    return std::make_shared<OpenSslService>(options);
}

bool TlsService::available() {
    return true;
}

} // namespace quill::site
