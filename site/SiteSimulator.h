#pragma once
// The Vurel web-mail site simulator on a socket: serves SiteHandler over
// HTTP/1.0, one request per connection, answer then close. It listens on one
// loopback address and port and answers both origin-form requests (a client
// that connects to it directly, as to port 80 of the mail host) and
// absolute-form requests (a client that uses it as its HTTP proxy), by the
// request's path; see SiteHandler.h for the pages.
//
// Typical use in a test:
//   SiteConfig config;
//   config.users = {{"alice", "secret"}};
//   SiteSimulator sim(config);
//   sim.site().addMessage("alice", "Inbox", raw);
//   int port = sim.start();                    // ephemeral port on 127.0.0.1
//   ... point the client at proxy 127.0.0.1:port ...
//   EXPECT_EQ(1u, sim.site().sentMessages().size());
//
// Each connection is served on a thread of its own (at most
// config.maxConnections at once; more answer 503). A request is read until
// its header and Content-Length body are in; a malformed, oversized or
// incomplete request gets an HTTP error answer, a silent client is dropped
// after config.receiveTimeoutMs. Answers end with a graceful close: the
// sending side is shut down, the client's remaining bytes are drained, then
// the socket is closed. Injected faults (Fault.h) add a delay, cut the answer
// after N bytes and reset, or replace the answer.
//
// Thread safety: start() and stop() belong to the owning thread; site() and
// everything reached through it are safe from any thread, also while serving.

#include "net/CBlockSocket.h"
#include "site/SiteConfig.h"
#include "site/SiteHandler.h"
#include "site/TlsService.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace quill::site {

class SiteSimulator {
public:
    explicit SiteSimulator(SiteConfig config);
    ~SiteSimulator(); // stops; never throws
    SiteSimulator(const SiteSimulator&) = delete;
    SiteSimulator& operator=(const SiteSimulator&) = delete;

    // Listens on config.listenAddress:config.listenPort and starts serving.
    // Returns the port (the ephemeral one when listenPort is 0). Throws
    // CBlockSocket::Error ("bind", "listenAt") when the address cannot be had,
    // std::logic_error when already started.
    int start();
    // Stops accepting, resets the connections in progress (cutting short any
    // injected delay) and waits for every connection thread. Idempotent.
    void stop();

    bool running() const { return running_.load(); }
    int port() const { return port_.load(); }
    const std::string& address() const { return address_; }
    // "http://" + front host + "/" and the login page URL.
    std::string frontPageUrl() const { return site_.frontPageUrl(); }
    std::string loginPageUrl() const { return site_.loginPageUrl(); }

    // The site: mailbox, faults, sessions and what was observed.
    SiteHandler& site() { return site_; }
    const SiteHandler& site() const { return site_; }

    // Connections accepted so far (those refused with 503 included).
    std::size_t connectionsAccepted() const { return accepted_.load(); }
    // The most requests being answered at once since start (or the last
    // reset): from a request read whole to its answer written.
    std::size_t peakConnections() const { return peak_.load(); }
    void resetPeakConnections() { peak_.store(open_.load()); }

    // Serves TLS from now on, beside plain HTTP: a connection that opens with
    // a TLS handshake gets one, and "CONNECT host:port" for one of the site's
    // hosts is answered 200 and then served over TLS (the simulator is the
    // proxy and the site at once; another host answers 502, and with proxy
    // credentials configured a CONNECT without them 407). Call before start().
    void setTls(std::shared_ptr<TlsService> tls) { tls_ = std::move(tls); }
    // CONNECT requests answered 200 so far.
    std::size_t tunnelsOpened() const { return tunnels_.load(); }

private:
    struct Connection {
        explicit Connection(const CBlockSocket& s) : socket(s) {}
        CBlockSocket socket; // used by its thread; closed from stop() too
        std::thread thread;
        std::atomic<bool> done{false};
    };

    void acceptLoop();
    void serve(Connection& connection);
    // Answers a CONNECT whose header is whole in received; true when the
    // tunnel is open (received then holds the bytes after the header).
    bool openTunnel(CBlockSocket& socket, std::string& received);
    // Writes the reply to channel (the socket, or TLS over it) and ends the
    // connection in order, unless the reply asks for a reset.
    void answer(ByteChannel& channel, CBlockSocket& socket, const SiteHandler::Reply& reply);
    void finish(CBlockSocket& socket);
    // Sends bytes in the reply's drip pieces; false when the simulator stops.
    bool drip(ByteChannel& channel, std::string_view bytes, const SiteHandler::Reply& reply);
    void reapFinished(bool all);

    SiteHandler site_;
    const int receiveTimeoutMs_;
    const int maxConnections_;
    const std::size_t maxRequestBytes_;
    const std::string address_;
    const int requestedPort_;

    std::unique_ptr<CBlockSocket> listener_; // owned by start/stop; accept thread uses it
    std::thread acceptThread_;
    std::atomic<bool> running_{false};
    std::atomic<int> port_{0};
    std::atomic<std::size_t> accepted_{0};
    std::atomic<std::size_t> tunnels_{0};
    std::atomic<std::size_t> open_{0}; // answers being given now
    std::atomic<std::size_t> peak_{0};
    std::shared_ptr<TlsService> tls_; // set before start; read by connection threads

    std::mutex lock_;                 // guards connections_ and stopping_
    std::condition_variable stopped_; // wakes delayed answers at stop
    bool stopping_ = false;
    std::list<std::unique_ptr<Connection>> connections_;
};

} // namespace quill::site
