// libFuzzer target for the SMTP conversation: the input is what a mail client
// sends, cut into receives, and how the web-mail side answers. Every input
// must end the conversation with a defined reply or a clean end: no crash, no
// sanitizer report, no hang.
//
// Input: byte 0 chooses the web-mail side's behaviour (bit 0: a saved session
// exists; bits 1-2: sign-in succeeds, is refused, or fails on the network;
// bits 3-5: the first sends succeed, are refused, meet stale cookies or fail
// on the network). The rest is the client's bytes; each pair "\xff\xff"
// starts a new receive.

#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "smtp/SmtpSession.h"
#include "smtp/SmtpWebmail.h"
#include "webmail/ByteChannel.h"
#include "webmail/CVurelClient.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

namespace {

using namespace quill;

class Channel : public ByteChannel {
public:
    explicit Channel(std::deque<std::string> chunks) : chunks_(std::move(chunks)) {}
    void connect(const std::string&, int) override {}
    std::size_t receive(void* buffer, std::size_t capacity) override {
        if (closed_) {
            throw CBlockSocket::Canceled();
        }
        while (!chunks_.empty() && chunks_.front().empty()) {
            chunks_.pop_front();
        }
        if (chunks_.empty()) {
            return 0;
        }
        std::string& next = chunks_.front();
        const std::size_t n = capacity < next.size() ? capacity : next.size();
        std::memcpy(buffer, next.data(), n);
        next.erase(0, n);
        return n;
    }
    void write(const void*, std::size_t) override {
        if (closed_) {
            throw CBlockSocket::Canceled();
        }
    }
    void close() noexcept override { closed_ = true; }

private:
    std::deque<std::string> chunks_;
    bool closed_ = false;
};

class Settings : public ServiceSettings {
public:
    bool inbox() const override { return true; }
    bool bulk() const override { return false; }
    bool emptyTrash() const override { return true; }
    bool popup() const override { return false; }
    bool saveCookie() const override { return false; }
    bool saveSent() const override { return true; }
    int pop3Port() const override { return 5110; }
    int smtpPort() const override { return 5025; }
    int proxyType() const override { return 1; }
    int proxyPort() const override { return 8080; }
    std::string proxy() const override { return "127.0.0.1"; }
    std::string username() const override { return std::string(); }
    std::string password() const override { return std::string(); }
};

class Webmail : public SmtpWebmail {
public:
    explicit Webmail(std::uint8_t mode) : mode_(mode) {}
    void setProxy(const std::string&, int, const std::string&, const std::string&) override {}
    void clearProxy() override {}
    bool adoptSaved(const std::string&, const std::string&) override { return (mode_ & 1) != 0; }
    void login(const std::string&, const std::string&) override {
        switch ((mode_ >> 1) & 3) {
        case 1:
            throw CVurelClient::Error("http://login/config/login");
        case 2:
            throw CBlockSocket::Error("connect");
        default:
            break;
        }
    }
    void sendMessage(const std::string&, const std::string&, const std::string&,
                     const std::string&, const std::string&, const std::string&, bool) override {
        switch ((mode_ >> 3) & 7) {
        case 1:
            throw CVurelClient::Error("http://mail/vm/Compose?YY=");
        case 2:
            throw CVurelClient::InvalidCookie();
        case 3:
            throw CBlockSocket::Error("receive");
        default:
            break;
        }
    }
    void abort() noexcept override {}

private:
    const std::uint8_t mode_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    std::deque<std::string> chunks(1);
    for (std::size_t i = 1; i < size; ++i) {
        if (data[i] == 0xff && i + 1 < size && data[i + 1] == 0xff) {
            chunks.emplace_back();
            ++i;
        } else {
            chunks.back() += static_cast<char>(data[i]);
        }
    }
    static const Settings settings;
    SmtpSession session(std::make_shared<Channel>(std::move(chunks)),
                        std::make_unique<Webmail>(data[0]), settings);
    try {
        session.run();
    } catch (...) {
        // A failure that ends the conversation: the listener swallows it.
    }
    return 0;
}
