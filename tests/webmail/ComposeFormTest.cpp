// The compose form seen from the wire: which requests go out, the exact form
// body, and how each kind of answer is taken. A scripted peer stands in for the
// site, one canned answer per connection.

#include "codec/FormEncode.h"
#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"
#include "webmail/CVurelClient.h"

#include "support/OpenVurelClient.h"
#include "support/ScriptedPeer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

const char* const kSignedIn = "<html><head><title>Vurel! Mail - alice@vurel.example</title></head>";

std::string page(int status, const std::string& body) {
    return "HTTP/1.0 " + std::to_string(status) + " X\r\nContent-Type: text/html\r\n\r\n" + body;
}

std::string composePage(const std::string& form) {
    return page(200, std::string(kSignedIn) + "<body>" + form + "</body></html>");
}

const char* const kForm = "<form method=\"post\" action=\"/vm/Compose?YY=84512\">"
                          "<input type=\"hidden\" name=\".crumb\" value=\"Cr.9/x\">";

const char* const kTail = "&box=&FwdFile=&FwdMsg=&FwdSubj=&OriginalFrom=&OriginalSubject="
                          "&InReplyTo=&NumAtt=0&AttData=&FName=&Video=&NoSubj=1&NoBody=1"
                          "&SEND=Send";

class ComposeFormTest : public ::testing::Test {
protected:
    OpenVurelClient client;
    // One scripted site per exchange, in order: each answers with the next
    // canned response (an empty one when they have run out) and closes.
    std::vector<std::shared_ptr<ScriptedPeer>> sites;
    std::deque<std::string> answers;

    void SetUp() override {
        CookieRecord record;
        record.set("alice", "s=1; t=2; ", "us.mail.vurel.example", 1000);
        client.adoptSession(record);
        client.setChannelFactory([this]() -> std::shared_ptr<ByteChannel> {
            std::vector<std::string> answer;
            if (!answers.empty()) {
                answer.push_back(answers.front());
                answers.pop_front();
            }
            sites.push_back(std::make_shared<ScriptedPeer>(answer));
            return sites.back();
        });
    }

    void send(const std::string& subject = "Hi", bool saveCopy = true) {
        client.sendMessage("bob@x.example", "", "", subject, "text", "", saveCopy);
    }

    // The body of the i-th request (after its empty line), without the CR LF
    // the client adds after a POST body.
    std::string requestBody(std::size_t i) const {
        const std::string r = sites.at(i)->written();
        std::string body = r.substr(r.find("\r\n\r\n") + 4);
        if (body.size() >= 2) {
            body.resize(body.size() - 2);
        }
        return body;
    }
    std::string requestLine(std::size_t i) const {
        const std::string r = sites.at(i)->written();
        return r.substr(0, r.find("\r\n"));
    }
};

TEST_F(ComposeFormTest, GetsTheComposePageThenPostsTheWholeFormInOrder) {
    answers = {composePage(kForm), page(200, "<h2>Message Sent</h2>")};
    client.sendMessage("Bob <bob@x.example>, c@y", "cc@x", "hid den@x", "Tea & cake?",
                       "Line 1\r\nCaf\xE9 100%", "html", true);
    ASSERT_EQ(2u, sites.size());
    EXPECT_EQ("GET /vm/Compose HTTP/1.0", requestLine(0));
    EXPECT_NE(std::string::npos, sites[0]->written().find("\r\nCookie: s=1; t=2; \r\n"));
    EXPECT_EQ("POST /vm/Compose?YY=84512 HTTP/1.0", requestLine(1));
    EXPECT_NE(std::string::npos, sites[1]->written().find("\r\nCookie: s=1; t=2; \r\n"));
    EXPECT_EQ(std::string(".crumb=Cr.9/x") + "&To=Bob+%3Cbob%40x%2Eexample%3E%2C+c%40y" +
                  "&Cc=cc%40x&Bcc=hid+den%40x&Subj=Tea+%26+cake%3F" +
                  "&Body=Line+1%0D%0ACaf%E9+100%25&Format=html&SaveCopy=yes" + kTail,
              requestBody(1));
}

TEST_F(ComposeFormTest, MissingTokensAndSaveCopyOff) {
    answers = {composePage("<form action=\"/vm/Other\">"), page(200, "Message Sent")};
    client.sendMessage("a@x", "", "", "", "", "", false);
    ASSERT_EQ(2u, sites.size());
    EXPECT_EQ("POST /vm/Compose?YY= HTTP/1.0", requestLine(1));
    EXPECT_EQ(std::string(".crumb=&To=a%40x&Cc=&Bcc=&Subj=&Body=&Format=&SaveCopy=") + kTail,
              requestBody(1));
    EXPECT_EQ(133u, std::strlen(kTail));
}

TEST_F(ComposeFormTest, LongBodiesAreEncodedWholeZeroBytesIncluded) {
    std::string body;
    for (int i = 0; i < 300000; ++i) {
        body +=
            static_cast<char>(1 + (static_cast<unsigned long>(i) * 7919u) % 255u); // no zero byte
    }
    struct Case {
        std::string body;
        std::string encoded;
    } cases[] = {
        {body, formEncode(body)},
        {body + std::string(1, '\0') + "after", formEncode(body) + "%00after"},
        {std::string("ab\0cd", 5), "ab%00cd"},
    };
    int i = 0;
    for (const Case& c : cases) {
        sites.clear();
        answers = {composePage(kForm), page(200, "Message Sent")};
        client.sendMessage("a@x", "", "", "s", c.body, "", false);
        const std::string form = requestBody(1);
        const std::size_t at = form.find("&Body=") + 6;
        EXPECT_EQ(c.encoded, form.substr(at, form.find("&Format=") - at)) << "case " << i;
        ++i;
    }
}

TEST_F(ComposeFormTest, TokensAreScannedInOrder) {
    struct Case {
        std::string form;
        const char* yy;
        const char* crumb;
    } cases[] = {
        {kForm, "84512", "Cr.9/x"},
        // Without the action the crumb is searched from the top.
        {"<input name=\".crumb\" value=\"only\">", "", "only"},
        // A crumb before the action is not seen once the action was found.
        {"<input name=\".crumb\" value=\"early\"><form action=\"/vm/Compose?YY=7\">", "7", ""},
        // An unterminated token is missing.
        {"<form action=\"/vm/Compose?YY=7", "", ""},
        // A token that could split the request line counts as missing.
        {"<form action=\"/vm/Compose?YY=7\r\nX: y\"><input name=\".crumb\" value=\"c\">", "", "c"},
    };
    int i = 0;
    for (const Case& c : cases) {
        sites.clear();
        answers = {composePage(c.form), page(200, "Message Sent")};
        send();
        ASSERT_EQ(2u, sites.size()) << "case " << i;
        EXPECT_EQ(std::string("POST /vm/Compose?YY=") + c.yy + " HTTP/1.0", requestLine(1))
            << "case " << i;
        EXPECT_EQ(0u, requestBody(1).find(std::string(".crumb=") + c.crumb + "&To="))
            << "case " << i;
        ++i;
    }
}

TEST_F(ComposeFormTest, AnswersThatDoNotSayMessageSent) {
    struct Case {
        std::vector<std::string> answers;
        bool sent;
        std::size_t requests;
        const char* error; // what() of the failure
    } cases[] = {
        {{composePage(kForm), page(200, "<p>Message Sent</p>")}, true, 2, ""},
        {{composePage(kForm), page(200, "Your Message Sent!")}, true, 2, ""},
        {{composePage(kForm), page(200, "Message not Sent. Message Sent")},
         false,
         2,
         "http://us.mail.vurel.example/vm/Compose?YY=84512"},
        {{composePage(kForm), page(200, "Message Sen")},
         false,
         2,
         "http://us.mail.vurel.example/vm/Compose?YY=84512"},
        {{composePage(kForm), page(200, "Sent Message ")},
         false,
         2,
         "http://us.mail.vurel.example/vm/Compose?YY=84512"},
        {{composePage(kForm), page(500, "Message Sent")},
         false,
         2,
         "http://us.mail.vurel.example/vm/Compose?YY=84512"},
        {{composePage(kForm), "garbage without status"},
         false,
         2,
         "http://us.mail.vurel.example/vm/Compose?YY=84512"},
        {{page(302, "Message Sent")}, false, 1, "http://us.mail.vurel.example/vm/Compose"},
        {{page(200, "<title>Please sign in</title>")}, false, 1, "std::exception"},
    };
    int i = 0;
    for (const Case& c : cases) {
        sites.clear();
        answers.assign(c.answers.begin(), c.answers.end());
        std::string error;
        bool invalidCookie = false;
        try {
            send();
        } catch (const CVurelClient::InvalidCookie&) {
            invalidCookie = true;
            error = "std::exception";
        } catch (const CVurelClient::Error& e) {
            error = e.what();
        }
        EXPECT_EQ(c.sent, error.empty()) << "case " << i;
        EXPECT_EQ(c.error, error) << "case " << i;
        EXPECT_EQ(i == 8, invalidCookie) << "case " << i;
        EXPECT_EQ(c.requests, sites.size()) << "case " << i;
        ++i;
    }
}

TEST_F(ComposeFormTest, ConnectionFailuresPassThrough) {
    client.setChannelFactory([]() -> std::shared_ptr<ByteChannel> {
        struct Refusing : ByteChannel {
            void connect(const std::string&, int) override { throw CBlockSocket::Error("connect"); }
            std::size_t receive(void*, std::size_t) override { return 0; }
            void write(const void*, std::size_t) override {}
            void close() noexcept override {}
        };
        return std::make_shared<Refusing>();
    });
    EXPECT_THROW(send(), CBlockSocket::Error);
}

} // namespace
} // namespace quill
