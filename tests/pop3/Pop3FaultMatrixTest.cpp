// The POP3 service end to end (listener, session, web-mail client over
// loopback) against the site simulator with one fault per row: each row states
// the reply the mail client gets, and the service then serves the next
// conversation. A row that waits for the site gives up after the 1 s web-mail
// time-out; a Cancel row ends as soon as the request it cancels is in flight.

#include "support/SiteService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>

namespace quill {
namespace {

using namespace std::chrono_literals;

enum class Step { SignIn, Stat, Retr, Quit };
using Twist = SiteService::Twist;

struct Row {
    const char* name;
    const char* path;  // the fault's path prefix
    site::Fault fault; // see SiteService.h
    Step step;         // where the reply is checked
    const char* reply; // "closed": the service ends the conversation silently
    Twist twist = Twist::None;
    const char* left = "+OK 1"; // STAT's start in the next conversation
};

// A failing row is named, not dumped byte by byte.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

using namespace faults;
const char* const kList = "/vm/ShowFolder";
const char* const kLetter = "/vm/ShowLetter";
const char* const kNotRetrieved = "-ERR retrieve mail header error";
// The one message's id, and its text part in the print view.
const char* const kId = "1_2006_fixed";
const char* const kText =
    "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=1_2006_fixed&bodyPart=TEXT";
const char* const kHeader =
    "/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=1_2006_fixed&bodyPart=HEADER";

const Row kRows[] = {
    {"site down at sign-in", "/", none(), Step::SignIn, "closed", Twist::SiteDown},
    {"front page refused", "/", status(503), Step::SignIn, "-ERR Bad Login."},
    {"front page closed unanswered", "/", cut(0), Step::SignIn, "-ERR Bad Login."},
    {"front page cut mid-answer", "/", cut(40), Step::SignIn, "-ERR Bad Login."},
    {"front page garbage", "/", malformed(), Step::SignIn, "-ERR Bad Login."},
    {"front page stalls past the time-out", "/", stall(3s), Step::SignIn, "closed"},
    {"login redirect loop", "/config/login", loop(), Step::SignIn, "-ERR Bad Login."},
    {"listing wrong status", kList, status(500), Step::SignIn, "-ERR Bad Login."},
    {"listing cut mid-answer", kList, cut(100), Step::SignIn, "-ERR Bad Login."},
    {"listing garbage", kList, malformed(), Step::Stat, "+OK 0 0"},
    {"listing gzip bomb", kList, gzipBomb(), Step::SignIn, "-ERR Bad Login."},
    // The listing stops at its page bound with the rows it has read.
    {"endless listing", kList, endlessListing(), Step::Stat, "+OK 50 1100"},
    // A site that drips holds no exchange past the exchange limits.
    {"front page drips", "/", drip(), Step::SignIn, "closed"},
    {"listing drips past the exchange time", kList, longDrip(), Step::SignIn, "closed"},
    {"print view drips", kLetter, drip(), Step::Retr, kNotRetrieved},
    {"site down at RETR", kLetter, none(), Step::Retr, kNotRetrieved, Twist::SiteDown},
    {"print view wrong status", kLetter, status(500), Step::Retr, kNotRetrieved},
    // Header and text are requested at once: either failing while the other
    // comes whole is "-ERR" and nothing else.
    {"print view text part fails", kText, status(500), Step::Retr, kNotRetrieved},
    {"print view header part fails", kHeader, status(500), Step::Retr, kNotRetrieved},
    {"print view text part cut", kText, cut(150), Step::Retr, kNotRetrieved},
    {"print view closed unanswered", kLetter, cut(0), Step::Retr, kNotRetrieved},
    {"print view cut mid-answer", kLetter, cut(150), Step::Retr, kNotRetrieved},
    {"print view reset mid-answer", kLetter, reset(150), Step::Retr, kNotRetrieved},
    // An HTML error page in place of the raw text cannot be told from a
    // message's text: it is delivered as one. In place of the header it is
    // no message at all (the site's answer for a message that is gone).
    {"print view text garbage", kText, malformed(), Step::Retr, "+OK"},
    {"print view header garbage", kHeader, malformed(), Step::Retr, kNotRetrieved},
    {"print view stalls past the time-out", kLetter, stall(3s), Step::Retr, kNotRetrieved},
    {"print view gzip bomb", kLetter, gzipBomb(), Step::Retr, kNotRetrieved},
    // A gzip body short of whole is no message: nothing to delete.
    {"print view gzip cut short", kLetter, gzipDamage(site::Fault::GzipDamage::CutShort),
     Step::Retr, kNotRetrieved},
    {"print view gzip bad CRC", kLetter, gzipDamage(site::Fault::GzipDamage::BadCrc), Step::Retr,
     kNotRetrieved},
    {"Cancel during sign-in", "/", stall(20s), Step::SignIn, "closed", Twist::Cancel},
    {"Cancel during listing", kList, stall(20s), Step::SignIn, "closed", Twist::Cancel},
    {"Cancel during RETR", kLetter, stall(20s), Step::Retr, "closed", Twist::Cancel},
    {"Cancel during RETR's text", kText, stall(20s), Step::Retr, "closed", Twist::Cancel},
    // The site has carried the request out when its answer is held.
    {"Cancel during deletion", "/vm/ShowFolder?box=Inbox&DEL", stall(20s), Step::Quit, "closed",
     Twist::Cancel, "+OK 0"},
    {"Cancel while emptying the trash", "/vm/ShowFolder?ET=1", stall(20s), Step::Quit, "closed",
     Twist::Cancel, "+OK 0"},
};

class Pop3FaultMatrix : public ::testing::TestWithParam<Row> {
protected:
    // A Cancel row keeps a long time-out, so that its reply is the Cancel's.
    void SetUp() override {
        s = std::make_unique<SiteService>(SiteService::Kind::Pop3,
                                          GetParam().twist == Twist::Cancel ? 20000 : 1000);
        s->sim.site().addMessage("ann", "Inbox", "Subject: one\r\n\r\nbody\r\n", true, kId);
        s->settings.change([](SettingsValues& v) { v.emptyTrash = true; });
    }
    std::unique_ptr<SiteService> s;
};

TEST_P(Pop3FaultMatrix, RowGetsItsReplyAndTheNextConversationIsServed) {
    const Row& row = GetParam();
    std::string got;
    {
        auto c = s->connect();
        ASSERT_EQ(0u, c->line().find("+OK"));
        ASSERT_EQ(0u, c->command("USER ann").find("+OK"));
        if (row.step == Step::Retr) {
            ASSERT_EQ("+OK User password accepted", c->command("PASS secret"));
            got = s->underFault(row.path, row.fault, row.twist,
                                [&] { return c->multiLine("RETR 1"); });
        } else if (row.step == Step::Quit) {
            ASSERT_EQ("+OK User password accepted", c->command("PASS secret"));
            ASSERT_EQ(0u, c->command("DELE 1").find("+OK"));
            got = s->underFault(row.path, row.fault, row.twist,
                                [&] { return c->tryCommand("QUIT"); });
        } else {
            got = s->underFault(row.path, row.fault, row.twist,
                                [&] { return c->tryCommand("PASS secret"); });
            if (row.step == Step::Stat) {
                ASSERT_EQ("+OK User password accepted", got);
                got = c->tryCommand("STAT");
            }
        }
        c->tryCommand("QUIT");
    }
    EXPECT_EQ(row.reply, got) << row.name;
    if (row.fault.gzipBombBytes > 0) {
        EXPECT_TRUE(s->logged("failed: answer too large")) << row.name; // stopped at the bound
    }
    if (row.fault.gzipDamage != site::Fault::GzipDamage::None) {
        EXPECT_TRUE(s->logged("RETR failed: gzip ")) << row.name; // "answer cut short", ...
    }
    if (row.fault.dripEvery.count() > 0) {
        EXPECT_TRUE(s->logged(row.fault.dripBytes > 1 ? ": exchange too long" : ": too slow"))
            << row.name;
    }

    s->endFault();
    auto next = s->connect();
    EXPECT_EQ(0u, next->line().find("+OK")) << row.name;
    next->command("USER ann");
    EXPECT_EQ("+OK User password accepted", next->command("PASS secret")) << row.name;
    EXPECT_EQ(row.left, next->command("STAT").substr(0, 5)) << row.name;
    EXPECT_EQ(0u, next->command("QUIT").find("+OK")) << row.name;
}

// A whole conversation's log (sign-in, listing, retrieval, deletion, the
// trash emptied, and a deletion that fails) names every request but holds
// none of the site's anti-forgery tokens.
TEST(Pop3Log, AConversationsLogHoldsNoToken) {
    SiteService s(SiteService::Kind::Pop3);
    s.sim.site().addMessage("ann", "Inbox", "Subject: one\r\n\r\nbody\r\n", true, kId);
    s.settings.change([](SettingsValues& v) { v.emptyTrash = true; });
    for (const bool failing : {false, true}) {
        s.sim.site().addMessage("ann", "Inbox", "Subject: two\r\n\r\nbody\r\n");
        auto c = s.connect();
        c->line();
        c->command("USER ann");
        ASSERT_EQ("+OK User password accepted", c->command("PASS secret"));
        ASSERT_EQ(0u, c->multiLine("RETR 1").find("+OK"));
        ASSERT_EQ(0u, c->command("DELE 1").find("+OK"));
        if (failing) {
            s.sim.site().setFault("/vm/ShowFolder?box=Inbox&DEL", status(500));
        }
        c->tryCommand("QUIT");
    }
    EXPECT_TRUE(s.logged("&DEL=Delete&Mid="));
    EXPECT_TRUE(s.logged("/vm/ShowFolder?ET=1&.crumb=\xE2\x80\xA6&reset=1 answered 200"));
    EXPECT_TRUE(s.logged("deleting at QUIT failed: "));
    EXPECT_FALSE(s.loggedValueOf(".crumb="));
}

INSTANTIATE_TEST_SUITE_P(Rows, Pop3FaultMatrix, ::testing::ValuesIn(kRows), rowName<Row>);

} // namespace
} // namespace quill
