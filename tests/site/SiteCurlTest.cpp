// The simulator against curl, a client that is not ours: proxy mode with and
// without credentials, a whole sign-in with a cookie jar, the print view and
// gzip. Native builds only (runs the curl program).

#include "site/SiteSimulator.h"

#include "SiteTestSupport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace quill::site;
using sitetest::between;

namespace {

struct CurlRun {
    int status = -1;
    std::string output;
};

CurlRun run(const std::string& command) {
    CurlRun r;
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (pipe == nullptr) {
        return r;
    }
    char buffer[4096];
    std::size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        r.output.append(buffer, n);
    }
    r.status = pclose(pipe);
    return r;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class SiteCurlTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("site-curl-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string curl(int port, const std::string& args) {
        return "curl -s -S --max-time 20 -x 127.0.0.1:" + std::to_string(port) + " -b " +
               (dir_ / "jar").string() + " -c " + (dir_ / "jar").string() + " " + args;
    }
    std::filesystem::path dir_;
};

const std::string kMessage = "From: Build robot <ops@example.org>\r\nSubject: dots\r\n\r\n"
                             ".first\r\n..second\r\n.\r\n\xe9t\xe9\r\n";

} // namespace

TEST_F(SiteCurlTest, ProxyCredentialsAreRequiredWhenConfigured) {
    SiteConfig c;
    c.users = {{"alice", "pw"}};
    c.proxyUser = "squid";
    c.proxyPassword = "ink";
    SiteSimulator sim(c);
    int port = sim.start();
    const std::string url = " -o /dev/null -w '%{http_code}' http://mail.vurel.example/";
    EXPECT_EQ("407", run(curl(port, url)).output);
    EXPECT_EQ("407", run(curl(port, "--proxy-user squid:wrong" + url)).output);
    EXPECT_EQ("200", run(curl(port, "--proxy-user squid:ink" + url)).output);
    // Direct (origin-form) requests need no proxy credentials.
    EXPECT_EQ("200", run("curl -s --max-time 20 -o /dev/null -w '%{http_code}' -H 'Host: "
                         "mail.vurel.example' http://127.0.0.1:" +
                         std::to_string(port) + "/")
                         .output);
}

TEST_F(SiteCurlTest, SignsInFollowsRedirectsAndReadsThePrintView) {
    SiteConfig c;
    c.users = {{"alice", "pw"}};
    c.redirects = 3;
    c.gzipMembers = 1;
    SiteSimulator sim(c);
    std::string id = sim.site().addMessage("alice", "Inbox", kMessage);
    int port = sim.start();

    CurlRun front = run(curl(port, "http://mail.vurel.example/"));
    ASSERT_EQ(0, front.status) << front.output;
    std::string challenge = between(front.output, "name=\".challenge\" value=\"", "\"");
    ASSERT_FALSE(challenge.empty());
    std::string form =
        ".tries=1&.src=vm&.intl=us&login=alice&passwd=" + sitetest::md5Answer("pw", challenge) +
        "&.hash=1&.md5=1&.js=1&.challenge=" + challenge;
    CurlRun login = run(curl(port, "-L -w '\\n%{url_effective} %{num_redirects}' -d '" + form +
                                       "' http://login.vurel.example/config/login"));
    EXPECT_TRUE(sitetest::isMailPage(login.output, "vurel.example")) << login.output;
    EXPECT_NE(std::string::npos, login.output.find("\nhttp://us.mail.vurel.example/vm/Welcome"));
    EXPECT_NE(std::string::npos, login.output.find(" 4")); // the POST's 302 and three hops

    CurlRun listing =
        run(curl(port, "'http://us.mail.vurel.example/vm/ShowFolder?box=Inbox&Nview=a&Npos=0'"));
    auto scan = sitetest::scanListing(listing.output, true);
    ASSERT_EQ(1u, scan.rows.size());
    EXPECT_EQ(id, scan.rows[0].first);

    std::string print = "'http://us.mail.vurel.example/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&"
                        "toc=1&MsgId=" +
                        id + "&bodyPart=";
    run(curl(port, "-o " + (dir_ / "header").string() + " " + print + "HEADER'"));
    // --compressed: curl asks for gzip and inflates what it gets.
    CurlRun text = run(curl(port, "--compressed -D " + (dir_ / "headers").string() + " -o " +
                                      (dir_ / "text").string() + " " + print + "TEXT'"));
    EXPECT_EQ(0, text.status) << text.output;
    EXPECT_EQ(kMessage, readFile(dir_ / "header") + readFile(dir_ / "text"));
    EXPECT_NE(std::string::npos, readFile(dir_ / "headers").find("Content-Encoding: gzip\r\n"));

    std::string crumb = scan.crumb;
    run(curl(port,
             "-o /dev/null 'http://us.mail.vurel.example/vm/ShowFolder?box=Inbox&DEL=Delete&Mid=" +
                 id + "&.crumb=" + crumb + "'"));
    EXPECT_TRUE(sim.site().folder("alice", "Inbox").empty());
    EXPECT_EQ(1u, sim.site().folder("alice", "Trash").size());
    run(curl(port, "-o /dev/null 'http://us.mail.vurel.example/vm/ShowFolder?ET=1&.crumb=" + crumb +
                       "&reset=1'"));
    EXPECT_TRUE(sim.site().folder("alice", "Trash").empty());
}
