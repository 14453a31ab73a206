#include "webmail/HttpClient.h"

#include "codec/FormEncode.h"
#include "net/CBlockSocket.h"
#include "support/FailureOf.h"
#include "support/ScriptedPeer.h"
#include "webmail/CookieRecord.h"
#include "webmail/RequestBody.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace quill {
namespace {

// A client whose every exchange runs over the next scripted channel.
class ScriptedClient : public HttpClient {
public:
    explicit ScriptedClient(std::vector<std::shared_ptr<ScriptedPeer>> channels)
        : channels_(std::move(channels)) {
        setChannelFactory(
            [this]() -> std::shared_ptr<ByteChannel> { return channels_.at(next_++); });
    }

private:
    std::vector<std::shared_ptr<ScriptedPeer>> channels_;
    std::size_t next_ = 0;
};

std::shared_ptr<ScriptedPeer> peer(const std::string& response = "HTTP/1.0 200 OK\r\n\r\nok",
                                   ScriptedPeer::AtEnd atEnd = ScriptedPeer::AtEnd::Close) {
    return std::make_shared<ScriptedPeer>(std::vector<std::string>{response}, 5, atEnd);
}

TEST(HttpClient, ConnectsWhereTheRequestGoesInOneSend) {
    // The request bytes themselves are checked over loopback; here: the
    // connect target, one send per request, and the connection closed after.
    const struct {
        std::string proxyHost, url, host;
        int port;
    } cases[] = {
        {"", "http://m.test/a", "m.test", 80},
        {"", "http://127.0.0.1:8080/p?q=1", "127.0.0.1", 8080},
        {"proxy.test", "http://m.test:81/a", "proxy.test", 3128},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto channel = peer();
        ScriptedClient client({channel});
        client.setProxy(cases[i].proxyHost, 3128, "", "");
        CookieRecord record;
        EXPECT_EQ(client.post(cases[i].url, record, "x=1"), "HTTP/1.0 200 OK\r\n\r\nok") << i;
        EXPECT_EQ(channel->host(), cases[i].host) << i;
        EXPECT_EQ(channel->port(), cases[i].port) << i;
        EXPECT_EQ(channel->writes(), 1) << i;
        EXPECT_TRUE(channel->closed()) << i;
        EXPECT_FALSE(client.busy()) << i;
    }
}

TEST(HttpClient, BinaryBodyAndCustomRequest) {
    auto channel = peer();
    ScriptedClient client({channel});
    const std::string body("\0\r\n\xff", 4);
    const RequestBody whole(body);
    client.request("PUT", "http://h/", nullptr, "X: y\r\n", &whole);
    EXPECT_EQ(channel->written(),
              "PUT / HTTP/1.0\r\nHost: h\r\nX: y\r\nContent-Length: 4\r\n\r\n" + body + "\r\n");

    // An encoded text goes out whole, NUL bytes and all, and the length
    // announced is the length sent.
    auto form = peer();
    ScriptedClient poster({form});
    const std::string text = body + "tail";
    RequestBody encoded;
    encoded.append("Body=").appendFormEncoded(text);
    poster.request("POST", "http://h/", nullptr, "", &encoded);
    const std::string sent = form->written();
    const std::size_t start = sent.find("\r\n\r\n") + 4;
    EXPECT_EQ(sent.substr(start), "Body=%00%0D%0A%FFtail\r\n");
    EXPECT_NE(sent.find("\r\nContent-Length: " + std::to_string(sent.size() - start - 2) + "\r\n"),
              std::string::npos);
}

TEST(HttpClient, RequestBodyGoesOutAsItsPiecesInSlices) {
    // Pieces around and across the slice size, an encoded one with a NUL.
    std::string large(RequestBody::kSlice + 70001, 'x');
    for (std::size_t i = 0; i < large.size(); i += 7) {
        large[i] = static_cast<char>(i % 251 + 1); // escapes and "+", no NUL
    }
    const std::string withNul("a b\0c", 5);
    RequestBody body;
    body.append("head=").appendFormEncoded(large).append("&raw=").append(large);
    body.appendFormEncoded(withNul).appendFormEncoded("").append("");
    const std::string expected = "head=" + formEncode(large) + "&raw=" + large + "a+b%00c";
    std::string produced;
    std::vector<std::size_t> slices;
    body.produce([&](const char* bytes, std::size_t length) {
        produced.append(bytes, length);
        slices.push_back(length);
    });
    EXPECT_TRUE(produced == expected);
    EXPECT_EQ(body.length(), expected.size());
    ASSERT_FALSE(slices.empty());
    for (std::size_t i = 0; i + 1 < slices.size(); ++i) {
        EXPECT_GE(slices[i], RequestBody::kSlice) << i;
    }
    int calls = 0;
    RequestBody().produce([&](const char*, std::size_t) { ++calls; });
    EXPECT_EQ(calls, 0);
}

TEST(HttpClient, ResponseComesBackByteForByteWhateverItsLengthHeaderSays) {
    // The announced length only sizes the buffer ahead: the response is read
    // until the server closes, shorter, longer or bogus announcements alike.
    const std::string body(70000, 'b');
    const std::string cases[] = {
        "HTTP/1.0 200 OK\r\nContent-Length: 70000\r\n\r\n" + body,
        "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\n" + body,
        "HTTP/1.0 200 OK\r\nContent-Length: 99999999\r\n\r\n" + body,
        "HTTP/1.0 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nx",
        "HTTP/1.0 200 OK\r\nContent-Length: x\r\n\r\n" + body,
        "HTTP/1.0 200 OK\r\nContent-Length: \r\n\r\n",
        "HTTP/1.0 200 OK\r\nX: y\r\n\r\nContent-Length: 5\r\n\r\nabc",
        "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n",
        "\r\n\r\n" + body,
        std::string(70000, 'h'),
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        // Cut into 7-byte receives, so that the header end falls across them.
        auto channel = std::make_shared<ScriptedPeer>(std::vector<std::string>{cases[i]}, 7);
        ScriptedClient client({channel});
        EXPECT_EQ(client.get("http://h/"), cases[i]) << i;
        EXPECT_TRUE(channel->closed()) << i;
    }
}

// Stands in for TLS: passes the bytes through and says whether the peer's
// close_notify came.
class LookThrough : public ByteChannel {
public:
    LookThrough(std::shared_ptr<ByteChannel> transport, bool confirmed)
        : transport_(std::move(transport)), confirmed_(confirmed) {}
    void connect(const std::string& host, int port) override { transport_->connect(host, port); }
    std::size_t receive(void* buffer, std::size_t capacity) override {
        return transport_->receive(buffer, capacity);
    }
    void write(const void* bytes, std::size_t length) override { transport_->write(bytes, length); }
    void close() noexcept override { transport_->close(); }
    bool endConfirmed() const noexcept override { return confirmed_; }

private:
    std::shared_ptr<ByteChannel> transport_;
    bool confirmed_;
};

TEST(HttpClient, HttpsGoesThroughAProxyTunnelAndNeedsAnEndItCanTrust) {
    const std::string tunnel = "HTTP/1.0 200 Connection established\r\n\r\n";
    const struct {
        std::string proxyAnswer, answer;
        bool closeNotify;
        const char* error; // the start of the WebmailError's text, or null
    } cases[] = {
        {tunnel, "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok", false, nullptr},
        {tunnel, "HTTP/1.0 200 OK\r\n\r\nok", true, nullptr},
        {tunnel, "HTTP/1.0 200 OK\r\n\r\nok", false, "TLS: cut"},
        {tunnel, "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nok", false, "TLS: cut"},
        {"HTTP/1.0 403 Forbidden\r\n\r\n", "", true, "the proxy refused CONNECT: HTTP/1.0 403"},
        {"", "", true, "the proxy closed"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto channel = std::make_shared<ScriptedPeer>(
            std::vector<std::string>{cases[i].proxyAnswer, cases[i].answer});
        ScriptedClient client({channel});
        client.setProxy("proxy.test", 3128, "u", "p");
        std::string serverName;
        client.setTlsFactory([&](std::shared_ptr<ByteChannel> transport, const std::string& name) {
            serverName = name;
            return std::make_shared<LookThrough>(transport, cases[i].closeNotify);
        });
        try {
            EXPECT_EQ(client.get("https://m.test/a"), cases[i].answer) << i;
            EXPECT_EQ(cases[i].error, nullptr) << i;
        } catch (const WebmailError& e) {
            ASSERT_NE(cases[i].error, nullptr) << i << " " << e.what();
            EXPECT_EQ(std::string(e.what()).rfind(cases[i].error, 0), 0u) << i << " " << e.what();
        }
        EXPECT_EQ(channel->host(), "proxy.test") << i;
        EXPECT_EQ(serverName, "m.test") << i;
        EXPECT_TRUE(channel->closed()) << i;
        // The proxy's credentials on the CONNECT only; the request inside the
        // tunnel is the site's, sent only once the tunnel is open.
        const std::string connect = "CONNECT m.test:443 HTTP/1.0\r\nHost: m.test:443\r\n"
                                    "Proxy-authorization: Basic dTpw\r\n\r\n";
        const std::string inside =
            std::string("GET /a HTTP/1.0\r\nHost: m.test\r\n") + HttpClient::kGetHeaders + "\r\n";
        EXPECT_EQ(channel->written(), cases[i].proxyAnswer == tunnel ? connect + inside : connect)
            << i;
    }
}

TEST(HttpClient, FailureAtEveryOperationLeavesTheClientIdle) {
    // connect, write, then the receives of the response: each fails in turn.
    for (int failing = 1; failing <= 8; ++failing) {
        auto channel = peer("HTTP/1.0 200 OK\r\n\r\nabcdefghij");
        channel->failAt(failing);
        auto next = peer();
        ScriptedClient client({channel, next});
        const std::string error = failureOf([&] { client.get("http://h/"); });
        EXPECT_EQ(error, failing == 1   ? "connect"
                         : failing == 2 ? "write"
                                        : "receive")
            << "operation " << failing;
        EXPECT_TRUE(channel->closed()) << "operation " << failing;
        EXPECT_FALSE(client.busy()) << "operation " << failing;
        // The client works again for the next exchange.
        EXPECT_EQ(client.get("http://h/"), "HTTP/1.0 200 OK\r\n\r\nok") << "operation " << failing;
    }
}

TEST(HttpClient, ServerThatNeverAnswersTimesOut) {
    ScriptedClient client({peer("", ScriptedPeer::AtEnd::TimeOut)});
    EXPECT_EQ(failureOf([&] { client.get("http://h/"); }), "receive");
    EXPECT_FALSE(client.busy());
}

TEST(HttpClient, CancelFromAnotherThreadDuringTheRead) {
    auto channel = peer("HTTP/1.0 200 OK\r\n\r\npartial", ScriptedPeer::AtEnd::Block);
    ScriptedClient client({channel, peer()});
    auto outcome =
        std::async(std::launch::async, [&] { return failureOf([&] { client.get("http://h/"); }); });
    channel->waitUntilBlocked();
    EXPECT_TRUE(client.busy());
    client.cancel();
    EXPECT_NE(outcome.get(), "no exception");
    EXPECT_TRUE(channel->closed());
    EXPECT_FALSE(client.busy());
    client.cancel(); // between exchanges: nothing to do
    EXPECT_EQ(client.get("http://h/"), "HTTP/1.0 200 OK\r\n\r\nok");
}

TEST(HttpClient, CancelEndsAHangingConnect) {
    auto channel = peer();
    channel->hangOnConnect();
    ScriptedClient client({channel});
    auto outcome =
        std::async(std::launch::async, [&] { return failureOf([&] { client.get("http://h/"); }); });
    channel->waitUntilBlocked();
    client.cancel();
    EXPECT_EQ(outcome.get(), "Canceled");
    EXPECT_EQ(channel->written(), "") << "nothing is sent after a canceled connect";
    EXPECT_FALSE(client.busy());
}

TEST(HttpClient, CancelRacingTheExchange) {
    // Cancels fired at arbitrary moments while exchanges run: every exchange
    // ends with a response or a socket exception, never anything else (and
    // the sanitizer builds see no race or use after free).
    for (int round = 0; round < 50; ++round) {
        std::vector<std::shared_ptr<ScriptedPeer>> channels;
        for (int i = 0; i < 20; ++i) {
            channels.push_back(peer(std::string(200, 'r'), ScriptedPeer::AtEnd::Close));
        }
        ScriptedClient client(channels);
        std::atomic<bool> done{false};
        std::thread canceller([&] {
            while (!done) {
                client.cancel();
                std::this_thread::yield();
            }
        });
        int answered = 0;
        for (int i = 0; i < 20; ++i) {
            try {
                EXPECT_EQ(client.get("http://h/"), std::string(200, 'r'));
                ++answered;
            } catch (const CBlockSocket::Error&) {
            }
        }
        done = true;
        canceller.join();
        EXPECT_FALSE(client.busy());
        EXPECT_LE(answered, 20);
    }
}

} // namespace
} // namespace quill
