#pragma once
// A tiny loopback web server for the web-mail client's tests: it answers each
// request with what the test's handler returns for it (fixed pages with exact
// markers that the simulator would never produce) and records every request.
// The client reaches it as its HTTP proxy, so the handler sees absolute URLs
// and any host name works. One connection at a time, closed after the answer.
//
// Threads: the server thread runs the handler; requests() may be called from
// the test's thread at any time.

#include "net/CBlockSocket.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quill::webtest {

struct SeenRequest {
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

// A whole HTTP/1.0 answer.
inline std::string answer(int status, const std::string& body,
                          const std::string& extraHeaders = std::string()) {
    return "HTTP/1.0 " + std::to_string(status) + " Whatever\r\nContent-Type: text/html\r\n" +
           extraHeaders + "\r\n" + body;
}

inline std::string redirect(const std::string& location, const std::string& cookie) {
    std::string headers = "Location: " + location + "\r\n";
    if (!cookie.empty()) {
        headers += "Set-Cookie: " + cookie + "; path=/\r\n";
    }
    return answer(302, "", headers);
}

class ScriptedSite {
public:
    using Handler = std::function<std::string(const SeenRequest&)>;

    explicit ScriptedSite(Handler handler) : handler_(std::move(handler)), listener_(10, 10) {
        listener_.listenAt(0);
        port_ = listener_.localPort();
        thread_ = std::thread([this] { serve(); });
    }
    ~ScriptedSite() {
        listener_.close();
        thread_.join();
    }

    int port() const { return port_; }

    std::vector<SeenRequest> requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    std::vector<std::string> targets() const {
        std::vector<std::string> out;
        for (const SeenRequest& r : requests()) {
            out.push_back(r.target);
        }
        return out;
    }

private:
    void serve() {
        for (;;) {
            CBlockSocket connection(10, 10);
            try {
                connection = listener_.accept();
            } catch (const CBlockSocket::Error&) {
                return; // closed by the destructor
            }
            try {
                SeenRequest request = read(connection);
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    requests_.push_back(request);
                }
                const std::string reply = handler_(request);
                // A graceful end of stream, as a web server gives: a reset
                // could cost the client the last bytes of the answer.
                connection.write(reply.data(), reply.size());
                connection.shutdownSend();
                char rest[256];
                while (connection.receive(rest, sizeof rest) > 0) {
                }
            } catch (const CBlockSocket::Error&) {
                // the client went away (a cancelled exchange)
            }
            connection.close();
        }
    }

    static SeenRequest read(CBlockSocket& connection) {
        SeenRequest request;
        char buffer[16384];
        std::size_t headerEnd = std::string::npos;
        std::size_t wanted = 0;
        for (;;) {
            if (headerEnd == std::string::npos) {
                headerEnd = request.raw.find("\r\n\r\n");
                if (headerEnd != std::string::npos) {
                    headerEnd += 4;
                    const std::string length = request.header("Content-Length");
                    // A body is followed by one more CR LF that it does not count.
                    wanted = headerEnd + (length.empty() ? 0 : std::stoul(length) + 2);
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
        if (headerEnd != std::string::npos && wanted > headerEnd) {
            request.body = request.raw.substr(headerEnd, wanted - headerEnd - 2);
        }
        return request;
    }

    Handler handler_;
    CBlockSocket listener_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<SeenRequest> requests_;
};

} // namespace quill::webtest
