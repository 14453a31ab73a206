#include "webmail/HttpClient.h"

#include "codec/Base64.h"
#include "net/CBlockSocket.h"
#include "net/DiagnosticLog.h"
#include "net/TlsChannel.h"
#include "platform/TlsClient.h"
#include "webmail/HttpResponse.h"
#include "webmail/ProxyTunnel.h"
#include "webmail/RequestBody.h"
#include "webmail/SocketStream.h"
#include "webmail/Url.h"

#include <algorithm>
#include <new>
#include <string_view>

namespace quill {

const char* const HttpClient::kGetHeaders =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows 98; Win 9x 4.90)\r\n"
    "Accept: */*\r\n"
    "Accept-Encoding: gzip, deflate;\r\n"
    "Connection: close\r\n";

const char* const HttpClient::kPostHeaders =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows 98; Win 9x 4.90)\r\n"
    "Accept: image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*\r\n"
    "Accept-Encoding: gzip, deflate;\r\n"
    "Connection: close\r\n"
    "Content-Type: application/x-www-form-urlencoded\r\n";

HttpClient::HttpClient() = default;

HttpClient::~HttpClient() {
    cancel();
}

void HttpClient::setProxy(const std::string& host, int port, const std::string& user,
                          const std::string& password) {
    proxyHost_ = host;
    proxyPort_ = port;
    proxyUser_ = user;
    proxyPassword_ = password;
}

void HttpClient::setTimeoutsMs(int receiveMs, int sendMs) {
    receiveTimeoutMs_ = receiveMs;
    sendTimeoutMs_ = sendMs;
}

void HttpClient::setChannelFactory(ChannelFactory factory) {
    factory_ = std::move(factory);
}

void HttpClient::setTlsFactory(TlsFactory factory) {
    tlsFactory_ = std::move(factory);
}

std::shared_ptr<ByteChannel> HttpClient::openChannel() {
    if (factory_) {
        return factory_();
    }
    CBlockSocket socket(kDefaultTimeoutMs / 1000, kDefaultTimeoutMs / 1000);
    if (receiveTimeoutMs_ != kDefaultTimeoutMs || sendTimeoutMs_ != kDefaultTimeoutMs) {
        socket.setTimeoutMs(receiveTimeoutMs_, sendTimeoutMs_);
    }
    socket.setExchangeLimits(exchangeLimits_);
    return std::make_shared<CBlockSocket>(socket);
}

void HttpClient::release(const std::shared_ptr<ByteChannel>& channel) noexcept {
    std::lock_guard<std::mutex> guard(activeLock_);
    const auto at = std::find(activeConnections_.begin(), activeConnections_.end(), channel);
    if (at != activeConnections_.end()) {
        activeConnections_.erase(at);
    }
}

void HttpClient::closeAll(bool stop) noexcept {
    std::vector<std::shared_ptr<ByteChannel>> channels;
    {
        std::lock_guard<std::mutex> guard(activeLock_);
        if (stop) {
            stopped_ = true;
        }
        channels.swap(activeConnections_);
    }
    // Closed outside the lock; our shares keep the channels alive meanwhile.
    for (const auto& channel : channels) {
        channel->close();
    }
}

void HttpClient::cancel() noexcept {
    closeAll(false);
}

void HttpClient::stop() noexcept {
    closeAll(true);
}

bool HttpClient::busy() const {
    std::lock_guard<std::mutex> guard(activeLock_);
    return !activeConnections_.empty();
}

void HttpClient::reserveForBody(SocketStream& stream) {
    static constexpr std::string_view kHeaderEnd = "\r\n\r\n";
    std::size_t scanned = 0;
    std::size_t headerEnd = std::string_view::npos;
    for (;;) {
        const std::string_view unread(stream.unreadData(), stream.buffered());
        headerEnd = unread.find(kHeaderEnd, scanned);
        if (headerEnd != std::string_view::npos) {
            break;
        }
        scanned = unread.size() >= kHeaderEnd.size() ? unread.size() - kHeaderEnd.size() + 1 : 0;
        if (unread.size() >= kMaxHeaderScan || stream.receiveMore() == 0) {
            return;
        }
    }
    const std::string_view header(stream.unreadData(), headerEnd + 2);
    std::size_t length = 0;
    if (HttpResponse::contentLength(header, length) != HttpResponse::Length::Known ||
        length > kMaxAnswerBytes) {
        return; // none, or implausible: let the buffer grow as the bytes come
    }
    try {
        // One chunk more than announced: the receive that sees the end of the
        // stream needs room too.
        stream.reserveInput(headerEnd + kHeaderEnd.size() + length + SocketStream::kChunk);
    } catch (const std::bad_alloc&) {
        // Only a hint: reading on grows the buffer as needed.
    }
}

std::string HttpClient::request(const std::string& method, const std::string& url,
                                const std::string* cookie, const std::string& headerBlock,
                                const RequestBody* body) {
    try {
        return exchange(method, url, cookie, headerBlock, body);
    } catch (const platform::TlsError& e) {
        throw TlsFailure(e.what());
    }
}

std::string HttpClient::exchange(const std::string& method, const std::string& url,
                                 const std::string* cookie, const std::string& headerBlock,
                                 const RequestBody* body) {
    const auto started = std::chrono::steady_clock::now();
    const Url target(url);
    // An https URL: TLS over the socket, or over a tunnel through the proxy.
    // Then the proxy is only the tunnel's end: the request inside is the
    // site's (origin form, no proxy header).
    const bool secure = target.secure();
    const bool proxied = !proxyHost_.empty() && !secure;
    std::shared_ptr<ByteChannel> channel = openChannel();
    if (secure) {
        if (!proxyHost_.empty()) {
            channel = std::make_shared<ProxyTunnel>(channel, proxyHost_, proxyPort_, proxyUser_,
                                                    proxyPassword_);
        }
        channel = tlsFactory_ ? tlsFactory_(channel, target.host)
                              : std::make_shared<TlsChannel>(channel, target.host);
    }
    {
        // Registered before the connect, so a cancel also ends a hanging connect.
        std::lock_guard<std::mutex> guard(activeLock_);
        if (stopped_) {
            throw CBlockSocket::Canceled();
        }
        activeConnections_.push_back(channel);
    }
    try {
        std::string head = method;
        head += ' ';
        if (proxied) {
            channel->connect(proxyHost_, proxyPort_);
            head += url;
        } else {
            // Over TLS the handshake is part of the connect: a certificate
            // that fails its checks ends the exchange before a byte of the
            // request is sent.
            channel->connect(target.host, target.port);
            head += target.path;
        }
        head += " HTTP/1.0\r\n";
        // The proxy's credentials go to the proxy only: a request that goes
        // direct (proxy type HTTP with no server name) would hand the proxy
        // password to the web-mail site, and one inside a tunnel would hand
        // it to the site too.
        if (proxied && !proxyUser_.empty()) {
            const std::string credentials = proxyUser_ + ":" + proxyPassword_;
            Base64Coder coder;
            coder.encode(credentials.data(), credentials.size());
            head += "Proxy-authorization: Basic ";
            head.append(coder.result(), coder.size());
            head += "\r\n";
        }
        head += "Host: ";
        head += target.host;
        head += "\r\n";
        head += headerBlock;
        if (body != nullptr) {
            head += "Content-Length: " + std::to_string(body->length()) + "\r\n";
        }
        if (cookie != nullptr) {
            head += "Cookie: ";
            head += *cookie;
            head += "\r\n";
        }
        head += "\r\n";
        SocketStream stream(channel);
        stream.write(head);
        if (body != nullptr) {
            // A long body (a form with a message of tens of megabytes) goes out
            // in slices, each sent before the next is made; a short one goes
            // with the head.
            bool first = true;
            body->produce([&](const char* bytes, std::size_t length) {
                if (!first) {
                    stream.flush();
                }
                first = false;
                stream.write(bytes, length);
            });
            stream.write("\r\n");
        }
        stream.flush();
        reserveForBody(stream);
        stream.capInputGrowth(kMaxAnswerBytes + SocketStream::kChunk);
        while (stream.buffered() <= kMaxAnswerBytes && stream.receiveMore() > 0) {
        }
        if (stream.buffered() > kMaxAnswerBytes) {
            throw AnswerTooLarge();
        }
        std::string response = stream.readToEnd();
        // Anyone on the path can end a TCP stream; TLS vouches for its end only
        // with close_notify. Without it, only an answer that carries its whole
        // Content-Length is known to be whole.
        if (!channel->endConfirmed() && !HttpResponse::wholeByLength(response)) {
            throw platform::TlsError(
                "cut: the connection ended without close_notify before the answer's end");
        }
        // A Content-Length far above what came must not keep its reservation
        // for as long as the caller holds the answer.
        if (response.capacity() - response.size() > SocketStream::kChunk + response.size() / 4) {
            response.shrink_to_fit();
        }
        release(channel);
        channel->close();
        if (logEnabled())
            logExchange(method, url, started, &response);
        return response;
    } catch (...) {
        release(channel);
        channel->close();
        if (logEnabled())
            logExchange(method, url, started, nullptr);
        throw;
    }
}

void HttpClient::logExchange(const std::string& method, const std::string& url,
                             std::chrono::steady_clock::time_point started,
                             const std::string* response) noexcept {
    try {
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
        std::string line = "HTTP " + method + " " + url;
        if (response == nullptr) {
            line += " failed after " + std::to_string(ms) + " ms: " + describeCurrentException();
        } else {
            // The status code is the second word of the answer's first line.
            const std::size_t space = response->find(' ');
            const std::string status = space == std::string::npos || space > 16
                                           ? std::string("no status")
                                           : response->substr(space + 1, 3);
            line += " answered " + status + ", " + std::to_string(response->size()) + " bytes in " +
                    std::to_string(ms) + " ms";
        }
        logEvent(line);
    } catch (...) {
        // Out of memory: the exchange's outcome stands, the line is dropped.
    }
}

std::string HttpClient::get(const std::string& url) {
    return request("GET", url, nullptr, kGetHeaders, nullptr);
}

std::string HttpClient::get(const std::string& url, const std::string& cookie) {
    return request("GET", url, &cookie, kGetHeaders, nullptr);
}

std::string HttpClient::post(const std::string& url, const std::string& cookie,
                             const std::string& body) {
    const RequestBody whole(body);
    return request("POST", url, &cookie, kPostHeaders, &whole);
}

std::string HttpClient::post(const std::string& url, const std::string& cookie,
                             const RequestBody& body) {
    return request("POST", url, &cookie, kPostHeaders, &body);
}

} // namespace quill
