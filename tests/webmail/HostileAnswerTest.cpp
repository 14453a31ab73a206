// What a hostile or broken site (or anyone on the plain-HTTP path) can send,
// each answered by a bound: the defined failure, or the plain result read in
// time linear in the input. The times themselves are in bench/http.
#include "webmail/AnswerLimits.h"
#include "webmail/CVurelClient.h"
#include "webmail/GzipReader.h"
#include "webmail/HttpResponse.h"

#include "net/CBlockSocket.h"
#include "support/OpenVurelClient.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

const std::string kTitle = "<title>Vurel! Mail - ann@vurel.example</title>";

// A peer that sends a header and then body bytes for ever, until closed.
class EndlessChannel : public ByteChannel {
public:
    void connect(const std::string&, int) override {}
    std::size_t receive(void* buffer, std::size_t capacity) override {
        if (closed_) {
            throw CBlockSocket::Canceled();
        }
        const std::string header = "HTTP/1.0 200 OK\r\n\r\n";
        if (!sentHeader_) {
            sentHeader_ = true;
            std::memcpy(buffer, header.data(), header.size());
            return header.size();
        }
        std::memset(buffer, 'x', capacity);
        return capacity;
    }
    void write(const void*, std::size_t) override {}
    void close() noexcept override { closed_ = true; }

private:
    bool sentHeader_ = false;
    bool closed_ = false;
};

// Forwards to a scripted peer and runs onEnd when the peer has closed.
class HookedChannel : public ScriptedPeer {
public:
    HookedChannel(const std::string& raw, std::function<void()> onEnd)
        : ScriptedPeer({raw}), onEnd_(std::move(onEnd)) {}
    std::size_t receive(void* buffer, std::size_t capacity) override {
        const std::size_t count = ScriptedPeer::receive(buffer, capacity);
        if (count == 0 && onEnd_) {
            onEnd_();
        }
        return count;
    }

private:
    std::function<void()> onEnd_;
};

SiteConfig testSite() {
    SiteConfig config;
    config.mailDomain = "vurel.example";
    return config;
}

// A signed-in client whose exchanges run over the factory's channels.
struct Client : OpenVurelClient {
    explicit Client(ChannelFactory factory) : OpenVurelClient(testSite()) {
        CookieRecord record;
        record.set("ann", "S=1; ", "us.mail.test", 1700000000);
        adoptSession(record);
        setChannelFactory(std::move(factory));
    }
};

std::shared_ptr<ByteChannel> serving(const std::string& raw) {
    return std::make_shared<ScriptedPeer>(std::vector<std::string>{raw});
}

std::string ok(const std::string& body, const std::string& headers = std::string()) {
    return "HTTP/1.0 200 OK\r\n" + headers + "\r\n" + body;
}

// One gzip member of count zero bytes.
std::string gzipOfZeros(std::size_t count) {
    const std::string zeros(count, '\0');
    z_stream zs{};
    deflateInit2(&zs, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, static_cast<uLong>(count)), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
    zs.avail_in = static_cast<uInt>(count);
    zs.next_out = reinterpret_cast<Bytef*>(&out[0]);
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

TEST(HostileAnswer, AnEndlessAnswerFailsAtTheAnswerBound) {
    std::shared_ptr<EndlessChannel> channel;
    Client client([&] { return channel = std::make_shared<EndlessChannel>(); });
    try {
        client.fetchText(MessageRef("m1", 1));
        FAIL() << "no error";
    } catch (const CVurelClient::Error& e) {
        EXPECT_STREQ(e.what(), "answer too large");
    }
    EXPECT_FALSE(client.busy());
}

// Every member inflates to 1 MiB of zeros from about 1 KB: 130 of them are a
// 130 MiB body in a 130 KB answer.
TEST(HostileAnswer, AGzipBombFailsAtTheInflatedBound) {
    const std::string member = gzipOfZeros(1u << 20);
    std::string bomb;
    for (std::size_t i = 0; i <= kMaxInflatedBytes >> 20; ++i) {
        bomb += member;
    }
    try {
        HttpResponse(ok(bomb, "Content-Encoding: gzip\r\n"));
        FAIL() << "no error";
    } catch (const CVurelClient::Error& e) { // what the sessions catch
        EXPECT_STREQ(e.what(), "answer too large");
    }
    EXPECT_THROW(GzipReader::decode(member, (1u << 20) - 1), GzipReader::TooLarge);
    EXPECT_EQ(GzipReader::decode(member, 1u << 20).size(), 1u << 20);
}

// The answer is read as it comes, and the room the forged length took is
// given back; the client then takes the short body for what it is, an answer
// cut short, and never a message.
TEST(HostileAnswer, AForgedContentLengthHoldsNoReservation) {
    const std::string forged = ok("tiny", "Content-Length: 100000000\r\n");
    HttpClient http;
    http.setChannelFactory([&] { return serving(forged); });
    const std::string raw = http.get("http://us.mail.test/");
    EXPECT_EQ(raw, forged);
    EXPECT_LT(raw.capacity(), 1u << 20);
    Client client([&] { return serving(forged); });
    EXPECT_THROW(client.fetchText(MessageRef("m1", 1)), CVurelClient::Error);
}

TEST(HostileAnswer, AnAnswerCutShortIsNeverTakenForAWholeOne) {
    for (const std::string& raw : {ok("0123456789", "Content-Length: 11\r\n"),
                                   std::string("HTTP/1.0 200 OK\r\nContent-"), std::string()}) {
        Client client([&] { return serving(raw); });
        EXPECT_THROW(client.fetchText(MessageRef("m1", 1)), CVurelClient::Error) << raw;
    }
    Client whole([&] { return serving(ok("0123456789", "Content-Length: 10\r\n")); });
    EXPECT_EQ(whole.fetchText(MessageRef("m1", 1)), "0123456789");
}

// 2 MiB of message links whose cells never close: each link used to search
// the rest of the page for "</td>".
TEST(HostileAnswer, AListingOfUnclosedLinksIsReadOnce) {
    std::string page = kTitle + "<td>Messages 1-1 of 1</td>";
    while (page.size() < (2u << 20)) {
        page += "<a href=\"/vm/ShowLetter?MsgId=" + std::to_string(page.size()) + "&x\"><td";
    }
    Client client([&] { return serving(ok(page)); });
    EXPECT_TRUE(client.listInbox().empty());
}

// A header of cookie lines without attributes, just under the header bound:
// each line used to search the rest of the header for ";".
TEST(HostileAnswer, ManyCookieLinesAreReadOnce) {
    std::string header = "HTTP/1.0 200 OK\r\n";
    std::size_t count = 0;
    while (header.size() < kMaxHeaderBytes - 64) {
        header += "Set-Cookie: c" + std::to_string(count++) + "=v\r\n";
    }
    const HttpResponse response(header + "\r\n");
    const std::string pairs = response.setCookiePairs();
    EXPECT_EQ(pairs.compare(0, 12, "c0=v; c1=v; "), 0);
    EXPECT_EQ(std::count(pairs.begin(), pairs.end(), ';'), static_cast<long>(count));
}

// A Cancel that lands after the whole page has come, while it is read.
TEST(HostileAnswer, ACancelInsideAListingPageEndsIt) {
    std::string rows;
    for (int i = 0; i < 1000; ++i) {
        rows += "<a href=\"/vm/ShowLetter?MsgId=" + std::to_string(i) + "&x\"></td><td>1k</td>";
    }
    CVurelClient* self = nullptr;
    Client client([&] {
        return std::make_shared<HookedChannel>(ok(kTitle + "<td>Messages 1-1 of 1</td>" + rows),
                                               [&] { self->cancel(); });
    });
    self = &client;
    EXPECT_THROW(client.listInbox(), CBlockSocket::Canceled);
}

// The Cancel that lands between the client's own check and the registration
// of the new connection: no request may start.
TEST(HostileAnswer, ACancelBeforeTheConnectionIsRegisteredStartsNoRequest) {
    std::shared_ptr<ScriptedPeer> channel;
    CVurelClient* self = nullptr;
    Client client([&] {
        self->cancel();
        return channel = std::make_shared<ScriptedPeer>(std::vector<std::string>{ok("sent")});
    });
    self = &client;
    EXPECT_THROW(client.get("http://us.mail.test/vm/Compose", "S=1; "), CBlockSocket::Canceled);
    ASSERT_NE(channel, nullptr);
    EXPECT_FALSE(channel->connected());
    EXPECT_EQ(channel->writes(), 0);
}

} // namespace
} // namespace quill
