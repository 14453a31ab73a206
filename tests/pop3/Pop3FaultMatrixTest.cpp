// The POP3 service end to end (listener, session, web-mail client over
// loopback) against the site simulator with one fault per row: each row states
// the reply the mail client gets, and the service then serves the next
// conversation. No row waits longer than the client's 20 s time-out; a Cancel
// row ends as soon as the request it cancels is on its way.

#include "pop3/Pop3Server.h"

#include "net/CBlockSocket.h"
#include "net/ServiceWindow.h"
#include "net/Session.h"
#include "site/SiteSimulator.h"
#include "webmail/CookieJar.h"
#include "webmail/SocketStream.h"

#include "support/FixedSettings.h"

#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace quill {
namespace {

// Presses Cancel once a request whose URL holds cancelAt has been shown.
class CancelingWindow : public ServiceWindow {
public:
    std::string cancelAt;

    void setStatus(const std::string&) override {}
    void setDetail(const std::string& url) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!cancelAt.empty() && url.find(cancelAt) != std::string::npos) {
            shown_ = true;
            changed_.notify_all();
        }
    }
    void hide() override {}
    void setPopup(bool) override {}
    bool popup() const override { return false; }
    void setCancelTarget(Session* session) override {
        std::lock_guard<std::mutex> lock(mutex_);
        target_ = session;
    }
    // Waits (bounded) for the request, then cancels the conversation.
    bool cancelWhenShown() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(20), [&] { return shown_; })) {
            return false;
        }
        if (target_ != nullptr) {
            target_->abort();
        }
        return true;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool shown_ = false;
    Session* target_ = nullptr;
};

class Client {
public:
    explicit Client(int port) : socket_(20, 20) {
        socket_.connect("127.0.0.1", port);
        stream_ = std::make_unique<SocketStream>(socket_);
    }
    std::string line() { return stream_->readLine(); }
    std::string command(const std::string& text) {
        stream_->writeLine(text);
        stream_->flush();
        return line();
    }
    // The reply line, or "closed" when the service ends the conversation.
    std::string tryCommand(const std::string& text) {
        try {
            return command(text);
        } catch (const std::exception&) {
            return "closed";
        }
    }
    // A multi-line reply's status line; the rest up to "." is read off.
    std::string multiLine(const std::string& text) {
        const std::string status = tryCommand(text);
        if (status.compare(0, 3, "+OK") == 0) {
            while (line() != ".") {
            }
        }
        return status;
    }

private:
    CBlockSocket socket_;
    std::unique_ptr<SocketStream> stream_;
};

enum class Step { SignIn, Stat, Retr };

struct Row {
    const char* name;
    const char* path;    // the fault's path prefix
    site::Fault fault;   // applied to the next matching request only
    Step step;           // where the reply is checked
    const char* reply;   // "closed": the service ends the conversation silently
    bool cancel = false; // Cancel while the faulty request is in flight
};

site::Fault status(int code) {
    site::Fault f;
    f.status = code;
    return f;
}
site::Fault cut(long bytes) {
    site::Fault f;
    f.closeAfterBytes = bytes;
    return f;
}
site::Fault malformed() {
    site::Fault f;
    f.malformed = true;
    return f;
}
site::Fault loop() {
    site::Fault f;
    f.redirectLoop = true;
    return f;
}
site::Fault stall() {
    site::Fault f;
    f.delay = std::chrono::milliseconds(20000);
    return f;
}

const char* const kList = "/vm/ShowFolder";
const char* const kLetter = "/vm/ShowLetter";

const Row kRows[] = {
    {"front page refused", "/", status(503), Step::SignIn, "-ERR Bad Login."},
    {"front page closed unanswered", "/", cut(0), Step::SignIn, "-ERR Bad Login."},
    {"front page cut mid-answer", "/", cut(40), Step::SignIn, "-ERR Bad Login."},
    {"front page garbage", "/", malformed(), Step::SignIn, "-ERR Bad Login."},
    {"login redirect loop", "/config/login", loop(), Step::SignIn, "-ERR Bad Login."},
    {"listing wrong status", kList, status(500), Step::SignIn, "-ERR Bad Login."},
    {"listing cut mid-answer", kList, cut(100), Step::SignIn, "-ERR Bad Login."},
    {"listing garbage", kList, malformed(), Step::Stat, "+OK 0 0"},
    {"print view wrong status", kLetter, status(500), Step::Retr,
     "-ERR retrieve mail header error"},
    {"print view closed unanswered", kLetter, cut(0), Step::Retr,
     "-ERR retrieve mail header error"},
    {"print view cut mid-answer", kLetter, cut(150), Step::Retr, "-ERR retrieve mail header error"},
    // An HTML error page in place of the raw text cannot be told from a
    // message's text: it is delivered as one.
    {"print view garbage", kLetter, malformed(), Step::Retr, "+OK"},
    {"Cancel during sign-in", "/", stall(), Step::SignIn, "closed", true},
    {"Cancel during listing", kList, stall(), Step::SignIn, "closed", true},
    {"Cancel during RETR", kLetter, stall(), Step::Retr, "closed", true},
};

class Pop3FaultMatrix : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        site::SiteConfig config;
        config.users = {{"ann", "secret"}};
        sim = std::make_unique<site::SiteSimulator>(config);
        sim->site().addMessage("ann", "Inbox", "Subject: one\r\n\r\nbody\r\n");
        settings.v.pop3Port = 0;
        settings.v.inbox = true;
        settings.v.proxyType = 1;
        settings.v.proxy = "127.0.0.1";
        settings.v.proxyPort = sim->start();
        ListenerService::Options options;
        options.receiveTimeoutMs = 20000;
        options.sendTimeoutMs = 20000;
        server = makePop3Server(settings, window, jar, options);
        server->start();
        ASSERT_EQ(ListenerService::State::Listening, server->waitUntilReady());
    }
    void TearDown() override {
        server->stop();
        sim->stop();
    }

    std::unique_ptr<site::SiteSimulator> sim;
    FixedSettings settings;
    CancelingWindow window;
    CookieJar jar;
    std::unique_ptr<Pop3Service> server;
};

TEST_P(Pop3FaultMatrix, RowGetsItsReplyAndTheNextConversationIsServed) {
    const Row& row = GetParam();
    site::Fault fault = row.fault;
    fault.times = 1;
    if (row.cancel) {
        window.cancelAt = row.path == std::string("/") ? "http://mail.vurel.example/" : row.path;
    }
    // The reply to text, with Cancel pressed meanwhile on a Cancel row.
    auto ask = [&](Client& c, const std::string& text, bool multiLine) {
        std::thread presser;
        if (row.cancel) {
            presser = std::thread([&] { EXPECT_TRUE(window.cancelWhenShown()); });
        }
        const std::string reply = multiLine ? c.multiLine(text) : c.tryCommand(text);
        if (presser.joinable()) {
            presser.join();
        }
        return reply;
    };
    std::string got;
    {
        Client c(server->boundPort());
        ASSERT_EQ(0u, c.line().find("+OK"));
        ASSERT_EQ(0u, c.command("USER ann").find("+OK"));
        if (row.step == Step::Retr) {
            ASSERT_EQ("+OK User password accepted", c.command("PASS secret"));
            sim->site().setFault(row.path, fault);
            got = ask(c, "RETR 1", true);
        } else {
            sim->site().setFault(row.path, fault);
            got = ask(c, "PASS secret", false);
            if (row.step == Step::Stat) {
                ASSERT_EQ("+OK User password accepted", got);
                got = c.tryCommand("STAT");
            }
        }
        c.tryCommand("QUIT");
    }
    EXPECT_EQ(row.reply, got) << row.name;

    sim->site().clearFaults();
    Client next(server->boundPort());
    EXPECT_EQ(0u, next.line().find("+OK")) << row.name;
    next.command("USER ann");
    EXPECT_EQ("+OK User password accepted", next.command("PASS secret")) << row.name;
    EXPECT_EQ("+OK 1", next.command("STAT").substr(0, 5)) << row.name;
    EXPECT_EQ(0u, next.command("QUIT").find("+OK")) << row.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, Pop3FaultMatrix, ::testing::ValuesIn(kRows),
                         [](const ::testing::TestParamInfo<Row>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c) {
                                 name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
                             }
                             return name;
                         });

} // namespace
} // namespace quill
