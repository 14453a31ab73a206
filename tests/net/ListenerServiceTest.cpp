#include "net/ListenerService.h"
#include "net/Pop3Service.h"
#include "net/ServiceWindow.h"
#include "net/SmtpService.h"
#include "support/FixedSettings.h"
#include "support/RecordingWindow.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

using namespace quill;
using namespace std::chrono_literals;

namespace {

constexpr auto kPrompt = 10s;

// Any free port for both services; the window may pop up.
SettingsValues anyPort() {
    SettingsValues v;
    v.pop3Port = 0;
    v.smtpPort = 0;
    v.popup = true;
    return v;
}

// Greets with "+OK", echoes each received chunk, answers "BYE" to "QUIT",
// throws a non-standard exception for "THROW" and fails when the client goes.
class EchoSession : public Session {
public:
    explicit EchoSession(CBlockSocket connection) : connection_(std::move(connection)) {}
    void run() override {
        say("+OK\r\n");
        char buf[256];
        for (;;) {
            std::size_t n = connection_.receive(buf, sizeof buf);
            if (n == 0)
                throw std::runtime_error("read failure");
            std::string got(buf, n);
            if (got == "QUIT\r\n") {
                say("BYE\r\n");
                return;
            }
            if (got == "THROW\r\n")
                throw 42;
            say(got);
        }
    }
    void abort() noexcept override { connection_.close(); }

private:
    void say(const std::string& s) { connection_.write(s.data(), s.size()); }
    CBlockSocket connection_;
};

ListenerService::SessionFactory echoFactory() {
    return [](CBlockSocket c) { return std::make_unique<EchoSession>(std::move(c)); };
}

// A mail-client stand-in.
constexpr auto kClientTimeOut = 5s;

struct Client {
    CBlockSocket socket{5, 5};
    explicit Client(int port) { socket.connect("127.0.0.1", port); }
    std::string read() {
        char buf[256];
        std::size_t n = socket.receive(buf, sizeof buf);
        return std::string(buf, n);
    }
    void send(const std::string& s) { socket.write(s.data(), s.size()); }
    // The server's end of the conversation: end of stream or a reset, well
    // before the client's own receive time-out.
    bool closedByServer() {
        auto start = std::chrono::steady_clock::now();
        try {
            char b[16];
            return socket.receive(b, sizeof b) == 0;
        } catch (const CBlockSocket::Canceled&) {
            return false;
        } catch (const CBlockSocket::Error&) {
            return std::chrono::steady_clock::now() - start < kClientTimeOut / 2;
        }
    }
    // One full conversation.
    void talk() {
        EXPECT_EQ(read(), "+OK\r\n");
        send("hello\r\n");
        EXPECT_EQ(read(), "hello\r\n");
        send("QUIT\r\n");
        EXPECT_EQ(read(), "BYE\r\n");
    }
};

struct Fixture {
    FixedSettings settings{anyPort()};
    RecordingWindow window;
    std::unique_ptr<ListenerService> service;

    explicit Fixture(ListenerService::Options options = {},
                     ListenerService::SessionFactory factory = echoFactory()) {
        service = std::make_unique<ListenerService>("TEST", settings, &ServiceSettings::pop3Port,
                                                    window, std::move(factory), options);
        service->start();
        EXPECT_EQ(service->waitUntilReady(), ListenerService::State::Listening);
    }
    int port() const { return service->boundPort(); }
};

} // namespace

TEST(ListenerService, ServesOneConversationAfterAnotherAndDrivesTheWindow) {
    Fixture f;
    {
        Client c(f.port());
        c.talk();
    }
    f.settings.change([](SettingsValues& v) { v.popup = false; }); // read at each connection
    {
        Client c(f.port());
        c.talk();
    }
    f.service->stop();
    EXPECT_EQ(f.service->conversations(), 2u);
    const std::vector<std::string> once = {"target set", "popup on",  "hide", "target cleared",
                                           "target set", "popup off", "hide", "target cleared"};
    EXPECT_EQ(f.window.events(), once);
}

TEST(ListenerService, SurvivesClientsThatFailTheConversation) {
    struct Case {
        const char* name;
        std::function<void(Client&)> misbehave;
    };
    const Case cases[] = {
        {"connects and closes at once", [](Client& c) { c.socket.close(); }},
        {"closes after the greeting",
         [](Client& c) {
             c.read();
             c.socket.close();
         }},
        {"makes the session throw a non-standard exception",
         [](Client& c) {
             c.read();
             c.send("THROW\r\n");
             EXPECT_TRUE(c.closedByServer());
         }},
    };
    Fixture f;
    for (const Case& k : cases) {
        {
            Client bad(f.port());
            k.misbehave(bad);
        }
        // Served only once the failed conversation has ended.
        Client good(f.port());
        good.talk();
    }
    f.service->stop(); // the last clean-up is done once the thread is joined
    EXPECT_EQ(f.window.events().size(), 4u * 2u * (sizeof cases / sizeof cases[0]));
    EXPECT_EQ(f.service->conversations(), 2u * (sizeof cases / sizeof cases[0]));
}

TEST(ListenerService, AFailingFactoryDropsOnlyThatConnection) {
    std::atomic<int> calls{0};
    Fixture f({}, [&calls](CBlockSocket c) -> std::unique_ptr<Session> {
        if (calls++ == 0)
            throw std::runtime_error("no client");
        return std::make_unique<EchoSession>(std::move(c));
    });
    {
        Client dropped(f.port());
        EXPECT_TRUE(dropped.closedByServer());
    }
    Client c(f.port());
    c.talk();
}

TEST(ListenerService, SecondServiceOnTheSamePortEndsAndTheFirstWorks) {
    Fixture first;
    SettingsValues taken = anyPort();
    taken.pop3Port = first.port();
    taken.smtpPort = first.port();
    FixedSettings same(taken);
    RecordingWindow window;
    SmtpService second(same, window, echoFactory());
    second.start();
    EXPECT_EQ(second.waitUntilReady(), ListenerService::State::Ended);
    EXPECT_EQ(second.boundPort(), 0);
    Client c(first.port());
    c.talk();
    EXPECT_TRUE(window.events().empty());

    // Started again once the port is free, it reads the setting afresh.
    same.change([](SettingsValues& v) { v.smtpPort = 0; });
    second.start();
    ASSERT_EQ(second.waitUntilReady(), ListenerService::State::Listening);
    EXPECT_NE(second.boundPort(), first.port());
    Client d(second.boundPort());
    d.talk();
}

TEST(ListenerService, SilentClientIsCutOffByTheReceiveTimeOut) {
    ListenerService::Options quick;
    quick.receiveTimeoutMs = 100;
    Fixture f(quick);
    Client silent(f.port());
    EXPECT_EQ(silent.read(), "+OK\r\n");
    auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(silent.closedByServer());
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPrompt);
    Client next(f.port());
    next.talk();
}

TEST(ListenerService, CancelEndsTheConversationAndTheNextIsServed) {
    Fixture f;
    EXPECT_FALSE(f.window.cancel()); // nothing runs yet
    {
        Client c(f.port());
        EXPECT_EQ(c.read(), "+OK\r\n"); // the target is set before the greeting
        EXPECT_TRUE(f.window.cancel());
        EXPECT_TRUE(c.closedByServer());
    }
    Client next(f.port());
    next.talk();
}

TEST(ListenerService, StopEndsAWaitingOrBusyServiceAndItCanStartAgain) {
    Fixture f;
    for (int round = 0; round < 20; ++round) {
        std::unique_ptr<Client> busy;
        if (round % 2 == 1) {
            busy = std::make_unique<Client>(f.port()); // a conversation in flight
            EXPECT_EQ(busy->read(), "+OK\r\n") << "round " << round;
        }
        auto stopped = std::async(std::launch::async, [&] { f.service->stop(); });
        ASSERT_EQ(stopped.wait_for(kPrompt), std::future_status::ready) << "round " << round;
        EXPECT_EQ(f.service->state(), ListenerService::State::NotStarted);
        if (busy) {
            EXPECT_TRUE(busy->closedByServer()) << "round " << round;
        }
        f.service->start();
        ASSERT_EQ(f.service->waitUntilReady(), ListenerService::State::Listening)
            << "round " << round;
        Client c(f.port());
        c.talk();
    }
    f.service->stop();
    f.service->stop(); // harmless twice
}

TEST(ListenerService, StopRightAfterStartAndWithoutStart) {
    FixedSettings settings{anyPort()};
    RecordingWindow window;
    for (int round = 0; round < 50; ++round) {
        Pop3Service s(settings, window, echoFactory());
        if (round % 2 == 0)
            s.start();
        s.stop();
        EXPECT_EQ(s.state(), ListenerService::State::NotStarted) << "round " << round;
    }
    Pop3Service never(settings, window, echoFactory());
    EXPECT_EQ(never.waitUntilReady(), ListenerService::State::NotStarted);
}
