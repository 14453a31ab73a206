// libFuzzer target for the POP3 conversation: the input is what a mail client
// sends, cut into receives, and how the web-mail side answers. Every input
// must end the conversation with a defined reply or a clean end: no crash, no
// sanitizer report, no hang.
//
// Input: byte 0 chooses the web-mail side's behaviour (bit 0: a saved session
// is adopted; bits 1-2: sign-in succeeds, is refused, or fails on the network;
// bits 3-4: the listing succeeds, meets stale cookies, is refused or fails on
// the network; bits 5-7: retrieval, deletion and emptying the trash fail).
// Byte 1 is the inbox size (0-15 messages). The rest is the client's bytes;
// each pair "\xff\xff" starts a new receive.

#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "pop3/Pop3Session.h"
#include "webmail/CVurelClient.h"
#include "webmail/Pop3Webmail.h"

#include "support/FixedSettings.h"
#include "support/RecordingWindow.h"
#include "support/ScriptedPeer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace quill;

SettingsValues options() {
    SettingsValues v;
    v.inbox = true;
    v.emptyTrash = true;
    return v;
}

class Webmail : public Pop3Webmail {
public:
    Webmail(std::uint8_t mode, std::uint8_t count) : mode_(mode), count_(count & 15) {}
    void useProxy(const std::string&, int, const std::string&, const std::string&) override {}
    void useDirect() override {}
    bool adoptSaved(const std::string&, const std::string& password) override {
        return (mode_ & 1) != 0 && !password.empty();
    }
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
    MessageList listInbox() override {
        switch ((mode_ >> 3) & 3) {
        case 1:
            if (lists_++ == 0) {
                throw CVurelClient::InvalidCookie();
            }
            break;
        case 2:
            throw CVurelClient::Error("http://mail/vm/ShowFolder");
        case 3:
            throw CBlockSocket::Error("receive");
        default:
            break;
        }
        MessageList list;
        for (int i = 0; i < count_; ++i) {
            list.emplace_back("id" + std::to_string(i % 5), i * 1000 - 1);
        }
        return list;
    }
    std::string fetchHeader(const MessageRef& message) override {
        fail(5);
        return "Subject: " + std::string(message.id()) + "\r\n\r\n";
    }
    std::string fetchText(const MessageRef& message) override {
        fail(5);
        return std::string(message.id()) + "\r\n.\r\nline\r\n..\r\n" +
               std::string(message.size() % 300, 'x');
    }
    void deleteMessages(const MessageList&) override { fail(6); }
    void emptyTrash() override { fail(7); }
    void abort() noexcept override {}

private:
    void fail(int bit) const {
        if ((mode_ >> bit) & 1) {
            if (bit == 5) {
                throw CBlockSocket::Error("receive");
            }
            throw CVurelClient::Error("http://mail/");
        }
    }

    const std::uint8_t mode_;
    const int count_;
    int lists_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    std::vector<std::string> chunks = ScriptedPeer::receivesOf(data + 2, size - 2);
    static const FixedSettings settings(options());
    static RecordingWindow window;
    Pop3Session session(std::make_shared<ScriptedPeer>(std::move(chunks)),
                        std::make_unique<Webmail>(data[0], data[1]), settings, window);
    try {
        session.run();
    } catch (...) {
        // A failure that ends the conversation: the listener swallows it.
    }
    return 0;
}
