#include "site/SiteSimulator.h"

#include "SiteTestSupport.h"
#include "net/CBlockSocket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

using namespace quill::site;
using quill::CBlockSocket;
using sitetest::Answer;
using sitetest::between;
using sitetest::Client;

namespace {

// What came back over one connection: every byte until the end of stream, and
// whether the stream ended cleanly (false: reset or time-out).
struct Wire {
    std::string bytes;
    bool cleanEnd = false;
};

Wire exchange(int port, const std::string& request, int timeoutSeconds = 10) {
    Wire w;
    CBlockSocket s(timeoutSeconds, timeoutSeconds);
    s.connect("127.0.0.1", port);
    if (!request.empty()) {
        s.write(request.data(), request.size());
    }
    char buffer[16384];
    try {
        while (true) {
            std::size_t n = s.receive(buffer, sizeof buffer);
            if (n == 0) {
                w.cleanEnd = true;
                break;
            }
            w.bytes.append(buffer, n);
        }
    } catch (const CBlockSocket::Error&) {
    }
    s.close();
    return w;
}

Client wireClient(SiteSimulator& sim, bool proxy) {
    int port = sim.port();
    Client c(
        [port](const std::string& raw) {
            Wire w = exchange(port, raw);
            EXPECT_TRUE(w.cleanEnd) << raw.substr(0, raw.find("\r\n"));
            return w.bytes;
        },
        sim.frontPageUrl(), sim.loginPageUrl());
    c.proxy = proxy;
    return c;
}

SiteConfig config() {
    SiteConfig c;
    c.users = {{"alice", "s3cret"}};
    c.seed = 7;
    return c;
}

const char kPrint[] = "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=";

} // namespace

TEST(SiteSimulatorTest, ServesAWholeSessionDirectAndAsProxy) {
    for (bool proxy : {false, true}) {
        SiteSimulator sim(config());
        std::string big = "From: a@example.org\r\nSubject: big\r\n\r\n";
        for (int i = 0; i < 60000; ++i) {
            big += "line " + std::to_string(i) + " of a message that is larger than buffers\r\n";
        }
        std::string id = sim.site().addMessage("alice", "Inbox", big);
        int port = sim.start();
        ASSERT_GT(port, 0);
        Client client = wireClient(sim, proxy);
        Answer signedIn = client.signIn("alice", "s3cret");
        ASSERT_TRUE(sitetest::isMailPage(signedIn.body, "vurel.example")) << proxy;
        auto scan = sitetest::scanListing(
            client.get(client.mail("/vm/ShowFolder?box=Inbox&Nview=a&Npos=0")).body, true);
        ASSERT_EQ(1u, scan.rows.size());
        EXPECT_EQ(id, scan.rows[0].first);
        Answer header = client.get(client.mail(kPrint + id + "&bodyPart=HEADER"));
        Answer text = client.get(client.mail(kPrint + id + "&bodyPart=TEXT"));
        EXPECT_EQ(big, header.body + text.body) << proxy; // every byte, then a clean end
        auto requests = sim.site().requests();
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(proxy, requests[0].proxyForm);
        EXPECT_EQ("mail.vurel.example", requests[0].host);
        // The POST's body arrived whole; the CR LF after it is not part of the request.
        int posts = 0;
        for (const auto& r : requests) {
            if (r.method == "POST") {
                ++posts;
                std::string body = r.raw.substr(r.raw.find("\r\n\r\n") + 4);
                EXPECT_EQ(between(r.raw, "Content-Length: ", "\r\n"), std::to_string(body.size()));
                EXPECT_EQ(0u, body.find(".tries=1&"));
            }
        }
        EXPECT_EQ(1, posts);
        sim.stop();
        EXPECT_FALSE(sim.running());
    }
}

TEST(SiteSimulatorTest, ServesClientsInParallel) {
    SiteSimulator sim(config());
    for (int i = 0; i < 40; ++i) {
        sim.site().addMessage("alice", "Inbox",
                              "Subject: m" + std::to_string(i) + "\r\n\r\nbody\r\n");
    }
    sim.start();
    Client first = wireClient(sim, true);
    first.signIn("alice", "s3cret");
    const std::string cookies = first.cookies;
    const std::string host = first.mailHost;
    std::vector<std::thread> threads;
    std::vector<int> rows(6, 0);
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            Client c = wireClient(sim, t % 2 == 0);
            c.cookies = cookies;
            c.mailHost = host;
            for (int page = 0; page < 2; ++page) {
                auto scan = sitetest::scanListing(
                    c.get(c.mail("/vm/ShowFolder?box=Inbox&Nview=a&Npos=" + std::to_string(page)))
                        .body,
                    page == 0);
                rows[static_cast<std::size_t>(t)] += static_cast<int>(scan.rows.size());
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int t = 0; t < 6; ++t) {
        EXPECT_EQ(40, rows[static_cast<std::size_t>(t)]) << t;
    }
}

TEST(SiteSimulatorTest, BadAndIncompleteRequestsGetErrorsAndTheServerGoesOn) {
    SiteConfig c = config();
    c.receiveTimeoutMs = 300;
    c.maxRequestBytes = 1 << 16;
    SiteSimulator sim(c);
    int port = sim.start();
    struct Case {
        std::string request;
        int status;
    };
    const Case cases[] = {
        {"HELLO\r\n\r\n", 400},
        {"GET / HTTP/1.0\r\nHost: x\r\n", 408}, // never finished: timed out
        {"POST /config/login HTTP/1.0\r\nContent-Length: 10\r\n\r\nabc", 408},
        {std::string(70000, 'G'), 400},
        {"GET /" + std::string(70000, 'a'), 413},
        {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), 400}, // TLS hello
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        Wire w = exchange(port, cases[i].request);
        EXPECT_EQ(cases[i].status, sitetest::parseAnswer(w.bytes).status) << i;
    }
    // A client that connects and leaves at once, then a good request.
    {
        CBlockSocket s(5, 5);
        s.connect("127.0.0.1", port);
        s.close();
    }
    Wire ok = exchange(port, "GET / HTTP/1.0\r\nHost: mail.vurel.example\r\n\r\n");
    EXPECT_EQ(200, sitetest::parseAnswer(ok.bytes).status);
    EXPECT_TRUE(ok.cleanEnd);
}

TEST(SiteSimulatorTest, WireFaultsDelayAndCutTheAnswer) {
    SiteSimulator sim(config());
    int port = sim.start();
    const std::string request = "GET / HTTP/1.0\r\nHost: mail.vurel.example\r\n\r\n";

    Fault cut;
    cut.closeAfterBytes = 12;
    sim.site().setFault("/", cut);
    Wire w = exchange(port, request);
    EXPECT_EQ("HTTP/1.0 200", w.bytes);

    cut.closeAfterBytes = 0;
    sim.site().setFault("/", cut);
    EXPECT_EQ("", exchange(port, request).bytes);

    Fault slow;
    slow.delay = std::chrono::milliseconds(300);
    sim.site().setFault("/", slow);
    auto start = std::chrono::steady_clock::now();
    Wire delayed = exchange(port, request);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(200, sitetest::parseAnswer(delayed.bytes).status);
    EXPECT_TRUE(delayed.cleanEnd);
}

TEST(SiteSimulatorTest, StopCutsShortADelayedAnswer) {
    SiteSimulator sim(config());
    int port = sim.start();
    Fault stall;
    stall.delay = std::chrono::hours(1);
    sim.site().setFault("/", stall);
    Wire result;
    std::thread client(
        [&] { result = exchange(port, "GET / HTTP/1.0\r\nHost: mail.vurel.example\r\n\r\n", 60); });
    // Wait until the request is in, then stop.
    ASSERT_TRUE(sim.site().waitForRequests(1, std::chrono::seconds(20)));
    sim.stop();
    client.join();
    EXPECT_EQ("", result.bytes);
}

TEST(SiteSimulatorTest, TooManyConnectionsAnswer503) {
    SiteConfig c = config();
    c.maxConnections = 1;
    SiteSimulator sim(c);
    int port = sim.start();
    CBlockSocket holder(10, 10);
    holder.connect("127.0.0.1", port); // accepted first: connections are taken in order
    Wire refused = exchange(port, "GET / HTTP/1.0\r\n\r\n");
    EXPECT_EQ(503, sitetest::parseAnswer(refused.bytes).status);
    holder.close();
}

TEST(SiteSimulatorTest, StartsAgainAfterStopAndRefusesABusyPort) {
    SiteSimulator sim(config());
    int port = sim.start();
    EXPECT_THROW(sim.start(), std::logic_error);
    SiteConfig same = config();
    same.listenPort = port;
    SiteSimulator other(same);
    EXPECT_THROW(other.start(), CBlockSocket::Error);
    sim.stop();
    sim.stop();
    EXPECT_GT(sim.start(), 0);
    EXPECT_EQ(200,
              sitetest::parseAnswer(exchange(sim.port(), "GET / HTTP/1.0\r\n\r\n").bytes).status);
}

TEST(SiteSimulatorTest, ListensOnAnotherLoopbackAddressWithHostsNamedAfterIt) {
    // Port 80 of an address of its own is what a client in direct mode talks
    // to; binding it needs the rights for a low port, so without them the
    // ephemeral port of the same address stands in.
    for (int port : {80, 0}) {
        SiteConfig c = config();
        c.listenAddress = "127.83.4.5";
        c.listenPort = port;
        c.frontHost = c.loginHost = c.mailHost = c.listenAddress;
        SiteSimulator sim(c);
        try {
            sim.start();
        } catch (const CBlockSocket::Error&) {
            continue;
        }
        int bound = sim.port();
        Client client(
            [bound](const std::string& raw) {
                Wire w;
                CBlockSocket s(10, 10);
                s.connect("127.83.4.5", bound);
                s.write(raw.data(), raw.size());
                char buffer[16384];
                std::size_t n;
                while ((n = s.receive(buffer, sizeof buffer)) > 0) {
                    w.bytes.append(buffer, n);
                }
                return w.bytes;
            },
            sim.frontPageUrl(), sim.loginPageUrl());
        EXPECT_EQ("http://127.83.4.5/", sim.frontPageUrl());
        Answer a = client.signIn("alice", "s3cret");
        EXPECT_TRUE(sitetest::isMailPage(a.body, "vurel.example")) << port;
        EXPECT_EQ("127.83.4.5", client.mailHost);
        return;
    }
    FAIL() << "could not listen on 127.83.4.5 at all";
}

TEST(SiteSimulatorTest, APrintViewPartOutlivesItsMessageAndCutsCountOverHeadAndPart) {
    SiteSimulator sim(config());
    std::string text;
    for (int i = 0; text.size() < 300000; ++i) {
        text += "line " + std::to_string(i) + "\r\n";
    }
    const std::string id = sim.site().addMessage("alice", "Inbox", "Subject: big\r\n\r\n" + text);
    sim.start();
    Client reader = wireClient(sim, true);
    Client remover = wireClient(sim, true);
    reader.signIn("alice", "s3cret");
    remover.signIn("alice", "s3cret");
    const std::string crumb =
        sitetest::scanListing(remover.get(remover.mail("/vm/ShowFolder?box=Inbox")).body, true)
            .crumb;
    const std::string part = reader.mail(kPrint + id + "&bodyPart=TEXT");

    // The answer is made before its delay; the message is deleted and the
    // trash emptied meanwhile, and the part still goes out whole.
    Fault slow;
    slow.delay = std::chrono::milliseconds(300);
    slow.times = 1;
    sim.site().setFault("/vm/ShowLetter", slow);
    sim.site().clearRequests();
    Answer delayed;
    std::thread fetch([&] { delayed = reader.get(part); });
    ASSERT_TRUE(sim.site().waitForRequests(1, std::chrono::seconds(20)));
    remover.get(remover.mail("/vm/ShowFolder?box=Inbox&DEL=Delete&Mid=" + id + "&.crumb=" + crumb));
    remover.get(remover.mail("/vm/ShowFolder?ET=1&.crumb=" + crumb + "&reset=1"));
    fetch.join();
    EXPECT_TRUE(sim.site().folder("alice", "Trash").empty());
    EXPECT_EQ(200, delayed.status);
    EXPECT_TRUE(delayed.body == text) << delayed.body.size();

    // A cut counts the head and then the part.
    const std::string id2 =
        sim.site().addMessage("alice", "Inbox", "Subject: again\r\n\r\n" + text);
    const std::string request = "GET " + reader.mail(kPrint + id2 + "&bodyPart=TEXT") +
                                " HTTP/1.0\r\nCookie: " + reader.cookies + "\r\n\r\n";
    const std::size_t head = exchange(sim.port(), request).bytes.find("\r\n\r\n") + 4;
    Fault cut;
    cut.closeAfterBytes = static_cast<long>(head + 10);
    sim.site().setFault("/vm/ShowLetter", cut);
    const Wire w = exchange(sim.port(), request);
    ASSERT_EQ(head + 10, w.bytes.size());
    EXPECT_EQ(text.substr(0, 10), w.bytes.substr(head));
}
