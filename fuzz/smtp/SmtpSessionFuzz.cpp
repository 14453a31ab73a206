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

#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "smtp/SmtpSession.h"
#include "webmail/CVurelClient.h"
#include "webmail/SmtpWebmail.h"

#include "support/FixedSettings.h"
#include "support/ScriptedPeer.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace quill;

SettingsValues options() {
    SettingsValues v;
    v.inbox = true;
    v.emptyTrash = true;
    v.saveSent = true;
    v.proxyType = 1;
    v.proxy = "127.0.0.1";
    v.proxyPort = 8080;
    return v;
}

class Webmail : public SmtpWebmail {
public:
    explicit Webmail(std::uint8_t mode) : mode_(mode) {}
    void useProxy(const std::string&, int, const std::string&, const std::string&) override {}
    void useDirect() override {}
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
    void sendMessage(const std::string&, const std::string&, const std::string&, const std::string&,
                     const std::string&, const std::string&, bool) override {
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
    std::vector<std::string> chunks = ScriptedPeer::receivesOf(data + 1, size - 1);
    static const FixedSettings settings(options());
    SmtpSession session(std::make_shared<ScriptedPeer>(std::move(chunks)),
                        std::make_unique<Webmail>(data[0]), settings);
    try {
        session.run();
    } catch (...) {
        // A failure that ends the conversation: the listener swallows it.
    }
    return 0;
}
