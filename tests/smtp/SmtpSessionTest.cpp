#include "smtp/SmtpSession.h"

#include "codec/Base64.h"
#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "webmail/CVurelClient.h"
#include "webmail/SmtpWebmail.h"

#include "support/CallLog.h"
#include "support/FixedSettings.h"
#include "support/ScriptedPeer.h"
#include "support/SessionRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace quill {
namespace {

struct SentMessage {
    std::string to, cc, bcc, subject, body, format;
    bool saveCopy = false;
};

// What the fake web-mail side saw: the calls, the messages sent and the route
// ("direct" or "host:port:user:password").
struct WebmailLog : CallLog {
    std::vector<SentMessage> sent;
    std::string proxy;
};

// Scripted web-mail side: each hook decides what one call does (return or
// throw); without a hook the call succeeds.
class FakeWebmail : public SmtpWebmail {
public:
    explicit FakeWebmail(std::shared_ptr<WebmailLog> log) : log_(std::move(log)) {}

    bool hasSaved = false;
    std::function<void(const std::string&, const std::string&)> onLogin;
    std::deque<std::function<void()>> onSend;

    void useProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password) override {
        log_->proxy = host + ":" + std::to_string(port) + ":" + user + ":" + password;
    }
    void useDirect() override { log_->proxy = "direct"; }
    bool adoptSaved(const std::string& user, const std::string&) override {
        log_->add("adopt " + user);
        return hasSaved;
    }
    void login(const std::string& user, const std::string& password) override {
        log_->add("login " + user + " " + password);
        if (onLogin) {
            onLogin(user, password);
        }
    }
    void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                     const std::string& subject, const std::string& body, const std::string& format,
                     bool saveCopy) override {
        log_->add("send");
        if (!onSend.empty()) {
            auto hook = onSend.front();
            onSend.pop_front();
            hook();
        }
        log_->sent.push_back({to, cc, bcc, subject, body, format, saveCopy});
    }
    void abort() noexcept override {
        log_->add("abort");
        if (onAbort) {
            onAbort();
        }
    }
    std::function<void()> onAbort;

private:
    std::shared_ptr<WebmailLog> log_;
};

const char* const kGreeting = "220 Quillmere SMTP Service Ready\r\n";
const char* const kEhlo = "250-Quillmere greets you.\r\n250 AUTH LOGIN\r\n";
const char* const kAuthPrompts = "334 VXNlcm5hbWU6\r\n334 UGFzc3dvcmQ6\r\n";
const char* const kLoggedIn = "235 Login successful\r\n";
const char* const kBye = "221 Quillmere SMTP service closing transmission channel\r\n";
const char* const kAuthFirst = "530 SMTP authenticate before sending emails.\r\n";
const char* const kUnknown = "500 Syntax error, command unrecognized\r\n";
const char* const kOk = "250 OK\r\n";
const char* const kNotSent = "554 Cannot send message.\r\n";

// The client's turns for AUTH LOGIN without initial response.
std::vector<std::string> authTurns(const std::string& user = "alice",
                                   const std::string& password = "secret") {
    return {"AUTH LOGIN\r\n", encodeBase64(user) + "\r\n", encodeBase64(password) + "\r\n"};
}

std::string authReplies() {
    return std::string(kAuthPrompts) + kLoggedIn;
}

class SmtpSessionTest : public ::testing::Test {
protected:
    std::shared_ptr<WebmailLog> log = std::make_shared<WebmailLog>();
    FixedSettings settings;
    FakeWebmail* webmail = nullptr; // owned by the session

    std::unique_ptr<SmtpSession> makeSession(std::shared_ptr<ScriptedPeer> channel) {
        auto fake = std::make_unique<FakeWebmail>(log);
        webmail = fake.get();
        return std::make_unique<SmtpSession>(channel, std::move(fake), settings);
    }

    // Runs one conversation whose client sends each turn only after the
    // session's previous reply; returns everything the session wrote.
    // setup may adjust the fake before the run.
    std::string converse(const std::vector<std::string>& turns,
                         const std::function<void(FakeWebmail&)>& setup = {},
                         bool* threw = nullptr) {
        auto channel = std::make_shared<ScriptedPeer>(turns);
        auto session = makeSession(channel);
        if (setup) {
            setup(*webmail);
        }
        const bool failed = runToEnd(*session);
        if (threw != nullptr) {
            *threw = failed;
        }
        return channel->written();
    }

    static std::vector<std::string> join(std::vector<std::string> a,
                                         const std::vector<std::string>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    }
};

TEST_F(SmtpSessionTest, GreetingEhloAndQuit) {
    const std::string out = converse({"EHLO me\r\n", "QUIT\r\n"});
    EXPECT_EQ(std::string(kGreeting) + kEhlo + kBye, out);
    EXPECT_EQ("direct", log->proxy);
}

TEST_F(SmtpSessionTest, ProxySettingsReachTheClientOnlyForHttpProxies) {
    settings.useHttpProxy("proxy.local", 3128, "pu", "pp");
    converse({"QUIT\r\n"});
    EXPECT_EQ("proxy.local:3128:pu:pp", log->proxy);
    settings.v.proxyType = 3; // SOCKS5 is offered but connects direct
    converse({"QUIT\r\n"});
    EXPECT_EQ("direct", log->proxy);
}

TEST_F(SmtpSessionTest, RepliesBeforeAndAfterAuthentication) {
    // Every command word in both states, any letter case; the state is kept.
    struct Case {
        const char* line;
        const char* greeted;
        const char* authenticated;
    } cases[] = {
        {"HELO me\r\n", kAuthFirst, kUnknown},
        {"NOOP\r\n", kAuthFirst, kUnknown},
        {"ehlo me\r\n", kEhlo, kUnknown},
        {"EHLO me\r\n", kEhlo, kUnknown},
        {"rset\r\n", kOk, kOk},
        {"MAIL FROM:<a@b>\r\n", kAuthFirst, kOk},
        {"mail from:<a@b>\r\n", kAuthFirst, kOk},
        {"RCPT TO:<a@b>\r\n", kAuthFirst, kOk},
        {"\r\n", kAuthFirst, kUnknown},
        {"   \r\n", kAuthFirst, kUnknown},
        {"VRFY x\r\n", kAuthFirst, kUnknown},
        {"EHLOX\r\n", kAuthFirst, kUnknown},
        {"\x01\xff binary\r\n", kAuthFirst, kUnknown},
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::string before = converse({c.line, "QUIT\r\n"});
        EXPECT_EQ(std::string(kGreeting) + c.greeted + kBye, before) << "case " << i;
        const std::string after = converse(join(authTurns(), {c.line, "QUIT\r\n"}));
        EXPECT_EQ(std::string(kGreeting) + authReplies() + c.authenticated + kBye, after)
            << "case " << i;
        ++i;
    }
}

TEST_F(SmtpSessionTest, SecondAuthAfterLoginIsRefused) {
    const std::string out = converse(join(authTurns(), {"AUTH LOGIN\r\n", "QUIT\r\n"}));
    EXPECT_EQ(std::string(kGreeting) + authReplies() + kUnknown + kBye, out);
}

TEST_F(SmtpSessionTest, AuthWithAndWithoutInitialResponse) {
    struct Case {
        std::vector<std::string> turns;
        const char* prompts;
    } cases[] = {
        {{"AUTH LOGIN\r\n", encodeBase64("alice") + "\r\n", encodeBase64("secret") + "\r\n"},
         kAuthPrompts},
        {{"auth login " + encodeBase64("alice") + "\r\n", encodeBase64("secret") + "\r\n"},
         "334 UGFzc3dvcmQ6\r\n"},
        {{"AUTH LOGIN   " + encodeBase64("alice") + "  \r\n", encodeBase64("secret") + "\r\n"},
         "334 UGFzc3dvcmQ6\r\n"},
        // Another mechanism's initial response is not a LOGIN user name.
        {{"AUTH PLAIN Zm9v\r\n", encodeBase64("alice") + "\r\n", encodeBase64("secret") + "\r\n"},
         kAuthPrompts},
    };
    int i = 0;
    for (const Case& c : cases) {
        log->calls.clear();
        const std::string out = converse(join(c.turns, {"QUIT\r\n"}));
        EXPECT_EQ(std::string(kGreeting) + c.prompts + kLoggedIn + kBye, out) << "case " << i;
        EXPECT_EQ((std::vector<std::string>{"adopt alice", "login alice secret"}), log->calls)
            << "case " << i;
        ++i;
    }
}

TEST_F(SmtpSessionTest, SavedSessionSkipsLoginWhateverThePassword) {
    const std::string out = converse(join(authTurns("alice", "wrong"), {"QUIT\r\n"}),
                                     [](FakeWebmail& w) { w.hasSaved = true; });
    EXPECT_EQ(std::string(kGreeting) + authReplies() + kBye, out);
    EXPECT_EQ(std::vector<std::string>{"adopt alice"}, log->calls);
}

TEST_F(SmtpSessionTest, RefusedLoginStaysGreetedAndAllowsAnotherAuth) {
    int attempts = 0;
    const std::string out =
        converse(join(join(authTurns("alice", "bad"), {"MAIL FROM:<a@b>\r\n"}),
                      join(authTurns("alice", "good"), {"MAIL FROM:<a@b>\r\n", "QUIT\r\n"})),
                 [&](FakeWebmail& w) {
                     w.onLogin = [&](const std::string&, const std::string& password) {
                         ++attempts;
                         if (password == "bad") {
                             throw CVurelClient::Error("http://login.vurel.example/config/login");
                         }
                     };
                 });
    EXPECT_EQ(std::string(kGreeting) + kAuthPrompts + "535 authentication failed\r\n" + kAuthFirst +
                  authReplies() + kOk + kBye,
              out);
    EXPECT_EQ(2, attempts);
}

TEST_F(SmtpSessionTest, NetworkFailureDuringLoginEndsWithoutReply) {
    bool threw = false;
    const std::string out = converse(
        join(authTurns(), {"QUIT\r\n"}),
        [](FakeWebmail& w) {
            w.onLogin = [](const std::string&, const std::string&) {
                throw CBlockSocket::Canceled();
            };
        },
        &threw);
    EXPECT_EQ(std::string(kGreeting) + kAuthPrompts, out);
    EXPECT_FALSE(threw);
}

std::vector<std::string> messageTurns(const std::vector<std::string>& rcpts,
                                      const std::string& data) {
    std::vector<std::string> turns = {"MAIL FROM:<me@x>\r\n"};
    for (const std::string& r : rcpts) {
        turns.push_back("RCPT TO:<" + r + ">\r\n");
    }
    turns.push_back("DATA\r\n");
    turns.push_back(data);
    return turns;
}

std::string messageReplies(std::size_t rcpts, const char* final = kOk) {
    std::string out = kOk;
    for (std::size_t i = 0; i < rcpts; ++i) {
        out += kOk;
    }
    return out + "354 OK\r\n" + final;
}

TEST_F(SmtpSessionTest, MessageIsAnalysedAndPostedWithBlindCopies) {
    settings.v.saveSent = true;
    const std::string data = "To: Bob <bob@x.example>\r\n"
                             "Cc: carol@x.example\r\n"
                             "Subject: Hello & bye\r\n"
                             "\r\n"
                             "..dotted line\r\n"
                             "last line\r\n.\r\n";
    const std::string out = converse(
        join(join(authTurns(), messageTurns({"zed@x.example", "bob@x.example", "al@x.example",
                                             "bob@x.example", "Carol@X.example"},
                                            data)),
             {"QUIT\r\n"}));
    EXPECT_EQ(std::string(kGreeting) + authReplies() + messageReplies(5) + kBye, out);
    ASSERT_EQ(1u, log->sent.size());
    const SentMessage& m = log->sent[0];
    EXPECT_EQ("Bob <bob@x.example>", m.to);
    EXPECT_EQ("carol@x.example", m.cc);
    EXPECT_EQ("al@x.example,zed@x.example", m.bcc);
    EXPECT_EQ("Hello & bye", m.subject);
    EXPECT_EQ(".dotted line\r\nlast line", m.body);
    EXPECT_EQ("", m.format);
    EXPECT_TRUE(m.saveCopy);
}

TEST_F(SmtpSessionTest, TerminatorAndEmptyMessages) {
    // However the message is split into packets, the same text arrives; a
    // lone dot right after "354 OK" is an empty message.
    struct Case {
        std::vector<std::string> data;
        const char* body;
    } cases[] = {
        {{".\r\n"}, ""},
        {{".", "\r", "\n"}, ""},
        {{"\r\n.\r\n"}, ""},
        {{"To: a@x\r\n\r\nBody\r\n.\r\n"}, "Body"},
        {{"To: a@x\r\n\r\nends with dot.\r\n.\r\n"}, "ends with dot."},
        {{"To: a@x\r\n\r\nx.\r\n", "y\r\n.\r\n"}, "x.\r\ny"},
        {{"To: a@x\r\n\r\nsp", "lit\r", "\n.", "\r", "\n"}, "split"},
        {{"To: a@x\r\n\r\n..\r\n.\r\n"}, "."},
        {{"To: a@x\r\n\r\na\r\n.x\r\n..\r\n.\r\n"}, "a\r\nx\r\n."},
        {{"To: a@x\r\n\r\nbare\n.\nLF\r\n.\r\n"}, "bare\n.\nLF"},
    };
    int i = 0;
    for (const Case& c : cases) {
        log->sent.clear();
        std::vector<std::string> turns = authTurns();
        turns.push_back("DATA\r\n");
        turns.insert(turns.end(), c.data.begin(), c.data.end());
        turns.push_back("QUIT\r\n");
        const std::string out = converse(turns);
        EXPECT_EQ(std::string(kGreeting) + authReplies() + "354 OK\r\n" + kOk + kBye, out)
            << "case " << i;
        ASSERT_EQ(1u, log->sent.size()) << "case " << i;
        EXPECT_EQ(c.body, log->sent[0].body) << "case " << i;
        ++i;
    }
}

TEST_F(SmtpSessionTest, AMessageThatCannotBeAnalysedIsNotPosted) {
    std::vector<std::string> turns = authTurns();
    turns.insert(turns.end(), {"DATA\r\n", " \t\r\n.\r\n", "QUIT\r\n"});
    EXPECT_EQ(std::string(kGreeting) + authReplies() + "354 OK\r\n" + kNotSent + kBye,
              converse(turns));
    EXPECT_TRUE(log->sent.empty());
}

TEST_F(SmtpSessionTest, HtmlAlternativeGivesHtmlFormat) {
    const std::string data = "To: a@x\r\n"
                             "Content-Type: multipart/alternative; boundary=\"b\"\r\n"
                             "\r\n"
                             "--b\r\nContent-Type: text/plain\r\n\r\nplain\r\n"
                             "--b\r\nContent-Type: text/html\r\n\r\n<p>html</p>\r\n"
                             "--b--\r\n.\r\n";
    converse(join(join(authTurns(), messageTurns({"a@x"}, data)), {"QUIT\r\n"}));
    ASSERT_EQ(1u, log->sent.size());
    EXPECT_EQ("html", log->sent[0].format);
    EXPECT_EQ("<p>html</p>", log->sent[0].body);
    EXPECT_EQ("", log->sent[0].bcc);
}

TEST_F(SmtpSessionTest, NewMailStartsAFreshRecipientSetButDataKeepsIt) {
    const std::string first = "To: one@x\r\n\r\nfirst\r\n.\r\n";
    const std::string second = "To: two@x\r\n\r\nsecond\r\n.\r\n";
    std::vector<std::string> turns = authTurns();
    turns = join(turns, messageTurns({"one@x", "hidden@x"}, first));
    turns = join(turns, messageTurns({"two@x"}, second));
    // DATA again without MAIL: the last transaction's recipients stay.
    turns = join(turns, {"DATA\r\n", second, "RSET\r\n", "DATA\r\n", second, "QUIT\r\n"});
    converse(turns);
    ASSERT_EQ(4u, log->sent.size());
    EXPECT_EQ("hidden@x", log->sent[0].bcc);
    EXPECT_EQ("", log->sent[1].bcc);
    EXPECT_EQ("", log->sent[2].bcc);
    EXPECT_EQ("", log->sent[3].bcc);
}

TEST_F(SmtpSessionTest, RcptWithoutAddressStillAnswersOk) {
    std::vector<std::string> turns = authTurns();
    turns = join(turns, {"MAIL FROM:<me@x>\r\n", "RCPT TO:broken\r\n", "RCPT\r\n",
                         "RCPT TO:<kept@x>\r\n", "DATA\r\n", "\r\nbody\r\n.\r\n", "QUIT\r\n"});
    const std::string out = converse(turns);
    EXPECT_EQ(std::string(kGreeting) + authReplies() + messageReplies(3) + kBye, out);
    ASSERT_EQ(1u, log->sent.size());
    EXPECT_EQ("kept@x", log->sent[0].bcc);
}

TEST_F(SmtpSessionTest, StaleSavedSessionIsRenewedOnceAndSentOnce) {
    settings.v.saveSent = true;
    const std::string data = "To: a@x\r\n\r\nbody\r\n.\r\n";
    const std::string out =
        converse(join(join(authTurns("alice", "pw"), messageTurns({"a@x"}, data)), {"QUIT\r\n"}),
                 [](FakeWebmail& w) {
                     w.hasSaved = true;
                     w.onSend.push_back([] { throw CVurelClient::InvalidCookie(); });
                 });
    EXPECT_EQ(std::string(kGreeting) + authReplies() + messageReplies(1) + kBye, out);
    EXPECT_EQ((std::vector<std::string>{"adopt alice", "send", "login alice pw", "send"}),
              log->calls);
    ASSERT_EQ(1u, log->sent.size());
    EXPECT_TRUE(log->sent[0].saveCopy);
}

TEST_F(SmtpSessionTest, StaleSessionIsNotRenewedTwice) {
    const std::string data = "To: a@x\r\n\r\nbody\r\n.\r\n";
    const std::string out = converse(
        join(join(authTurns(), messageTurns({"a@x"}, data)), {"QUIT\r\n"}), [](FakeWebmail& w) {
            w.hasSaved = true;
            w.onSend.push_back([] { throw CVurelClient::InvalidCookie(); });
            w.onSend.push_back([] { throw CVurelClient::InvalidCookie(); });
        });
    EXPECT_EQ(std::string(kGreeting) + authReplies() + messageReplies(1, kNotSent) + kBye, out);
    EXPECT_EQ((std::vector<std::string>{"adopt alice", "send", "login alice secret", "send"}),
              log->calls);
}

TEST_F(SmtpSessionTest, FreshLoginIsNotRetriedAndRefusalKeepsState) {
    const std::string data = "To: a@x\r\n\r\nbody\r\n.\r\n";
    std::vector<std::string> turns = join(authTurns(), messageTurns({"a@x"}, data));
    turns = join(turns, messageTurns({"a@x"}, data));
    turns.push_back("QUIT\r\n");
    const std::string out = converse(turns, [](FakeWebmail& w) {
        w.onSend.push_back([] { throw CVurelClient::InvalidCookie(); });
        w.onSend.push_back([] { throw CVurelClient::Error("http://m/vm/Compose?YY=1"); });
    });
    EXPECT_EQ(std::string(kGreeting) + authReplies() + messageReplies(1, kNotSent) +
                  messageReplies(1, kNotSent) + kBye,
              out);
    EXPECT_EQ((std::vector<std::string>{"adopt alice", "login alice secret", "send", "send"}),
              log->calls);
    EXPECT_TRUE(log->sent.empty());
}

TEST_F(SmtpSessionTest, FailedRenewalAnswersNotSent) {
    const std::string data = "To: a@x\r\n\r\nbody\r\n.\r\n";
    const std::string out = converse(
        join(join(authTurns(), messageTurns({"a@x"}, data)), {"QUIT\r\n"}), [](FakeWebmail& w) {
            w.hasSaved = true;
            w.onSend.push_back([] { throw CVurelClient::InvalidCookie(); });
            w.onLogin = [](const std::string&, const std::string&) {
                throw CVurelClient::Error("http://login/config/login");
            };
        });
    EXPECT_EQ(std::string(kGreeting) + authReplies() + messageReplies(1, kNotSent) + kBye, out);
}

TEST_F(SmtpSessionTest, NetworkFailureDuringSendEndsWithoutReply) {
    const std::string data = "To: a@x\r\n\r\nbody\r\n.\r\n";
    bool threw = false;
    const std::string out = converse(
        join(join(authTurns(), messageTurns({"a@x"}, data)), {"QUIT\r\n"}),
        [](FakeWebmail& w) { w.onSend.push_back([] { throw CBlockSocket::Error("receive"); }); },
        &threw);
    EXPECT_EQ(std::string(kGreeting) + authReplies() + kOk + kOk + "354 OK\r\n", out);
    EXPECT_FALSE(threw);
}

TEST_F(SmtpSessionTest, CancelDuringLoginOrSendClosesWithoutReply) {
    const std::string data = "To: a@x\r\n\r\nbody\r\n.\r\n";
    for (int during = 0; during < 2; ++during) {
        log->calls.clear();
        log->sent.clear();
        auto channel = std::make_shared<ScriptedPeer>(
            join(join(authTurns(), messageTurns({"a@x"}, data)), {"QUIT\r\n"}));
        auto session = makeSession(channel);
        Gate gate;
        auto blockUntilAborted = [&gate] {
            gate.enterAndWait();
            throw CBlockSocket::Canceled(); // what the closed request raises
        };
        if (during == 0) {
            webmail->onLogin = [&](const std::string&, const std::string&) { blockUntilAborted(); };
        } else {
            webmail->onSend.push_back(blockUntilAborted);
        }
        webmail->onAbort = [&gate] { gate.release(); };
        ASSERT_TRUE(cancelWhenEntered(*session, gate)) << "during " << during;
        const std::string expected =
            during == 0 ? std::string(kGreeting) + kAuthPrompts
                        : std::string(kGreeting) + authReplies() + kOk + kOk + "354 OK\r\n";
        EXPECT_EQ(expected, channel->written()) << "during " << during;
        EXPECT_TRUE(channel->closed()) << "during " << during;
        EXPECT_TRUE(log->sent.empty()) << "during " << during;
        // Nothing more is read: the conversation ended at the Cancel.
        EXPECT_EQ(during == 0 ? 5u : 1u, channel->unread()) << "during " << during;
    }
}

TEST_F(SmtpSessionTest, DataEndedByCloseIsNeverSent) {
    struct Case {
        std::vector<std::string> data;
    } cases[] = {
        {{}},
        {{"To: a@x\r\n\r\nunfinished"}},
        {{"To: a@x\r\n\r\nunfinished\r\n"}},
        {{"To: a@x\r\n\r\nalmost\r\n."}},
        {{"To: a@x\r\n\r\nalmost\r\n.\r"}},
        {{"x.\r\n", "y.\r\n"}},
    };
    int i = 0;
    for (const Case& c : cases) {
        log->sent.clear();
        std::vector<std::string> turns = join(authTurns(), {"DATA\r\n"});
        turns.insert(turns.end(), c.data.begin(), c.data.end());
        const std::string out = converse(turns);
        EXPECT_EQ(std::string(kGreeting) + authReplies() + "354 OK\r\n", out) << "case " << i;
        EXPECT_TRUE(log->sent.empty()) << "case " << i;
        ++i;
    }
}

TEST_F(SmtpSessionTest, ClientCloseEndsTheConversation) {
    bool threw = false;
    // A last unfinished line of two bytes or more is still a command.
    std::string out = converse({"EHLO"}, {}, &threw);
    EXPECT_EQ(std::string(kGreeting) + kEhlo, out);
    EXPECT_TRUE(threw);
    out = converse({"Q"}, {}, &threw);
    EXPECT_EQ(kGreeting, out);
    EXPECT_TRUE(threw);
}

TEST_F(SmtpSessionTest, OverlongCommandLineEndsTheConversation) {
    bool threw = false;
    const std::string huge(SmtpSession::kMaxCommandLine + 16384, 'A');
    std::vector<std::string> turns;
    for (std::size_t i = 0; i < huge.size(); i += 16384) {
        turns.push_back(huge.substr(i, 16384));
    }
    std::string out = converse(turns, {}, &threw);
    EXPECT_EQ(std::string(kGreeting) + "500 Line too long\r\n", out);
    EXPECT_TRUE(threw);
    // A DATA line has no such bound.
    const std::string longData(3 * SmtpSession::kMaxCommandLine, 'b');
    turns = authTurns();
    turns.insert(turns.end(), {"DATA\r\n", "To: a@x\r\n\r\n" + longData + "\r\n.\r\n"});
    out = converse(turns);
    EXPECT_EQ(std::string(kGreeting) + authReplies() + "354 OK\r\n" + kOk, out);
    ASSERT_EQ(log->sent.size(), 1u);
    EXPECT_EQ(log->sent[0].body, longData);
    // A long line that does end within the bound is an ordinary command.
    const std::string longLine = "NOOP " + std::string(60000, 'x') + "\r\n";
    out = converse({longLine, "QUIT\r\n"});
    EXPECT_EQ(std::string(kGreeting) + kAuthFirst + kBye, out);
}

} // namespace
} // namespace quill
