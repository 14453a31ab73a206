#pragma once
// One HTTP/1.0 exchange per connection: builds the request byte for byte,
// goes direct or through an HTTP proxy (with Basic authorization when a proxy
// user is set), sends it in one flush and reads the response until the server
// closes. No keep-alive, no chunked decoding, no redirects.
//
// An "https://" URL is reached over TLS (TlsChannel), with the certificate
// checked against the URL's host; through the proxy it goes through a CONNECT
// tunnel (ProxyTunnel), the proxy's credentials on the CONNECT only and the
// request inside in origin form, without any proxy header.
//
// Errors: connection failures propagate unchanged as CBlockSocket::Error or
// CBlockSocket::Canceled (an exchange beyond its ExchangeLimits is the
// socket's Error "receive: too slow" and the like); an answer longer than
// kMaxAnswerBytes throws AnswerTooLarge; a TLS failure (a certificate or
// protocol that fails the checks, an answer whose end TLS does not vouch for)
// throws TlsFailure, a tunnel the proxy refuses ProxyTunnel::Refused: both are
// WebmailErrors, so a session answers them as a failed operation. Either way
// the connection is closed and the client is idle again.
//
// Threads: the session's thread owns the client. Exchanges may run on several
// threads at once (the conversation's RequestPool): request/get/post are safe
// to call concurrently as long as no setter runs meanwhile (the setters
// belong to the owning thread, between exchanges). cancel() and stop() may
// be called from any thread at any moment and reach every exchange in flight.

#include "net/ByteChannel.h"
#include "net/ExchangeLimits.h"
#include "webmail/AnswerLimits.h"
#include "webmail/CookieRecord.h"
#include "webmail/WebmailError.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quill {

class RequestBody;
class SocketStream;

class HttpClient {
public:
    // Makes the unconnected channel of one exchange; the client connects it.
    using ChannelFactory = std::function<std::shared_ptr<ByteChannel>()>;
    // Puts TLS for serverName over an unconnected channel (the factory's, or a
    // proxy tunnel); connecting the result connects the channel underneath
    // and makes the handshake.
    using TlsFactory = std::function<std::shared_ptr<ByteChannel>(
        std::shared_ptr<ByteChannel> transport, const std::string& serverName)>;

    // TLS failed: what() is "TLS: " and the reason ("TLS: certificate: expired").
    class TlsFailure : public WebmailError {
    public:
        explicit TlsFailure(const std::string& reason) : WebmailError("TLS: " + reason) {}
    };

    static const char* const kGetHeaders;
    static const char* const kPostHeaders;
    static constexpr int kDefaultTimeoutMs = 120000;
    // An exchange fails when it moves less than 1 KiB/s over a minute, or
    // after half an hour however fast it goes: a site that answers a byte now
    // and then never trips the receive time-out.
    static constexpr ExchangeLimits kDefaultExchangeLimits{1024, 60 * 1000, 30 * 60 * 1000};

    HttpClient();
    virtual ~HttpClient();

    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // One complete exchange; returns the raw response. cookie null sends no
    // Cookie line (an empty cookie still sends one); body null sends no
    // Content-Length and no body. headerBlock is sent exactly as given.
    virtual std::string request(const std::string& method, const std::string& url,
                                const std::string* cookie, const std::string& headerBlock,
                                const RequestBody* body);

    // GET without a cookie.
    std::string get(const std::string& url);
    // GET with a Cookie line carrying cookie, even when it is empty.
    std::string get(const std::string& url, const std::string& cookie);
    // POST of a form body with a Cookie line carrying cookie.
    std::string post(const std::string& url, const std::string& cookie, const std::string& body);
    std::string post(const std::string& url, const std::string& cookie, const RequestBody& body);
    // The same with the record's Cookie string.
    std::string get(const std::string& url, const CookieRecord& record) {
        return get(url, record.Cookie);
    }
    std::string post(const std::string& url, const CookieRecord& record, const std::string& body) {
        return post(url, record.Cookie, body);
    }

    // Closes the connections of every exchange in flight, so that each
    // blocked connect, send or receive fails at once; each running request
    // then throws and the client is idle. A cancel between exchanges does
    // nothing. Safe from any thread; never throws.
    virtual void cancel() noexcept;
    // cancel(), and every later exchange throws CBlockSocket::Canceled before
    // it connects. The stop and the registration of a new exchange are one
    // step under one lock, so a stop at any instant leaves no exchange
    // running. Safe from any thread; never throws.
    void stop() noexcept;
    // True while an exchange holds a connection.
    bool busy() const;

    // An empty host means a direct connection. A non-empty user adds the
    // "Proxy-authorization: Basic" line to every request, direct ones included.
    void setProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password);
    void clearProxy() { setProxy(std::string(), 0, std::string(), std::string()); }
    const std::string& proxyHost() const { return proxyHost_; }
    int proxyPort() const { return proxyPort_; }
    const std::string& proxyUser() const { return proxyUser_; }
    const std::string& proxyPassword() const { return proxyPassword_; }

    // Receive and send time-outs of later exchanges (120 s by default; tests
    // shorten them). Used by the default channel factory only.
    void setTimeoutsMs(int receiveMs, int sendMs);
    // Limits of each later exchange, kept by its socket (so a channel over
    // that socket is limited alike). Used by the default channel factory only.
    void setExchangeLimits(const ExchangeLimits& limits) { exchangeLimits_ = limits; }
    const ExchangeLimits& exchangeLimits() const { return exchangeLimits_; }
    // Replaces how connections are made (tests use scripted channels); an
    // empty factory restores the socket one. The factory is called by every
    // thread that runs an exchange, several at once when a conversation's
    // pool does, so it must be safe to call concurrently.
    void setChannelFactory(ChannelFactory factory);
    // Replaces how TLS is put over a channel (tests look through it); an empty
    // factory restores TlsChannel.
    void setTlsFactory(TlsFactory factory);

private:
    std::shared_ptr<ByteChannel> openChannel();
    // The exchange itself; request() adds the translation of TLS failures.
    std::string exchange(const std::string& method, const std::string& url,
                         const std::string* cookie, const std::string& headerBlock,
                         const RequestBody* body);
    // Reads on until the response header is complete and, when it announces a
    // Content-Length, makes room for the whole response at once, so that
    // reading a large body to its end does not copy it at every regrowth.
    // Only a hint: nothing is consumed, and the response is still read until
    // the server closes, whatever its length. Lengths beyond kMaxAnswerBytes
    // are not reserved; room a forged length took is given back after the read.
    static void reserveForBody(SocketStream& stream);
    // Header bytes searched for its end before giving up the hint.
    static constexpr std::size_t kMaxHeaderScan = 65536;
    // One line in the diagnostic log for an exchange: method, URL, status,
    // size and time, or, inside a handler (response null), what failed. A line
    // that cannot be made is dropped: logging never fails an exchange.
    static void logExchange(const std::string& method, const std::string& url,
                            std::chrono::steady_clock::time_point started,
                            const std::string* response) noexcept;
    // Forgets this exchange's channel if it is still registered.
    void release(const std::shared_ptr<ByteChannel>& channel) noexcept;
    // Takes every registered channel out and closes it (outside the lock).
    void closeAll(bool stop) noexcept;

    std::string proxyHost_;
    int proxyPort_ = 0;
    std::string proxyUser_;
    std::string proxyPassword_;
    int receiveTimeoutMs_ = kDefaultTimeoutMs;
    int sendTimeoutMs_ = kDefaultTimeoutMs;
    ExchangeLimits exchangeLimits_ = kDefaultExchangeLimits;
    ChannelFactory factory_;
    TlsFactory tlsFactory_;

    // The connections in flight, one per running exchange (a handful at
    // most: a conversation's pool bounds them). Added and removed by the
    // thread running each exchange, taken by cancel() from any thread: always
    // under activeLock_. Holding a share keeps a channel alive while cancel()
    // closes it, whichever thread lets go last.
    mutable std::mutex activeLock_;
    std::vector<std::shared_ptr<ByteChannel>> activeConnections_;
    bool stopped_ = false; // under activeLock_
};

} // namespace quill
