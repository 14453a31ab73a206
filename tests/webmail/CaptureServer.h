#pragma once
// A loopback HTTP peer for client tests: it accepts one connection per scripted
// reply, records the exact bytes of each request, answers and closes. It can
// also misbehave: close at once, or never answer (hold the connection until
// the client gives up). An answer ends with a graceful end of stream; the
// connection is closed once the client has gone. Runs on its own thread;
// port() is ephemeral.

#include "net/CBlockSocket.h"

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quill {

class CaptureServer {
public:
    enum class Behaviour { Answer, CloseAtOnce, NeverAnswer };
    struct Reply {
        std::string bytes;
        Behaviour behaviour = Behaviour::Answer;
    };

    explicit CaptureServer(std::vector<Reply> replies)
        : listener_(10, 10), replies_(std::move(replies)) {
        listener_.listenAt(0);
        port_ = listener_.localPort();
        thread_ = std::thread([this] { serve(); });
    }
    // Answers each connection with the next text.
    explicit CaptureServer(const std::vector<std::string>& answers)
        : CaptureServer(toReplies(answers)) {}

    ~CaptureServer() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stopping_ = true;
            listener_.close();
            if (current_) {
                current_->close();
            }
        }
        thread_.join();
    }

    CaptureServer(const CaptureServer&) = delete;
    CaptureServer& operator=(const CaptureServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Waits until count requests have been received whole; then returns them.
    std::vector<std::string> waitForRequests(std::size_t count) {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return requests_.size() >= count || finished_; });
        return requests_;
    }
    // The requests received so far, once every scripted connection is done.
    std::vector<std::string> requests() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [&] { return finished_; });
        return requests_;
    }

private:
    static std::vector<Reply> toReplies(const std::vector<std::string>& answers) {
        std::vector<Reply> replies;
        for (const std::string& answer : answers) {
            replies.push_back({answer, Behaviour::Answer});
        }
        return replies;
    }

    // Reads one request: the header, then Content-Length bytes and the CR LF
    // that our client sends after a body.
    static std::string readRequest(CBlockSocket& connection) {
        std::string request;
        char buffer[4096];
        std::size_t wanted = std::string::npos;
        while (wanted == std::string::npos || request.size() < wanted) {
            const std::size_t n = connection.receive(buffer, sizeof buffer);
            if (n == 0) {
                break;
            }
            request.append(buffer, n);
            const std::size_t end = request.find("\r\n\r\n");
            if (wanted == std::string::npos && end != std::string::npos) {
                wanted = end + 4;
                const std::size_t length = request.find("\r\nContent-Length: ");
                if (length != std::string::npos && length < end) {
                    wanted += std::strtoul(request.c_str() + length + 18, nullptr, 10) + 2;
                }
            }
        }
        return request;
    }

    // Publishes the connection being served for the destructor's close while
    // it lives.
    class CurrentConnection {
    public:
        CurrentConnection(CaptureServer& server, CBlockSocket& connection) : server_(server) {
            std::lock_guard<std::mutex> guard(server_.lock_);
            server_.current_ = &connection;
        }
        ~CurrentConnection() {
            std::lock_guard<std::mutex> guard(server_.lock_);
            server_.current_ = nullptr;
        }
        CurrentConnection(const CurrentConnection&) = delete;
        CurrentConnection& operator=(const CurrentConnection&) = delete;

    private:
        CaptureServer& server_;
    };

    void serve() {
        for (const Reply& reply : replies_) {
            try {
                CBlockSocket connection = listener_.accept();
                // Declared after the connection, so it is destroyed first: the
                // destructor's close never reaches a connection that is gone,
                // however this block is left.
                CurrentConnection attached(*this, connection);
                if (reply.behaviour != Behaviour::CloseAtOnce) {
                    std::string request = readRequest(connection);
                    {
                        std::lock_guard<std::mutex> guard(lock_);
                        requests_.push_back(std::move(request));
                    }
                    changed_.notify_all();
                    if (reply.behaviour == Behaviour::Answer) {
                        // As a web server does: the end of the reply is a
                        // graceful end of stream, not a reset that could cost
                        // the client the last bytes.
                        connection.write(reply.bytes.data(), reply.bytes.size());
                        connection.shutdownSend();
                    }
                    // Hold the connection until the client leaves.
                    char buffer[256];
                    while (connection.receive(buffer, sizeof buffer) > 0) {
                    }
                }
                connection.close();
            } catch (const CBlockSocket::Error&) {
                std::lock_guard<std::mutex> guard(lock_);
                if (stopping_) {
                    break;
                }
            }
        }
        std::lock_guard<std::mutex> guard(lock_);
        finished_ = true;
        changed_.notify_all();
    }

    CBlockSocket listener_;
    int port_ = 0;
    std::vector<Reply> replies_;
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable changed_;
    CBlockSocket* current_ = nullptr; // the connection being served, for the destructor
    std::vector<std::string> requests_;
    bool finished_ = false;
    bool stopping_ = false; // set by the destructor
};

} // namespace quill
