#include "webmail/HttpClient.h"

#include "codec/Base64.h"
#include "net/CBlockSocket.h"
#include "webmail/SocketChannel.h"
#include "webmail/SocketStream.h"
#include "webmail/Url.h"

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

std::shared_ptr<ByteChannel> HttpClient::openChannel() {
    if (factory_) {
        return factory_();
    }
    CBlockSocket socket(kDefaultTimeoutMs / 1000, kDefaultTimeoutMs / 1000);
    if (receiveTimeoutMs_ != kDefaultTimeoutMs || sendTimeoutMs_ != kDefaultTimeoutMs) {
        socket.setTimeoutMs(receiveTimeoutMs_, sendTimeoutMs_);
    }
    return std::make_shared<SocketChannel>(socket);
}

void HttpClient::release(const std::shared_ptr<ByteChannel>& channel) noexcept {
    std::lock_guard<std::mutex> guard(activeLock_);
    if (activeConnection_ == channel) {
        activeConnection_.reset();
    }
}

void HttpClient::cancel() noexcept {
    std::shared_ptr<ByteChannel> channel;
    {
        std::lock_guard<std::mutex> guard(activeLock_);
        channel.swap(activeConnection_);
    }
    // Closed outside the lock; our share keeps the channel alive meanwhile.
    if (channel) {
        channel->close();
    }
}

bool HttpClient::busy() const {
    std::lock_guard<std::mutex> guard(activeLock_);
    return activeConnection_ != nullptr;
}

std::string HttpClient::request(const std::string& method, const std::string& url,
                                const std::string* cookie, const std::string& headerBlock,
                                const char* body, std::size_t bodyLength) {
    std::shared_ptr<ByteChannel> channel = openChannel();
    {
        // Registered before the connect, so a cancel also ends a hanging connect.
        std::lock_guard<std::mutex> guard(activeLock_);
        activeConnection_ = channel;
    }
    try {
        SocketStream stream(channel);
        stream.write(method);
        stream.write(" ");
        const Url target(url);
        if (!proxyHost_.empty()) {
            channel->connect(proxyHost_, proxyPort_);
            stream.write(url);
        } else {
            channel->connect(target.host, target.port);
            stream.write(target.path);
        }
        stream.write(" HTTP/1.0\r\n");
        if (!proxyUser_.empty()) {
            const std::string credentials = proxyUser_ + ":" + proxyPassword_;
            Base64Coder coder;
            coder.encode(credentials.data(), credentials.size());
            stream.write("Proxy-authorization: Basic ");
            stream.write(coder.result(), coder.size());
            stream.write("\r\n");
        }
        stream.write("Host: ");
        stream.write(target.host);
        stream.write("\r\n");
        stream.write(headerBlock);
        if (body != nullptr) {
            stream.write("Content-Length: " + std::to_string(bodyLength) + "\r\n");
        }
        if (cookie != nullptr) {
            stream.write("Cookie: ");
            stream.write(*cookie);
            stream.write("\r\n");
        }
        stream.write("\r\n");
        if (body != nullptr) {
            stream.write(body, bodyLength);
            stream.write("\r\n");
        }
        stream.flush();
        std::string response = stream.readToEnd();
        release(channel);
        channel->close();
        return response;
    } catch (...) {
        release(channel);
        channel->close();
        throw;
    }
}

std::string HttpClient::get(const std::string& url) {
    return request("GET", url, nullptr, kGetHeaders, nullptr, 0);
}

std::string HttpClient::get(const std::string& url, const std::string& cookie) {
    return request("GET", url, &cookie, kGetHeaders, nullptr, 0);
}

std::string HttpClient::post(const std::string& url, const std::string& cookie,
                             const std::string& body) {
    return request("POST", url, &cookie, kPostHeaders, body.data(), body.size());
}

} // namespace quill
