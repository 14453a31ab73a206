// TlsClient over OpenSSL. OpenSSL does its I/O through a BIO of our own whose
// callbacks call the TlsTransport; it never sees a socket.
//
// Exceptions: OpenSSL is C and must not be unwound through. A transport call
// that throws is caught in the BIO callback, kept as an exception_ptr, and
// reported to OpenSSL as a failed read or write; once the SSL_* call has
// returned, the kept exception is thrown again, unchanged (a Cancel stays a
// Cancel).
//
// Sessions: the newest session of each server (host name and port) is kept
// in the shared context's store and offered at the next connection to that
// same server. A session enters the store only from a connection whose
// certificate passed every check; the store is emptied when the trust store
// changes. Early data is never written: a resumed connection sends nothing
// before its handshake has completed.

#include "platform/TlsClient.h"

#include <arpa/inet.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <cstdint>
#include <cstdlib>
#include <exception>
#include <map>
#include <mutex>

namespace quill::platform {

namespace {

// A sign-in talks to one or two servers: far more than that are kept, but
// not without bound (each session holds the server's certificate chain).
constexpr std::size_t kMaxSessions = 64;

bool isIpv4Literal(const std::string& host) {
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

// The BIO type whose callbacks reach the transport of the client in the
// BIO's data. Made once; OpenSSL keeps it for the process's life.
BIO_METHOD* transportMethod();

// The session key of each connection, set in its SSL before the handshake.
std::string* sessionKeyOf(const SSL* ssl);

// The context shared by every connection: loading the trust store takes some
// milliseconds, and a sign-in makes several connections. It is made again when
// SSL_CERT_FILE or SSL_CERT_DIR has changed (tests point them at their CA).
// It keeps the newest session of each server, for the next connection to it.
// Threads: every member is under mutex_; connections of any thread call in.
class SharedContext {
public:
    // A counted reference the caller frees with SSL_CTX_free.
    SSL_CTX* acquire() {
        const std::string key = environment("SSL_CERT_FILE") + '\n' + environment("SSL_CERT_DIR");
        std::lock_guard<std::mutex> guard(mutex_);
        if (context_ == nullptr || key != key_) {
            SSL_CTX* fresh = make();
            if (context_ != nullptr) {
                SSL_CTX_free(context_);
            }
            context_ = fresh;
            key_ = key;
            // Sessions checked against another trust store are not offered.
            clearSessions();
        }
        SSL_CTX_up_ref(context_);
        return context_;
    }

    // The session to offer to the server named by key ("host:port"), as a
    // reference the caller frees with SSL_SESSION_free; null when there is
    // none. A TLS 1.3 session is handed out once only (the server sends
    // fresh tickets on every connection), so that two connections cannot be
    // linked by their ticket; a TLS 1.2 session stays for the next one.
    SSL_SESSION* sessionFor(const SSL_CTX* context, const std::string& key) {
        std::lock_guard<std::mutex> guard(mutex_);
        auto found = sessions_.find(key);
        if (found == sessions_.end() || context != context_) {
            return nullptr;
        }
        SSL_SESSION* session = found->second.session;
        if (SSL_SESSION_get_protocol_version(session) >= TLS1_3_VERSION) {
            sessions_.erase(found); // its reference passes to the caller
        } else {
            SSL_SESSION_up_ref(session);
            found->second.used = ++clock_;
        }
        return session;
    }

    // Keeps session (whose reference passes here) as the newest of key.
    // Returns false, keeping nothing, when the session's context is no longer
    // the current one.
    bool keep(const SSL_CTX* context, const std::string& key, SSL_SESSION* session) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (context != context_) {
            return false;
        }
        auto found = sessions_.find(key);
        if (found != sessions_.end()) {
            SSL_SESSION_free(found->second.session);
            found->second = Stored{session, ++clock_};
            return true;
        }
        if (sessions_.size() >= kMaxSessions) {
            auto oldest = sessions_.begin();
            for (auto at = sessions_.begin(); at != sessions_.end(); ++at) {
                if (at->second.used < oldest->second.used) {
                    oldest = at;
                }
            }
            SSL_SESSION_free(oldest->second.session);
            sessions_.erase(oldest);
        }
        sessions_.emplace(key, Stored{session, ++clock_});
        return true;
    }

private:
    static std::string environment(const char* name) {
        const char* value = std::getenv(name);
        return value == nullptr ? std::string() : std::string(value);
    }

    static SSL_CTX* make() {
        SSL_CTX* context = SSL_CTX_new(TLS_client_method());
        if (context == nullptr) {
            throw TlsError("handshake failed: no TLS context");
        }
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
        SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
        // The system's store; OpenSSL honours SSL_CERT_FILE and SSL_CERT_DIR.
        if (SSL_CTX_set_default_verify_paths(context) != 1) {
            SSL_CTX_free(context);
            throw TlsError("handshake failed: the trust store cannot be read");
        }
        // Reads whole records (and more) per transport call instead of a
        // header and then its body: half the receives on a long answer.
        SSL_CTX_set_read_ahead(context, 1);
        SSL_CTX_set_mode(context, SSL_MODE_AUTO_RETRY);
        // Client sessions go to our store only (OpenSSL's own keeps them by
        // session ID, not by server): newSession is told of each, TLS 1.3
        // tickets included, which come after the handshake.
        SSL_CTX_set_session_cache_mode(context,
                                       SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
        SSL_CTX_sess_set_new_cb(context, newSession);
        return context;
    }

    // Runs inside OpenSSL: 1 takes the session's reference, 0 leaves it.
    static int newSession(SSL* ssl, SSL_SESSION* session) noexcept;

    void clearSessions() {
        for (auto& entry : sessions_) {
            SSL_SESSION_free(entry.second.session);
        }
        sessions_.clear();
    }

    struct Stored {
        SSL_SESSION* session; // one reference of ours
        std::uint64_t used;   // clock_ when kept or last handed out
    };

    std::mutex mutex_;
    SSL_CTX* context_ = nullptr; // one reference of ours
    std::string key_;
    std::map<std::string, Stored> sessions_; // by "host:port"
    std::uint64_t clock_ = 0;
};

SharedContext& sharedContext() {
    static SharedContext* const context = new SharedContext; // never destroyed: used at exit
    return *context;
}

int SharedContext::newSession(SSL* ssl, SSL_SESSION* session) noexcept {
    // Only a session whose certificate passed every check (a failed check
    // ends the handshake before any session is made, but a session must not
    // depend on that) and that can be resumed at all.
    const std::string* key = sessionKeyOf(ssl);
    if (key == nullptr || SSL_get_verify_result(ssl) != X509_V_OK ||
        SSL_version(ssl) < TLS1_2_VERSION || SSL_SESSION_is_resumable(session) != 1) {
        return 0;
    }
    // Never early data, whatever the server's ticket allows.
    SSL_SESSION_set_max_early_data(session, 0);
    try {
        return sharedContext().keep(SSL_get_SSL_CTX(ssl), *key, session) ? 1 : 0;
    } catch (...) {
        return 0; // no memory for the entry: the session is not kept
    }
}

// The name OpenSSL's verification result is reported under.
std::string certificateReason(long result) {
    switch (result) {
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_CERT_UNTRUSTED:
        return "certificate: unknown issuer";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "certificate: expired";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "certificate: not yet valid";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "certificate: name mismatch";
    default:
        return std::string("certificate: ") + X509_verify_cert_error_string(result);
    }
}

class OpenSslClient final : public TlsClient {
public:
    OpenSslClient(TlsTransport& transport, const std::string& hostName, int port)
        : transport_(transport), hostName_(hostName),
          sessionKey_(hostName + ':' + std::to_string(port)) {
        SSL_CTX* context = sharedContext().acquire();
        ssl_ = SSL_new(context);
        SSL_CTX_free(context); // the SSL holds its own reference
        BIO* bio = BIO_new(transportMethod());
        if (ssl_ == nullptr || bio == nullptr) {
            BIO_free(bio);
            SSL_free(ssl_);
            throw TlsError("handshake failed: out of memory");
        }
        BIO_set_data(bio, this);
        BIO_set_init(bio, 1);
        SSL_set_bio(ssl_, bio, bio); // the SSL owns the BIO from here
        SSL_set_app_data(ssl_, &sessionKey_);
        // A DNS name must be among the certificate's DNS subject names: a
        // certificate without them is not valid for any name, whatever its
        // common name says.
        SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS |
                                    X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
        bool named = false;
        if (isIpv4Literal(hostName_)) {
            named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), hostName_.c_str()) == 1;
        } else {
            named = SSL_set1_host(ssl_, hostName_.c_str()) == 1 &&
                    SSL_set_tlsext_host_name(ssl_, hostName_.c_str()) == 1;
        }
        if (!named) {
            SSL_free(ssl_);
            throw TlsError("certificate: name mismatch (no usable host name)");
        }
        if (SSL_SESSION* session = sharedContext().sessionFor(SSL_get_SSL_CTX(ssl_), sessionKey_)) {
            SSL_set_session(ssl_, session); // a failure only means a full handshake
            SSL_SESSION_free(session);
        }
    }

    ~OpenSslClient() override { SSL_free(ssl_); }

    OpenSslClient(const OpenSslClient&) = delete;
    OpenSslClient& operator=(const OpenSslClient&) = delete;

    void handshake() override {
        ERR_clear_error();
        const int result = SSL_connect(ssl_);
        if (result == 1) {
            if (SSL_version(ssl_) < TLS1_2_VERSION) {
                usable_ = false;
                throw TlsError("protocol too old");
            }
            return;
        }
        usable_ = false;
        rethrowPending();
        const long verify = SSL_get_verify_result(ssl_);
        if (verify != X509_V_OK) {
            ERR_clear_error();
            throw TlsError(certificateReason(verify));
        }
        const unsigned long error = ERR_peek_error();
        const int reason = ERR_GET_REASON(error);
        ERR_clear_error();
        if (reason == SSL_R_UNSUPPORTED_PROTOCOL || reason == SSL_R_TLSV1_ALERT_PROTOCOL_VERSION ||
            reason == SSL_R_NO_PROTOCOLS_AVAILABLE || reason == SSL_R_WRONG_SSL_VERSION) {
            throw TlsError("protocol too old");
        }
        if (transportEnded_) {
            throw TlsError("handshake failed: the server closed the connection");
        }
        if (error != 0) {
            const char* text = ERR_reason_error_string(error);
            throw TlsError(std::string("handshake failed: ") + (text != nullptr ? text : "error"));
        }
        throw TlsError("handshake failed");
    }

    std::size_t receive(void* buffer, std::size_t capacity) override {
        if (capacity == 0 || closeNotify_ || (!usable_ && transportEnded_)) {
            return 0;
        }
        ERR_clear_error();
        std::size_t got = 0;
        if (SSL_read_ex(ssl_, buffer, capacity, &got) == 1) {
            return got;
        }
        const int error = SSL_get_error(ssl_, 0);
        if (error == SSL_ERROR_ZERO_RETURN) {
            closeNotify_ = true;
            pending_ = nullptr;
            ERR_clear_error();
            return 0;
        }
        usable_ = false;
        rethrowPending();
        if (transportEnded_) {
            // The transport ended without close_notify; closeNotifyReceived()
            // tells the caller, who decides whether that cut the data short.
            ERR_clear_error();
            return 0;
        }
        throw failure("receive failed");
    }

    void write(const void* bytes, std::size_t length) override {
        const char* at = static_cast<const char*>(bytes);
        while (length > 0) {
            if (!usable_) {
                throw TlsError("write failed: the connection is no longer usable");
            }
            ERR_clear_error();
            std::size_t sent = 0;
            if (SSL_write_ex(ssl_, at, length, &sent) != 1) {
                usable_ = false;
                rethrowPending();
                throw failure("write failed");
            }
            at += sent;
            length -= sent;
        }
    }

    bool resumed() const noexcept override { return SSL_session_reused(ssl_) == 1; }

    bool closeNotifyReceived() const noexcept override { return closeNotify_; }

    void shutdown() noexcept override {
        if (!usable_) {
            return;
        }
        usable_ = false;
        ERR_clear_error();
        SSL_shutdown(ssl_); // sends our close_notify; the peer's is not awaited
        pending_ = nullptr; // a transport failure here changes nothing
        ERR_clear_error();
    }

    // BIO callbacks: run inside OpenSSL, so nothing may escape them.
    int bioRead(char* buffer, std::size_t capacity, std::size_t* got) noexcept {
        try {
            *got = transport_.receive(buffer, capacity);
        } catch (...) {
            pending_ = std::current_exception();
            return 0;
        }
        if (*got == 0) {
            transportEnded_ = true;
            return 0;
        }
        return 1;
    }

    int bioWrite(const char* bytes, std::size_t length, std::size_t* sent) noexcept {
        try {
            transport_.write(bytes, length);
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

    static TlsError failure(const char* what) {
        const unsigned long error = ERR_peek_error();
        ERR_clear_error();
        const char* text = error != 0 ? ERR_reason_error_string(error) : nullptr;
        return TlsError(std::string(what) + (text != nullptr ? std::string(": ") + text : ""));
    }

    TlsTransport& transport_;
    const std::string hostName_;
    std::string sessionKey_; // "host:port", the SSL's app data
    SSL* ssl_ = nullptr;
    std::exception_ptr pending_; // a transport failure caught in a callback
    bool transportEnded_ = false;
    bool closeNotify_ = false;
    bool usable_ = true; // false after a failure: no more writes, no close_notify
};

std::string* sessionKeyOf(const SSL* ssl) {
    return static_cast<std::string*>(SSL_get_app_data(ssl));
}

int transportRead(BIO* bio, char* buffer, std::size_t capacity, std::size_t* got) {
    BIO_clear_retry_flags(bio);
    return static_cast<OpenSslClient*>(BIO_get_data(bio))->bioRead(buffer, capacity, got);
}

int transportWrite(BIO* bio, const char* bytes, std::size_t length, std::size_t* sent) {
    BIO_clear_retry_flags(bio);
    return static_cast<OpenSslClient*>(BIO_get_data(bio))->bioWrite(bytes, length, sent);
}

long transportControl(BIO*, int command, long, void*) {
    // Writes go straight to the transport, so a flush has nothing to do.
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

BIO_METHOD* transportMethod() {
    static BIO_METHOD* const method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "quill transport");
        if (m != nullptr) {
            BIO_meth_set_read_ex(m, transportRead);
            BIO_meth_set_write_ex(m, transportWrite);
            BIO_meth_set_ctrl(m, transportControl);
        }
        return m;
    }();
    return method;
}

} // namespace

std::unique_ptr<TlsClient> TlsClient::create(TlsTransport& transport, const std::string& hostName,
                                             int port) {
    return std::make_unique<OpenSslClient>(transport, hostName, port);
}

} // namespace quill::platform
