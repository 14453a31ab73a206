// The TLS client of this build against real servers on loopback, started by
// tls_test_servers.py, which passes their ports in QUILL_TLS_TEST_SERVERS and
// makes its test CA the only one trusted. QUILL_TLS_TEST_WINE says whether
// the client under test is SChannel under wine.
#include "platform/TlsClient.h"
#include "platform/Socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <map>
#include <string>
#include <thread>

using namespace quill::platform;

namespace {

struct TransportFailed : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Blocking loopback socket; a failed call throws TransportFailed. The socket
// may be canceled from another thread.
class SocketTransport : public TlsTransport {
public:
    explicit SocketTransport(int port) : socket_(socketOpen()) {
        std::uint32_t loopback = 0;
        parseIPv4("127.0.0.1", loopback);
        if (socket_ == kInvalidSocket || !socketSetReceiveTimeout(socket_, 20000) ||
            !socketConnect(socket_, loopback, port))
            throw TransportFailed("connect failed");
    }
    ~SocketTransport() override { socketClose(socket_); }
    std::size_t receive(void* buffer, std::size_t capacity) override {
        if (receiving_)
            receiving_->set_value();
        receiving_ = nullptr;
        long n = socketReceive(socket_, buffer, capacity);
        // A canceled receive may also read as the end of the stream.
        if (n < 0 || canceled_)
            throw TransportFailed("receive failed");
        return static_cast<std::size_t>(n);
    }
    void write(const void* bytes, std::size_t length) override {
        const char* at = static_cast<const char*>(bytes);
        while (length > 0) {
            long n = socketSend(socket_, at, length);
            if (n <= 0)
                throw TransportFailed("send failed");
            at += n;
            length -= static_cast<std::size_t>(n);
        }
    }
    // Told when the next receive begins.
    void announceReceive(std::promise<void>& receiving) { receiving_ = &receiving; }
    void cancel() {
        canceled_ = true;
        socketCancel(socket_);
    }

private:
    SocketHandle socket_;
    std::promise<void>* receiving_ = nullptr;
    std::atomic<bool> canceled_{false};
};

int serverPort(const std::string& name) {
    const char* list = std::getenv("QUILL_TLS_TEST_SERVERS");
    if (list == nullptr)
        return 0;
    std::string text = std::string(",") + list + ",";
    std::size_t at = text.find("," + name + "=");
    return at == std::string::npos ? 0 : std::atoi(text.c_str() + at + name.size() + 2);
}

std::string receiveExactly(TlsClient& tls, std::size_t length) {
    std::string got;
    char buffer[4096];
    while (got.size() < length) {
        std::size_t n = tls.receive(buffer, sizeof buffer);
        if (n == 0)
            break;
        got.append(buffer, n);
    }
    return got;
}

void sendText(TlsClient& tls, const std::string& text) {
    tls.write(text.data(), text.size());
}

// One connection to server as host: a line each way, then both ends'
// close_notify. Tells whether the handshake resumed a session.
bool converse(const char* server, const char* host) {
    int port = serverPort(server);
    if (port == 0)
        throw std::runtime_error("run through ctest (tls_test_servers.py)");
    SocketTransport transport(port);
    auto tls = TlsClient::create(transport, host, port);
    tls->handshake();
    sendText(*tls, "abc\n");
    EXPECT_EQ(receiveExactly(*tls, 4), "cba\n");
    sendText(*tls, "CLOSE\n");
    char rest[16];
    EXPECT_EQ(tls->receive(rest, sizeof rest), 0u);
    EXPECT_TRUE(tls->closeNotifyReceived());
    tls->shutdown();
    return tls->resumed();
}

} // namespace

TEST(TlsClient, RefusesEveryFlawedServerDuringTheHandshake) {
    struct Row {
        const char* server;
        const char* host;
        const char* error; // the text, or its start where a colon follows
    };
    const Row rows[] = {
        {"otherca", "localhost", "certificate: unknown issuer"},
        {"expired", "localhost", "certificate: expired"},
        {"wrongname", "localhost", "certificate: name mismatch"},
        // The right name as the common name only: no subject alternative name.
        {"cnonly", "localhost", "certificate: name mismatch"},
        {"good", "127.0.0.2", "certificate: name mismatch"}, // not among its IP names
        {"good", "wrong.example", "certificate: name mismatch"},
        {"site", "x.us.mail.vurel.example", "certificate: name mismatch"}, // one label per *
        {"tls10", "localhost", "protocol too old"},
        {"plain", "localhost", "handshake failed"}, // and whatever SChannel or OpenSSL says
    };
    for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i << ": " << row.server << " as " << row.host);
        int port = serverPort(row.server);
        ASSERT_NE(port, 0) << "run through ctest (tls_test_servers.py)";
        SocketTransport transport(port);
        auto tls = TlsClient::create(transport, row.host, port);
        try {
            tls->handshake();
            ADD_FAILURE() << "handshake succeeded";
        } catch (const TlsError& e) {
            std::string text = e.what();
            std::string detailed = std::string(row.error) + ":";
            EXPECT_TRUE(text == row.error || text.compare(0, detailed.size(), detailed) == 0)
                << text;
        }
        tls->shutdown(); // after a failed handshake: must not throw
    }
}

TEST(TlsClient, TalksBothWaysAndTellsHowTheStreamEnded) {
    struct Row {
        const char* server;
        const char* host;
        std::string line;     // sent, then expected back
        std::string expected; // what comes back
        bool shutdownFirst;   // the client sends close_notify first
        bool closeNotify;     // the peer ends with close_notify
    };
    std::string big(100000, 'x');
    for (std::size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 26);
    const Row rows[] = {
        {"good", "localhost", "hello\n", "olleh\n", false, true},
        {"good", "127.0.0.1", "abc\n", "cba\n", false, true},
        {"site", "us.mail.vurel.example", "abc\n", "cba\n", false, true}, // a wildcard name
        // Many records each way, then the TCP end without close_notify.
        {"dropping", "localhost", big + "\n", big + "\n", false, false},
        // The peer answers close_notify only when it gets one.
        {"closing", "localhost", "abc\n", "abc\n", true, true},
        // Peers that ask for a client certificate and go on without one.
        {"clientcert", "localhost", "hello\n", "olleh\n", false, true},
        {"clientcert12", "localhost", "hello\n", "olleh\n", false, true},
    };
    for (std::size_t i = 0; i < sizeof rows / sizeof rows[0]; ++i) {
        const Row& row = rows[i];
        SCOPED_TRACE(testing::Message() << "row " << i << ": " << row.server << " as " << row.host);
        int port = serverPort(row.server);
        ASSERT_NE(port, 0) << "run through ctest (tls_test_servers.py)";
        SocketTransport transport(port);
        auto tls = TlsClient::create(transport, row.host, port);
        try {
            tls->handshake();
            sendText(*tls, row.line);
            EXPECT_EQ(receiveExactly(*tls, row.expected.size()), row.expected);
            if (row.shutdownFirst)
                tls->shutdown();
            else if (row.closeNotify)
                sendText(*tls, "CLOSE\n");
            char rest[16];
            EXPECT_EQ(tls->receive(rest, sizeof rest), 0u);
            EXPECT_EQ(tls->receive(rest, sizeof rest), 0u); // and stays ended
            EXPECT_EQ(tls->closeNotifyReceived(), row.closeNotify);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        tls->shutdown();
    }
}

TEST(TlsClient, ACanceledReceiveThrowsTheTransportsError) {
    int port = serverPort("good");
    ASSERT_NE(port, 0) << "run through ctest (tls_test_servers.py)";
    SocketTransport transport(port);
    auto tls = TlsClient::create(transport, "localhost", port);
    tls->handshake();
    std::promise<void> receiving;
    std::future<void> entered = receiving.get_future();
    transport.announceReceive(receiving);
    std::thread canceler([&] {
        if (entered.wait_for(std::chrono::seconds(20)) == std::future_status::ready)
            transport.cancel();
    });
    char buffer[64];
    // The server sends nothing unasked (past any tickets), so the receive
    // blocks until the socket goes.
    EXPECT_THROW(
        {
            while (tls->receive(buffer, sizeof buffer) > 0) {
            }
        },
        TransportFailed);
    canceler.join();
    tls->shutdown();
}

TEST(TlsClient, ResumesTheSessionOfTheSameServerOnly) {
    const char* wine = std::getenv("QUILL_TLS_TEST_WINE");
    ASSERT_NE(wine, nullptr) << "run through ctest (tls_test_servers.py)";
    // SChannel under wine speaks no TLS 1.3 and never resumes: there every
    // TLS 1.2 connection is a full handshake, and still completes.
    const bool underWine = std::string(wine) == "1";
    const struct {
        const char* server;
        bool tls13;
    } rows[] = {{"resume13", true}, {"resume12", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.server);
        if (row.tls13 && underWine)
            continue;
        try {
            EXPECT_FALSE(converse(row.server, "localhost")) << "the first connection";
            EXPECT_EQ(converse(row.server, "localhost"), !underWine) << "the second";
            // The same server under another name is offered nothing.
            EXPECT_FALSE(converse(row.server, "127.0.0.1")) << "another name";
            EXPECT_EQ(converse(row.server, "localhost"), !underWine) << "the fourth";
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
    }
}
