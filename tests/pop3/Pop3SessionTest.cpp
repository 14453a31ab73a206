#include "pop3/Pop3Session.h"

#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"
#include "net/ServiceSettings.h"
#include "net/ServiceWindow.h"
#include "webmail/CVurelClient.h"
#include "webmail/Pop3Webmail.h"

#include "support/CallLog.h"
#include "support/FixedSettings.h"
#include "support/RecordingWindow.h"
#include "support/ScriptedPeer.h"
#include "support/SessionRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

// The options of these conversations: inbox listed, pop-up and trash emptying on.
SettingsValues pop3Options() {
    SettingsValues v;
    v.inbox = true;
    v.popup = true;
    v.emptyTrash = true;
    return v;
}

struct Message {
    std::string id;
    int size;
    std::string header;
    std::string text;
};

// A scripted web-mail side over a fixed inbox. Hooks, keyed by call name
// ("login", "list", "header", "text", "delete", "trash"), run before the call
// does its work and may throw; each hook is used once, in order.
class FakeWebmail : public Pop3Webmail {
public:
    FakeWebmail(std::shared_ptr<CallLog> log, std::vector<Message> inbox)
        : log_(std::move(log)), inbox_(std::move(inbox)) {}

    bool hasSaved = false;
    std::map<std::string, std::deque<std::function<void()>>> hooks;
    std::function<void()> onAbort;

    void useProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password) override {
        log_->add("proxy " + host + ":" + std::to_string(port) + " " + user + ":" + password);
    }
    void useDirect() override { log_->add("direct"); }
    bool adoptSaved(const std::string& user, const std::string&) override {
        log_->add("adopt " + user);
        return hasSaved;
    }
    void login(const std::string& user, const std::string& password) override {
        log_->add("login " + user + " " + password);
        hook("login");
    }
    MessageList listInbox() override {
        log_->add("list");
        hook("list");
        MessageList list;
        for (const auto& m : inbox_)
            list.emplace_back(m.id, m.size);
        return list;
    }
    std::string fetchHeader(const MessageRef& message) override {
        log_->add("header " + std::string(message.id()));
        hook("header");
        return find(message).header;
    }
    std::string fetchText(const MessageRef& message) override {
        log_->add("text " + std::string(message.id()));
        hook("text");
        return find(message).text;
    }
    void deleteMessages(const MessageList& messages) override {
        std::string call = "delete";
        for (const auto& m : messages)
            call += " " + std::string(m.id());
        log_->add(call);
        hook("delete");
    }
    void emptyTrash() override {
        log_->add("trash");
        hook("trash");
    }
    void abort() noexcept override {
        log_->add("abort");
        if (onAbort)
            onAbort();
    }

private:
    void hook(const std::string& name) {
        auto& queue = hooks[name];
        if (queue.empty())
            return;
        auto h = queue.front();
        queue.pop_front();
        h();
    }
    const Message& find(const MessageRef& ref) const {
        for (const auto& m : inbox_)
            if (m.id == ref.id())
                return m;
        throw CVurelClient::Error("no such id");
    }

    std::shared_ptr<CallLog> log_;
    std::vector<Message> inbox_;
};

const char* const kGreeting = "+OK Quillmere POP3 service ready\r\n";
const char* const kUserOk = "+OK User name accepted, password please\r\n";
const char* const kPassOk = "+OK User password accepted\r\n";
const char* const kBadLogin = "-ERR Bad Login.\r\n";
const char* const kBye = "+OK VUREL POP3 Server signing off\r\n";
const char* const kUnknown = "-ERR Unknown POP3 command\r\n";
const char* const kNoSuch = "-ERR no such message\r\n";
const char* const kRetrieveError = "-ERR retrieve mail header error\r\n";
const char* const kNotRemoved = "-ERR some deleted messages not removed\r\n";

std::vector<Message> threeMessages() {
    return {
        {"m1", 120, "Subject: one\r\n\r\n", "Hello\r\n.\r\n.dot\r\nend\r\n"},
        {"m2", 3400, "Subject: two\r\n\r\n", "Second"},
        {"m3", 5, "Subject: three", "Third\r\n"},
    };
}

std::vector<std::string> login(std::vector<std::string> more) {
    std::vector<std::string> turns = {"USER alice\r\n", "PASS secret\r\n"};
    turns.insert(turns.end(), more.begin(), more.end());
    return turns;
}

class Pop3SessionTest : public ::testing::Test {
protected:
    std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
    FixedSettings settings{pop3Options()};
    RecordingWindow window;
    std::vector<Message> inbox = threeMessages();

    // Runs one conversation and returns everything the session wrote. threw
    // tells whether run() ended by an exception (the listener's catch).
    std::string converse(const std::vector<std::string>& turns,
                         const std::function<void(FakeWebmail&)>& setup = {},
                         bool* threw = nullptr) {
        auto channel = std::make_shared<ScriptedPeer>(turns);
        auto fake = std::make_unique<FakeWebmail>(log, inbox);
        if (setup)
            setup(*fake);
        Pop3Session session(channel, std::move(fake), settings, window);
        const bool thrown = runToEnd(session);
        if (threw)
            *threw = thrown;
        return channel->written();
    }
};

TEST_F(Pop3SessionTest, AuthorizationReplies) {
    struct Case {
        std::vector<std::string> turns;
        std::string replies;
        std::vector<std::string> calls;
    } cases[] = {
        // USER without a name leaves the name empty: PASS is refused.
        {{"USER\r\n", "PASS x\r\n", "QUIT\r\n"},
         std::string(kUserOk) + kBadLogin + kBye,
         {"direct"}},
        // A later USER without a name keeps the first name.
        {{"USER bob\r\n", "USER\r\n", "PASS pw\r\n", "QUIT\r\n"},
         std::string(kUserOk) + kUserOk + kPassOk + kBye,
         {"direct", "adopt bob", "login bob pw", "list"}},
        // PASS without a password.
        {{"USER bob\r\n", "PASS\r\n", "QUIT\r\n"},
         std::string(kUserOk) + kBadLogin + kBye,
         {"direct"}},
        // Lower-case and mixed-case command words are commands.
        {{"user bob\r\n", "pAsS pw\r\n", "quit\r\n"},
         std::string(kUserOk) + kPassOk + kBye,
         {"direct", "adopt bob", "login bob pw", "list"}},
        // Unknown words, empty lines, words with extra letters, transaction
        // commands before sign-in.
        {{"\r\n", "USERS bob\r\n", "STAT\r\n", "   \r\n", "QUIT\r\n"},
         std::string(kUnknown) + kUnknown + kUnknown + kUnknown + kBye,
         {"direct"}},
        // Arguments are words: extra blanks and extra words do not matter.
        {{"  USER   bob  extra\r\n", "PASS  pw  more\r\n", "QUIT\r\n"},
         std::string(kUserOk) + kPassOk + kBye,
         {"direct", "adopt bob", "login bob pw", "list"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        log = std::make_shared<CallLog>();
        EXPECT_EQ(converse(cases[i].turns), kGreeting + cases[i].replies) << "case " << i;
        EXPECT_EQ(log->snapshot(), cases[i].calls) << "case " << i;
    }
}

TEST_F(Pop3SessionTest, ProxySettingsAreCopiedOnlyForAnHttpProxy) {
    settings.useHttpProxy("proxy.local", 3128, "pu", "pp");
    converse({"QUIT\r\n"});
    settings.v.proxyType = 3; // SOCKS5 is stored only
    converse({"QUIT\r\n"});
    EXPECT_EQ(log->snapshot(),
              (std::vector<std::string>{"proxy proxy.local:3128 pu:pp", "direct"}));
}

TEST_F(Pop3SessionTest, SignInFailures) {
    struct Case {
        std::function<void(FakeWebmail&)> setup;
        std::string replies;
        std::vector<std::string> calls;
        bool threw;
    } cases[] = {
        // The site refuses the sign-in: Bad Login, the name stays, a retry works.
        {[](FakeWebmail& w) { w.hooks["login"].push_back([] { throw CVurelClient::Error("x"); }); },
         std::string(kUserOk) + kBadLogin + kPassOk + kBye,
         {"direct", "adopt alice", "login alice secret", "adopt alice", "login alice secret",
          "list"},
         false},
        // A saved session whose cookies went stale: sign in afresh and list again.
        {[](FakeWebmail& w) {
             w.hasSaved = true;
             w.hooks["list"].push_back([] { throw CVurelClient::InvalidCookie(); });
         },
         std::string(kUserOk) + kPassOk + kUnknown + kBye,
         {"direct", "adopt alice", "list", "login alice secret", "list"},
         false},
        // A listing error after sign-in is a refused sign-in too.
        {[](FakeWebmail& w) { w.hooks["list"].push_back([] { throw CVurelClient::Error("u"); }); },
         std::string(kUserOk) + kBadLogin + kPassOk + kBye,
         {"direct", "adopt alice", "login alice secret", "list", "adopt alice",
          "login alice secret", "list"},
         false},
        // The site unreachable during sign-in: the conversation ends, no reply.
        {[](FakeWebmail& w) {
             w.hooks["login"].push_back([] { throw CBlockSocket::Error("connect"); });
         },
         std::string(kUserOk),
         {"direct", "adopt alice", "login alice secret"},
         false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        log = std::make_shared<CallLog>();
        bool threw = true;
        const std::string out =
            converse({"USER alice\r\n", "PASS secret\r\n", "PASS secret\r\n", "QUIT\r\n"},
                     cases[i].setup, &threw);
        EXPECT_EQ(out, kGreeting + cases[i].replies) << "case " << i;
        EXPECT_EQ(log->snapshot(), cases[i].calls) << "case " << i;
        EXPECT_EQ(threw, cases[i].threw) << "case " << i;
    }
}

TEST_F(Pop3SessionTest, SavedSessionSignsInWithAnyPassword) {
    const std::string out =
        converse(login({"STAT\r\n", "QUIT\r\n"}), [](FakeWebmail& w) { w.hasSaved = true; });
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk + "+OK 3 3525\r\n" + kBye);
    EXPECT_EQ(log->snapshot(), (std::vector<std::string>{"direct", "adopt alice", "list"}));
}

TEST_F(Pop3SessionTest, InboxOffGivesAnEmptyMailbox) {
    settings.v.inbox = false;
    const std::string out =
        converse(login({"STAT\r\n", "LIST\r\n", "UIDL\r\n", "RETR 1\r\n", "QUIT\r\n"}));
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk + "+OK 0 0\r\n" +
                       "+OK 0 messages\r\n.\r\n" + "+OK\r\n.\r\n" + kNoSuch + kBye);
    EXPECT_EQ(log->snapshot(),
              (std::vector<std::string>{"direct", "adopt alice", "login alice secret"}));
}

TEST_F(Pop3SessionTest, ListingsWholeAndForOneMessage) {
    const std::string list = "+OK 3 messages\r\n1 120\r\n2 3400\r\n3 5\r\n.\r\n";
    const std::string uidl = "+OK\r\n1 m1\r\n2 m2\r\n3 m3\r\n.\r\n";
    const std::string out = converse(login(
        {"STAT\r\n", "LIST\r\n", "LIST  \r\n", "LIST 2\r\n", "list 4\r\n", "LIST x\r\n", "UIDL\r\n",
         "UIDL 3\r\n", "uidl 0\r\n", "NOOP\r\n", "USER x\r\n", "PASS y\r\n", "QUIT\r\n"}));
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk + "+OK 3 3525\r\n" + list + list +
                       "+OK 2 3400\r\n" + kNoSuch + kNoSuch + uidl + "+OK 3 m3\r\n" + kNoSuch +
                       "+OK right here\r\n" + kUnknown + kUnknown + kBye);
}

TEST_F(Pop3SessionTest, MessageNumberBounds) {
    const char* commands[] = {"RETR", "TOP", "DELE"};
    const char* arguments[] = {"", " 0", " 4", " x", " -1", " 99999999999999999999"};
    for (const char* command : commands) {
        for (const char* argument : arguments) {
            log = std::make_shared<CallLog>();
            const std::string out =
                converse(login({std::string(command) + argument + "\r\n", "QUIT\r\n"}));
            EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk + kNoSuch + kBye)
                << command << argument;
        }
    }
}

TEST_F(Pop3SessionTest, RetrSendsHeaderAndTextByteStuffed) {
    const std::string out = converse(login({"RETR 1\r\n", "retr 2\r\n", "RETR 3\r\n", "QUIT\r\n"}));
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk +
                       // A text that ends in CR LF gets no extra empty line.
                       "+OK\r\nSubject: one\r\n\r\nHello\r\n..\r\n..dot\r\nend\r\n.\r\n" +
                       // A text without a final line end gets one before the terminator.
                       "+OK\r\nSubject: two\r\n\r\nSecond\r\n.\r\n" +
                       // A header without its empty line is closed before the text.
                       "+OK\r\nSubject: three\r\n\r\nThird\r\n.\r\n" + kBye);
}

TEST_F(Pop3SessionTest, BareLineFeedsBecomeCrLfBeforeHeaderLinesAndDotsAreSeen) {
    inbox = {{"lf", 50, "Subject: lf\nX: y\n", "second line\n.\r\n+OK injected\r\nlast\n"}};
    const std::string out = converse(login({"RETR 1\r\n", "TOP 1 2\r\n", "QUIT\r\n"}));
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk +
                       "+OK\r\nSubject: lf\r\nX: y\r\n\r\nsecond line\r\n..\r\n+OK injected\r\n"
                       "last\r\n.\r\n" +
                       "+OK 37\r\nSubject: lf\r\nX: y\r\n\r\nsecond line\r\n..\r\n.\r\n" + kBye);
}

TEST_F(Pop3SessionTest, LargeTextsGoOutWholeInBoundedPieces) {
    // A 3 MB text: a 1.5 MB run without a dot line (more than the output
    // buffer holds), then dot lines every few bytes, so stuffed dots fall on
    // both sides of piece boundaries.
    std::string text(1500000, 'x');
    text += "\r\n";
    std::string stuffed = text;
    for (int i = 0; text.size() < 3000000; ++i) {
        const std::string line = "." + std::to_string(i) + "\r\n";
        text += line;
        stuffed += "." + line;
    }
    inbox = {{"big", static_cast<int>(text.size()), "Subject: big\r\n\r\n", text}};
    auto channel = std::make_shared<ScriptedPeer>(login({"RETR 1\r\n", "QUIT\r\n"}));
    Pop3Session session(channel, std::make_unique<FakeWebmail>(log, inbox), settings, window);
    session.run();
    EXPECT_EQ(channel->written(), std::string(kGreeting) + kUserOk + kPassOk +
                                      "+OK\r\nSubject: big\r\n\r\n" + stuffed + ".\r\n" + kBye);
    EXPECT_LE(channel->largestWrite(), 1u << 20); // never a second copy of the message
}

TEST_F(Pop3SessionTest, TopSendsTheHeaderAndTheLinesAskedFor) {
    inbox[0].header = ".Odd: header\r\n\r\n";
    const std::string out = converse(
        login({"TOP 1\r\n", "TOP 1 0\r\n", "TOP 1 2\r\n", "TOP 3 99999999\r\n", "QUIT\r\n"}));
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk +
                       "+OK 16\r\n..Odd: header\r\n\r\n.\r\n" +
                       "+OK 16\r\n..Odd: header\r\n\r\n.\r\n" +
                       "+OK 26\r\n..Odd: header\r\n\r\nHello\r\n..\r\n.\r\n" +
                       "+OK 25\r\nSubject: three\r\n\r\nThird\r\n.\r\n" + kBye);
    EXPECT_EQ(log->snapshot(),
              (std::vector<std::string>{"direct", "adopt alice", "login alice secret", "list",
                                        "header m1", "header m1", "header m1", "text m1",
                                        "header m3", "text m3"}));
}

TEST_F(Pop3SessionTest, RetrievalFailures) {
    struct Case {
        const char* command;
        std::function<void(FakeWebmail&)> setup;
        std::string reply;
        bool ended; // the conversation ended without reading QUIT
    } cases[] = {
        {"TOP 2 0",
         [](FakeWebmail& w) {
             w.hooks["header"].push_back([] { throw CVurelClient::Error("u"); });
         },
         kRetrieveError, false},
        {"TOP 2 0",
         [](FakeWebmail& w) {
             w.hooks["header"].push_back([] { throw CBlockSocket::Error("receive"); });
         },
         "", true},
        {"RETR 2",
         [](FakeWebmail& w) {
             w.hooks["header"].push_back([] { throw CVurelClient::Error("u"); });
         },
         kRetrieveError, false},
        {"RETR 2",
         [](FakeWebmail& w) { w.hooks["text"].push_back([] { throw CVurelClient::Error("u"); }); },
         kRetrieveError, false},
        {"RETR 2",
         [](FakeWebmail& w) {
             w.hooks["text"].push_back([] { throw CBlockSocket::Error("connect"); });
         },
         kRetrieveError, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::string out =
            converse(login({std::string(cases[i].command) + "\r\n", "QUIT\r\n"}), cases[i].setup);
        EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk + cases[i].reply +
                           (cases[i].ended ? "" : kBye))
            << "case " << i;
    }
}

TEST_F(Pop3SessionTest, DeletionAtQuit) {
    struct Case {
        std::vector<std::string> commands;
        bool emptyTrash;
        std::function<void(FakeWebmail&)> setup;
        std::string replies;
        std::vector<std::string> siteCalls; // after the sign-in's
    } cases[] = {
        {{"DELE 1", "DELE 1", "DELE 3"},
         true,
         {},
         "+OK message deleted\r\n+OK message deleted\r\n+OK message deleted\r\n",
         {"delete m1 m1 m3", "trash"}},
        {{"DELE 2"}, false, {}, "+OK message deleted\r\n", {"delete m2"}},
        // RSET forgets the marks: the site is not contacted.
        {{"DELE 1", "RSET"}, true, {}, "+OK message deleted\r\n+OK\r\n", {}},
        // Nothing marked: no request at all.
        {{}, true, {}, "", {}},
        // A marked message is still listed and retrievable.
        {{"DELE 2", "STAT", "RETR 2"},
         false,
         {},
         "+OK message deleted\r\n+OK 3 3525\r\n+OK\r\nSubject: two\r\n\r\nSecond\r\n.\r\n",
         {"header m2", "text m2", "delete m2"}},
        // The site down at QUIT: the error line, then the sign-off as usual.
        {{"DELE 1"},
         true,
         [](FakeWebmail& w) {
             w.hooks["delete"].push_back([] { throw CBlockSocket::Error("connect"); });
         },
         std::string("+OK message deleted\r\n") + kNotRemoved,
         {"delete m1"}},
        {{"DELE 1"},
         true,
         [](FakeWebmail& w) { w.hooks["trash"].push_back([] { throw CVurelClient::Error("u"); }); },
         std::string("+OK message deleted\r\n") + kNotRemoved,
         {"delete m1", "trash"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        log = std::make_shared<CallLog>();
        settings.v.emptyTrash = cases[i].emptyTrash;
        std::vector<std::string> turns;
        for (const auto& c : cases[i].commands)
            turns.push_back(c + "\r\n");
        turns.push_back("QUIT\r\n");
        const std::string out = converse(login(turns), cases[i].setup);
        EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk + cases[i].replies + kBye)
            << "case " << i;
        std::vector<std::string> calls = {"direct", "adopt alice", "login alice secret", "list"};
        calls.insert(calls.end(), cases[i].siteCalls.begin(), cases[i].siteCalls.end());
        EXPECT_EQ(log->snapshot(), calls) << "case " << i;
    }
}

TEST_F(Pop3SessionTest, MarksAreNotDeletedWithoutQuit) {
    bool threw = false;
    converse(login({"DELE 1\r\n"}), {}, &threw);
    EXPECT_TRUE(threw); // the client went away: the read fails
    EXPECT_EQ(log->snapshot(),
              (std::vector<std::string>{"direct", "adopt alice", "login alice secret", "list"}));
}

TEST_F(Pop3SessionTest, PopupFlagSequence) {
    converse(login({"STAT\r\n", "TOP 2 0\r\n", "TOP 1 0\r\n", "QUIT\r\n"}));
    EXPECT_EQ(window.events(), (std::vector<std::string>{"hide", "popup off", "popup on"}));

    window.take();
    inbox.clear();
    settings.v.popup = false;
    converse(login({"STAT\r\n", "QUIT\r\n"}));
    EXPECT_EQ(window.events(), (std::vector<std::string>{"hide", "popup off", "popup off"}));

    // A failed header fetch of message 1 still keeps the window down.
    window.take();
    inbox = threeMessages();
    converse(login({"TOP 1 0\r\n", "QUIT\r\n"}), [](FakeWebmail& w) {
        w.hooks["header"].push_back([] { throw CVurelClient::Error("u"); });
    });
    EXPECT_EQ(window.events(), (std::vector<std::string>{"hide", "popup off", "popup off"}));
}

TEST_F(Pop3SessionTest, CommandsSentAheadAreDiscarded) {
    const std::string out = converse({"USER alice\r\nPASS secret\r\n", "QUIT\r\n"});
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kBye);
}

TEST_F(Pop3SessionTest, CommandsSplitAcrossReceivesAreJoined) {
    const std::string out =
        converse({"US", "ER al", "ice\r", "\n", "PA", "SS secret\r\n", "QUIT\r\n"});
    EXPECT_EQ(out, std::string(kGreeting) + kUserOk + kPassOk + kBye);
}

TEST_F(Pop3SessionTest, BadInputGetsADefinedEnd) {
    struct Case {
        std::vector<std::string> turns;
        std::string replies;
    } cases[] = {
        // A partial last line is answered, then the read fails.
        {{"NOOP"}, kUnknown},
        {{"QUIT"}, kBye},
        // Binary bytes and NULs are just an unknown command.
        {{std::string("\0\xff\x01\r\n", 5), "QUIT\r\n"}, std::string(kUnknown) + kBye},
        // A line far beyond any real command line is answered, then ends it.
        {{std::string(Pop3Session::kMaxCommandLine + 10, 'A')}, "-ERR line too long\r\n"},
        // A long line within the bound is an unknown command.
        {{std::string(4000, 'A') + "\r\n", "QUIT\r\n"}, std::string(kUnknown) + kBye},
        // The client closes at once.
        {{}, ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(converse(cases[i].turns), kGreeting + cases[i].replies) << "case " << i;
    }
}

// Cancel from another thread while the session waits on the site: abort
// reaches the web-mail side and closes the mail client's connection, and the
// conversation ends without a further reply.
TEST_F(Pop3SessionTest, CancelDuringListingAndRetrieval) {
    for (const char* step : {"list", "text"}) {
        log = std::make_shared<CallLog>();
        Gate gate;
        auto channel = std::make_shared<ScriptedPeer>(login({"RETR 1\r\n", "QUIT\r\n"}));
        auto fake = std::make_unique<FakeWebmail>(log, inbox);
        fake->hooks[step].push_back([&gate] {
            gate.enterAndWait();
            throw CBlockSocket::Canceled();
        });
        fake->onAbort = [&gate] { gate.release(); };
        Pop3Session session(channel, std::move(fake), settings, window);
        ASSERT_TRUE(cancelWhenEntered(session, gate)) << step;

        EXPECT_TRUE(channel->closed()) << step;
        const std::string before = std::string(kGreeting) + kUserOk;
        EXPECT_EQ(channel->written(), std::string(step) == "list" ? before : before + kPassOk)
            << step;
        const auto calls = log->snapshot();
        EXPECT_EQ(calls.back(), "abort") << step;
    }
}

} // namespace
} // namespace quill
