#include "plugin/Settings.h"

#include "platform/Files.h"
#include "platform/TestTempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

using quill::Settings;
using quill::SettingsValues;
using quill::test::readBytes;
using quill::test::TestTempDir;
using quill::test::writeBytes;

namespace {

SettingsValues loadedDefaults() {
    SettingsValues v;
    v.inbox = true;
    v.emptyTrash = v.popup = v.saveCookie = v.saveSent = true;
    return v;
}

} // namespace

TEST(Settings, BeforeLoadEverythingIsOffAndPortsAreDefault) {
    Settings s;
    EXPECT_EQ(s.values(), SettingsValues());
    EXPECT_FALSE(s.inbox());
    EXPECT_FALSE(s.emptyTrash());
    EXPECT_EQ(s.pop3Port(), 5110);
    EXPECT_EQ(s.smtpPort(), 5025);
    EXPECT_FALSE(s.changed());
    EXPECT_EQ(&Settings::instance(), &Settings::instance());
}

TEST(Settings, LoadsTheFile) {
    const std::string p300(300, 'h');
    struct Case {
        bool exists;
        std::string contents;
        SettingsValues expected;
    };
    std::vector<Case> cases;
    cases.push_back({false, "", loadedDefaults()});
    cases.push_back({true, "", loadedDefaults()});
    {
        SettingsValues v = loadedDefaults();
        cases.push_back({true, "[Setup]\r\nPOP3Port=0\r\nSMTPPort=abc\r\n", v});
        cases.push_back({true, "[Setup]\r\nPOP3Port=-5\r\nSMTPPort=-1\r\n", v});
    }
    {
        SettingsValues v = loadedDefaults();
        v.inbox = false;
        v.bulk = true;
        v.emptyTrash = true;
        v.popup = false;
        cases.push_back(
            {true, "[MailBox]\r\nInbox=0\r\nBulk=1\r\n[Setup]\r\nEmptyTrash=2\r\nPopup=no\r\n", v});
    }
    {
        SettingsValues v = loadedDefaults();
        v.pop3Port = 6110;
        v.smtpPort = 70000; // no upper bound is checked
        v.proxyType = 1;
        v.proxy = std::string(255, 'h');
        v.proxyPort = 8080;
        v.username = "proxy user";
        v.password = "s3cr=t;x";
        cases.push_back({true,
                         "[Setup]\r\nPOP3Port=6110\r\nSMTPPort=70000\r\nProxyType=1\r\nProxy=" +
                             p300 + "\r\nPort=8080\r\nUsername=proxy user\r\nPassword=s3cr=t;x\r\n",
                         v});
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        TestTempDir dir;
        const std::string ini = dir.file("Quillmere.ini");
        if (cases[i].exists)
            writeBytes(ini, cases[i].contents);
        Settings s;
        s.load(ini);
        EXPECT_EQ(s.values(), cases[i].expected) << "case " << i;
        EXPECT_FALSE(s.changed()) << "case " << i;
        s.save(ini); // nothing changed: the file is left alone
        EXPECT_EQ(quill::platform::fileExists(ini), cases[i].exists) << "case " << i;
        if (cases[i].exists) {
            EXPECT_EQ(readBytes(ini), cases[i].contents) << "case " << i;
        }
    }
}

TEST(Settings, SaveWritesTheSameBytesOnEverySystem) {
    TestTempDir dir;
    const std::string ini = dir.file("Quillmere.ini");
    Settings s;
    s.load(ini);
    SettingsValues v = s.values();
    v.proxyType = 1;
    v.proxy = "proxy.example";
    v.proxyPort = 8080;
    v.username = "user";
    v.password = "p w";
    s.update(v);
    EXPECT_TRUE(s.changed());
    s.save(ini);
    EXPECT_FALSE(s.changed());
    EXPECT_EQ(readBytes(ini), "[Setup]\r\n"
                              "POP3Port=5110\r\n"
                              "SMTPPort=5025\r\n"
                              "EmptyTrash=1\r\n"
                              "Popup=1\r\n"
                              "SaveCookie=1\r\n"
                              "SaveSent=1\r\n"
                              "ProxyType=1\r\n"
                              "Proxy=proxy.example\r\n"
                              "Port=8080\r\n"
                              "Username=user\r\n"
                              "Password=p w\r\n"
                              "[MailBox]\r\n"
                              "Bulk=0\r\n"
                              "Inbox=1\r\n");
    Settings again;
    again.load(ini);
    EXPECT_EQ(again.values(), s.values());

    // A second save without a new update writes nothing.
    writeBytes(ini, "kept");
    s.save(ini);
    EXPECT_EQ(readBytes(ini), "kept");
}

TEST(Settings, TwoIsWrittenBackAsOneAndOtherLinesStay) {
    TestTempDir dir;
    const std::string ini = dir.file("Quillmere.ini");
    writeBytes(ini, "[Setup]\r\nEmptyTrash=2\r\nExtra=kept\r\n");
    Settings s;
    s.load(ini);
    EXPECT_TRUE(s.emptyTrash());
    s.update(s.values());
    s.save(ini);
    const std::string after = readBytes(ini);
    EXPECT_NE(after.find("EmptyTrash=1\r\n"), std::string::npos) << after;
    EXPECT_NE(after.find("Extra=kept\r\n"), std::string::npos) << after;
}

TEST(Settings, ApplyReplacesBadPortsAndCutsTexts) {
    Settings s;
    const std::string long300(300, 'u');
    s.apply(true, true, 0, -5, true, true, false, true, 3, long300, -1, long300, "pw");
    EXPECT_FALSE(s.changed());
    EXPECT_EQ(s.smtpPort(), 5025);
    EXPECT_EQ(s.pop3Port(), 5110);
    EXPECT_EQ(s.proxyPort(), -1); // only the two listener ports are replaced
    EXPECT_EQ(s.proxy(), std::string(255, 'u'));
    EXPECT_EQ(s.username(), std::string(255, 'u'));
    EXPECT_EQ(s.password(), "pw");
    EXPECT_EQ(s.proxyType(), 3);
    EXPECT_TRUE(s.bulk());
    EXPECT_FALSE(s.saveCookie());
    EXPECT_TRUE(s.saveSent());

    s.update(false, false, 25, 110, false, false, true, false, 1, "p", 3128, "u", "x");
    EXPECT_TRUE(s.changed());
    EXPECT_EQ(s.smtpPort(), 25);
    EXPECT_EQ(s.pop3Port(), 110);
    EXPECT_EQ(s.proxy(), "p");
    EXPECT_EQ(s.proxyPort(), 3128);
}

TEST(Settings, ConcurrentReadersSeeWholeValues) {
    Settings s;
    const std::string a(255, 'a'), b(10, 'b');
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&] {
            while (!stop.load()) {
                std::string p = s.proxy();
                SettingsValues v = s.values();
                if (!(p.empty() || p == a || p == b))
                    ++torn;
                if (!(v.proxy.empty() || (v.proxy == a && v.proxyPort == 1) ||
                      (v.proxy == b && v.proxyPort == 2)))
                    ++torn;
                (void)s.pop3Port();
            }
        });
    for (int i = 0; i < 2000; ++i) {
        SettingsValues v;
        v.proxy = (i % 2) ? a : b;
        v.proxyPort = (i % 2) ? 1 : 2;
        s.update(v);
    }
    stop = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(torn.load(), 0);
}
