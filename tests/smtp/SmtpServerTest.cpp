// The SMTP server as the plug-in runs it: listener, session and web-mail client
// over loopback, against the site simulator in process (as the client's HTTP
// proxy). Then the fault matrix: one site fault (or Cancel) per row during the
// sign-in or the send, with the reply the mail client gets, whether the site
// took the message, and the next conversation served. A row that waits for
// the site gives up after the 1 s web-mail time-out.

#include "codec/Base64.h"

#include "support/SiteService.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace quill {
namespace {

using namespace std::chrono_literals;

const char* const kBye = "221 Quillmere SMTP service closing transmission channel";

// A new conversation, signed in as ann.
std::unique_ptr<MailClient> signedIn(const SiteService& s) {
    auto c = s.connect();
    EXPECT_EQ("220 Quillmere SMTP Service Ready", c->line());
    EXPECT_EQ("334 UGFzc3dvcmQ6", c->command("AUTH LOGIN " + encodeBase64("ann")));
    EXPECT_EQ("235 Login successful", c->command(encodeBase64("secret")));
    return c;
}

class SmtpServerTest : public ::testing::Test {
protected:
    SiteService s{SiteService::Kind::Smtp};
};

TEST_F(SmtpServerTest, SubmissionReachesTheSiteAndShowsEachStep) {
    auto c = signedIn(s);
    EXPECT_EQ("250 OK", c->command("MAIL FROM:<ann@vurel.example>"));
    EXPECT_EQ("250 OK", c->command("RCPT TO:<bob@x.example>"));
    EXPECT_EQ("250 OK", c->command("RCPT TO:<hidden@x.example>"));
    EXPECT_EQ("354 OK", c->command("DATA"));
    const std::string reply =
        c->command("To: bob@x.example\r\nSubject: Hi\r\n"
                   "Content-Type: multipart/alternative; boundary=b\r\n\r\n"
                   "--b\r\n\r\nplain\r\n--b\r\n"
                   "Content-Type: text/html\r\n\r\n<b>html</b>\r\n--b--\r\n.");
    EXPECT_EQ("250 OK", reply);
    EXPECT_EQ(kBye, c->command("QUIT"));

    const auto sent = s.sim.site().sentMessages();
    ASSERT_EQ(1u, sent.size());
    EXPECT_EQ("bob@x.example", sent[0].to);
    EXPECT_EQ("hidden@x.example", sent[0].bcc);
    EXPECT_EQ("Hi", sent[0].subject);
    EXPECT_EQ("<b>html</b>", sent[0].body);
    EXPECT_EQ("html", sent[0].format);
    EXPECT_TRUE(sent[0].saveCopy);
    EXPECT_EQ((std::vector<std::string>{"Logging to Vurel server ...", "Sending mail ..."}),
              s.window.texts("status "));
    const auto details = s.window.texts("detail ");
    ASSERT_GE(details.size(), 2u);
    EXPECT_EQ("http://us.mail.vurel.example/vm/Compose", details[details.size() - 2]);
    EXPECT_EQ(0u, details.back().find("http://us.mail.vurel.example/vm/Compose?YY="));
    EXPECT_FALSE(s.jar.find("ann").Cookie.empty());
    // The compose form's token is logged as an ellipsis, never as itself.
    EXPECT_TRUE(s.logged("HTTP POST http://us.mail.vurel.example/vm/Compose?YY=\xE2\x80\xA6 "));
    EXPECT_FALSE(s.loggedValueOf("YY="));
    EXPECT_FALSE(s.loggedValueOf(".crumb="));
}

TEST_F(SmtpServerTest, RefusedSendAnswers554AndTheConversationGoesOn) {
    s.sim.site().setFault("/vm/Compose?YY=", faults::malformed()); // no "Message Sent"
    auto c = signedIn(s);
    EXPECT_EQ("250 OK", c->command("MAIL FROM:<ann@vurel.example>"));
    EXPECT_EQ("354 OK", c->command("DATA"));
    EXPECT_EQ("554 Cannot send message.", c->command("To: a@x.example\r\n\r\none\r\n."));
    EXPECT_EQ("354 OK", c->command("DATA"));
    EXPECT_EQ("250 OK", c->command("To: a@x.example\r\n\r\ntwo\r\n."));
    c->command("QUIT");
}

TEST_F(SmtpServerTest, NulBytesAndBinaryBodiesReachTheSiteWhole) {
    const std::string text("BodyLineOne\r\nAfterNul:\0HiddenTail", 34);
    const std::string image("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\0\xff", 18);
    const std::string messages[] = {
        "To: a@x.example\r\n\r\n" + text + "\r\n.",
        "To: a@x.example\r\nContent-Type: image/png\r\nContent-Transfer-Encoding: base64\r\n\r\n" +
            encodeBase64(image) + "\r\n.",
    };
    auto c = signedIn(s);
    for (const std::string& message : messages) {
        EXPECT_EQ("354 OK", c->command("DATA"));
        EXPECT_EQ("250 OK", c->command(message));
    }
    const auto sent = s.sim.site().sentMessages();
    ASSERT_EQ(2u, sent.size());
    EXPECT_TRUE(sent[0].body == text) << sent[0].body.size();
    EXPECT_TRUE(sent[1].body == image) << sent[1].body.size();
}

TEST_F(SmtpServerTest, ADataCutOffIsNeverPosted) {
    auto c = signedIn(s);
    EXPECT_EQ("354 OK", c->command("DATA"));
    c->send("To: a@x.example\r\n\r\nhalf a mess");
    c->endInput(); // the mail client closes inside the text
    EXPECT_TRUE(c->closedSilently());
    auto next = signedIn(s);
    EXPECT_EQ(kBye, next->command("QUIT"));
    EXPECT_TRUE(s.sim.site().sentMessages().empty());
}

enum class Step { SignIn, Send };
using Twist = SiteService::Twist;

struct Row {
    const char* name;
    const char* path;  // the fault's path prefix
    site::Fault fault; // see SiteService.h
    Step step;         // the sign-in (AUTH) or the send (DATA)
    const char* reply; // "closed": the service ends the conversation silently
    bool posted;       // the site took the message
    Twist twist = Twist::None;
};

// A failing row is named, not dumped byte by byte.
void PrintTo(const Row& row, std::ostream* out) {
    *out << row.name;
}

using namespace faults;
const char* const kLoginFailed = "535 authentication failed";
const char* const kNotSent = "554 Cannot send message.";
const char* const kForm = "/vm/Compose";
const char* const kPost = "/vm/Compose?YY=";

// Where the site took the post but its answer went wrong, the mail client
// hears of a failure and keeps the message: nothing on our side can tell
// whether the site sent it.
const Row kRows[] = {
    {"site down at sign-in", "/", none(), Step::SignIn, "closed", false, Twist::SiteDown},
    {"front page refused", "/", status(503), Step::SignIn, kLoginFailed, false},
    {"front page closed unanswered", "/", cut(0), Step::SignIn, kLoginFailed, false},
    {"login cut mid-answer", "/config/login", cut(40), Step::SignIn, kLoginFailed, false},
    {"front page garbage", "/", malformed(), Step::SignIn, kLoginFailed, false},
    {"login redirect loop", "/config/login", loop(), Step::SignIn, kLoginFailed, false},
    {"front page stalls past the time-out", "/", stall(3s), Step::SignIn, "closed", false},
    {"Cancel during sign-in", "/", stall(20s), Step::SignIn, "closed", false, Twist::Cancel},
    {"site down at send", "/", none(), Step::Send, "closed", false, Twist::SiteDown},
    {"compose form refused", kForm, status(503), Step::Send, kNotSent, false},
    {"compose form cut mid-answer", kForm, cut(100), Step::Send, kNotSent, false},
    {"compose form garbage", kForm, malformed(), Step::Send, kNotSent, false},
    {"compose form gzip bomb", kForm, gzipBomb(), Step::Send, kNotSent, false},
    {"compose form stalls past the time-out", kForm, stall(3s), Step::Send, "closed", false},
    {"Cancel during compose form", kForm, stall(20s), Step::Send, "closed", false, Twist::Cancel},
    {"front page drips", "/", drip(), Step::SignIn, "closed", false},
    {"compose form drips past the exchange time", kForm, longDrip(), Step::Send, "closed", false},
    {"post answer drips", kPost, drip(), Step::Send, "closed", true},
    {"post wrong status", kPost, status(500), Step::Send, kNotSent, false},
    {"Cancel as the post goes out", kPost, none(), Step::Send, "closed", false,
     Twist::CancelAsSent},
    {"post cut mid-answer", kPost, cut(100), Step::Send, kNotSent, true},
    {"post without Message Sent", kPost, malformed(), Step::Send, kNotSent, true},
    {"post stalls past the time-out", kPost, stall(3s), Step::Send, "closed", true},
    {"Cancel while the post is answered", kPost, stall(20s), Step::Send, "closed", true,
     Twist::Cancel},
};

class SmtpFaultMatrix : public ::testing::TestWithParam<Row> {
protected:
    // A Cancel row keeps a long time-out, so that its reply is the Cancel's.
    SiteService s{SiteService::Kind::Smtp, GetParam().twist == Twist::Cancel ? 20000 : 1000};
};

TEST_P(SmtpFaultMatrix, RowGetsItsReplyAndTheNextConversationIsServed) {
    const Row& row = GetParam();
    auto ask = [&](MailClient& c, const std::string& text) {
        return s.underFault(row.path, row.fault, row.twist, [&] { return c.tryCommand(text); });
    };
    std::string got;
    {
        auto c = s.connect();
        ASSERT_EQ("220 Quillmere SMTP Service Ready", c->line());
        ASSERT_EQ("334 UGFzc3dvcmQ6", c->command("AUTH LOGIN " + encodeBase64("ann")));
        if (row.step == Step::SignIn) {
            got = ask(*c, encodeBase64("secret"));
        } else {
            ASSERT_EQ("235 Login successful", c->command(encodeBase64("secret")));
            ASSERT_EQ("354 OK", c->command("DATA"));
            got = ask(*c, "To: a@x.example\r\nSubject: row\r\n\r\nbody\r\n.");
        }
        c->tryCommand("QUIT");
    }
    EXPECT_EQ(row.reply, got) << row.name;
    if (row.fault.gzipBombBytes > 0) {
        EXPECT_TRUE(s.logged("failed: answer too large")) << row.name; // stopped at the bound
    }
    if (row.fault.dripEvery.count() > 0) {
        EXPECT_TRUE(s.logged(row.fault.dripBytes > 1 ? ": exchange too long" : ": too slow"))
            << row.name;
    }
    EXPECT_EQ(row.posted ? 1u : 0u, s.sim.site().sentMessages().size()) << row.name;

    s.endFault();
    auto next = signedIn(s);
    EXPECT_EQ("354 OK", next->command("DATA")) << row.name;
    EXPECT_EQ("250 OK", next->command("To: b@x.example\r\n\r\nnext\r\n.")) << row.name;
    EXPECT_EQ(kBye, next->command("QUIT")) << row.name;
    const auto sent = s.sim.site().sentMessages();
    ASSERT_FALSE(sent.empty()) << row.name;
    EXPECT_EQ("b@x.example", sent.back().to) << row.name;
}

INSTANTIATE_TEST_SUITE_P(Rows, SmtpFaultMatrix, ::testing::ValuesIn(kRows), rowName<Row>);

} // namespace
} // namespace quill
