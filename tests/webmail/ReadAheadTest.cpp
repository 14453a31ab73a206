// Messages read ahead: the bounds on what is held and asked at once, checked
// with a counting fetch; then through the POP3 service against the site
// simulator, where what the mail client gets must be byte for byte what
// fetching each message on demand gives, whatever fails on the way.

#include "webmail/ReadAhead.h"

#include "support/SiteService.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace quill {
namespace {

using namespace std::chrono_literals;

MessageList mailboxOf(const std::vector<std::int32_t>& sizes) {
    MessageList mailbox;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        mailbox.emplace_back("m" + std::to_string(i), sizes[i]);
    }
    return mailbox;
}

// A fetch that answers at once with bytes of the listed size and records what
// it was asked for.
struct CountingFetch {
    std::mutex lock;
    std::set<std::string> asked;
    ReadAhead::Fetch fetch() {
        return [this](const MessageRef& m, bool text) {
            std::lock_guard<std::mutex> hold(lock);
            asked.insert(std::string(m.id()) + (text ? "/text" : "/header"));
            return text ? std::string(static_cast<std::size_t>(m.size()), 't') : "H: v\r\n";
        };
    }
    std::size_t count() {
        std::lock_guard<std::mutex> hold(lock);
        return asked.size();
    }
};

TEST(ReadAhead, ReadsInOrderAheadWithinItsBounds) {
    const std::size_t mib = 1u << 20;
    const struct {
        const char* name;
        std::vector<std::int32_t> sizes;
        std::vector<std::size_t> asks; // indices asked for, in order
        bool withText;
        std::size_t fetched; // parts fetched in all
    } cases[] = {
        // RETR 1: message 1 and the eight after it, both parts each.
        {"in order", std::vector<std::int32_t>(20, 1000), {0}, true, 18},
        // Headers only for TOP n 0.
        {"headers", std::vector<std::int32_t>(20, 1000), {0}, false, 9},
        // Not in order: nothing beyond what was asked for.
        {"jumping", std::vector<std::int32_t>(20, 1000), {5, 2}, true, 4 + 16},
        // 6 MiB messages: two fit in 16 MiB, the third would pass it.
        {"large", {10, 6 * mib, 6 * mib, 6 * mib, 10}, {0}, true, 2 + 4},
        // A message larger than the bound is never read ahead, nor what follows.
        {"huge", {10, 20 * mib, 10}, {0}, true, 2},
    };
    for (const auto& c : cases) {
        RequestPool pool;
        CountingFetch counting;
        ReadAhead ahead(pool, counting.fetch());
        const MessageList mailbox = mailboxOf(c.sizes);
        for (std::size_t index : c.asks) {
            std::string header, text;
            ahead.take(mailbox, index, c.withText, header, text, nullptr);
            EXPECT_EQ(header, "H: v\r\n") << c.name;
            EXPECT_EQ(text.size(), c.withText ? static_cast<std::size_t>(c.sizes[index]) : 0u)
                << c.name;
        }
        pool.drain();
        EXPECT_EQ(counting.count(), c.fetched) << c.name;
        EXPECT_LE(ahead.heldBytes(), ReadAhead::kMaxHeldBytes) << c.name;
        ahead.settle();
        EXPECT_EQ(ahead.heldBytes(), 0u) << c.name;
    }
}

TEST(ReadAhead, AFailedReadAheadIsFetchedAgainWhenAskedFor) {
    RequestPool pool;
    std::atomic<int> textFetches{0};
    ReadAhead ahead(pool, [&](const MessageRef& m, bool text) -> std::string {
        if (text && m.id() == "m1" && textFetches.fetch_add(1) == 0) {
            throw std::runtime_error("first try fails");
        }
        return std::string(m.id()) + (text ? " text" : " header");
    });
    const MessageList mailbox = mailboxOf({10, 10, 10});
    std::string header, text;
    ahead.take(mailbox, 0, true, header, text, nullptr);
    pool.drain(); // message 2's text has failed meanwhile
    ahead.take(mailbox, 1, true, header, text, nullptr);
    EXPECT_EQ(header + "/" + text, "m1 header/m1 text");
    EXPECT_EQ(textFetches.load(), 2);
}

// --- through the POP3 service ------------------------------------------------

const char* const kNotRetrieved = "-ERR retrieve mail header error";

// Messages of every kind the stuffing and line ends must survive.
std::vector<std::string> mixedMessages() {
    std::vector<std::string> raw;
    for (int i = 0; i < 14; ++i) {
        std::string m =
            "Subject: message " + std::to_string(i) + "\r\nX-N: " + std::to_string(i) + "\r\n\r\n";
        switch (i % 4) {
        case 0:
            m += ".starts with a dot\r\n..two dots\r\n.\r\nend\r\n";
            break;
        case 1:
            m += "bare\nline\nends\n.\n"; // bare LFs, a lone dot among them
            break;
        case 2:
            m += std::string(30000, static_cast<char>('a' + i)) + "\r\n";
            break;
        default:
            m += "no line end at the end";
        }
        raw.push_back(m);
    }
    return raw;
}

std::unique_ptr<MailClient> signedIn(SiteService& s) {
    auto c = s.connect();
    c->line();
    c->command("USER ann");
    EXPECT_EQ("+OK User password accepted", c->command("PASS secret"));
    return c;
}

// In order (read ahead) and in reverse order (each on demand), with plain and
// gzip answers: the same bytes for every message, by RETR and by TOP.
TEST(ReadAheadService, GivesTheBytesThatFetchingOnDemandGives) {
    for (const int members : {0, 2}) {
        SiteService s(SiteService::Kind::Pop3, 20000, [members](site::SiteConfig& c) {
            c.gzipMembers = members;
            c.newestFirst = false;
        });
        const std::vector<std::string> raw = mixedMessages();
        for (const std::string& m : raw) {
            s.sim.site().addMessage("ann", "Inbox", m);
        }
        for (const char* command : {"RETR ", "TOP "}) {
            const std::string suffix = std::string(command) == "TOP " ? " 2" : "";
            std::vector<std::string> inOrder(raw.size()), reversed(raw.size());
            {
                auto c = signedIn(s);
                for (std::size_t n = 1; n <= raw.size(); ++n) {
                    inOrder[n - 1] = c->retrieve(command + std::to_string(n) + suffix);
                }
                c->tryCommand("QUIT");
            }
            {
                auto c = signedIn(s);
                for (std::size_t n = raw.size(); n >= 1; --n) {
                    reversed[n - 1] = c->retrieve(command + std::to_string(n) + suffix);
                }
                c->tryCommand("QUIT");
            }
            for (std::size_t i = 0; i < raw.size(); ++i) {
                EXPECT_EQ(inOrder[i], reversed[i]) << command << i << " gzip " << members;
                EXPECT_EQ(inOrder[i].compare(0, 3, "+OK"), 0) << command << i;
                EXPECT_NE(inOrder[i].find("X-N: " + std::to_string(i) + "\r\n"), std::string::npos)
                    << command << i;
            }
        }
        EXPECT_LE(s.sim.peakConnections(), RequestPool::kMaxThreads) << members;
    }
}

// What fails of a message read ahead is answered as fetching it then would:
// a part that failed once is fetched again, one that keeps failing is
// "-ERR", a message gone from the site is "-ERR" and never another one.
TEST(ReadAheadService, FailuresAreAnsweredAsOnDemand) {
    const struct {
        const char* name;
        int times;     // how often message 2's text fails; 0: it is removed instead
        bool secondOk; // RETR 2 answers +OK
    } cases[] = {
        {"failed once, fetched again", 1, true},
        {"keeps failing", -1, false},
        {"removed at the site", 0, false},
    };
    for (const auto& c : cases) {
        SiteService s(SiteService::Kind::Pop3, 20000,
                      [](site::SiteConfig& config) { config.newestFirst = false; });
        std::vector<std::string> ids;
        for (int i = 0; i < 4; ++i) {
            ids.push_back(s.sim.site().addMessage(
                "ann", "Inbox",
                "Subject: m" + std::to_string(i) + "\r\n\r\nbody " + std::to_string(i) + "\r\n"));
        }
        auto client = signedIn(s);
        if (c.times == 0) {
            ASSERT_TRUE(s.sim.site().removeMessage("ann", "Inbox", ids[1]));
        } else {
            s.sim.site().setFault("/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=" + ids[1] +
                                      "&bodyPart=TEXT",
                                  faults::make([](site::Fault& f) { f.status = 500; }, c.times));
        }
        EXPECT_NE(client->retrieve("RETR 1").find("Subject: m0\r\n\r\nbody 0"), std::string::npos)
            << c.name;
        const std::string second = client->retrieve("RETR 2");
        if (c.secondOk) {
            EXPECT_NE(second.find("Subject: m1\r\n\r\nbody 1"), std::string::npos) << c.name;
        } else {
            EXPECT_EQ(second, kNotRetrieved) << c.name;
        }
        EXPECT_NE(client->retrieve("RETR 3").find("Subject: m2\r\n\r\nbody 2"), std::string::npos)
            << c.name;
        EXPECT_EQ(client->command("QUIT").compare(0, 3, "+OK"), 0) << c.name;
    }
}

// A Cancel while six requests are held at the site ends all of them and the
// conversation; the next one is served.
TEST(ReadAheadService, CancelEndsEveryRequestInFlight) {
    SiteService s(SiteService::Kind::Pop3);
    for (int i = 0; i < 10; ++i) {
        s.sim.site().addMessage("ann", "Inbox", "Subject: m\r\n\r\nbody\r\n");
    }
    auto client = signedIn(s);
    s.sim.site().clearRequests();
    s.sim.resetPeakConnections();
    s.sim.site().setFault("/vm/ShowLetter",
                          faults::make([](site::Fault& f) { f.delay = 20s; }, -1));
    client->send("RETR 1\r\n");
    ASSERT_TRUE(s.sim.site().waitForRequests(RequestPool::kMaxThreads, 20s));
    EXPECT_TRUE(s.window.cancel());
    EXPECT_TRUE(client->closedSilently());
    EXPECT_LE(s.sim.peakConnections(), RequestPool::kMaxThreads);
    EXPECT_LE(s.sim.site().requests().size(), RequestPool::kMaxThreads);

    s.endFault();
    auto next = signedIn(s);
    EXPECT_EQ(next->command("STAT").compare(0, 6, "+OK 10"), 0);
    EXPECT_EQ(next->retrieve("RETR 10").compare(0, 3, "+OK"), 0);
    EXPECT_EQ(next->command("QUIT").compare(0, 3, "+OK"), 0);
}

} // namespace
} // namespace quill
