// The web-mail client over HTTPS against the simulator serving TLS in
// process: through the simulator's own CONNECT and direct to an address with
// an IP subject name. The client trusts the simulator's test CA only
// (SSL_CERT_FILE names it, never the machine's store).

#include "webmail/CVurelClient.h"

#include "net/CBlockSocket.h"
#include "platform/Environment.h"
#include "site/SiteSimulator.h"
#include "support/FreePort.h"
#include "support/OpenVurelClient.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace quill {
namespace {

namespace fs = std::filesystem;
using Fault = site::TlsService::Fault;

struct HttpsSite : ::testing::Test {
    // A simulator on TLS; direct: its hosts are its own address and port
    // (the certificate names the address), else the usual names reached
    // through its CONNECT.
    void start(bool direct, Fault fault = Fault::None, const std::string& proxyUser = "",
               bool secure = true) {
        const std::string ca =
            (fs::temp_directory_path() / ("quill-https-ca-" + std::to_string(freePort()) + ".pem"))
                .string();
        site::SiteConfig config;
        config.users = {{"ann", "secret"}};
        config.scheme = secure ? "https" : "http";
        config.proxyUser = proxyUser;
        config.proxyPassword = "pw";
        site::TlsService::Options tls;
        tls.authorityFile = ca;
        tls.fault = fault;
        if (direct) {
            config.listenPort = freePort();
            const std::string host = "127.0.0.1:" + std::to_string(config.listenPort);
            config.frontHost = config.loginHost = config.mailHost = host;
            tls.names = {"127.0.0.1"};
        } else {
            tls.names = {config.frontHost, config.loginHost, config.mailHost};
        }
        sim = std::make_unique<site::SiteSimulator>(config);
        if (config.scheme == "https") {
            sim->setTls(site::TlsService::create(tls));
        }
        const int port = sim->start();
        platform::setEnvironmentValue("SSL_CERT_FILE", ca);
        SiteConfig addresses;
        addresses.frontPage = sim->frontPageUrl();
        addresses.loginPage = sim->loginPageUrl();
        client = std::make_unique<OpenVurelClient>(addresses);
        if (!direct) {
            client->setProxy("127.0.0.1", port, proxyUser, "pw");
        }
        client->setTimeoutsMs(20000, 20000);
    }
    void TearDown() override {
        if (sim) {
            sim->stop();
        }
    }

    std::unique_ptr<site::SiteSimulator> sim;
    std::unique_ptr<OpenVurelClient> client;
};

TEST_F(HttpsSite, SignInListAndRetrieveThroughTheTunnelAndDirect) {
    for (const bool direct : {false, true}) {
        start(direct, Fault::None, direct ? "" : "proxy-user");
        const std::string raw = "Subject: over TLS\r\n\r\n" + std::string(300000, 'x') + "\r\n";
        sim->site().addMessage("ann", "Inbox", raw);
        client->login("ann", "secret");
        const std::string origin = direct ? "https://127.0.0.1:" + std::to_string(sim->port())
                                          : "https://us.mail.vurel.example";
        EXPECT_EQ(client->session().Host, origin) << direct;
        const MessageList list = client->listInbox();
        ASSERT_EQ(list.size(), 1u) << direct;
        EXPECT_EQ(client->fetchHeader(list[0]) + client->fetchText(list[0]), raw) << direct;
        // Inside the tunnel the requests are the site's own: origin form and
        // no proxy header; the proxy's credentials went on the CONNECT only.
        for (const auto& r : sim->site().requests()) {
            EXPECT_FALSE(r.proxyForm) << r.target;
            EXPECT_EQ(r.raw.find("Proxy-"), std::string::npos) << r.target;
        }
        EXPECT_EQ(sim->tunnelsOpened(), direct ? 0u : sim->site().requests().size());
        sim->stop();
    }
}

TEST_F(HttpsSite, ACertificateOrProtocolThatFailsItsCheckSendsNoRequest) {
    const struct {
        Fault fault;
        const char* reason;
    } cases[] = {
        {Fault::OtherAuthority, "TLS: certificate: unknown issuer"},
        {Fault::Expired, "TLS: certificate: expired"},
        {Fault::WrongName, "TLS: certificate: name mismatch"},
        {Fault::Tls10Only, "TLS: protocol too old"},
    };
    for (const auto& c : cases) {
        for (const bool direct : {false, true}) {
            start(direct, c.fault);
            try {
                client->login("ann", "secret");
                ADD_FAILURE() << c.reason << " " << direct << ": no error";
            } catch (const CVurelClient::Error& e) {
                EXPECT_STREQ(e.what(), c.reason) << direct;
            }
            EXPECT_TRUE(sim->site().requests().empty()) << c.reason << " " << direct;
            EXPECT_EQ(sim->tunnelsOpened(), direct ? 0u : 1u) << c.reason;
            sim->stop();
        }
    }
}

TEST_F(HttpsSite, AnAnswerEndingWithoutCloseNotifyCountsOnlyWithItsWholeLength) {
    start(false);
    sim->site().addMessage("ann", "Inbox", "Subject: s\r\n\r\n" + std::string(50000, 'y'));
    client->login("ann", "secret");
    const MessageList list = client->listInbox();
    ASSERT_EQ(list.size(), 1u);
    site::Fault noCloseNotify;
    noCloseNotify.closeAfterBytes = 1 << 30; // the whole answer, then the end of the stream
    sim->site().setFault("/vm/ShowLetter", noCloseNotify);
    EXPECT_EQ(client->fetchText(list[0]), std::string(50000, 'y'));
    site::Fault cut;
    cut.closeAfterBytes = 3000;
    sim->site().setFault("/vm/ShowLetter", cut);
    try {
        client->fetchText(list[0]);
        ADD_FAILURE() << "no error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("TLS: cut", 0), 0u) << e.what();
    }
}

TEST_F(HttpsSite, ATunnelTheProxyRefusesFailsBeforeAnyRequest) {
    start(false, Fault::None, "proxy-user");
    client->setProxy("127.0.0.1", sim->port(), "proxy-user", "wrong");
    try {
        client->login("ann", "secret");
        ADD_FAILURE() << "no error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_EQ(std::string(e.what()).rfind("the proxy refused CONNECT: HTTP/1.0 407", 0), 0u)
            << e.what();
    }
    EXPECT_EQ(sim->tunnelsOpened(), 0u);
    EXPECT_TRUE(sim->site().requests().empty());
}

TEST_F(HttpsSite, CancelDuringATlsReceiveEndsTheExchange) {
    start(false);
    site::Fault slow;
    slow.delay = std::chrono::milliseconds(60000);
    sim->site().setFault("/", slow);
    std::thread canceler([this] {
        ASSERT_TRUE(sim->site().waitForRequests(1, std::chrono::milliseconds(20000)));
        client->cancel();
    });
    EXPECT_THROW(client->login("ann", "secret"), CBlockSocket::Canceled);
    canceler.join();
}

// However the site writes its Content-Length, a cut answer is never taken for
// a whole one (the client would delete the message it thinks it has), and a
// whole one that TLS does not vouch for is taken by its length alone.
TEST_F(HttpsSite, ContentLengthIsReadOneWayForCutAnswers) {
    const std::string text(50000, 'z');
    const struct {
        const char* field;
        bool cut;
        bool tlsWhole;   // taken over TLS without close_notify
        bool plainWhole; // taken over plain HTTP
    } cases[] = {
        {"Content-Length:  ", true, false, false},
        {"content-length: ", true, false, false},
        {"Content-Length:\t", true, false, false},
        // Unreadable: cut over TLS; over plain HTTP an answer without a length.
        {"Content-Length: +", true, false, true},
        {"content-length: ", false, true, true},
        {"CONTENT-LENGTH:   ", false, true, true},
    };
    for (const bool secure : {true, false}) {
        for (const auto& c : cases) {
            start(false, Fault::None, "", secure);
            sim->site().addMessage("ann", "Inbox", "Subject: s\r\n\r\n" + text);
            client->login("ann", "secret");
            const MessageList list = client->listInbox();
            ASSERT_EQ(list.size(), 1u);
            site::Fault f;
            f.lengthField = c.field;
            f.closeAfterBytes = c.cut ? 3000 : 1 << 30;
            sim->site().setFault("/vm/ShowLetter", f);
            const bool whole = secure ? c.tlsWhole : c.plainWhole;
            try {
                const std::string got = client->fetchText(list[0]);
                EXPECT_TRUE(whole) << c.field << " " << secure << ": taken, " << got.size();
                if (!c.cut) {
                    EXPECT_EQ(got, text) << c.field << " " << secure;
                }
            } catch (const CVurelClient::Error& e) {
                EXPECT_FALSE(whole) << c.field << " " << secure << ": " << e.what();
            }
            sim->stop();
        }
    }
}

// Once the setup is HTTPS nothing of a session goes out in clear text: not
// the login form after a front page over TLS, whatever the login page says.
TEST_F(HttpsSite, NoLoginFormInClearTextAfterAFrontPageOverTls) {
    start(false);
    SiteConfig addresses;
    addresses.frontPage = sim->frontPageUrl();
    addresses.loginPage = "http://login.vurel.example/config/login";
    OpenVurelClient mixed(addresses);
    mixed.setProxy("127.0.0.1", sim->port(), "", "");
    try {
        mixed.login("ann", "secret");
        ADD_FAILURE() << "signed in";
    } catch (const CVurelClient::Error& e) {
        EXPECT_STREQ(e.what(), "http://login.vurel.example/config/login");
    }
    ASSERT_EQ(sim->site().requests().size(), 1u); // the front page, over TLS
    EXPECT_EQ(sim->site().requests()[0].target, "/");
}

} // namespace
} // namespace quill
