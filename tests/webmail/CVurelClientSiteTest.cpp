// The web-mail client against the site simulator, in process, over loopback:
// the simulator stands behind a small loopback server that the client uses as
// its HTTP proxy, so every host name of the site is reachable.

#include "webmail/CVurelClient.h"

#include "site/SiteHandler.h"
#include "support/OpenVurelClient.h"
#include "support/ScriptedHttpServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

using SeenRequest = ScriptedHttpServer::Request;

// A message whose raw size is about `size` bytes.
std::string message(int n, std::size_t size) {
    std::string raw = "From: \"Sender " + std::to_string(n) +
                      "\" <s@example.org>\r\nTo: ann@vurel.example\r\nSubject: Message " +
                      std::to_string(n) + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\n";
    while (raw.size() + 2 < size) {
        raw += static_cast<char>('a' + n % 26);
        if (raw.size() % 70 == 0) {
            raw += "\r\n";
        }
    }
    return raw + "\r\n";
}

struct SiteTest : ::testing::Test {
    void start(site::SiteConfig config) {
        config.users = {{"ann", "secret"}};
        config.newestFirst = false;
        handler = std::make_unique<site::SiteHandler>(config);
        server = std::make_unique<ScriptedHttpServer>(
            [this](const SeenRequest& r) { return handler->handleRaw(r.raw).bytes; });
        client = std::make_unique<OpenVurelClient>(SiteConfig());
        client->setProxy("127.0.0.1", server->port(), config.proxyUser, config.proxyPassword);
        client->setTimeoutsMs(20000, 20000);
    }
    std::vector<std::string> addMessages(int count) {
        std::vector<std::string> ids;
        for (int i = 0; i < count; ++i) {
            // Sizes on both sides of 1 KiB, some read, some unread (bold).
            ids.push_back(
                handler->addMessage("ann", "Inbox", message(i, 300 + (i % 7) * 400), i % 3 != 0));
        }
        return ids;
    }

    std::unique_ptr<site::SiteHandler> handler;
    std::unique_ptr<ScriptedHttpServer> server;
    std::unique_ptr<OpenVurelClient> client;
};

TEST_F(SiteTest, SignInThroughEveryRedirectChainLength) {
    for (int redirects : {0, 1, 4}) {
        site::SiteConfig config;
        config.redirects = redirects;
        start(config);
        client->login("ann", "secret");
        EXPECT_EQ(client->session().Host, "us.mail.vurel.example") << redirects;
        EXPECT_EQ(client->session().User, "ann") << redirects;
        // One request for the front page, the form, each hop and the last page.
        EXPECT_EQ(server->requests().size(), 3u + redirects) << redirects;
        // Cookies of every step, in order: front page, form, hops, last page.
        const std::string& cookie = client->session().Cookie;
        EXPECT_EQ(cookie.compare(0, 2, "B="), 0) << cookie;
        std::size_t at = cookie.find("Y=");
        for (int h = 1; h <= redirects; ++h) {
            const std::size_t next = cookie.find("H" + std::to_string(h) + "=");
            EXPECT_GT(next, at) << redirects << " " << cookie;
            at = next;
        }
        EXPECT_NE(at, std::string::npos) << cookie;
        // The cookies open the mail pages.
        EXPECT_NO_THROW(client->listInbox()) << redirects;
    }
}

TEST_F(SiteTest, WrongPasswordFailsAtTheLoginForm) {
    start(site::SiteConfig());
    try {
        client->login("ann", "wrong");
        FAIL() << "no error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_STREQ(e.what(), "http://login.vurel.example/config/login");
    }
    EXPECT_EQ(client->session().Cookie, "");
}

TEST_F(SiteTest, ListingReadsEveryPageInOrder) {
    struct Case {
        int messages;
        int pageSize;
    } cases[] = {{0, 25}, {1, 25}, {25, 25}, {26, 25}, {1000, 25}, {1000, 7}, {26, 13}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        site::SiteConfig config;
        config.pageSize = cases[i].pageSize;
        start(config);
        const std::vector<std::string> ids = addMessages(cases[i].messages);
        client->login("ann", "secret");
        handler->clearRequests();
        const MessageList list = client->listInbox();
        ASSERT_EQ(list.size(), ids.size()) << "case " << i;
        const std::vector<site::StoredMessage> stored = handler->folder("ann", "Inbox");
        for (std::size_t m = 0; m < list.size(); ++m) {
            ASSERT_EQ(list[m].id(), stored[m].id) << "case " << i << " message " << m;
            const std::size_t bytes = stored[m].raw.size();
            const int shown = bytes < 1024 ? static_cast<int>(bytes)
                                           : static_cast<int>((bytes + 1023) / 1024 * 1024);
            ASSERT_EQ(list[m].size(), shown) << "case " << i << " message " << m;
        }
        const std::size_t pages =
            cases[i].messages == 0
                ? 1
                : (cases[i].messages + cases[i].pageSize - 1) / cases[i].pageSize;
        EXPECT_EQ(handler->requests().size(), pages) << "case " << i;
        EXPECT_FALSE(client->crumb().empty()) << "case " << i;
    }
}

TEST_F(SiteTest, PrintViewGivesTheStoredBytes) {
    site::SiteConfig config;
    start(config);
    handler->addMessage("ann", "Inbox",
                        "Subject: =?utf-8?q?Gr=C3=BC=C3=9Fe?=\r\nX-Binary: \xe9\xff\r\n\r\n"
                        ".leading dot\r\n..two\r\nlast line without break");
    addMessages(3);
    client->login("ann", "secret");
    const MessageList list = client->listInbox();
    const std::vector<site::StoredMessage> stored = handler->folder("ann", "Inbox");
    ASSERT_EQ(list.size(), stored.size());
    for (std::size_t m = 0; m < list.size(); ++m) {
        EXPECT_EQ(client->fetchHeader(list[m]) + client->fetchText(list[m]), stored[m].raw)
            << "message " << m;
    }
}

TEST_F(SiteTest, DeleteMovesToTrashAndEmptyTrashEmptiesIt) {
    start(site::SiteConfig());
    addMessages(5);
    client->login("ann", "secret");
    const MessageList list = client->listInbox();
    client->deleteMessages({list[0], list[2], list[4]});
    EXPECT_EQ(handler->folder("ann", "Inbox").size(), 2u);
    EXPECT_EQ(handler->folder("ann", "Trash").size(), 3u);
    client->emptyTrash();
    EXPECT_EQ(handler->folder("ann", "Trash").size(), 0u);
    EXPECT_EQ(handler->rejectedForms(), 0);
    const MessageList rest = client->listInbox();
    ASSERT_EQ(rest.size(), 2u);
    EXPECT_EQ(rest[0].id(), list[1].id());
    EXPECT_EQ(rest[1].id(), list[3].id());
}

TEST_F(SiteTest, GzipAnswersAreDecoded) {
    site::SiteConfig config;
    config.gzipMembers = 3;
    config.gzipHeaderFields = true;
    config.pageSize = 4;
    start(config);
    addMessages(9);
    client->login("ann", "secret");
    const MessageList list = client->listInbox();
    ASSERT_EQ(list.size(), 9u);
    EXPECT_EQ(client->fetchHeader(list[8]) + client->fetchText(list[8]),
              handler->folder("ann", "Inbox")[8].raw);
    const std::vector<site::RecordedRequest> seen = handler->requests();
    ASSERT_FALSE(seen.empty());
}

TEST_F(SiteTest, ProxyCredentials) {
    site::SiteConfig config;
    config.proxyUser = "px";
    config.proxyPassword = "pw";
    start(config);
    client->login("ann", "secret");
    EXPECT_EQ(server->requests()[0].header("Proxy-authorization"), "Basic cHg6cHc=");

    client->setProxy("127.0.0.1", server->port(), "px", "wrong");
    try {
        client->login("ann", "secret");
        FAIL() << "no error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_STREQ(e.what(), "http://mail.vurel.example/"); // answered 407
    }
}

TEST_F(SiteTest, ExpiredSessionGivesInvalidCookie) {
    start(site::SiteConfig());
    addMessages(2);
    client->login("ann", "secret");
    handler->expireSessions("ann");
    EXPECT_THROW(client->listInbox(), CVurelClient::InvalidCookie);
    client->login("ann", "secret");
    EXPECT_EQ(client->listInbox().size(), 2u);
}

TEST_F(SiteTest, EndlessRedirectLoopIsCutOff) {
    start(site::SiteConfig());
    site::Fault loop;
    loop.redirectLoop = true;
    handler->setFault("/config/verify", loop);
    EXPECT_THROW(client->login("ann", "secret"), CVurelClient::Error);
    EXPECT_EQ(server->requests().size(), 2u + CVurelClient::kMaxRedirects);
}

} // namespace
} // namespace quill
