#include "webmail/CVurelClient.h"

#include "net/CBlockSocket.h"
#include "support/Gate.h"
#include "support/OpenVurelClient.h"
#include "support/ScriptedHttpServer.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace quill {
namespace {

using SeenRequest = ScriptedHttpServer::Request;

const char kFront[] = "http://front.test/";
const char kLogin[] = "http://login.test/config/login";

SiteConfig testSite() {
    SiteConfig site;
    site.frontPage = kFront;
    site.loginPage = kLogin;
    site.mailDomain = "vurel.example";
    return site;
}

std::string frontPage(const std::string& challenge) {
    return "<html><head><title>Vurel! Mail</title></head><body><form method=post "
           "action=\"http://login.test/config/login\"><input type=hidden name=\".challenge\" "
           "value=\"" +
           challenge + "\"><input name=login></form></body></html>";
}

const std::string kTitle = "<html><head><title>Vurel! Mail - ann@vurel.example</title></head>";

// A listing row: the sender link, the subject cell, the size cell.
std::string row(const std::string& id, const std::string& size) {
    return "<tr><td><a href=\"/vm/ShowLetter?MsgId=" + id +
           "&box=Inbox\">Sender</a></td><td class=\"s\">Subject</td><td>" + size + "</td></tr>\n";
}

std::string inboxPage(const std::string& counter, const std::string& rows,
                      const std::string& crumb = "CR1") {
    std::string page =
        kTitle + "<body><a href=\"/vm/ShowFolder?ET=1&.crumb=" + crumb + "&reset=1\">Empty</a>\n";
    if (!counter.empty()) {
        page += "<td>Messages " + counter + "</td>\n";
    }
    return page + "<table>\n" + rows + "</table></body></html>";
}

struct Fixture : ::testing::Test {
    // Serves the handler through the client's proxy setting.
    void serve(ScriptedHttpServer::Handler handler) {
        site = std::make_unique<ScriptedHttpServer>(std::move(handler));
        client.setProxy("127.0.0.1", site->port(), "", "");
        client.setTimeoutsMs(10000, 10000);
    }
    void signedInAs(const std::string& host) {
        CookieRecord record;
        record.set("ann", "S=1; ", host, 1700000000);
        client.adoptSession(record);
    }

    OpenVurelClient client{testSite()};
    std::unique_ptr<ScriptedHttpServer> site;
};

// The sign-in ------------------------------------------------------------

struct Login : Fixture {
    // Front page, login POST, then `hops` redirects ending on finalUrl.
    void chain(int hops, const std::string& finalUrl) {
        serve([hops, finalUrl](const SeenRequest& r) {
            if (r.target == kFront) {
                return answer(200, frontPage("Zx81-q"),
                              "Set-Cookie: F=1; path=/\r\nSet-Cookie: F2=2; path=/\r\n");
            }
            auto hop = [&](int i) {
                return i == hops ? finalUrl : "http://login.test/hop" + std::to_string(i + 1);
            };
            if (r.target == kLogin) {
                return redirect(hop(0), "P=1");
            }
            for (int i = 1; i <= hops; ++i) {
                if (r.target == "http://login.test/hop" + std::to_string(i)) {
                    return redirect(hop(i), "H" + std::to_string(i) + "=x");
                }
            }
            if (r.target == finalUrl) {
                return answer(200, kTitle, "Set-Cookie: M=9; path=/\r\n");
            }
            return answer(404, "no");
        });
    }
};

TEST_F(Login, WithoutFurtherRedirectsSendsTheMd5AnswerAndKeepsEveryCookie) {
    chain(0, "http://us.mail.test/vm/Welcome");
    client.login("ann", "secret");
    const auto requests = site->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_FALSE(requests[0].hasHeader("Cookie")); // the only request without one
    EXPECT_EQ(requests[1].method, "POST");
    EXPECT_EQ(requests[1].target, kLogin);
    EXPECT_EQ(requests[1].header("Cookie"), "F=1; F2=2; ");
    EXPECT_EQ(requests[1].body, ".tries=1&.src=vm&.intl=us&login=ann&passwd="
                                "8f5614037181f5e0d4b994432ea81cfc"
                                "&.hash=1&.md5=1&.js=1&.challenge=Zx81-q");
    EXPECT_EQ(requests[2].target, "http://us.mail.test/vm/Welcome");
    EXPECT_EQ(requests[2].header("Cookie"), "F=1; F2=2; P=1; ");
    EXPECT_EQ(client.session().Cookie, "F=1; F2=2; P=1; M=9; ");
    EXPECT_EQ(client.session().User, "ann");
    EXPECT_EQ(client.session().Host, "us.mail.test");
    EXPECT_GT(client.session().Timestamp, 1700000000);
}

// Cookies past their bounds, or an answer header past 1 MiB, fail the
// sign-in and leave the session as it was; a pair of exactly 4 KiB signs in.
TEST_F(Login, CookiesAndHeadersBeyondTheirBoundsFailTheSignIn) {
    const std::string pair4k = "A=" + std::string(4094, 'v');
    std::string many; // 16 pairs of 4 KiB, each with its "; ": past 64 KiB
    for (int i = 0; i < 16; ++i) {
        many += "Set-Cookie: " + pair4k + "; path=/\r\n";
    }
    struct Case {
        std::string headers; // of the redirect target's answer
        bool signsIn;
    } cases[] = {
        {"Set-Cookie: " + pair4k + "v; path=/\r\n", false},
        {many, false},
        {"X-Pad: " + std::string(1u << 20, 'p') + "\r\n", false},
        {"Set-Cookie: " + pair4k + "; path=/\r\n", true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string headers = cases[i].headers;
        serve([headers](const SeenRequest& r) {
            if (r.target == kFront) {
                return answer(200, frontPage("c"));
            }
            if (r.target == kLogin) {
                return redirect("http://us.mail.test/", "");
            }
            return answer(200, kTitle, headers);
        });
        if (cases[i].signsIn) {
            EXPECT_NO_THROW(client.login("ann", "secret")) << "case " << i;
        } else {
            EXPECT_THROW(client.login("ann", "secret"), CVurelClient::Error) << "case " << i;
        }
        EXPECT_EQ(client.session().Cookie.size(), cases[i].signsIn ? pair4k.size() + 2 : 0u)
            << "case " << i;
    }
}

TEST_F(Login, FollowsEveryRedirectAndKeepsThePortOfTheMailHost) {
    chain(3, "http://us.mail.test:8080/vm/Welcome");
    client.login("ann", "secret");
    EXPECT_EQ(site->targets(),
              (std::vector<std::string>{kFront, kLogin, "http://login.test/hop1",
                                        "http://login.test/hop2", "http://login.test/hop3",
                                        "http://us.mail.test:8080/vm/Welcome"}));
    EXPECT_EQ(site->requests()[5].header("Cookie"), "F=1; F2=2; P=1; H1=x; H2=x; H3=x; ");
    EXPECT_EQ(client.session().Cookie, "F=1; F2=2; P=1; H1=x; H2=x; H3=x; M=9; ");
    EXPECT_EQ(client.session().Host, "http://us.mail.test:8080");
    EXPECT_EQ(client.mailUrl("/vm/x"), "http://us.mail.test:8080/vm/x");
}

TEST_F(Login, AFrontPageThatMovedIsFollowedWithItsCookies) {
    serve([](const SeenRequest& r) {
        if (r.target == kFront) {
            return redirect("http://front.test/moved", "R=1");
        }
        if (r.target == "http://front.test/moved") {
            return answer(200, frontPage("c"), "Set-Cookie: F=1; path=/\r\n");
        }
        if (r.target == kLogin) {
            return redirect("http://us.mail.test/", "P=1");
        }
        return answer(200, kTitle);
    });
    client.login("ann", "secret");
    const auto requests = site->requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[1].header("Cookie"), "R=1; ");
    EXPECT_EQ(requests[2].header("Cookie"), "R=1; F=1; ");
    EXPECT_EQ(client.session().Host, "us.mail.test");
}

TEST_F(Login, RedirectChainIsBounded) {
    // The form's 302 plus 19 more: 20 redirects are followed.
    chain(CVurelClient::kMaxRedirects - 1, "http://us.mail.test/");
    client.login("ann", "secret");
    EXPECT_EQ(site->requests().size(), 2u + CVurelClient::kMaxRedirects);

    chain(CVurelClient::kMaxRedirects, "http://us.mail.test/");
    try {
        client.login("ann", "secret");
        FAIL() << "no error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_STREQ(e.what(), "http://login.test/hop20");
    }
    EXPECT_EQ(site->requests().size(), 2u + CVurelClient::kMaxRedirects);
}

TEST_F(Login, FailuresNameTheirStepAndLeaveTheSessionAlone) {
    struct Case {
        const char* name;
        std::string front;    // answer to the front page
        std::string login;    // answer to the form
        std::string final;    // answer to http://us.mail.test/
        const char* message;  // expected Error text
        std::size_t requests; // sent before the failure
    } cases[] = {
        {"front page redirects to a missing page", redirect("http://elsewhere.test/", "F=1"), "",
         "", "http://elsewhere.test/", 2},
        {"front page 500", answer(500, frontPage("c")), "", "", kFront, 1},
        {"no challenge", answer(200, "<form><input name=login></form>"), "", "", "challenge value",
         1},
        {"challenge without closing quote", answer(200, "name=\".challenge\" value=\"abc"), "", "",
         "challenge value", 1},
        {"challenge holding a line break", answer(200, frontPage("a\r\nX-Evil: 1")), "", "",
         "challenge value", 1},
        {"form answered 200", answer(200, frontPage("c")), answer(200, "wrong password"), "",
         kLogin, 2},
        {"form answered 302 without Location", answer(200, frontPage("c")), answer(302, ""), "", "",
         2},
        {"Location holding NUL", answer(200, frontPage("c")),
         answer(302, "", std::string("Location: http://us.mail.test/\0x\r\n", 34)), "", "", 2},
        {"relative Location", answer(200, frontPage("c")), redirect("/vm/Welcome", ""), "",
         "/vm/Welcome", 2},
        {"last target 404", answer(200, frontPage("c")), redirect("http://us.mail.test/", ""),
         answer(404, "gone"), "http://us.mail.test/", 3},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        serve([&c](const SeenRequest& r) {
            if (r.target == kFront) {
                return c.front;
            }
            if (r.target == kLogin) {
                return c.login;
            }
            if (r.target == "http://us.mail.test/") {
                return c.final;
            }
            return answer(404, "unexpected");
        });
        signedInAs("saved.test");
        try {
            client.login("bob", "pw");
            ADD_FAILURE() << "case " << i << " (" << c.name << "): no error";
        } catch (const CVurelClient::Error& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << "case " << i << " (" << c.name << ")";
        }
        EXPECT_EQ(site->requests().size(), c.requests) << "case " << i << " (" << c.name << ")";
        EXPECT_EQ(client.session().Host, "saved.test") << "case " << i;
        EXPECT_EQ(client.session().User, "ann") << "case " << i;
    }
}

TEST_F(Login, ARedirectFromHttpsToHttpIsRefused) {
    // The https pages are served plainly here: TLS is looked through.
    const struct {
        std::string front, login; // the answers
        std::size_t requests;     // sent before the refusal
    } cases[] = {
        {redirect("http://front.test/", ""), "", 1},
        {answer(200, frontPage("c")), redirect("http://us.mail.test/", ""), 2},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        serve([&](const SeenRequest& r) {
            return r.target == "/config/login" ? cases[i].login : cases[i].front;
        });
        SiteConfig site = testSite();
        site.frontPage = "https://127.0.0.1:" + std::to_string(this->site->port()) + "/";
        site.loginPage = site.frontPage + "config/login";
        OpenVurelClient secure(site);
        secure.setTlsFactory(
            [](std::shared_ptr<ByteChannel> transport, const std::string&) { return transport; });
        try {
            secure.login("ann", "pw");
            ADD_FAILURE() << "case " << i << ": no error";
        } catch (const CVurelClient::Error& e) {
            EXPECT_EQ(std::string(e.what()).rfind("http://", 0), 0u) << i << " " << e.what();
        }
        EXPECT_EQ(this->site->requests().size(), cases[i].requests) << i;
        EXPECT_TRUE(secure.session().Host.empty()) << i;
    }
}

TEST_F(Login, CookiePairsHoldingACarriageReturnOrNulAreNotSent) {
    serve([](const SeenRequest& r) {
        if (r.target == kFront) {
            return answer(200, frontPage("c"),
                          std::string("Set-Cookie: A=1\rX-Evil: y; path=/\r\n"
                                      "Set-Cookie: B=\0; path=/\r\n"
                                      "Set-Cookie: PLAIN=1\r\n"
                                      "Set-Cookie: G=1; path=/\r\n",
                                      106));
        }
        if (r.target == kLogin) {
            return redirect("http://us.mail.test/", "");
        }
        return answer(200, kTitle);
    });
    client.login("ann", "");
    EXPECT_EQ(client.session().Cookie, "PLAIN=1; G=1; ");
    EXPECT_EQ(site->requests()[1].header("Cookie"), "PLAIN=1; G=1; ");
}

TEST_F(Login, EmptyPasswordHashesTheEmptyText) {
    serve([](const SeenRequest& r) {
        if (r.target == kFront) {
            return answer(200, frontPage("abc"));
        }
        if (r.target == kLogin) {
            return redirect("http://us.mail.test/", "");
        }
        return answer(200, kTitle);
    });
    client.login("ann", "");
    EXPECT_NE(site->requests()[1].body.find("&passwd=1606f8325d4f4fd10bf8fc797134d59e&"),
              std::string::npos);
    EXPECT_EQ(client.session().Cookie, "");
}

TEST(CVurelClient, IsMailPageLooksForTheSignedInTitle) {
    const OpenVurelClient client(testSite());
    struct Case {
        std::string page;
        bool mail;
    } cases[] = {
        {"<title>Vurel! Mail - ann@vurel.example</title>", true},
        {"x<title>Vurel! Mail - Someone Else@vurel.example - Inbox</title>", true},
        {"<title>Vurel! Mail - @vurel.example</title>", true},
        {"<title>Vurel! Mail - ann@vurel.exampl</title>", false},
        {"<title>Vurel! Mail - ann</title>@vurel.example", false},
        {"<title>vurel! mail - ann@vurel.example</title>", false},
        {"<title>ann@vurel.example Vurel! Mail - </title>", false},
        {"Vurel! Mail - ann@vurel.example", false},
        {"<title>Vurel! Mail - ann@vurel.example", false},
        {"", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(client.isMailPage(cases[i].page), cases[i].mail) << "case " << i;
    }
    SiteConfig other = testSite();
    other.mailDomain = "other.example";
    EXPECT_FALSE(OpenVurelClient(other).isMailPage(cases[0].page));
}

// The listing --------------------------------------------------------------

struct Listing : Fixture {
    // Pages by index; a missing index answers 404.
    void pages(std::map<int, std::string> byIndex) {
        serve([byIndex](const SeenRequest& r) {
            const std::string base = "http://us.mail.test/vm/ShowFolder?box=Inbox&Nview=a&Npos=";
            if (r.target.compare(0, base.size(), base) == 0) {
                auto it = byIndex.find(std::stoi(r.target.substr(base.size())));
                if (it != byIndex.end()) {
                    return answer(200, it->second);
                }
            }
            return answer(404, "no");
        });
        signedInAs("us.mail.test");
    }
    std::vector<std::pair<std::string, int>> list() {
        std::vector<std::pair<std::string, int>> out;
        for (const MessageRef& m : client.listInbox()) {
            out.emplace_back(m.id(), m.size());
        }
        return out;
    }
    using Rows = std::vector<std::pair<std::string, int>>;
};

TEST_F(Listing, CounterDecidesWhenToStop) {
    const std::string pad(55, '0'); // for counters of 63 and 64 characters
    struct Case {
        std::vector<std::string> counters; // one page each
        std::size_t requested;
        std::size_t listed;
    } cases[] = {
        {{"1-2 of 2"}, 1, 2},
        {{"1-2 of 6", "3-4 of 6", "5-6 of 6"}, 3, 6},
        {{"1-2 of 5", "3-4 of 5", "5-5 of 5"}, 3, 6}, // rows are read as the page has them
        // The total shrank: stop. The pages the first counter foretold were
        // in flight already (a window of six): they are asked, never read.
        {{"1-2 of 9", "3-4 of 4"}, 5, 4},
        // It grew: read on page by page after the page that said so.
        {{"1-2 of 4", "3-4 of 6", "5-6 of 6"}, 3, 6},
        {{"0-0 of 0"}, 1, 0},             // empty mailbox, no rows read
        {{""}, 1, 0},                     // no counter at all
        {{"1001-1025 of 10000"}, 2, 2},   // 18 characters: a counter
        {{"1-2 of 0" + pad + "9"}, 1, 0}, // 64 characters or more
        {{"1-2 of " + pad + "9"}, 5, 2},  // 63: still a counter (of 9)
        {{"1 - 2 of 9"}, 1, 0},           // spaces around the dash
        {{"3-2 of 9"}, 1, 0},             // first greater than last
        {{"1-3 of 2"}, 1, 0},             // last greater than total
        {{"1-2 from 9"}, 1, 0},           // no " of "
        {{"1-2 of x"}, 1, 0},             // no total
        {{"1-2147483648 of 9"}, 1, 0},    // a last that does not fit
        // The page index alone moves on: page 2 is read after the counter that
        // disagreed (pages 2 to 4 were in flight, and page 2 is asked again).
        {{"1-2 of 9", "1-2 of 9"}, 6, 4},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::map<int, std::string> byIndex;
        for (std::size_t p = 0; p < cases[i].counters.size(); ++p) {
            byIndex[static_cast<int>(p)] =
                inboxPage(cases[i].counters[p], row("p" + std::to_string(p) + "a", "1") +
                                                    row("p" + std::to_string(p) + "b", "2"));
        }
        byIndex[static_cast<int>(cases[i].counters.size())] = inboxPage("", "");
        pages(byIndex);
        EXPECT_EQ(list().size(), cases[i].listed) << "case " << i;
        EXPECT_EQ(site->requests().size(), cases[i].requested) << "case " << i;
    }
}

// The listing ends at its message or id-byte bound with what it has read, and
// requests no page after the one where the bound was reached.
TEST_F(Listing, EndsAtTheMessageOrIdBound) {
    struct Case {
        std::size_t messages, idBytes;
        Rows listed;
        std::size_t requested;
    } cases[] = {
        {3, 1000, {{"aa", 1}, {"bb", 2}, {"cc", 3}}, 2},
        {10, 5, {{"aa", 1}, {"bb", 2}}, 2},
        {5, 10, {{"aa", 1}, {"bb", 2}, {"cc", 3}, {"dd", 4}, {"ee", 5}}, 3},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        pages({{0, inboxPage("1-2 of 5", row("aa", "1") + row("bb", "2"))},
               {1, inboxPage("3-4 of 5", row("cc", "3") + row("dd", "4"))},
               {2, inboxPage("5-5 of 5", row("ee", "5"))}});
        ListenerService::Options::WebmailBounds bounds;
        bounds.listMessages = cases[i].messages;
        bounds.listIdBytes = cases[i].idBytes;
        client.applyBounds(bounds);
        EXPECT_EQ(list(), cases[i].listed) << "case " << i;
        EXPECT_EQ(site->requests().size(), cases[i].requested) << "case " << i;
    }
}

TEST_F(Listing, RequestsPagesByIndexWithTheSessionCookie) {
    pages({{0, inboxPage("1-1 of 3", row("a", "1"))},
           {1, inboxPage("2-2 of 3", row("b", "1"))},
           {2, inboxPage("3-3 of 3", row("c", "1"))}});
    EXPECT_EQ(list(), (Rows{{"a", 1}, {"b", 1}, {"c", 1}}));
    const auto requests = site->requests();
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].target,
                  "http://us.mail.test/vm/ShowFolder?box=Inbox&Nview=a&Npos=" + std::to_string(i));
        EXPECT_EQ(requests[i].header("Cookie"), "S=1; ");
        EXPECT_EQ(requests[i].header("Host"), "us.mail.test");
    }
}

TEST_F(Listing, SizeTexts) {
    struct Case {
        std::string text;
        int size;
    } cases[] = {{"12k", 12288},
                 {"512", 512},
                 {"1.5k", 1},
                 {"<b>3k</b>", 3072},
                 {"<b>77</b>", 77},
                 {"", 0},
                 {"big", 0},
                 {"4 k", 4096},
                 {"4 kB", 4},
                 {"  9", 9},
                 {"5000000k", 2147483647}};
    std::string rows;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        rows += row("m" + std::to_string(i), cases[i].text);
    }
    pages({{0, inboxPage("1-11 of 11", rows)}});
    const auto listed = list();
    ASSERT_EQ(listed.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(listed[i].second, cases[i].size) << "case " << i << " " << cases[i].text;
    }
}

TEST_F(Listing, RepeatedIdsAreOneMessageOnlyWithinAPage) {
    const std::string flag = "<td><a href=\"/vm/ShowLetter?MsgId=A&flag=1\">!</a></td>\n";
    pages({{0, inboxPage("1-2 of 4", row("A", "1") + flag + row("B", "2"))},
           {1, inboxPage("3-4 of 4", row("B", "3") + row("C", "4"))}});
    EXPECT_EQ(list(), (Rows{{"A", 1}, {"B", 2}, {"B", 3}, {"C", 4}}));
}

TEST_F(Listing, RowWithoutSizeCellIsLeftOut) {
    const std::string noSize =
        "<tr><td><a href=\"/vm/ShowLetter?MsgId=X&box=Inbox\">S</a></td></tr>\n";
    pages({{0, inboxPage("1-2 of 2", row("A", "1") + noSize)}});
    EXPECT_EQ(list(), (Rows{{"A", 1}}));
}

TEST_F(Listing, IdsThatCouldSplitARequestAreLeftOut) {
    pages({{0, inboxPage("1-3 of 3", row("A", "1") + row("B\r\nX: y", "2") +
                                         row(std::string("C\0D", 3), "3") + row("E", "4"))}});
    EXPECT_EQ(list(), (Rows{{"A", 1}, {"E", 4}}));
}

TEST_F(Listing, IdsAreKeptExactlyAsThePageGivesThem) {
    pages({{0, inboxPage("1-2 of 2", row("1_2+3%2F=", "1") + row("x y", "2"))}});
    EXPECT_EQ(list(), (Rows{{"1_2+3%2F=", 1}, {"x y", 2}}));
}

TEST_F(Listing, CrumbComesFromTheFirstPageOnly) {
    pages({{0, inboxPage("1-1 of 2", row("a", "1"), "FIRST")},
           {1, inboxPage("2-2 of 2", row("b", "1"), "SECOND")}});
    list();
    EXPECT_EQ(client.crumb(), "FIRST");

    // Without a trash link on page 0 the crumb of the earlier listing stays.
    const std::string noLink = kTitle + "<td>Messages 1-1 of 1</td>" + row("c", "1");
    pages({{0, noLink}});
    EXPECT_EQ(list(), (Rows{{"c", 1}}));
    EXPECT_EQ(client.crumb(), "FIRST");

    // A crumb holding a line break counts as missing.
    pages({{0, inboxPage("1-1 of 1", row("d", "1"), "BAD\rX")}});
    EXPECT_EQ(list(), (Rows{{"d", 1}}));
    EXPECT_EQ(client.crumb(), "FIRST");
}

TEST_F(Listing, CounterIsSearchedAfterTheTrashLink) {
    const std::string page = kTitle + "<td>Messages 1-1 of 1</td>" + row("a", "1") +
                             "<a href=\"/vm/ShowFolder?ET=1&.crumb=Z&reset=1\">Empty</a>";
    pages({{0, page}});
    EXPECT_EQ(list(), Rows{});
    EXPECT_EQ(client.crumb(), "Z");
    EXPECT_EQ(site->requests().size(), 1u);
}

TEST_F(Listing, PageThatIsNotSignedInThrowsInvalidCookie) {
    pages({{0, inboxPage("1-1 of 3", row("a", "1"))},
           {1, inboxPage("2-2 of 3", row("b", "1"))},
           {2, "<html><title>Vurel! Mail - Sign in</title>Please sign in</html>"}});
    EXPECT_THROW(client.listInbox(), CVurelClient::InvalidCookie);
    EXPECT_EQ(site->requests().size(), 3u);
}

TEST_F(Listing, PageWithAnotherStatusThrowsItsUrl) {
    pages({{0, inboxPage("1-1 of 3", row("a", "1"))}});
    try {
        client.listInbox();
        FAIL() << "no error";
    } catch (const CVurelClient::InvalidCookie&) {
        FAIL() << "wrong error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_STREQ(e.what(), "http://us.mail.test/vm/ShowFolder?box=Inbox&Nview=a&Npos=1");
    }
}

TEST(CVurelClientPages, ListingOfACounterThatNeverEndsIsBounded) {
    OpenVurelClient client(testSite());
    CookieRecord record;
    record.set("ann", "S=1; ", "us.mail.test", 1700000000);
    client.adoptSession(record);
    const std::string page = inboxPage("1-1 of 2", row("a", "1"));
    int opened = 0;
    client.setChannelFactory([&] {
        ++opened;
        return std::make_shared<ScriptedPeer>(std::vector<std::string>{answer(200, page)});
    });
    EXPECT_EQ(client.listInbox().size(), static_cast<std::size_t>(CVurelClient::kMaxListPages));
    EXPECT_EQ(opened, CVurelClient::kMaxListPages);
}

// Retrieval and deletion -----------------------------------------------------

struct Retrieval : Fixture {
    void SetUp() override {
        serve([this](const SeenRequest&) {
            std::lock_guard<std::mutex> lock(mutex);
            return next.empty() ? answer(200, "") : next;
        });
        signedInAs("us.mail.test");
    }
    void reply(const std::string& raw) {
        std::lock_guard<std::mutex> lock(mutex);
        next = raw;
    }
    std::mutex mutex;
    std::string next;
};

TEST_F(Retrieval, PrintViewPartsComeBackByteForByte) {
    const std::string header("Received: x\r\nSubject: =?utf-8?q?h=C3=A9?=\r\n\r\n");
    const std::string text("line 1\r\n.dot\r\n\0\xff\r\n<b>not html</b>\n", 33);
    const MessageRef message("1_2+3%4", 10);
    reply(answer(200, header));
    EXPECT_EQ(client.fetchHeader(message), header);
    reply(answer(200, text));
    EXPECT_EQ(client.fetchText(message), text);
    reply(answer(200, ""));
    EXPECT_EQ(client.fetchPart(message, "TEXT"), "");
    EXPECT_EQ(site->targets(),
              (std::vector<std::string>{
                  "http://us.mail.test/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId="
                  "1_2+3%4&bodyPart=HEADER",
                  "http://us.mail.test/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId="
                  "1_2+3%4&bodyPart=TEXT",
                  "http://us.mail.test/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId="
                  "1_2+3%4&bodyPart=TEXT"}));
    EXPECT_EQ(site->requests()[0].header("Cookie"), "S=1; ");
}

TEST_F(Retrieval, DeleteSendsAllIdsInOneRequestWithTheCrumbLast) {
    // The crumb of a listing made by the same client.
    reply(answer(200, inboxPage("0-0 of 0", "", "K9")));
    client.listInbox();
    reply(answer(200, "ok"));
    client.deleteMessages({MessageRef("a", 1), MessageRef("b+c", 2), MessageRef("d%20", 3)});
    client.emptyTrash();
    client.deleteMessages({});
    const auto targets = site->targets();
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(targets[1],
              "http://us.mail.test/vm/ShowFolder?box=Inbox&DEL=Delete&Mid=a&Mid=b+c&Mid=d%20"
              "&.crumb=K9");
    EXPECT_EQ(targets[2], "http://us.mail.test/vm/ShowFolder?ET=1&.crumb=K9&reset=1");
    EXPECT_EQ(targets[3], "http://us.mail.test/vm/ShowFolder?box=Inbox&DEL=Delete&.crumb=K9");
}

TEST_F(Retrieval, StatusOtherThan200ThrowsTheUrl) {
    reply(answer(500, "oops"));
    const MessageRef message("m1", 1);
    struct Case {
        std::function<void()> call;
        std::string url;
    } cases[] = {
        {[&] { client.fetchHeader(message); },
         "http://us.mail.test/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=m1&bodyPart="
         "HEADER"},
        {[&] { client.deleteMessages({message}); },
         "http://us.mail.test/vm/ShowFolder?box=Inbox&DEL=Delete&Mid=m1&.crumb="},
        {[&] { client.emptyTrash(); }, "http://us.mail.test/vm/ShowFolder?ET=1&.crumb=&reset=1"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        try {
            cases[i].call();
            ADD_FAILURE() << "case " << i << ": no error";
        } catch (const CVurelClient::Error& e) {
            EXPECT_EQ(e.what(), cases[i].url) << "case " << i;
        }
    }
}

// Cancel ----------------------------------------------------------------------

TEST_F(Fixture, CancelFromAnotherThreadEndsTheOperationAndEveryLaterRequest) {
    Gate gate;
    bool first = true;
    serve([&](const SeenRequest&) {
        if (first) {
            first = false;
            gate.enterAndWait();
        }
        return answer(200, inboxPage("1-1 of 9", row("a", "1")));
    });
    signedInAs("us.mail.test");
    std::thread ui([&] {
        gate.waitEntered();
        client.cancel();
    });
    EXPECT_THROW(client.listInbox(), CBlockSocket::Error);
    ui.join();
    gate.release();
    EXPECT_TRUE(client.canceled());
    EXPECT_THROW(client.fetchHeader(MessageRef("a", 1)), CBlockSocket::Canceled);
    EXPECT_EQ(site->requests().size(), 1u);
    site.reset(); // the server thread is done with this test's locals
}

} // namespace
} // namespace quill
