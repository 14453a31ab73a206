// The SMTP server as the plug-in runs it: listener, session and web-mail client
// over loopback, against the site simulator in process (as the client's HTTP
// proxy). A recording window stands in for the progress window.

#include "smtp/SmtpServer.h"

#include "codec/Base64.h"
#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "net/ServiceWindow.h"
#include "net/Session.h"
#include "site/SiteSimulator.h"
#include "webmail/CookieJar.h"
#include "webmail/SocketStream.h"

#include "support/FixedSettings.h"
#include "support/RecordingWindow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quill {
namespace {

// The mail client's side: one command, one reply line (several for EHLO).
class Client {
public:
    explicit Client(int port) : socket_(20, 20), stream_(nullptr) {
        socket_.connect("127.0.0.1", port);
        stream_ = std::make_unique<SocketStream>(socket_);
    }
    std::string line() { return stream_->readLine(); }
    std::string command(const std::string& text) {
        stream_->writeLine(text);
        stream_->flush();
        return line();
    }
    void send(const std::string& bytes) {
        stream_->write(bytes);
        stream_->flush();
    }
    // True when the server closes (or resets) without sending anything more.
    bool closedSilently() {
        try {
            return stream_->readToEnd().empty();
        } catch (const CBlockSocket::Error&) {
            return true;
        }
    }

private:
    CBlockSocket socket_;
    std::unique_ptr<SocketStream> stream_;
};

class SmtpServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        site::SiteConfig config;
        config.users = {{"ann", "secret"}};
        sim = std::make_unique<site::SiteSimulator>(config);
        settings.v.smtpPort = 0; // any free port
        settings.v.proxyType = 1;
        settings.v.proxy = "127.0.0.1";
        settings.v.proxyPort = sim->start();
        settings.v.saveSent = true;
        ListenerService::Options options;
        options.receiveTimeoutMs = 20000;
        options.sendTimeoutMs = 20000;
        server = makeSmtpServer(settings, window, jar, options);
        server->start();
        ASSERT_EQ(ListenerService::State::Listening, server->waitUntilReady());
    }
    void TearDown() override {
        server->stop();
        sim->stop();
    }

    std::unique_ptr<Client> signedIn() {
        auto c = std::make_unique<Client>(server->boundPort());
        EXPECT_EQ("220 Quillmere SMTP Service Ready", c->line());
        EXPECT_EQ("334 UGFzc3dvcmQ6", c->command("AUTH LOGIN " + encodeBase64("ann")));
        EXPECT_EQ("235 Login successful", c->command(encodeBase64("secret")));
        return c;
    }

    std::unique_ptr<site::SiteSimulator> sim;
    FixedSettings settings;
    RecordingWindow window;
    CookieJar jar;
    std::unique_ptr<SmtpService> server;
};

TEST_F(SmtpServerTest, SubmissionReachesTheSiteAndShowsEachStep) {
    auto c = signedIn();
    EXPECT_EQ("250 OK", c->command("MAIL FROM:<ann@vurel.example>"));
    EXPECT_EQ("250 OK", c->command("RCPT TO:<bob@x.example>"));
    EXPECT_EQ("250 OK", c->command("RCPT TO:<hidden@x.example>"));
    EXPECT_EQ("354 OK", c->command("DATA"));
    const std::string reply =
        c->command("To: bob@x.example\r\nSubject: Hi\r\n"
                   "Content-Type: multipart/alternative; boundary=b\r\n\r\n"
                   "--b\r\n\r\nplain\r\n--b\r\n"
                   "Content-Type: text/html\r\n\r\n<b>html</b>\r\n--b--\r\n.");
    EXPECT_EQ("250 OK", reply);
    EXPECT_EQ("221 Quillmere SMTP service closing transmission channel", c->command("QUIT"));

    const auto sent = sim->site().sentMessages();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("bob@x.example", sent[0].to);
    EXPECT_EQ("hidden@x.example", sent[0].bcc);
    EXPECT_EQ("Hi", sent[0].subject);
    EXPECT_EQ("<b>html</b>", sent[0].body);
    EXPECT_EQ("html", sent[0].format);
    EXPECT_TRUE(sent[0].saveCopy);
    EXPECT_EQ((std::vector<std::string>{"Logging to Vurel server ...", "Sending mail ..."}),
              window.texts("status "));
    const auto details = window.texts("detail ");
    ASSERT_GE(details.size(), 2u);
    EXPECT_EQ("http://us.mail.vurel.example/vm/Compose", details[details.size() - 2]);
    EXPECT_EQ(0u, details.back().find("http://us.mail.vurel.example/vm/Compose?YY="));
    EXPECT_FALSE(jar.find("ann").Cookie.empty());
}

TEST_F(SmtpServerTest, RefusedSendAnswers554AndTheConversationGoesOn) {
    site::Fault fault;
    fault.malformed = true; // no "Message Sent" on the reply page
    fault.times = 1;
    sim->site().setFault("/vm/Compose?YY=", fault);
    auto c = signedIn();
    EXPECT_EQ("250 OK", c->command("MAIL FROM:<ann@vurel.example>"));
    EXPECT_EQ("354 OK", c->command("DATA"));
    EXPECT_EQ("554 Cannot send message.", c->command("To: a@x.example\r\n\r\none\r\n."));
    EXPECT_EQ("354 OK", c->command("DATA"));
    EXPECT_EQ("250 OK", c->command("To: a@x.example\r\n\r\ntwo\r\n."));
    c->command("QUIT");
}

TEST_F(SmtpServerTest, CancelDuringSendingClosesWithoutReplyAndTheNextClientIsServed) {
    site::Fault slow;
    slow.delay = std::chrono::milliseconds(20000);
    sim->site().setFault("/vm/Compose?YY=", slow);
    auto c = signedIn();
    EXPECT_EQ("250 OK", c->command("MAIL FROM:<ann@vurel.example>"));
    EXPECT_EQ("354 OK", c->command("DATA"));
    c->send("To: a@x.example\r\n\r\nslow\r\n.\r\n");
    ASSERT_TRUE(window.waitFor("/vm/Compose?YY="));
    window.cancel();
    EXPECT_TRUE(c->closedSilently());
    sim->site().clearFaults();

    // The saved session makes the next sign-in need no site at all.
    auto next = signedIn();
    EXPECT_EQ("221 Quillmere SMTP service closing transmission channel", next->command("QUIT"));
}

TEST_F(SmtpServerTest, SiteDownDuringLoginClosesWithoutReply) {
    sim->stop();
    Client c(server->boundPort());
    EXPECT_EQ("220 Quillmere SMTP Service Ready", c.line());
    EXPECT_EQ("334 UGFzc3dvcmQ6", c.command("AUTH LOGIN " + encodeBase64("ann")));
    c.send(encodeBase64("secret") + "\r\n");
    EXPECT_TRUE(c.closedSilently());
}

} // namespace
} // namespace quill
