#include "site/SiteSimulator.h"

#include "codec/Base64.h"
#include "platform/LargeBuffer.h"
#include "site/HttpAnswer.h"
#include "site/HttpRequest.h"
#include "site/TextUtil.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

namespace quill::site {

namespace {

constexpr std::size_t kChunk = 16384;
// Time a finished answer waits for its client to close before the socket is
// closed anyway.
constexpr int kDrainMs = 5000;

} // namespace

SiteSimulator::SiteSimulator(SiteConfig config)
    : site_(config),
      receiveTimeoutMs_(config.receiveTimeoutMs > 0 ? config.receiveTimeoutMs : 30000),
      maxConnections_(config.maxConnections > 0 ? config.maxConnections : 1),
      maxRequestBytes_(config.maxRequestBytes), address_(config.listenAddress),
      requestedPort_(config.listenPort) {}

SiteSimulator::~SiteSimulator() {
    try {
        stop();
    } catch (...) {
    }
}

int SiteSimulator::start() {
    if (running_.load() || listener_) {
        throw std::logic_error("SiteSimulator already started");
    }
    auto listener = std::make_unique<CBlockSocket>(0, 0);
    listener->listenAt(address_, requestedPort_);
    port_.store(listener->localPort());
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = false;
    }
    listener_ = std::move(listener);
    running_.store(true);
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return port_.load();
}

void SiteSimulator::stop() {
    if (!listener_) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
        for (auto& c : connections_) {
            c->socket.close();
        }
    }
    stopped_.notify_all();
    listener_->close();
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    reapFinished(true);
    listener_.reset();
    running_.store(false);
}

void SiteSimulator::reapFinished(bool all) {
    std::list<std::unique_ptr<Connection>> finished;
    {
        std::lock_guard<std::mutex> guard(lock_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if (all || (*it)->done.load()) {
                finished.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& c : finished) {
        if (c->thread.joinable()) {
            c->thread.join();
        }
    }
}

void SiteSimulator::acceptLoop() {
    while (true) {
        try {
            CBlockSocket client = listener_->accept();
            accepted_.fetch_add(1);
            reapFinished(false);
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_) {
                client.close();
                break;
            }
            if (connections_.size() >= static_cast<std::size_t>(maxConnections_)) {
                // Too busy: a short answer, without reading the request.
                connections_.push_back(std::make_unique<Connection>(client));
                Connection& c = *connections_.back();
                c.thread = std::thread([this, &c] {
                    try {
                        c.socket.setTimeoutMs(receiveTimeoutMs_, receiveTimeoutMs_);
                        answer(c.socket, c.socket, site_.reject(503, std::string()));
                    } catch (...) {
                    }
                    c.socket.close();
                    c.done.store(true);
                });
                continue;
            }
            connections_.push_back(std::make_unique<Connection>(client));
            Connection& c = *connections_.back();
            c.thread = std::thread([this, &c] { serve(c); });
        } catch (const CBlockSocket::Error&) {
            std::lock_guard<std::mutex> guard(lock_);
            if (stopping_) {
                break;
            }
            // A failed accept (a client that reset at once) is not the end.
        } catch (const std::exception&) {
            // Thread creation failed: drop this client and go on.
        }
    }
}

void SiteSimulator::serve(Connection& c) {
    CBlockSocket& socket = c.socket;
    try {
        socket.setTimeoutMs(receiveTimeoutMs_, receiveTimeoutMs_);
        std::string received;
        char buffer[kChunk];
        HttpRequest request;
        std::unique_ptr<ByteChannel> secure; // TLS over the socket, once begun
        ByteChannel* channel = &socket;
        while (true) {
            if (tls_ && !secure && !received.empty()) {
                if (static_cast<unsigned char>(received[0]) == 0x16) { // a TLS handshake record
                    secure = tls_->accept(socket, std::move(received));
                    received.clear();
                    channel = secure.get();
                    continue;
                }
                if (received.compare(0, 8, "CONNECT ") == 0 &&
                    received.find("\r\n\r\n") != std::string::npos) {
                    if (!openTunnel(socket, received)) {
                        break;
                    }
                    secure = tls_->accept(socket, std::move(received));
                    received.clear();
                    channel = secure.get();
                    continue;
                }
            }
            std::size_t n = 0;
            try {
                n = channel->receive(buffer, sizeof buffer);
            } catch (const CBlockSocket::Canceled&) {
                throw;
            } catch (const CBlockSocket::Error&) {
                // Silent for too long.
                if (!received.empty()) {
                    answer(*channel, socket, site_.reject(408, received));
                }
                break;
            }
            if (n == 0) {
                // The client stopped sending before the request was whole.
                if (!received.empty()) {
                    answer(*channel, socket, site_.reject(400, received));
                }
                break;
            }
            received.append(buffer, n);
            if (tls_ && !secure &&
                (static_cast<unsigned char>(received[0]) == 0x16 ||
                 (received.compare(0, 8, "CONNECT ") == 0 && received.size() < kChunk))) {
                continue; // the handshake or the tunnel's request, above
            }
            HttpRequest::Parse p = request.parse(received, maxRequestBytes_);
            if (p == HttpRequest::Parse::Complete) {
                // Most requests are all that was received: no copy of a large post.
                received.resize(request.consumed);
                answer(*channel, socket, site_.handle(request, std::move(received)));
                break;
            }
            if (p == HttpRequest::Parse::Bad) {
                answer(*channel, socket, site_.reject(request.errorStatus(), received));
                break;
            }
            if (request.consumed > received.capacity()) {
                // A large post: room for all of it at once, in huge pages
                // where the system has them, instead of regrowing.
                std::string whole;
                whole.reserve(request.consumed);
                platform::adviseLargeBuffer(&whole[0], whole.capacity());
                whole.append(received);
                received.swap(whole);
            }
        }
    } catch (...) {
        // Canceled by stop(), a reset client, or a failed write: nothing to answer.
    }
    socket.close();
    c.done.store(true);
}

bool SiteSimulator::openTunnel(CBlockSocket& socket, std::string& received) {
    const std::size_t end = received.find("\r\n\r\n");
    const std::string head = received.substr(0, end + 2);
    received.erase(0, end + 4);
    // "CONNECT host:port HTTP/1.x"
    const std::size_t lineEnd = head.find("\r\n");
    const std::string line = head.substr(0, lineEnd);
    const std::size_t blank = line.find(' ', 8);
    const std::string authority = line.substr(8, blank == std::string::npos ? 0 : blank - 8);
    const std::string host = authority.substr(0, authority.rfind(':'));
    int status = 200;
    const SiteConfig& config = site_.config();
    if (!config.proxyUser.empty()) {
        // The same check as for a proxy request, on the CONNECT's own header.
        const std::string expected = config.proxyUser + ":" + config.proxyPassword;
        bool ok = false;
        for (std::size_t at = lineEnd + 2; at < head.size();) {
            const std::size_t next = head.find("\r\n", at);
            const std::string field = head.substr(at, next - at);
            at = next + 2;
            const std::size_t colon = field.find(':');
            if (colon != std::string::npos &&
                toLowerAscii(field.substr(0, colon)) == "proxy-authorization") {
                const std::string value = trim(field.substr(colon + 1));
                ok = toLowerAscii(value.substr(0, 6)) == "basic " &&
                     decodeBase64(trim(value.substr(6))) == expected;
            }
        }
        status = ok ? 200 : 407;
    }
    if (status == 200 && !site_.knownHost(host)) {
        status = 502;
    }
    if (config.log) {
        config.log(host + " \"" + line + "\" " + std::to_string(status) + " 0");
    }
    const std::string reply = status == 200 ? "HTTP/1.0 200 Connection established\r\n\r\n"
                                            : "HTTP/1.0 " + std::to_string(status) + " " +
                                                  HttpAnswer::reason(status) +
                                                  "\r\nContent-Length: 0\r\n\r\n";
    socket.write(reply.data(), reply.size());
    if (status != 200) {
        finish(socket);
        return false;
    }
    tunnels_.fetch_add(1);
    return true;
}

void SiteSimulator::answer(ByteChannel& channel, CBlockSocket& socket,
                           const SiteHandler::Reply& reply) {
    // Counted from the request read whole to the answer written: within the
    // time the client holds its connection, so the peak is never above the
    // client's own count of requests in flight (a connection that lingers
    // while both ends close is not counted).
    struct Open {
        std::atomic<std::size_t>& open;
        explicit Open(std::atomic<std::size_t>& o, std::atomic<std::size_t>& peak) : open(o) {
            const std::size_t now = open.fetch_add(1) + 1;
            std::size_t seen = peak.load();
            while (now > seen && !peak.compare_exchange_weak(seen, now)) {
            }
        }
        void end() {
            if (!ended) {
                ended = true;
                open.fetch_sub(1);
            }
        }
        ~Open() { end(); }
        bool ended = false;
    } counted(open_, peak_);
    if (reply.delay.count() > 0) {
        std::unique_lock<std::mutex> guard(lock_);
        if (stopped_.wait_for(guard, reply.delay, [this] { return stopping_; })) {
            return;
        }
    }
    // The head and, for a print-view part, the part's bytes straight from
    // the mailbox; a cut fault counts over both.
    std::size_t allowed =
        reply.closeAfterBytes >= 0 ? static_cast<std::size_t>(reply.closeAfterBytes) : reply.size();
    for (std::string_view piece : {std::string_view(reply.bytes), reply.part}) {
        const std::size_t n = std::min(piece.size(), allowed);
        if (reply.dripEvery.count() > 0) {
            if (!drip(channel, piece.substr(0, n), reply)) {
                return;
            }
        } else if (n > 0) {
            channel.write(piece.data(), n);
        }
        allowed -= n;
    }
    counted.end(); // the client may take its time to close
    // A cut answer ends in order too, unless the fault asks for a reset:
    // every system then shows the client the end of the stream after the
    // bytes sent, where a reset reaches it as the end on one system and as an
    // error on another.
    if (reply.reset) {
        socket.close();
        return;
    }
    if (&channel != &socket && reply.closeAfterBytes < 0) {
        // TLS ends with close_notify; a cut answer without it, as a
        // connection cut on the path (the client must tell by the length).
        channel.finish();
    }
    finish(socket);
}

bool SiteSimulator::drip(ByteChannel& channel, std::string_view bytes,
                         const SiteHandler::Reply& reply) {
    const std::size_t step = std::max<std::size_t>(reply.dripBytes, 1);
    for (std::size_t at = 0; at < bytes.size(); at += step) {
        channel.write(bytes.data() + at, std::min(step, bytes.size() - at));
        std::unique_lock<std::mutex> guard(lock_);
        if (stopped_.wait_for(guard, reply.dripEvery, [this] { return stopping_; })) {
            return false;
        }
    }
    return true;
}

void SiteSimulator::finish(CBlockSocket& socket) {
    // End of stream for the client, then wait for it to go: closing with its
    // bytes unread (the CR LF some clients send after a body) would reset the
    // connection under the answer.
    socket.shutdownSend();
    socket.setTimeoutMs(kDrainMs, kDrainMs);
    char buffer[1024];
    try {
        std::size_t total = 0;
        while (total < (1u << 20)) {
            std::size_t n = socket.receive(buffer, sizeof buffer);
            if (n == 0) {
                break;
            }
            total += n;
        }
    } catch (const CBlockSocket::Error&) {
    }
}

} // namespace quill::site
