#pragma once
// The one fake web server of the tests: a scripted site on an ephemeral
// loopback port that replies from a script and records every request it got,
// byte for byte. The script is either a handler that picks the reply for each
// request (fixed pages with exact markers, or the site simulator's handler
// behind it) or a list of replies, one per connection in order (past its end
// a connection is closed unanswered).
//
// A reply is an answer (written whole and ended gracefully, as a web server
// does: a reset could cost the client the last bytes), an end of the stream
// without an answer, or no answer at all (the connection is held until the
// client leaves or the 10-second time-out passes). One connection at a time,
// each read as one request. A client reaches the server by url() or as its
// HTTP proxy; then the handler sees absolute URLs and any host name works.
//
// Threads: the server thread reads the requests and runs the handler (a
// handler that throws is answered 500); the observers may be called from any
// thread. The destructor closes the listener and the connection being served,
// so it never waits for a client.

#include "net/CBlockSocket.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace quill {

// A whole HTTP/1.0 answer with an HTML body.
inline std::string answer(int status, const std::string& body,
                          const std::string& extraHeaders = std::string()) {
    return "HTTP/1.0 " + std::to_string(status) + " Whatever\r\nContent-Type: text/html\r\n" +
           extraHeaders + "\r\n" + body;
}

// A 302 to location, setting cookie (with path=/) unless it is empty.
inline std::string redirect(const std::string& location, const std::string& cookie) {
    std::string headers = "Location: " + location + "\r\n";
    if (!cookie.empty()) {
        headers += "Set-Cookie: " + cookie + "; path=/\r\n";
    }
    return answer(302, "", headers);
}

class ScriptedHttpServer {
public:
    struct Request {
        std::string raw; // every byte received
        std::string method;
        std::string target; // the request line's URL (absolute through a proxy)
        std::string body;

        // The value of the first header line "name: value"; empty when absent.
        std::string header(const std::string& name) const {
            const std::string marker = "\r\n" + name + ": ";
            const std::size_t at = raw.find(marker);
            if (at == std::string::npos) {
                return std::string();
            }
            const std::size_t start = at + marker.size();
            return raw.substr(start, raw.find("\r\n", start) - start);
        }
        bool hasHeader(const std::string& name) const {
            return raw.find("\r\n" + name + ": ") != std::string::npos;
        }
    };

    struct Reply {
        enum class Kind { Answer, Close, Hold };
        Reply(std::string answerBytes) : bytes(std::move(answerBytes)) {}
        Reply(const char* answerBytes) : bytes(answerBytes) {}
        static Reply close() { return Reply(Kind::Close); }
        static Reply hold() { return Reply(Kind::Hold); }

        std::string bytes;
        Kind kind = Kind::Answer;

    private:
        explicit Reply(Kind k) : kind(k) {}
    };

    using Handler = std::function<Reply(const Request&)>;

    explicit ScriptedHttpServer(Handler handler)
        : handler_(std::move(handler)), listener_(kTimeoutSeconds, kTimeoutSeconds) {
        listener_.listenAt(0);
        port_ = listener_.localPort();
        thread_ = std::thread([this] { serve(); });
    }
    // Replies to the n-th connection with the n-th reply.
    explicit ScriptedHttpServer(std::vector<Reply> replies)
        : ScriptedHttpServer(
              [replies = std::move(replies), next = std::size_t{0}](const Request&) mutable {
                  return next < replies.size() ? replies[next++] : Reply::close();
              }) {}

    ~ScriptedHttpServer() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
            if (current_) {
                current_->close();
            }
        }
        listener_.close();
        thread_.join();
    }

    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // The requests received whole so far, in order. A request is recorded
    // before its reply is sent, so every answered request is in it.
    std::vector<Request> requests() const {
        std::lock_guard<std::mutex> guard(lock_);
        return requests_;
    }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const Request& r : requests()) {
            out.push_back(r.target);
        }
        return out;
    }
    // Waits, at most the time-out, until count requests have been received.
    std::vector<Request> waitForRequests(std::size_t count) const {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait_for(guard, std::chrono::seconds(kTimeoutSeconds),
                          [&] { return requests_.size() >= count; });
        return requests_;
    }

private:
    // Bounds every wait of the server on a client that neither talks nor leaves.
    static constexpr int kTimeoutSeconds = 10;

    void serve() {
        for (;;) {
            std::optional<CBlockSocket> connection;
            try {
                connection.emplace(listener_.accept());
            } catch (const CBlockSocket::Error&) {
                return; // closed by the destructor
            }
            {
                std::lock_guard<std::mutex> guard(lock_);
                if (stopping_) {
                    return;
                }
                current_ = *connection; // a copy sharing the socket, for the destructor
            }
            try {
                converse(*connection);
            } catch (const CBlockSocket::Error&) {
                // the client went away, or the destructor closed the connection
            }
            connection->close();
            std::lock_guard<std::mutex> guard(lock_);
            current_.reset();
        }
    }

    void converse(CBlockSocket& connection) {
        Request request = read(connection);
        {
            std::lock_guard<std::mutex> guard(lock_);
            requests_.push_back(request);
        }
        changed_.notify_all();
        std::optional<Reply> reply;
        try {
            reply = handler_(request);
        } catch (const std::exception& e) {
            reply = answer(500, e.what());
        }
        if (reply->kind == Reply::Kind::Answer) {
            connection.write(reply->bytes.data(), reply->bytes.size());
        }
        if (reply->kind != Reply::Kind::Hold) {
            connection.shutdownSend();
        }
        // Hold the connection until the client leaves.
        char rest[256];
        while (connection.receive(rest, sizeof rest) > 0) {
        }
    }

    // Reads one request: the header, then Content-Length bytes and the CR LF
    // that the client sends after a body.
    static Request read(CBlockSocket& connection) {
        Request request;
        char buffer[16384];
        std::size_t headerEnd = std::string::npos;
        std::size_t wanted = 0;
        for (;;) {
            if (headerEnd == std::string::npos) {
                headerEnd = request.raw.find("\r\n\r\n");
                if (headerEnd != std::string::npos) {
                    headerEnd += 4;
                    const std::string length = request.header("Content-Length");
                    wanted = headerEnd +
                             (length.empty() ? 0 : std::strtoul(length.c_str(), nullptr, 10) + 2);
                }
            }
            if (headerEnd != std::string::npos && request.raw.size() >= wanted) {
                break;
            }
            const std::size_t n = connection.receive(buffer, sizeof buffer);
            if (n == 0) {
                break;
            }
            request.raw.append(buffer, n);
        }
        const std::size_t space = request.raw.find(' ');
        const std::size_t space2 = request.raw.find(' ', space + 1);
        if (space != std::string::npos && space2 != std::string::npos) {
            request.method = request.raw.substr(0, space);
            request.target = request.raw.substr(space + 1, space2 - space - 1);
        }
        if (headerEnd != std::string::npos && wanted > headerEnd && request.raw.size() >= wanted) {
            request.body = request.raw.substr(headerEnd, wanted - headerEnd - 2);
        }
        return request;
    }

    Handler handler_;
    CBlockSocket listener_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    std::vector<Request> requests_;
    std::optional<CBlockSocket> current_; // the connection being served, for the destructor
    bool stopping_ = false;               // set by the destructor
};

} // namespace quill
