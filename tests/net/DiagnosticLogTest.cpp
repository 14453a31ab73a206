#include "net/DiagnosticLog.h"

#include "net/CBlockSocket.h"

#include "platform/TestTempDir.h"
#include "support/FreePort.h"

#include <gtest/gtest.h>

#include <iterator>
#include <regex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using namespace quill;

namespace {
// The log is process-wide: each test closes it again.
struct LogClosed {
    ~LogClosed() { DiagnosticLog::instance().close(); }
};
} // namespace

TEST(DiagnosticLog, OffUntilOpenedThenOneLinePerEventWithTimeServiceAndConversation) {
    LogClosed closed;
    std::vector<std::string> lines;
    logEvent("before the log is opened");
    DiagnosticLog::instance().openSink([&](const std::string& line) { lines.push_back(line); });
    logEvent("plug-in line");
    {
        DiagnosticLog::Scope scope("POP3", 3);
        logEvent("reply\r\n+OK");
    }
    logEvent("back to the plug-in");
    DiagnosticLog::instance().close();
    logEvent("after close");

    ASSERT_EQ(3u, lines.size());
    const std::regex stamp(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )");
    const char* rest[] = {"plug-in plug-in line\n", "POP3 #3 reply  +OK\n",
                          "plug-in back to the plug-in\n"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_search(lines[i], m, stamp)) << lines[i];
        EXPECT_EQ(0, m.position(0)) << lines[i];
        EXPECT_EQ(rest[i], lines[i].substr(m.length(0))) << "line " << i;
    }
}

// The site's anti-forgery tokens ride in logged URLs and in failures that
// name a URL: each value is written as an ellipsis, wherever it stands.
TEST(DiagnosticLog, TokensInUrlsAreElided) {
    LogClosed closed;
    std::vector<std::string> lines;
    DiagnosticLog::instance().openSink([&](const std::string& line) { lines.push_back(line); });
    const std::string e = "\xE2\x80\xA6";
    const struct {
        std::string text, logged;
    } cases[] = {
        {"GET http://h/vm/ShowFolder?ET=1&.crumb=Ab9.x&reset=1 answered 200",
         "GET http://h/vm/ShowFolder?ET=1&.crumb=" + e + "&reset=1 answered 200"},
        {"POST http://h/vm/Compose?YY=28047_8670 answered 200",
         "POST http://h/vm/Compose?YY=" + e + " answered 200"},
        {"failed: http://h/x?DEL=Delete&Mid=1&.crumb=zz",
         "failed: http://h/x?DEL=Delete&Mid=1&.crumb=" + e},
        {"a?.crumb=1&YY=2#f \"?YY=3\"", "a?.crumb=" + e + "&YY=" + e + "#f \"?YY=" + e + "\""},
        {"a?.crumb=&b", "a?.crumb=" + e + "&b"},
        // Only whole parameter names: these are other parameters, or none.
        {"h?XYY=1&my.crumb=2 YY=3 .crumb=4", "h?XYY=1&my.crumb=2 YY=3 .crumb=4"},
        {"cut?YY=5\r\nnext", "cut?YY=" + e + "  next"},
    };
    for (const auto& c : cases) {
        logEvent(c.text);
    }
    ASSERT_EQ(lines.size(), std::size(cases));
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::size_t at = lines[i].find("plug-in ") + 8;
        EXPECT_EQ(lines[i].substr(at), cases[i].logged + "\n") << "case " << i;
    }
}

TEST(DiagnosticLog, TheFileIsRenamedPastItsSizeAndOneOldFileIsKept) {
    LogClosed closed;
    test::TestTempDir dir;
    const std::string path = dir.file("Quillmere.log");
    DiagnosticLog::instance().openFile(path);
    const std::string text(1000, 'x');
    const std::size_t perFile = DiagnosticLog::kMaxFileBytes / 1021;
    for (std::size_t i = 0; i < 2 * perFile + 10; ++i)
        logEvent(text);
    EXPECT_LE(test::readBytes(path).size(), DiagnosticLog::kMaxFileBytes);
    EXPECT_GT(test::readBytes(path + ".1").size(), DiagnosticLog::kMaxFileBytes - 1100);
    EXPECT_FALSE(std::filesystem::exists(path + ".2"));
    // Both files are the user's alone, where the file system keeps modes
    // (Windows: OwnerOnlyFileTest checks the access list).
    namespace fs = std::filesystem;
    const fs::perms owner = fs::perms::owner_read | fs::perms::owner_write;
    const std::string probe = dir.file("probe");
    test::writeBytes(probe, "p");
    fs::permissions(probe, owner);
    if (fs::status(probe).permissions() == owner) {
        EXPECT_EQ(fs::status(path).permissions(), owner);
        EXPECT_EQ(fs::status(path + ".1").permissions(), owner);
    }
}

TEST(DiagnosticLog, ALogThatCannotBeWrittenIsDroppedQuietly) {
    LogClosed closed;
    test::TestTempDir dir;
    DiagnosticLog::instance().openFile(dir.file("no-such-folder") + "/Quillmere.log");
    logEvent("goes nowhere");
    SUCCEED();
}

TEST(DiagnosticLog, TwoThreadsNeverInterleaveInsideALine) {
    LogClosed closed;
    test::TestTempDir dir;
    const std::string path = dir.file("Quillmere.log");
    DiagnosticLog::instance().openFile(path);
    auto writer = [](const char* service, char fill) {
        DiagnosticLog::Scope scope(service, 1);
        for (int i = 0; i < 200; ++i)
            logEvent(std::string(300, fill));
    };
    std::thread pop3(writer, "POP3", 'p');
    std::thread smtp(writer, "SMTP", 's');
    pop3.join();
    smtp.join();
    const std::string file = test::readBytes(path);
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d (POP3 #1 p{300}|SMTP #1 s{300})\r?)");
    std::size_t count = 0, start = 0;
    for (std::size_t end; (end = file.find('\n', start)) != std::string::npos; start = end + 1) {
        EXPECT_TRUE(std::regex_match(file.substr(start, end - start), line)) << count;
        ++count;
    }
    EXPECT_EQ(400u, count);
}

TEST(DiagnosticLog, ACauseSaysWhatFailedAndTheSystemsErrorNumber) {
    struct Case {
        std::exception_ptr thrown;
        const char* expected;
    };
    const Case cases[] = {
        {std::make_exception_ptr(CBlockSocket::Error("receive", 104)),
         "receive (system error 104)"},
        {std::make_exception_ptr(CBlockSocket::Error("write")), "write"},
        {std::make_exception_ptr(CBlockSocket::Canceled("receive")), "canceled: receive"},
        {std::make_exception_ptr(CBlockSocket::Canceled()), "canceled"},
        {std::make_exception_ptr(std::runtime_error("page")), "page"},
        {std::make_exception_ptr(42), "an exception of unknown type"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        try {
            std::rethrow_exception(cases[i].thrown);
        } catch (...) {
            EXPECT_EQ(cases[i].expected, describeCurrentException()) << "case " << i;
        }
    }

    // A real refused connect on loopback carries the system's number.
    CBlockSocket client(5, 5);
    try {
        client.connect("127.0.0.1", freePort());
        ADD_FAILURE() << "connected to a closed port";
    } catch (const CBlockSocket::Error& e) {
        EXPECT_STREQ("connect", e.what());
        EXPECT_NE(0, e.systemError());
    }
}
