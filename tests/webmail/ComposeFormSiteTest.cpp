// The compose form against the site simulator over loopback (the simulator as
// the client's HTTP proxy): the exact form body the site receives, the fields
// it decodes from it, fresh tokens for every message, and a signed-out page.

#include "site/SiteSimulator.h"
#include "webmail/CVurelClient.h"

#include "support/OpenVurelClient.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace quill {
namespace {

const char* const kTail = "&box=&FwdFile=&FwdMsg=&FwdSubj=&OriginalFrom=&OriginalSubject="
                          "&InReplyTo=&NumAtt=0&AttData=&FName=&Video=&NoSubj=1&NoBody=1"
                          "&SEND=Send";

class ComposeFormSiteTest : public ::testing::Test {
protected:
    void SetUp() override {
        site::SiteConfig config;
        config.users = {{"ann", "secret"}};
        sim = std::make_unique<site::SiteSimulator>(config);
        const int port = sim->start();
        client = std::make_unique<OpenVurelClient>(SiteConfig());
        client->setProxy("127.0.0.1", port, "", "");
        client->setTimeoutsMs(20000, 20000);
        client->login("ann", "secret");
    }

    // The form body of the last compose POST the site received, and its crumb.
    std::string lastForm(std::string* crumb = nullptr) const {
        std::string form;
        for (const auto& r : sim->site().requests()) {
            if (r.method == "POST" && r.path.compare(0, 15, "/vm/Compose?YY=") == 0) {
                form = r.raw.substr(r.raw.find("\r\n\r\n") + 4);
            }
        }
        if (crumb != nullptr) {
            *crumb = form.substr(7, form.find("&To=") - 7);
        }
        return form;
    }

    std::unique_ptr<site::SiteSimulator> sim;
    std::unique_ptr<OpenVurelClient> client;
};

TEST_F(ComposeFormSiteTest, TheSiteReceivesTheExactFormAndDecodesEveryField) {
    struct Case {
        const char *to, *cc, *bcc, *subject, *body, *format;
        bool saveCopy;
        const char* encoded; // the form from "&To=" to "&SaveCopy=..." inclusive
    } cases[] = {
        {"Bob <bob@x.example>", "", "", "Tea & cake for 2", "Caf\xE9 & cr\xE8me\r\n100% sure", "",
         true,
         "&To=Bob+%3Cbob%40x%2Eexample%3E&Cc=&Bcc=&Subj=Tea+%26+cake+for+2"
         "&Body=Caf%E9+%26+cr%E8me%0D%0A100%25+sure&Format=&SaveCopy=yes"},
        {"a@x.example", "c@x.example, d@x.example", "e@x.example", "=?x?= a+b", "<p>hi</p>", "html",
         false,
         "&To=a%40x%2Eexample&Cc=c%40x%2Eexample%2C+d%40x%2Eexample&Bcc=e%40x%2Eexample"
         "&Subj=%3D%3Fx%3F%3D+a%2Bb&Body=%3Cp%3Ehi%3C%2Fp%3E&Format=html&SaveCopy="},
    };
    int i = 0;
    for (const Case& c : cases) {
        const std::size_t sentBefore = sim->site().folder("ann", "Sent").size();
        client->sendMessage(c.to, c.cc, c.bcc, c.subject, c.body, c.format, c.saveCopy);
        std::string crumb;
        const std::string form = lastForm(&crumb);
        EXPECT_FALSE(crumb.empty()) << "case " << i;
        EXPECT_EQ(".crumb=" + crumb + c.encoded + kTail, form) << "case " << i;

        const auto sent = sim->site().sentMessages();
        ASSERT_EQ(static_cast<std::size_t>(i + 1), sent.size()) << "case " << i;
        const site::SentMessage& m = sent.back();
        EXPECT_EQ(c.to, m.to) << "case " << i;
        EXPECT_EQ(c.cc, m.cc) << "case " << i;
        EXPECT_EQ(c.bcc, m.bcc) << "case " << i;
        EXPECT_EQ(c.subject, m.subject) << "case " << i;
        EXPECT_EQ(c.body, m.body) << "case " << i;
        EXPECT_EQ(c.format, m.format) << "case " << i;
        EXPECT_EQ(c.saveCopy, m.saveCopy) << "case " << i;
        EXPECT_EQ(sentBefore + (c.saveCopy ? 1 : 0), sim->site().folder("ann", "Sent").size())
            << "case " << i;
        const std::vector<std::string> names = {".crumb",       "To",
                                                "Cc",           "Bcc",
                                                "Subj",         "Body",
                                                "Format",       "SaveCopy",
                                                "box",          "FwdFile",
                                                "FwdMsg",       "FwdSubj",
                                                "OriginalFrom", "OriginalSubject",
                                                "InReplyTo",    "NumAtt",
                                                "AttData",      "FName",
                                                "Video",        "NoSubj",
                                                "NoBody",       "SEND"};
        ASSERT_EQ(names.size(), m.fields.size()) << "case " << i;
        for (std::size_t k = 0; k < names.size(); ++k) {
            EXPECT_EQ(names[k], m.fields[k].first) << "case " << i << " field " << k;
        }
        ++i;
    }
    // Every message fetched its own compose page: the site takes each token once.
    EXPECT_EQ(0, sim->site().rejectedForms());
}

TEST_F(ComposeFormSiteTest, ExpiredSessionIsInvalidCookieBeforeAnythingIsPosted) {
    sim->site().expireSessions();
    sim->site().clearRequests();
    EXPECT_THROW(client->sendMessage("a@x", "", "", "s", "b", "", false),
                 CVurelClient::InvalidCookie);
    const auto requests = sim->site().requests();
    ASSERT_EQ(1u, requests.size());
    EXPECT_EQ("GET", requests[0].method);
    EXPECT_TRUE(sim->site().sentMessages().empty());
}

TEST_F(ComposeFormSiteTest, RefusedMessageIsAnError) {
    // The site refuses a message without any recipient.
    try {
        client->sendMessage("", "", "", "s", "b", "", false);
        FAIL() << "a refused message must throw";
    } catch (const CVurelClient::InvalidCookie&) {
        FAIL() << "the session is valid";
    } catch (const CVurelClient::Error& e) {
        EXPECT_EQ(0u, std::string(e.what()).find("http://us.mail.vurel.example/vm/Compose?YY="));
    }
    EXPECT_TRUE(sim->site().sentMessages().empty());
}

} // namespace
} // namespace quill
