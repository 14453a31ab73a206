#include "net/CBlockSocket.h"
#include "platform/Socket.h"
#include "support/FailureOf.h"
#include "support/Gate.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

using quill::CBlockSocket;
using quill::failureOf;
using namespace std::chrono_literals;

namespace {

// Bounded wait for work on another thread; a cancellation must end it well
// within this.
constexpr auto kPrompt = 10s;
// Time given to another thread to enter its blocking call before the close.
// The outcome asserted does not depend on it: a close that comes first makes
// the call fail with Canceled as well.
constexpr auto kLetItBlock = 200ms;

struct Listener {
    CBlockSocket socket{120, 120};
    int port = 0;
    Listener() {
        socket.listenAt(0);
        port = socket.localPort();
    }
};

struct Pair {
    Listener listener;
    CBlockSocket client{120, 120};
    CBlockSocket server{120, 120};
    Pair() {
        client.connect("127.0.0.1", listener.port);
        server = listener.socket.accept();
    }
};

std::string receiveAll(CBlockSocket& s) {
    std::string out;
    char buf[256];
    try {
        for (;;) {
            std::size_t n = s.receive(buf, sizeof buf);
            if (n == 0)
                break;
            out.append(buf, n);
        }
    } catch (const CBlockSocket::Error&) {
        // A reset ends the stream as well.
    }
    return out;
}

} // namespace

TEST(CBlockSocket, CarriesBytesBothWaysAndSeesThePeerClose) {
    Pair p;
    const std::string hello = "+OK hello\r\n";
    p.server.write(hello.data(), hello.size());
    char buf[64];
    std::size_t n = p.client.receive(buf, sizeof buf);
    EXPECT_EQ(std::string(buf, n), hello);

    // Both ends, the one that connected and the one accepted, send at once.
    EXPECT_TRUE(p.client.noDelay());
    EXPECT_TRUE(p.server.noDelay());

    p.client.write("QUIT\r\n", 6);
    p.client.close();
    EXPECT_FALSE(p.client.noDelay());
    EXPECT_EQ(receiveAll(p.server), "QUIT\r\n");
    // After the end of stream a receive keeps returning 0 without raising.
    EXPECT_EQ(p.server.receive(buf, sizeof buf), 0u);
}

TEST(CBlockSocket, LargeWriteArrivesWhole) {
    Pair p;
    std::string big(3 * 1024 * 1024, 'x');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    // The close is abortive, so the writer is done only once all has arrived.
    std::thread writer([&] { p.server.write(big.data(), big.size()); });
    std::string got;
    char buf[4096];
    while (got.size() < big.size()) {
        std::size_t n = p.client.receive(buf, sizeof buf);
        if (n == 0)
            break;
        got.append(buf, n);
    }
    writer.join();
    EXPECT_EQ(got.size(), big.size());
    EXPECT_TRUE(got == big);
}

TEST(CBlockSocket, CopiesShareTheRecord) {
    Pair p;
    CBlockSocket copy = p.server;
    {
        CBlockSocket another(copy);
        EXPECT_TRUE(another.isOpen());
    }
    EXPECT_TRUE(p.server.isOpen()); // dropping one copy does not close
    copy.close();
    EXPECT_FALSE(p.server.isOpen());
    EXPECT_EQ(failureOf([&] { p.server.write("x", 1); }), "Canceled");
    EXPECT_EQ(failureOf([&] {
                  char b;
                  p.server.receive(&b, 1);
              }),
              "Canceled");
    EXPECT_EQ(failureOf([&] { p.server.setTimeout(1, 1); }), "Canceled");
    EXPECT_EQ(failureOf([&] { p.server.connect("127.0.0.1", 1); }), "Canceled");
    EXPECT_EQ(failureOf([&] { p.server.accept(); }), "Canceled");
    EXPECT_EQ(failureOf([&] { p.server.listenAt(0); }), "Canceled");
}

TEST(CBlockSocket, CloseIsIdempotentAndResetsTheConnection) {
    Pair p;
    p.server.close();
    p.server.close(); // harmless
    CBlockSocket copy = p.server;
    copy.close();
    EXPECT_FALSE(copy.isOpen());
    EXPECT_EQ(receiveAll(p.client), "");
}

TEST(CBlockSocket, WriteAfterCloseIsCanceledAndSendsNothing) {
    Pair p;
    CBlockSocket copy = p.client;
    p.client.close();
    EXPECT_EQ(failureOf([&] { copy.write("DATA\r\n", 6); }), "Canceled");
    EXPECT_EQ(failureOf([&] { copy.write("", 0); }), "Canceled");
    EXPECT_EQ(receiveAll(p.server), "");
}

TEST(CBlockSocket, BindFailuresRaiseBind) {
    Listener first;
    CBlockSocket second(120, 120);
    EXPECT_EQ(failureOf([&] { second.listenAt(first.port); }), "bind");

    CBlockSocket third(120, 120);
    EXPECT_EQ(failureOf([&] { third.listenAt("not-an-address", 0); }), "bind");
    CBlockSocket fourth(120, 120);
    EXPECT_EQ(failureOf([&] { fourth.bind(70000); }), "bind");
}

TEST(CBlockSocket, ListensOnAnyLoopbackAddress) {
    CBlockSocket listener(120, 120);
    listener.listenAt("127.0.0.5", 0);
    int port = listener.localPort();
    CBlockSocket client(120, 120);
    client.connect(std::string("127.0.0.5"), port);
    CBlockSocket server = listener.accept();
    client.write("ping", 4);
    char buf[8];
    EXPECT_EQ(server.receive(buf, sizeof buf), 4u);
    EXPECT_EQ(std::string(buf, 4), "ping");
}

TEST(CBlockSocket, ConnectFailures) {
    // A port with nobody listening: take an ephemeral one and give it up.
    int freePort;
    {
        Listener l;
        freePort = l.port;
    }
    struct Case {
        const char* host;
        int port;
        const char* expected;
    } cases[] = {
        {"no-such-host.invalid", 80, "GetHostByName"},
        {"", 80, "GetHostByName"},
        {nullptr, 80, "GetHostByName"},
        {"127.0.0.1", freePort, "connect"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        CBlockSocket s(120, 120);
        EXPECT_EQ(failureOf([&] { s.connect(cases[i].host, cases[i].port); }), cases[i].expected)
            << "case " << i;
    }
}

TEST(CBlockSocket, NameIsLookedUp) {
    Listener l;
    CBlockSocket s(120, 120);
    s.connect("localhost", l.port);
    CBlockSocket server = l.socket.accept();
    EXPECT_TRUE(server.isOpen());
}

TEST(CBlockSocket, TimeOutsRaiseReceiveAndWrite) {
    Pair p;
    p.client.setTimeoutMs(50, 50);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] {
                  char b;
                  p.client.receive(&b, 1);
              }),
              "receive");
    EXPECT_LT(std::chrono::steady_clock::now() - start, kPrompt);
    EXPECT_TRUE(p.client.isOpen()); // a time-out does not close

    // A peer that does not read: the write stops once the buffers are full.
    const std::string big(64 * 1024 * 1024, 'w');
    EXPECT_EQ(failureOf([&] { p.client.write(big.data(), big.size()); }), "write");
    EXPECT_TRUE(p.client.isOpen());
}

TEST(CBlockSocket, AcceptedConnectionCarriesTheListenersTimeOutsButAcceptWaits) {
    CBlockSocket listener(120, 120);
    listener.setTimeoutMs(50, 50);
    listener.listenAt(0);
    int port = listener.localPort();
    auto accepted = std::async(std::launch::async, [&] { return listener.accept(); });
    // Longer than the receive time-out: accept must still be waiting.
    EXPECT_EQ(accepted.wait_for(300ms), std::future_status::timeout);
    CBlockSocket client(120, 120);
    client.connect("127.0.0.1", port);
    ASSERT_EQ(accepted.wait_for(kPrompt), std::future_status::ready);
    CBlockSocket server = accepted.get();
    EXPECT_EQ(failureOf([&] {
                  char b;
                  server.receive(&b, 1);
              }),
              "receive");
}

TEST(CBlockSocket, CloseFromAnotherThreadReleasesBlockedCalls) {
    struct Case {
        const char* name;
        // Prepares a socket whose call blocks; returns the socket to close and
        // the blocking call.
        std::function<std::pair<CBlockSocket, std::function<void()>>(std::vector<CBlockSocket>&)>
            setUp;
    };
    const Case cases[] = {
        {"receive",
         [](std::vector<CBlockSocket>& keep) {
             auto p = std::make_shared<Pair>();
             keep.push_back(p->client);
             CBlockSocket s = p->server;
             return std::make_pair(s, std::function<void()>([p, s]() mutable {
                                       char b[16];
                                       s.receive(b, sizeof b);
                                   }));
         }},
        {"accept",
         [](std::vector<CBlockSocket>&) {
             auto l = std::make_shared<Listener>();
             CBlockSocket s = l->socket;
             return std::make_pair(s, std::function<void()>([l, s]() mutable { s.accept(); }));
         }},
        {"connect",
         [](std::vector<CBlockSocket>& keep) {
             // A listener with backlog 0 that never accepts: once its queue
             // is full, a further connect hangs.
             using namespace quill::platform;
             SocketHandle h = socketOpen();
             std::uint32_t lo = 0;
             parseIPv4("127.0.0.1", lo);
             EXPECT_TRUE(socketBind(h, lo, 0));
             EXPECT_TRUE(socketListen(h, 0));
             int port = socketLocalPort(h);
             auto holder = std::shared_ptr<void>(nullptr, [h](void*) { socketClose(h); });
             // Fill the queue; the sockets that may hang are all closed.
             for (int i = 0; i < 4; ++i)
                 keep.emplace_back(120, 120);
             std::vector<CBlockSocket> tries(keep.end() - 4, keep.end());
             return std::make_pair(keep.back(),
                                   std::function<void()>([holder, tries, port]() mutable {
                                       for (auto& t : tries)
                                           t.connect("127.0.0.1", port);
                                   }));
         }},
    };
    for (const Case& c : cases) {
        std::vector<CBlockSocket> keep;
        auto [target, call] = c.setUp(keep);
        auto done = std::async(std::launch::async, [call] { return failureOf(call); });
        EXPECT_EQ(done.wait_for(kLetItBlock), std::future_status::timeout) << c.name;
        target.close();
        for (auto& k : keep)
            k.close();
        ASSERT_EQ(done.wait_for(kPrompt), std::future_status::ready) << c.name;
        EXPECT_EQ(done.get(), "Canceled") << c.name;
        target.close(); // a second close is harmless
        EXPECT_FALSE(target.isOpen()) << c.name;
    }
}

TEST(CBlockSocket, CloseRacingTheOwnersLastCallReleasesTheHandleOnce) {
    // The owner's own close after its last call races a second thread's
    // close(); meanwhile a new connection is opened, likely on the number
    // being released. A handle released twice would disturb that connection.
    // (The close starts once the owner's receive has returned: a call that
    // the close ends while blocked is the test above.)
    Listener listener;
    for (int round = 0; round < 200; ++round) {
        CBlockSocket peer{120, 120};
        peer.connect("127.0.0.1", listener.port);
        std::atomic<int> ready{0};
        auto together = [&ready] {
            ready.fetch_add(1);
            while (ready.load() < 3)
                std::this_thread::yield();
        };
        std::future<std::size_t> owner;
        std::thread closer;
        {
            CBlockSocket accepted = listener.socket.accept();
            peer.write("x", 1);
            owner = std::async(std::launch::async, [s = accepted, together]() mutable {
                char b[4];
                const std::size_t n = s.receive(b, sizeof b);
                together();
                s.close();
                return n;
            });
            closer = std::thread([s = accepted, together]() mutable {
                together();
                s.close();
            });
        }
        together();
        CBlockSocket fresh{120, 120};
        fresh.connect("127.0.0.1", listener.port);
        CBlockSocket freshServer = listener.socket.accept();
        closer.join();
        ASSERT_EQ(owner.wait_for(kPrompt), std::future_status::ready) << "round " << round;
        EXPECT_EQ(owner.get(), 1u) << "round " << round;
        fresh.write("ok", 2);
        freshServer.write("back", 4);
        char buf[8];
        EXPECT_EQ(freshServer.receive(buf, sizeof buf), 2u) << "round " << round;
        EXPECT_EQ(fresh.receive(buf, sizeof buf), 4u) << "round " << round;
    }
}

namespace {

// What the race test below watches through the two seams: the platform's
// handles as they are handed out and released, and the one call it parks.
struct RaceWatch {
    std::mutex mutex;
    std::set<quill::platform::SocketHandle> live;
    quill::platform::SocketHandle lastOpened = quill::platform::kInvalidSocket;
    quill::platform::SocketHandle victim = quill::platform::kInvalidSocket;
    bool parked = false;
    int handedOutTwice = 0;    // a live handle handed out again
    int releasedTwice = 0;     // a handle released that was not live
    int releasedUnderCall = 0; // the parked call's handle released meanwhile
    std::atomic<bool> armed{false};
    std::unique_ptr<quill::Gate> gate;
};
RaceWatch watch;

void watchOpened(quill::platform::SocketHandle h) {
    std::lock_guard<std::mutex> lock(watch.mutex);
    watch.handedOutTwice += watch.live.insert(h).second ? 0 : 1;
    watch.lastOpened = h;
}

void watchReleased(quill::platform::SocketHandle h) {
    std::lock_guard<std::mutex> lock(watch.mutex);
    watch.releasedTwice += watch.live.erase(h) == 1 ? 0 : 1;
    watch.releasedUnderCall += h == watch.victim && watch.parked ? 1 : 0;
}

// Parks the first call after arming, between its entry and its system call.
void parkArmedCall(const char*) {
    if (!watch.armed.exchange(false))
        return;
    {
        std::lock_guard<std::mutex> lock(watch.mutex);
        watch.parked = true;
    }
    watch.gate->enterAndWait();
    std::lock_guard<std::mutex> lock(watch.mutex);
    watch.parked = false;
}

} // namespace

TEST(CBlockSocket, CancelOfACallAboutToStartNeverReachesAnotherConnection) {
    // A receive or write has been counted in but not yet reached the system
    // when Cancel closes its socket, and new connections open meanwhile (a
    // released handle number would go to one of them). The parked call must
    // fail with Canceled, its handle must be released exactly once and only
    // after the call is out, and each new connection must carry exactly its
    // own bytes.
    constexpr int kRounds = 1000;
    constexpr int kFresh = 4;
    const quill::platform::SocketTrace trace{watchOpened, watchReleased};
    quill::platform::setSocketTrace(&trace);
    CBlockSocket::setCallHook(parkArmedCall);
    {
        Listener listener;
        for (int round = 0; round < kRounds && !HasFailure(); ++round) {
            const bool receiving = round % 2 == 0;
            std::vector<std::string> got;
            std::string outcome;
            {
                CBlockSocket peer{120, 120};
                peer.connect("127.0.0.1", listener.port);
                CBlockSocket victim = listener.socket.accept();
                {
                    std::lock_guard<std::mutex> lock(watch.mutex);
                    watch.victim = watch.lastOpened;
                }
                watch.gate = std::make_unique<quill::Gate>();
                watch.armed = true;
                auto call = std::async(std::launch::async, [s = victim, receiving]() mutable {
                    return failureOf([&] {
                        char b[64];
                        receiving ? static_cast<void>(s.receive(b, sizeof b))
                                  : s.write("victim", 6);
                    });
                });
                ASSERT_TRUE(watch.gate->waitEntered()) << "round " << round;
                victim.close();
                std::vector<CBlockSocket> fresh;
                for (int i = 0; i < kFresh; ++i) {
                    fresh.emplace_back(120, 120);
                    fresh.back().connect("127.0.0.1", listener.port);
                    fresh.push_back(listener.socket.accept());
                    const std::string name = std::to_string(i);
                    fresh[2 * i].write(("c" + name).data(), name.size() + 1);
                    fresh[2 * i + 1].write(("s" + name).data(), name.size() + 1);
                }
                watch.gate->release();
                if (call.wait_for(kPrompt) != std::future_status::ready) {
                    ADD_FAILURE() << "round " << round << ": the parked call hangs";
                    for (auto& f : fresh)
                        f.close();
                }
                outcome = call.get();
                for (auto& f : fresh)
                    f.shutdownSend();
                for (auto& f : fresh)
                    got.push_back(receiveAll(f));
            }
            EXPECT_EQ(outcome, "Canceled") << "round " << round;
            for (int i = 0; i < kFresh; ++i) {
                EXPECT_EQ(got[2 * i], "s" + std::to_string(i)) << "round " << round;
                EXPECT_EQ(got[2 * i + 1], "c" + std::to_string(i)) << "round " << round;
            }
            std::lock_guard<std::mutex> lock(watch.mutex);
            EXPECT_EQ(watch.live.size(), 1u) << "round " << round; // the listener
            EXPECT_EQ(watch.handedOutTwice + watch.releasedTwice, 0) << "round " << round;
            EXPECT_EQ(watch.releasedUnderCall, 0) << "round " << round;
        }
    }
    CBlockSocket::setCallHook(nullptr);
    quill::platform::setSocketTrace(nullptr);
    EXPECT_TRUE(watch.live.empty());
}

TEST(CBlockSocket, ShutdownSendDeliversEverythingThenTheEndOfStream) {
    Pair p;
    std::string big(512 * 1024, 'z');
    std::thread writer([&] {
        p.server.write(big.data(), big.size());
        p.server.shutdownSend();
    });
    std::string got = receiveAll(p.client);
    writer.join();
    EXPECT_EQ(got.size(), big.size());
    // The other direction still works.
    p.client.write("bye", 3);
    char buf[8];
    EXPECT_EQ(p.server.receive(buf, sizeof buf), 3u);
    EXPECT_EQ(failureOf([&] { p.server.write("x", 1); }), "write");
    p.server.close();
    EXPECT_EQ(failureOf([&] { p.server.shutdownSend(); }), "Canceled");
}

// A service that ended its conversations first (its side then waits out the
// connection's last packets) can listen on its port again at once: a mail
// client restarted within a minute finds its POP3 and SMTP ports served.
TEST(CBlockSocket, PortListensAgainWhileItsLastConnectionWaitsOut) {
    int port = 0;
    {
        Pair p;
        port = p.listener.port;
        p.server.shutdownSend(); // our side ends first, as after a reply to QUIT
        char buf[8];
        EXPECT_EQ(p.client.receive(buf, sizeof buf), 0u);
        p.client.shutdownSend(); // then the client, in order
        EXPECT_EQ(p.server.receive(buf, sizeof buf), 0u);
    }
    CBlockSocket again(120, 120);
    EXPECT_NO_THROW(again.listenAt(port));
}

// A peer that keeps an exchange alive by trickling, one that goes on too long,
// and one that stops reading what we write each fail the exchange soon after
// the limit with the socket's error (not a cancellation), although every call
// would have waited two minutes.
TEST(CBlockSocket, ExchangeLimitsEndTricklingAndEndlessExchanges) {
    struct Case {
        const char* name;
        quill::ExchangeLimits limits;
        std::size_t peerBytes; // written by the peer per step; 0: the peer reads nothing
        const char* failure;
    };
    const Case cases[] = {
        {"trickle", {256, 300, 0}, 1, "receive: too slow"},
        {"endless", {64, 30000, 600}, 64, "receive: exchange too long"},
        {"unread", {1024, 300, 0}, 0, "write: too slow"},
    };
    for (const Case& c : cases) {
        Pair p;
        p.client.setExchangeLimits(c.limits);
        std::atomic<bool> done{false};
        std::thread peer([&] {
            const std::string chunk(c.peerBytes, 'x');
            try {
                while (!done && c.peerBytes > 0) {
                    p.server.write(chunk.data(), chunk.size());
                    std::this_thread::sleep_for(20ms); // the peer's pace
                }
            } catch (const CBlockSocket::Error&) {
            }
        });
        const auto started = std::chrono::steady_clock::now();
        const std::string failure = failureOf([&] {
            if (c.peerBytes == 0) {
                const std::string big(64u << 20, 'y');
                p.client.write(big.data(), big.size());
            }
            char buf[256];
            while (p.client.receive(buf, sizeof buf) > 0) {
            }
        });
        done = true;
        p.client.close();
        p.server.close();
        peer.join();
        EXPECT_EQ(failure, c.failure) << c.name;
        EXPECT_LT(std::chrono::steady_clock::now() - started, kPrompt) << c.name;
    }
}
