#include "site/SiteHandler.h"

#include "SiteTestSupport.h"
#include "codec/Base64.h"
#include "site/TextUtil.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>

using namespace quill::site;
using sitetest::Answer;
using sitetest::between;
using sitetest::Client;

namespace {

std::string message(int n, const std::string& extraBody = std::string()) {
    return "From: Sender " + std::to_string(n) + " <s" + std::to_string(n) +
           "@example.org>\r\nTo: alice@vurel.example\r\nSubject: Note " + std::to_string(n) +
           "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0000\r\n\r\nBody of note " + std::to_string(n) +
           "\r\n" + extraBody;
}

Client handlerClient(SiteHandler& site) {
    return Client([&site](const std::string& raw) { return site.handleRaw(raw).bytes; },
                  site.frontPageUrl(), site.loginPageUrl());
}

SiteConfig config(int redirects = 2) {
    SiteConfig c;
    c.users = {{"alice", "s3cret"}, {"bob", ""}};
    c.redirects = redirects;
    c.seed = 42;
    return c;
}

std::string listing(int page) {
    return "/vm/ShowFolder?box=Inbox&Nview=a&Npos=" + std::to_string(page);
}

} // namespace

TEST(SiteHandlerTest, SignInFollowsTheRedirectChainAndSetsCookiesAtEveryStep) {
    for (int redirects : {0, 1, 3}) {
        SiteHandler site(config(redirects));
        Client client = handlerClient(site);
        int hops = -1;
        Answer a = client.signIn("alice", "s3cret", &hops);
        EXPECT_EQ(200, a.status) << redirects;
        EXPECT_EQ(redirects, hops) << redirects;
        EXPECT_EQ("us.mail.vurel.example", client.mailHost) << redirects;
        EXPECT_TRUE(sitetest::isMailPage(a.body, "vurel.example")) << redirects;
        EXPECT_NE(std::string::npos,
                  a.body.find("<title>Vurel! Mail - alice@vurel.example</title>"));
        // Front page (B, VC), POST (Y), each hop (H1..), ticket (T), welcome (PH).
        for (const char* name : {"B=", "VC=", "Y=", "T=", "PH="}) {
            EXPECT_NE(std::string::npos, client.cookies.find(name)) << redirects << " " << name;
        }
        for (int h = 1; h <= redirects; ++h) {
            EXPECT_NE(std::string::npos, client.cookies.find("H" + std::to_string(h) + "="))
                << redirects;
        }
        EXPECT_EQ(1u, site.sessionCount());
    }
}

TEST(SiteHandlerTest, SignInAcceptsTheFullAddressAndAnEmptyPassword) {
    SiteHandler site(config());
    Client client = handlerClient(site);
    EXPECT_TRUE(
        sitetest::isMailPage(client.signIn("Alice@vurel.example", "s3cret").body, "vurel.example"));
    EXPECT_TRUE(sitetest::isMailPage(client.signIn("bob", "").body, "vurel.example"));
}

TEST(SiteHandlerTest, FailedSignInAnswersTheSignInPageWithStatus200) {
    struct Case {
        const char* name;
        std::string body; // {C} is replaced by the challenge, {A} by alice's answer
        bool sendFrontCookies;
    };
    const Case cases[] = {
        {"wrong password", "login=alice&passwd={W}&.md5=1&.challenge={C}", true},
        {"unknown user", "login=carol&passwd={A}&.md5=1&.challenge={C}", true},
        {"wrong challenge", "login=alice&passwd={A}&.md5=1&.challenge=XX{C}", true},
        {"no browser cookie", "login=alice&passwd={A}&.md5=1&.challenge={C}", false},
        {"no challenge", "login=alice&passwd={A}&.md5=1", true},
        {"clear password", "login=alice&passwd=s3cret&.md5=1&.challenge={C}", true},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SiteHandler site(config());
        Client client = handlerClient(site);
        Answer front = client.get(site.frontPageUrl(), false);
        std::string challenge = between(front.body, "name=\".challenge\" value=\"", "\"");
        ASSERT_FALSE(challenge.empty());
        if (cases[i].sendFrontCookies) {
            client.cookies = front.cookiePairs();
        }
        std::string body = ".tries=1&.src=vm&.intl=us&" + cases[i].body;
        body = replaceAll(body, "{A}", SiteHandler::md5Answer("s3cret", challenge));
        body = replaceAll(body, "{W}", SiteHandler::md5Answer("secret", challenge));
        body = replaceAll(body, "{C}", challenge);
        Answer a = client.post(site.loginPageUrl(), body);
        EXPECT_EQ(200, a.status) << i << " " << cases[i].name;
        EXPECT_TRUE(a.value("Location").empty()) << i;
        EXPECT_FALSE(sitetest::isMailPage(a.body, "vurel.example")) << i;
        EXPECT_NE(std::string::npos, a.body.find("name=\".challenge\" value=\"")) << i;
        EXPECT_EQ(0u, site.sessionCount()) << i;
    }
}

TEST(SiteHandlerTest, AChallengeIsAnsweredOnceAndExpires) {
    std::atomic<std::int64_t> clock{1000000};
    SiteConfig c = config();
    c.clock = [&clock] { return clock.load(); };
    SiteHandler site(c);
    Client client = handlerClient(site);
    Answer front = client.get(site.frontPageUrl(), false);
    client.cookies = front.cookiePairs();
    std::string challenge = between(front.body, "name=\".challenge\" value=\"", "\"");
    std::string body = "login=alice&passwd=" + SiteHandler::md5Answer("s3cret", challenge) +
                       "&.md5=1&.challenge=" + challenge;
    EXPECT_EQ(302, client.post(site.loginPageUrl(), body).status);
    EXPECT_EQ(200, client.post(site.loginPageUrl(), body).status); // replayed

    front = client.get(site.frontPageUrl(), false);
    client.cookies = front.cookiePairs();
    challenge = between(front.body, "name=\".challenge\" value=\"", "\"");
    body = "login=alice&passwd=" + SiteHandler::md5Answer("s3cret", challenge) +
           "&.md5=1&.challenge=" + challenge;
    clock += c.challengeTtlSeconds;
    EXPECT_EQ(200, client.post(site.loginPageUrl(), body).status); // too late
}

TEST(SiteHandlerTest, EachFrontPageCarriesAFreshChallenge) {
    SiteHandler site(config());
    Client client = handlerClient(site);
    std::string a =
        between(client.get(site.frontPageUrl(), false).body, "name=\".challenge\" value=\"", "\"");
    std::string b =
        between(client.get(site.frontPageUrl(), false).body, "name=\".challenge\" value=\"", "\"");
    EXPECT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(std::string::npos, a.find_first_of("\"&+%; "));
}

TEST(SiteHandlerTest, ListingPagesCountRightOnEveryPage) {
    SiteConfig c = config();
    c.pageSize = 25;
    SiteHandler site(c);
    std::vector<std::string> ids;
    for (int i = 0; i < 60; ++i) {
        ids.push_back(site.addMessage("alice", "Inbox", message(i, std::string(i * 100, 'x'))));
    }
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    const int expected[][3] = {{1, 25, 60}, {26, 50, 60}, {51, 60, 60}};
    std::vector<std::string> seen;
    std::string crumb;
    for (int page = 0; page < 3; ++page) {
        Answer a = client.get(client.mail(listing(page)));
        ASSERT_EQ(200, a.status) << page;
        EXPECT_TRUE(sitetest::isMailPage(a.body, "vurel.example")) << page;
        sitetest::ListingScan scan = sitetest::scanListing(a.body, page == 0);
        ASSERT_TRUE(scan.counterFound) << page;
        EXPECT_EQ(expected[page][0], scan.first) << page;
        EXPECT_EQ(expected[page][1], scan.last) << page;
        EXPECT_EQ(expected[page][2], scan.total) << page;
        EXPECT_EQ(static_cast<std::size_t>(scan.last - scan.first + 1), scan.rows.size()) << page;
        if (page == 0) {
            crumb = scan.crumb;
        }
        for (const auto& row : scan.rows) {
            seen.push_back(row.first);
        }
    }
    EXPECT_FALSE(crumb.empty());
    // Newest first, each message once, sizes rounded up to whole KiB.
    ASSERT_EQ(60u, seen.size());
    auto stored = site.folder("alice", "Inbox");
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(ids[static_cast<std::size_t>(59 - i)], seen[static_cast<std::size_t>(i)]) << i;
    }
    Answer first = client.get(client.mail(listing(0)));
    auto rows = sitetest::scanListing(first.body, true).rows;
    const StoredMessage& newest = stored.back();
    long expectedSize = newest.raw.size() < 1024
                            ? static_cast<long>(newest.raw.size())
                            : static_cast<long>((newest.raw.size() + 1023) / 1024 * 1024);
    EXPECT_EQ(expectedSize, rows[0].second);
    // Each row links the message twice (sender and subject) and shows its size bold while unread.
    std::string row = between(first.body, "<tr class=\"msgnew\">", "</tr>");
    std::size_t links = 0;
    for (std::size_t p = row.find("/vm/ShowLetter?MsgId=" + newest.id + "&");
         p != std::string::npos; p = row.find("/vm/ShowLetter?MsgId=" + newest.id + "&", p + 1)) {
        ++links;
    }
    EXPECT_EQ(2u, links);
    EXPECT_NE(std::string::npos,
              row.find("<td><b>" + SitePages::sizeText(newest.raw.size()) + "</b></td>"));
}

TEST(SiteHandlerTest, LargeMailboxesListRightOnTheirFirstMiddleAndLastPages) {
    // Counters of 18 characters and more ("1001-1025 of 10000"), rows taken
    // from the right end of the folder, and an unread count that follows reading.
    for (const int total : {10000, 100000}) {
        SiteHandler site(config());
        std::vector<std::string> ids;
        for (int i = 0; i < total; ++i) {
            ids.push_back(site.addMessage("alice", "Inbox", message(i)));
        }
        Client client = handlerClient(site);
        client.signIn("alice", "s3cret");
        const int lastPage = (total - 1) / 25;
        for (const int page : {0, 40, total / 50, lastPage}) {
            auto scan = sitetest::scanListing(client.get(client.mail(listing(page))).body, true);
            ASSERT_TRUE(scan.counterFound) << total << " page " << page;
            EXPECT_EQ(page * 25 + 1, scan.first) << total << " page " << page;
            EXPECT_EQ(std::min(total, page * 25 + 25), scan.last) << total << " page " << page;
            EXPECT_EQ(total, scan.total) << total << " page " << page;
            ASSERT_EQ(static_cast<std::size_t>(scan.last - scan.first + 1), scan.rows.size());
            for (std::size_t r = 0; r < scan.rows.size(); ++r) {
                EXPECT_EQ(ids[static_cast<std::size_t>(total - scan.first) - r], scan.rows[r].first)
                    << total << " page " << page << " row " << r;
            }
        }
        client.get(client.mail("/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" + ids[7] +
                               "&bodyPart=TEXT"));
        EXPECT_NE(std::string::npos, client.get(client.mail("/vm/Welcome"))
                                         .body.find("<b>" + std::to_string(total - 1) +
                                                    "</b> unread of " + std::to_string(total)))
            << total;
    }
}

TEST(SiteHandlerTest, ListingEdgeCases) {
    struct Case {
        int messages;
        int pageSize;
        int page;
        int first, last, total;
        bool counter;
    };
    const Case cases[] = {
        {0, 25, 0, 0, 0, 0, false}, // an empty folder shows no counter
        {25, 25, 0, 1, 25, 25, true}, {26, 25, 1, 26, 26, 26, true},
        {3, 1, 2, 3, 3, 3, true},     {3, 2, 9, 3, 3, 3, true}, // beyond the end: the last page
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        SiteConfig c = config();
        c.pageSize = cases[i].pageSize;
        SiteHandler site(c);
        for (int m = 0; m < cases[i].messages; ++m) {
            site.addMessage("alice", "Inbox", message(m));
        }
        Client client = handlerClient(site);
        client.signIn("alice", "s3cret");
        Answer a = client.get(client.mail(listing(cases[i].page)));
        auto scan = sitetest::scanListing(a.body, true);
        EXPECT_FALSE(scan.crumb.empty()) << i;
        EXPECT_EQ(cases[i].counter, scan.counterFound) << i;
        if (cases[i].counter) {
            EXPECT_EQ(cases[i].first, scan.first) << i;
            EXPECT_EQ(cases[i].last, scan.last) << i;
            EXPECT_EQ(cases[i].total, scan.total) << i;
        }
    }
}

TEST(SiteHandlerTest, PrintViewGivesTheStoredBytesUnchanged) {
    SiteHandler site(config());
    const std::string raw = "From: =?iso-8859-1?Q?J=F6rg_M=FCller?= <jm@example.de>\r\n"
                            "To: alice@vurel.example\r\n"
                            "Subject: =?utf-8?B?R3LDvMOfZQ==?=\r\n"
                            "\r\n"
                            ".leading dot\r\n"
                            "..two dots\r\n"
                            "\xe9t\xe9 8-bit\r\n"
                            ".\r\n";
    std::string id = site.addMessage("alice", "Inbox", raw);
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    std::string base = "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" + id + "&bodyPart=";
    Answer header = client.get(client.mail(base + "HEADER"));
    Answer text = client.get(client.mail(base + "TEXT"));
    EXPECT_EQ(200, header.status);
    EXPECT_EQ(200, text.status);
    EXPECT_EQ(raw.substr(0, raw.find("\r\n\r\n") + 4), header.body);
    EXPECT_EQ(raw, header.body + text.body);
    EXPECT_FALSE(site.folder("alice", "Inbox")[0].unread);
}

TEST(SiteHandlerTest, PagesWithoutAValidSessionAreSignInPages) {
    std::atomic<std::int64_t> clock{2000000};
    SiteConfig c = config();
    c.clock = [&clock] { return clock.load(); };
    c.sessionTtlSeconds = 100;
    SiteHandler site(c);
    std::string id = site.addMessage("alice", "Inbox", message(1));
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    const std::string paths[] = {listing(0), "/vm/Compose",
                                 "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" + id +
                                     "&bodyPart=TEXT"};
    std::string good = client.cookies;
    struct Variant {
        const char* name;
        std::string cookies;
        std::int64_t advance;
    };
    std::string noTicket = replaceAll(good, "T=z=", "T=zz=");
    const Variant variants[] = {{"none", "", 0},
                                {"without ticket", noTicket, 0},
                                {"garbage", "Y=v=1&n=nothing; T=z=x; ", 0},
                                {"expired", good, 100}};
    for (const auto& v : variants) {
        clock += v.advance;
        for (const auto& path : paths) {
            client.cookies = v.cookies;
            Answer a = client.get(client.mail(path));
            EXPECT_EQ(200, a.status) << v.name << " " << path;
            EXPECT_FALSE(sitetest::isMailPage(a.body, "vurel.example")) << v.name << " " << path;
            EXPECT_NE(std::string::npos, a.body.find("name=\".challenge\"")) << v.name;
        }
    }
    EXPECT_EQ(0u, site.sessionCount());
    // Still valid one second before the end of its life.
    client.signIn("alice", "s3cret");
    clock += 99;
    EXPECT_TRUE(sitetest::isMailPage(client.get(client.mail(listing(0))).body, "vurel.example"));
    site.expireSessions("ALICE");
    EXPECT_FALSE(sitetest::isMailPage(client.get(client.mail(listing(0))).body, "vurel.example"));
}

TEST(SiteHandlerTest, DeleteMovesToTrashAndEmptyTrashRemoves) {
    SiteHandler site(config());
    std::vector<std::string> ids;
    for (int i = 0; i < 4; ++i) {
        ids.push_back(site.addMessage("alice", "Inbox", message(i)));
    }
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    std::string crumb = sitetest::scanListing(client.get(client.mail(listing(0))).body, true).crumb;
    ASSERT_FALSE(crumb.empty());

    // A wrong crumb changes nothing.
    Answer refused = client.get(client.mail("/vm/ShowFolder?box=Inbox&DEL=Delete&Mid=" + ids[0] +
                                            "&.crumb=" + crumb + "x"));
    EXPECT_EQ(200, refused.status);
    EXPECT_TRUE(sitetest::isMailPage(refused.body, "vurel.example"));
    EXPECT_EQ(4u, site.folder("alice", "Inbox").size());
    EXPECT_EQ(1, site.rejectedForms());

    Answer deleted = client.get(client.mail("/vm/ShowFolder?box=Inbox&DEL=Delete&Mid=" + ids[0] +
                                            "&Mid=" + ids[2] + "&Mid=nosuchid&.crumb=" + crumb));
    EXPECT_EQ(200, deleted.status);
    auto inbox = site.folder("alice", "Inbox");
    auto trash = site.folder("alice", "Trash");
    ASSERT_EQ(2u, inbox.size());
    EXPECT_EQ(ids[1], inbox[0].id);
    EXPECT_EQ(ids[3], inbox[1].id);
    ASSERT_EQ(2u, trash.size());
    EXPECT_EQ(ids[0], trash[0].id);

    EXPECT_EQ(200, client.get(client.mail("/vm/ShowFolder?ET=1&.crumb=wrong&reset=1")).status);
    EXPECT_EQ(2u, site.folder("alice", "Trash").size());
    Answer emptied = client.get(client.mail("/vm/ShowFolder?ET=1&.crumb=" + crumb + "&reset=1"));
    EXPECT_EQ(200, emptied.status);
    EXPECT_TRUE(site.folder("alice", "Trash").empty());
    EXPECT_EQ(2u, site.folder("alice", "Inbox").size());
}

TEST(SiteHandlerTest, ComposeChecksBothTokensAndRecordsTheMessage) {
    SiteHandler site(config());
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    auto tokens = [&] {
        Answer page = client.get(client.mail("/vm/Compose"));
        EXPECT_TRUE(sitetest::isMailPage(page.body, "vurel.example"));
        std::size_t pos = 0;
        bool found = false;
        std::string yy = between(page.body, "action=\"/vm/Compose?YY=", "\"", &found, &pos);
        EXPECT_TRUE(found);
        std::string crumb = between(page.body, "name=\".crumb\" value=\"", "\"", &found, &pos);
        EXPECT_TRUE(found);
        return std::make_pair(yy, crumb);
    };
    const std::string tail =
        "&box=&FwdFile=&FwdMsg=&FwdSubj=&OriginalFrom=&OriginalSubject=&"
        "InReplyTo=&NumAtt=0&AttData=&FName=&Video=&NoSubj=1&NoBody=1&SEND=Send";
    auto form = [&](const std::string& crumb, bool save) {
        return ".crumb=" + crumb + "&To=bob%40example%2Eorg&Cc=&Bcc=carol%40example%2Eorg" +
               "&Subj=Fish+%26+chips&Body=Line+one%0D%0A%2Eline+two%0D%0A&Format=" + "&SaveCopy=" +
               (save ? "yes" : "") + tail;
    };
    auto t = tokens();
    auto t2 = tokens();
    EXPECT_NE(t.first, t2.first);

    Answer sent = client.post(client.mail("/vm/Compose?YY=" + t.first), form(t.second, true));
    EXPECT_EQ(200, sent.status);
    EXPECT_NE(std::string::npos, sent.body.find("Message Sent"));
    EXPECT_EQ(sent.body.find("Message "), sent.body.find("Message Sent"));

    // The same tokens again, and a wrong crumb: refused, nothing recorded.
    for (const auto& bad : {form(t.second, true), form(t2.second + "x", true)}) {
        Answer refused = client.post(client.mail("/vm/Compose?YY=" + t.first), bad);
        EXPECT_EQ(200, refused.status);
        std::size_t p = refused.body.find("Message ");
        EXPECT_TRUE(p == std::string::npos || refused.body.compare(p, 12, "Message Sent") != 0);
    }
    Answer noCopy = client.post(client.mail("/vm/Compose?YY=" + t2.first), form(t2.second, false));
    EXPECT_NE(std::string::npos, noCopy.body.find("Message Sent"));
    EXPECT_EQ(2, site.rejectedForms());

    auto messages = site.sentMessages();
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ("alice", messages[0].user);
    EXPECT_EQ("bob@example.org", messages[0].to);
    EXPECT_EQ("", messages[0].cc);
    EXPECT_EQ("carol@example.org", messages[0].bcc);
    EXPECT_EQ("Fish & chips", messages[0].subject);
    EXPECT_EQ("Line one\r\n.line two\r\n", messages[0].body);
    EXPECT_EQ("", messages[0].format);
    EXPECT_TRUE(messages[0].saveCopy);
    EXPECT_FALSE(messages[1].saveCopy);
    EXPECT_EQ("0", [&] {
        for (const auto& f : messages[0].fields) {
            if (f.first == "NumAtt") {
                return f.second;
            }
        }
        return std::string("missing");
    }());
    auto sentFolder = site.folder("alice", "Sent");
    ASSERT_EQ(1u, sentFolder.size());
    EXPECT_EQ(messages[0].sentId, sentFolder[0].id);
    EXPECT_NE(std::string::npos, sentFolder[0].raw.find("\r\nSubject: Fish & chips\r\n"));
    EXPECT_EQ(std::string::npos, sentFolder[0].raw.find("carol@"));
    EXPECT_NE(std::string::npos, sentFolder[0].raw.find("\r\n\r\nLine one\r\n.line two\r\n"));
}

TEST(SiteHandlerTest, ComposeWithoutRecipientIsNotSent) {
    SiteHandler site(config());
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    Answer a = client.postCompose("&To=&Cc=&Bcc=&Subj=x&Body=y&Format=&SaveCopy=yes&SEND=Send");
    EXPECT_EQ(std::string::npos, a.body.find("Message Sent"));
    EXPECT_TRUE(site.sentMessages().empty());
    EXPECT_TRUE(site.folder("alice", "Sent").empty());
}

TEST(SiteHandlerTest, ProxyRequestsNeedTheConfiguredCredentials) {
    SiteConfig c = config();
    c.proxyUser = "proxy";
    c.proxyPassword = "pa:ss";
    SiteHandler site(c);
    Client client = handlerClient(site);
    client.proxy = true;
    struct Case {
        const char* auth;
        const char* url;
        int status;
    };
    const Case cases[] = {
        {"", "http://mail.vurel.example/", 407},
        {"proxy:wrong", "http://mail.vurel.example/", 407},
        {"proxy:pa:ss", "http://mail.vurel.example/", 200},
        {"proxy:pa:ss", "http://MAIL.vurel.example:80/", 200},
        {"proxy:pa:ss", "http://elsewhere.example/", 502},
        {"proxy:pa:ss", "http://us.mail.vurel.example/nothing", 404},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        client.proxyAuth = cases[i].auth;
        Answer a = client.get(cases[i].url, false);
        EXPECT_EQ(cases[i].status, a.status) << i;
        if (cases[i].status == 407) {
            EXPECT_EQ("Basic realm=\"Vurel proxy\"", a.value("Proxy-Authenticate")) << i;
        }
    }
    auto recorded = site.requests();
    ASSERT_EQ(6u, recorded.size());
    EXPECT_TRUE(recorded[0].proxyForm);
    EXPECT_EQ("mail.vurel.example", recorded[0].host);
    EXPECT_EQ("/", recorded[0].path);
    EXPECT_EQ(407, recorded[0].status);
    EXPECT_EQ(0u, recorded[2].raw.find("GET http://mail.vurel.example/ HTTP/1.0\r\n"
                                       "Proxy-authorization: Basic "));

    // A whole session through the proxy.
    client.proxyAuth = "proxy:pa:ss";
    EXPECT_TRUE(sitetest::isMailPage(client.signIn("alice", "s3cret").body, "vurel.example"));
}

TEST(SiteHandlerTest, OriginFormIsServedWithoutProxyCredentials) {
    SiteConfig c = config();
    c.proxyUser = "proxy";
    SiteHandler site(c);
    Client client = handlerClient(site);
    EXPECT_TRUE(sitetest::isMailPage(client.signIn("alice", "s3cret").body, "vurel.example"));
}

TEST(SiteHandlerTest, GzipAnswersOnlyToClientsThatAcceptIt) {
    for (int members : {1, 3}) {
        for (bool fields : {false, true}) {
            SiteConfig c = config();
            c.gzipMembers = members;
            c.gzipHeaderFields = fields;
            SiteHandler site(c);
            std::string id = site.addMessage("alice", "Inbox", message(1, std::string(5000, 'z')));
            Client client = handlerClient(site);
            client.signIn("alice", "s3cret");
            Answer a = client.get(client.mail(
                "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" + id + "&bodyPart=TEXT"));
            EXPECT_EQ("gzip", a.value("Content-Encoding")) << members;
            std::string raw = client.lastRaw.substr(client.lastRaw.find("\r\n\r\n") + 4);
            std::string plain;
            int count = 0;
            ASSERT_TRUE(sitetest::gunzip(raw, plain, &count)) << members << fields;
            EXPECT_EQ(members, count);
            EXPECT_EQ(site.folder("alice", "Inbox")[0].text(), plain);
            EXPECT_EQ(plain, a.body);
            EXPECT_EQ(fields, (static_cast<unsigned char>(raw[3]) & 0x1E) == 0x1E);

            std::string plainRequest = "GET / HTTP/1.0\r\nHost: mail.vurel.example\r\n\r\n";
            Answer p = sitetest::parseAnswer(site.handleRaw(plainRequest).bytes);
            EXPECT_TRUE(p.value("Content-Encoding").empty());
            EXPECT_NE(std::string::npos, p.body.find("name=\".challenge\""));
        }
    }
}

TEST(SiteHandlerTest, FaultsReplaceOrBreakTheAnswer) {
    SiteHandler site(config(0));
    for (int i = 0; i < 30; ++i) {
        site.addMessage("alice", "Inbox", message(i));
    }
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");

    Fault status;
    status.status = 503;
    status.times = 1;
    site.setFault("/vm/ShowFolder", status);
    EXPECT_EQ(503, client.get(client.mail(listing(0))).status);
    EXPECT_EQ(200, client.get(client.mail(listing(0))).status); // used up

    Fault longer;
    longer.status = 500;
    site.setFault("/vm/ShowFolder?box=Inbox&Nview=a&Npos=1", longer);
    site.setFault("/vm/ShowFolder", Fault{});
    EXPECT_EQ(200, client.get(client.mail(listing(0))).status);
    EXPECT_EQ(500, client.get(client.mail(listing(1))).status);
    EXPECT_EQ(500, client.get(client.mail(listing(1))).status);
    site.clearFaults();

    Fault malformed;
    malformed.malformed = true;
    site.setFault("/", malformed);
    Answer bad = client.get(client.mail(listing(0)));
    EXPECT_EQ(200, bad.status);
    EXPECT_TRUE(sitetest::isMailPage(bad.body, "vurel.example"));
    auto scan = sitetest::scanListing(bad.body, true);
    EXPECT_TRUE(scan.crumb.empty());
    EXPECT_FALSE(scan.counterFound);
    EXPECT_EQ(std::string::npos, bad.body.find("/vm/ShowLetter?MsgId="));
    Answer front = client.get(client.mail("/"), false);
    EXPECT_EQ(std::string::npos, front.body.find("name=\".challenge\" value=\""));
    Answer compose = client.get(client.mail("/vm/Compose"));
    EXPECT_EQ(std::string::npos, compose.body.find("action=\"/vm/Compose?YY="));
    EXPECT_EQ(std::string::npos, compose.body.find("name=\".crumb\" value=\""));
    std::string id = site.folder("alice", "Inbox")[0].id;
    Answer print = client.get(client.mail(
        "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" + id + "&bodyPart=HEADER"));
    EXPECT_EQ(200, print.status);
    EXPECT_EQ(std::string::npos, print.body.find("Subject: Note"));
    site.clearFaults();

    Fault loop;
    loop.redirectLoop = true;
    site.setFault("/config/login", loop);
    Answer hop = client.get("http://login.vurel.example/config/login?x=1");
    EXPECT_EQ(302, hop.status);
    EXPECT_EQ("http://login.vurel.example/config/login?x=1", hop.value("Location"));
    EXPECT_EQ(302, client.get(hop.value("Location")).status);
    site.clearFaults();

    Fault endless;
    endless.endlessCounter = true;
    site.setFault("/vm/ShowFolder", endless);
    for (int page = 0; page < 6; ++page) {
        auto s = sitetest::scanListing(client.get(client.mail(listing(page))).body, page == 0);
        ASSERT_TRUE(s.counterFound) << page;
        EXPECT_LT(s.last, s.total) << page;
        EXPECT_EQ(page * 25 + 1, s.first) << page;
        EXPECT_FALSE(s.rows.empty()) << page;
    }
    site.clearFaults();

    Fault wire;
    wire.delay = std::chrono::milliseconds(250);
    wire.closeAfterBytes = 7;
    site.setFault("/vm/Compose", wire);
    SiteHandler::Reply r =
        site.handleRaw("GET /vm/Compose HTTP/1.0\r\nHost: us.mail.vurel.example\r\n\r\n");
    EXPECT_EQ(250, r.delay.count());
    EXPECT_EQ(7, r.closeAfterBytes);
}

TEST(SiteHandlerTest, BadRequestsGetAnErrorStatus) {
    SiteConfig c = config();
    c.maxRequestBytes = 4096;
    SiteHandler site(c);
    struct Case {
        std::string raw;
        int status;
    };
    const Case cases[] = {
        {"\r\n\r\n", 400},
        {"GARBAGE\r\n\r\n", 400},
        {"GET\r\n\r\n", 400},
        {"GET / HTTP/1.0 extra\r\n\r\n", 400},
        {"GET / HTTP/2.0\r\n\r\n", 505},
        {"GET / FTP/1.0\r\n\r\n", 400},
        {"GET nothing HTTP/1.0\r\n\r\n", 400},
        {"GET / HTTP/1.0\r\nNo colon here\r\n\r\n", 400},
        {"GET http:// HTTP/1.0\r\n\r\n", 400},
        {"GET http://host:99999999/ HTTP/1.0\r\n\r\n", 400},
        {"POST /config/login HTTP/1.0\r\n\r\n", 411},
        {"POST /config/login HTTP/1.0\r\nContent-Length: -5\r\n\r\n", 400},
        {"POST /config/login HTTP/1.0\r\nContent-Length: 999999999999\r\n\r\n", 413},
        {"POST /config/login HTTP/1.0\r\nContent-Length: 5000\r\n\r\n", 413},
        {"GET /" + std::string(5000, 'a') + " HTTP/1.0\r\n\r\n", 413},
        {"DELETE /vm/Compose HTTP/1.0\r\n\r\n", 405},
        {"GET /vm/Nothing HTTP/1.0\r\n\r\n", 404},
        {"GET / HTTP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
        {"GET / HTTP/1.0\r\n", 400}, // incomplete
        {std::string("GET /\0 HTTP/1.0\r\n\r\n", 20), 400},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Answer a = sitetest::parseAnswer(site.handleRaw(cases[i].raw).bytes);
        EXPECT_EQ(cases[i].status, a.status) << i;
    }
    EXPECT_EQ(sizeof cases / sizeof cases[0], site.requests().size());
}

TEST(SiteHandlerTest, TheRequestParserWaitsForTheWholeRequestHoweverItIsSplit) {
    const std::string raw = "POST /vm/Compose?YY=1 HTTP/1.0\r\nHost: h\r\nContent-Length: 5\r\n"
                            "Cookie: a=1\r\n\r\nhello\r\n";
    for (std::size_t cut = 0; cut < raw.size(); ++cut) {
        HttpRequest r;
        HttpRequest::Parse p = r.parse(raw.substr(0, cut), 1 << 20);
        if (cut < raw.size() - 2) {
            EXPECT_EQ(HttpRequest::Parse::Incomplete, p) << cut;
        }
    }
    HttpRequest r;
    ASSERT_EQ(HttpRequest::Parse::Complete, r.parse(raw, 1 << 20));
    EXPECT_EQ("hello", raw.substr(r.bodyStart, r.consumed - r.bodyStart));
    EXPECT_EQ(raw.size() - 2, r.consumed);
    EXPECT_EQ("/vm/Compose", r.route);
    EXPECT_EQ("YY=1", r.query);
    EXPECT_EQ("a=1", r.header("cookie"));

    HttpRequest lf;
    ASSERT_EQ(HttpRequest::Parse::Complete,
              lf.parse("GET http://h:8080/p?q HTTP/1.1\nHost: h\n\n", 1 << 20));
    EXPECT_TRUE(lf.proxyForm);
    EXPECT_EQ("h", lf.urlHost);
    EXPECT_EQ(8080, lf.urlPort);
    EXPECT_EQ("/p?q", lf.path);
}

TEST(SiteHandlerTest, LocalDeliveryPutsMailForUsersOfTheSiteInTheirInbox) {
    for (bool deliver : {false, true}) {
        SiteConfig c = config();
        c.deliverLocally = deliver;
        SiteHandler site(c);
        Client client = handlerClient(site);
        client.signIn("alice", "s3cret");
        Answer a = client.postCompose("&To=x%40example.org&Cc=Bob+%3CBOB%40vurel.example%3E%3B+"
                                      "y%40example.org&Bcc=&Subj=hi&Body=hello&Format=&SaveCopy="
                                      "&SEND=Send");
        EXPECT_NE(std::string::npos, a.body.find("Message Sent")) << deliver;
        auto inbox = site.folder("bob", "Inbox");
        ASSERT_EQ(deliver ? 1u : 0u, inbox.size()) << deliver;
        EXPECT_TRUE(site.folder("alice", "Inbox").empty());
        if (deliver) {
            EXPECT_TRUE(inbox[0].unread);
            EXPECT_NE(std::string::npos, inbox[0].raw.find("\r\nSubject: hi\r\n"));
            EXPECT_NE(std::string::npos, inbox[0].raw.find("From: alice@vurel.example\r\n"));
        }
    }
}

TEST(SiteHandlerTest, MutatedRequestsAlwaysGetAnHttpAnswer) {
    SiteHandler site(config(1));
    std::string id = site.addMessage("alice", "Inbox", message(1));
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    const std::string seeds[] = {
        "GET /vm/ShowFolder?box=Inbox&Nview=a&Npos=0 HTTP/1.0\r\nHost: us.mail.vurel.example\r\n"
        "Cookie: " +
            client.cookies + "\r\n\r\n",
        "GET http://us.mail.vurel.example/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" +
            id + "&bodyPart=TEXT HTTP/1.0\r\nCookie: " + client.cookies + "\r\n\r\n",
        "POST /config/login HTTP/1.0\r\nContent-Length: 40\r\nCookie: B=x\r\n\r\n"
        "login=alice&passwd=x&.md5=1&.challenge=y",
        "POST /vm/Compose?YY=1 HTTP/1.0\r\nContent-Length: 30\r\nCookie: " + client.cookies +
            "\r\n\r\n.crumb=a&To=%&Subj=%zz&SEND=Se",
    };
    std::uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1103515245u + 12345u;
        return state >> 8;
    };
    const char alphabet[] = "\r\n :%&=?/;\"<>\x00\xff"
                            "aZ9";
    for (int i = 0; i < 3000; ++i) {
        std::string r = seeds[static_cast<std::size_t>(i) % 4];
        int edits = 1 + static_cast<int>(next() % 6);
        for (int e = 0; e < edits && !r.empty(); ++e) {
            std::size_t at = next() % r.size();
            switch (next() % 3) {
            case 0:
                r[at] = alphabet[next() % (sizeof alphabet - 1)];
                break;
            case 1:
                r.erase(at, 1 + next() % 8);
                break;
            default:
                r.insert(at, std::string(1 + next() % 4, alphabet[next() % (sizeof alphabet - 1)]));
            }
        }
        Answer a = sitetest::parseAnswer(site.handleRaw(r).bytes);
        EXPECT_GE(a.status, 200) << i;
        EXPECT_LT(a.status, 600) << i;
    }
}

TEST(SiteHandlerTest, ListingShowsEncodedWordsDecoded) {
    SiteHandler site(config());
    site.addMessage(
        "alice", "Inbox",
        "From: =?iso-8859-1?Q?J=F6rg_M=FCller?= <jm@example.de>\r\n"
        "Subject: =?iso-8859-1?Q?Gr=FC=DFe_aus?= =?utf-8?B?S8O2bG4=?= 1+1\r\n\r\nx\r\n");
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    Answer a = client.get(client.mail(listing(0)));
    EXPECT_NE(std::string::npos, a.body.find(">J\xf6rg M\xfcller</a>"));
    EXPECT_NE(std::string::npos, a.body.find(">Gr\xfc\xdf"
                                             "e ausK\xc3\xb6ln 1+1</a>"));
    EXPECT_EQ(1u, sitetest::scanListing(a.body, true).rows.size());
}

TEST(SiteHandlerTest, IdsWithPlusAndPercentAreMatchedAsSent) {
    SiteHandler site(config());
    const std::string id = "1_77+3%2F9";
    ASSERT_EQ(id, site.addMessage("alice", "Inbox", message(1), true, id));
    Client client = handlerClient(site);
    client.signIn("alice", "s3cret");
    auto scan = sitetest::scanListing(client.get(client.mail(listing(0))).body, true);
    ASSERT_EQ(1u, scan.rows.size());
    EXPECT_EQ(id, scan.rows[0].first);
    Answer text = client.get(client.mail(
        "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" + id + "&bodyPart=TEXT"));
    EXPECT_EQ(site.folder("alice", "Inbox")[0].text(), text.body);
    client.get(
        client.mail("/vm/ShowFolder?box=Inbox&DEL=Delete&Mid=" + id + "&.crumb=" + scan.crumb));
    EXPECT_EQ(1u, site.folder("alice", "Trash").size());
}
