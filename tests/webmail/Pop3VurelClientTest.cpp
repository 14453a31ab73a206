#include "webmail/Pop3VurelClient.h"

#include "codec/Md5Hex.h"
#include "net/CBlockSocket.h"
#include "platform/Environment.h"
#include "support/RecordingWindow.h"
#include "support/ScriptedHttpServer.h"
#include "webmail/PasswordVerifier.h"
#include "webmail/SmtpVurelClient.h"
#include "webmail/WebmailAccess.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

using SeenRequest = ScriptedHttpServer::Request;
using Events = std::vector<std::string>;

const std::string kTitle = "<title>Vurel! Mail - ann@vurel.example</title>";

SiteConfig testSite() {
    SiteConfig site;
    site.frontPage = "http://front.test/";
    site.loginPage = "http://login.test/config/login";
    return site;
}

// A site whose sign-in works with any password and whose other pages are
// small signed-in pages.
std::string anySite(const SeenRequest& r) {
    if (r.target == "http://front.test/") {
        return answer(200, "<input name=\".challenge\" value=\"ch\">", "Set-Cookie: F=1; x\r\n");
    }
    if (r.target == "http://login.test/config/login") {
        return redirect("http://us.mail.test/", "P=2");
    }
    if (r.target.find("bodyPart=") != std::string::npos) {
        return answer(200, "part");
    }
    if (r.target.find("/vm/ShowFolder?box=Inbox&Nview=a&Npos=0") != std::string::npos) {
        return answer(200, kTitle + "<a href=\"/vm/ShowFolder?ET=1&.crumb=C&reset=1\">"
                                    "<td>Messages 1-1 of 1</td>"
                                    "<td><a href=\"/vm/ShowLetter?MsgId=m1&x\">s</a></td>"
                                    "<td x>subject</td><td>1k</td>");
    }
    return answer(200, kTitle);
}

struct ServiceClients : ::testing::Test {
    ServiceClients() : site(anySite) {}
    template <class Client> void useSite(Client& client) {
        client.setProxy("127.0.0.1", site.port(), "", "");
    }
    // The detail lines must be the requests' URLs, each shown before it went out.
    Events detailsOf(const std::vector<std::string>& targets) {
        Events out;
        for (const std::string& t : targets) {
            out.push_back("detail " + t);
        }
        return out;
    }

    RecordingWindow window;
    ScriptedHttpServer site;
    CookieJar jar;
};

TEST_F(ServiceClients, Pop3ClientShowsEachStepThenEachUrl) {
    Pop3VurelClient client(window, testSite(), jar);
    useSite(client);
    client.login("ann", "pw");
    EXPECT_EQ(window.take(),
              (Events{"status Logging to Vurel server ...", "detail http://front.test/",
                      "detail http://login.test/config/login", "detail http://us.mail.test/"}));
    const MessageList list = client.listInbox();
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(client.fetchHeader(list[0]), "part");
    EXPECT_EQ(client.fetchText(list[0]), "part");
    client.deleteMessages(list);
    client.emptyTrash();
    const std::vector<std::string> targets = site.targets();
    ASSERT_EQ(targets.size(), 8u);
    EXPECT_EQ(window.take(),
              (Events{"status Fetching messages from Inbox ...", "detail " + targets[3],
                      "status Retrieving mail header ...", "detail " + targets[4],
                      "status Retrieving mail body ...", "detail " + targets[5],
                      "status Deleting mail ...", "detail " + targets[6],
                      "status Emptying Trash ...", "detail " + targets[7]}));
    EXPECT_EQ(targets[7], "http://us.mail.test/vm/ShowFolder?ET=1&.crumb=C&reset=1");
}

TEST_F(ServiceClients, SignInStoresTheSessionInTheJarOnlyWhenItWorks) {
    Pop3VurelClient client(window, testSite(), jar);
    useSite(client);
    client.login("ann", "pw");
    const CookieRecord stored = jar.find("ann");
    EXPECT_EQ(stored.Cookie, "F=1; P=2; ");
    EXPECT_EQ(stored.Host, "us.mail.test");
    EXPECT_TRUE(jar.modified());

    CookieJar other;
    SiteConfig broken = testSite();
    broken.frontPage = "http://nowhere.test/";
    Pop3VurelClient failing(window, broken, other);
    useSite(failing);
    EXPECT_THROW(failing.login("bob", "pw"), CVurelClient::Error);
    EXPECT_EQ(other.size(), 0u);
    EXPECT_FALSE(other.modified());
}

TEST_F(ServiceClients, SmtpClientShowsSignInAndSendingThenEachUrl) {
    SmtpVurelClient client(window, testSite(), jar);
    useSite(client);
    client.login("ann", "pw");
    EXPECT_EQ(jar.find("ann").Host, "us.mail.test");
    window.take();
    try {
        client.sendMessage("to@x", "", "", "s", "b", "", false);
    } catch (const CVurelClient::Error&) {
        // This site never answers "Message Sent"; the steps shown count here.
    }
    const std::vector<std::string> targets = site.targets();
    ASSERT_EQ(targets.size(), 5u);
    EXPECT_EQ(window.take(),
              (Events{"status Sending mail ...", "detail " + targets[3], "detail " + targets[4]}));
    EXPECT_EQ(targets[4], "http://us.mail.test/vm/Compose?YY=");
}

TEST_F(ServiceClients, ErrorsPassThroughTheWrappersUnchanged) {
    ScriptedHttpServer failing([](const SeenRequest&) { return answer(503, "busy"); });
    Pop3VurelClient client(window, testSite(), jar);
    client.setProxy("127.0.0.1", failing.port(), "", "");
    CookieRecord record;
    record.set("ann", "S=1; ", "m.test", 1);
    client.adoptSession(record);
    try {
        client.fetchText(MessageRef("id", 1));
        FAIL() << "no error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_STREQ(e.what(), "http://m.test/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId="
                               "id&bodyPart=TEXT");
    }
}

// The conversation's side of the variants: saved sessions come from the jar,
// going direct keeps the other proxy fields, and a cancel through any base
// refuses every later request before it connects.
TEST_F(ServiceClients, ConversationInterfaceAndCancelThroughTheBases) {
    CookieRecord saved;
    saved.set("ann", "S=1; ", "m.test"); // now: valid
    saved.Verifier = PasswordVerifier::make("pw");
    jar.store(saved);
    SmtpVurelClient client(window, testSite(), jar);
    SmtpWebmail& webmail = client;
    EXPECT_FALSE(webmail.adoptSaved("bob", "pw"));
    EXPECT_TRUE(webmail.adoptSaved("ann", "pw"));
    EXPECT_EQ(client.session().Host, "m.test");
    webmail.useProxy("127.0.0.1", site.port(), "u", "pw");
    webmail.useDirect();
    EXPECT_EQ(client.proxyHost(), "");
    EXPECT_EQ(client.proxyPort(), site.port());
    EXPECT_EQ(client.proxyUser(), "u");

    useSite(client);
    HttpClient& http = client;
    http.cancel();
    EXPECT_THROW(webmail.login("ann", "pw"), CBlockSocket::Canceled);
    EXPECT_TRUE(site.targets().empty());
}

// Only the password "pw" signs in; anything else gets the form back (200).
std::string passwordSite(const SeenRequest& r) {
    if (r.target == "http://login.test/config/login") {
        const std::string inner = std::string(Md5Hex("pw").hex()) + "ch";
        if (r.body.find("&passwd=" + std::string(Md5Hex(inner).hex()) + "&") == std::string::npos) {
            return answer(200, "Invalid password");
        }
    }
    return anySite(r);
}

TEST_F(ServiceClients, ASavedSessionOpensOnlyWithThePasswordThatSignedIn) {
    ScriptedHttpServer checking(passwordSite);
    Pop3VurelClient first(window, testSite(), jar);
    first.useProxy("127.0.0.1", checking.port(), "", "");
    first.login("ann", "pw");
    const std::size_t signInRequests = checking.targets().size();
    const CookieRecord saved = jar.find("ann");
    EXPECT_TRUE(PasswordVerifier::matches(saved.Verifier, "pw"));
    EXPECT_EQ(saved.Verifier.find("pw"), std::string::npos);

    // Another local process that knows the user name only: no adoption, and
    // the site refuses its own sign-in; the saved session stays as it was.
    Pop3VurelClient intruder(window, testSite(), jar);
    intruder.useProxy("127.0.0.1", checking.port(), "", "");
    EXPECT_FALSE(intruder.adoptSaved("ann", "guess"));
    EXPECT_FALSE(intruder.adoptSaved("ann", ""));
    EXPECT_EQ(checking.targets().size(), signInRequests);
    EXPECT_THROW(intruder.login("ann", "guess"), CVurelClient::Error);
    EXPECT_EQ(jar.find("ann").Verifier, saved.Verifier);

    // The user again: adopted without a request.
    const std::size_t before = checking.targets().size();
    Pop3VurelClient user(window, testSite(), jar);
    EXPECT_TRUE(user.adoptSaved("ann", "pw"));
    EXPECT_EQ(user.session().Cookie, saved.Cookie);
    EXPECT_EQ(checking.targets().size(), before);

    // A record without a verifier (an older file) is never adopted.
    CookieRecord old = saved;
    old.Verifier.clear();
    jar.store(old);
    EXPECT_FALSE(user.adoptSaved("ann", "pw"));
}

// A session saved under a plain-HTTP setup would carry its cookies and every
// page in clear text once the setup is HTTPS: it is not adopted there (the
// user signs in afresh), while an HTTPS record is.
TEST_F(ServiceClients, APlainHttpSessionIsNotAdoptedOnceTheSiteIsHttps) {
    const struct {
        const char* frontPage;
        const char* loginPage;
        const char* host;
        bool adopted;
    } cases[] = {
        {"https://front.test/", "https://login.test/config/login", "m.test", false},
        {"https://front.test/", "https://login.test/config/login", "http://m.test:8080", false},
        {"http://front.test/", "https://login.test/config/login", "m.test", false},
        {"https://front.test/", "https://login.test/config/login", "https://m.test", true},
        {"http://front.test/", "http://login.test/config/login", "m.test", true},
    };
    for (const auto& c : cases) {
        CookieRecord saved;
        saved.set("ann", "S=1; ", c.host);
        saved.Verifier = PasswordVerifier::make("pw");
        jar.store(saved);
        SiteConfig site;
        site.frontPage = c.frontPage;
        site.loginPage = c.loginPage;
        Pop3VurelClient client(window, site, jar);
        EXPECT_EQ(client.adoptSaved("ann", "pw"), c.adopted) << c.frontPage << " " << c.host;
    }
}

// Sets the round count for one test and gives the run's own back after it.
class VerifierRounds {
public:
    explicit VerifierRounds(const char* count)
        : before_(platform::environmentValue("QUILLMERE_VERIFIER_ROUNDS")) {
        platform::setEnvironmentValue("QUILLMERE_VERIFIER_ROUNDS", count);
    }
    ~VerifierRounds() { platform::setEnvironmentValue("QUILLMERE_VERIFIER_ROUNDS", before_); }

private:
    const std::string before_;
};

TEST(PasswordVerifierTest, TheFullStrengthIsTheDefaultAndOtherCountsAreRefused) {
    if (!PasswordVerifier::kRoundsFromEnvironment) {
        GTEST_SKIP() << "a shipped build takes no round count from the environment";
    }
    const std::string salt(16, '\x5a');
    std::string lower;
    {
        VerifierRounds count("20000");
        lower = PasswordVerifier::make("pw", salt);
        EXPECT_TRUE(PasswordVerifier::matches(lower, "pw"));
    }
    VerifierRounds count("");
    const std::string full = PasswordVerifier::make("pw", salt);
    EXPECT_EQ(full.rfind("pbkdf2-sha256$600000$5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a$", 0), 0u);
    EXPECT_TRUE(PasswordVerifier::matches(full, "pw")); // remembered when made
    // A record of another count (an older build's, say) is not adopted.
    EXPECT_FALSE(PasswordVerifier::matches(lower, "pw"));
    for (const char* raised : {"600001", "99999999999", "-5", "1e6"}) {
        VerifierRounds other(raised);
        EXPECT_EQ(PasswordVerifier::rounds(), PasswordVerifier::kRounds) << raised;
    }
}

TEST(PasswordVerifierTest, MatchesOnlyItsOwnWellFormedPassword) {
    if (!PasswordVerifier::kRoundsFromEnvironment) {
        GTEST_SKIP() << "a shipped build takes no round count from the environment";
    }
    VerifierRounds count("20000");
    const std::string salt(16, '\x5a');
    const std::string made = PasswordVerifier::make("pw", salt);
    EXPECT_EQ(made, "pbkdf2-sha256$20000$5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a$"
                    "5fbf10b64615bcf0442b4b91f72c6bd55d85045527297672ef669173deb2983d");
    EXPECT_TRUE(PasswordVerifier::matches(made, "pw"));
    EXPECT_TRUE(PasswordVerifier::matches(made, "pw")); // now from the remembered match
    const std::string random1 = PasswordVerifier::make("pw");
    EXPECT_NE(random1, PasswordVerifier::make("pw")); // a fresh salt each time
    EXPECT_TRUE(PasswordVerifier::matches(random1, "pw"));
    const std::string forged[] = {
        "",
        made.substr(0, made.size() - 1),
        made + "0",
        "pbkdf2-sha256$1$5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a5a$" + made.substr(made.rfind('$') + 1),
        made.substr(0, made.rfind('$')) + "$" + std::string(64, 'G'),
    };
    for (std::size_t i = 0; i < std::size(forged); ++i) {
        EXPECT_FALSE(PasswordVerifier::matches(forged[i], "pw")) << "case " << i;
    }
    for (const char* other : {"", "pW", "pw ", "p"}) {
        EXPECT_FALSE(PasswordVerifier::matches(made, other)) << other;
    }
    EXPECT_EQ(PasswordVerifier::make(""), "");
}

} // namespace
} // namespace quill
