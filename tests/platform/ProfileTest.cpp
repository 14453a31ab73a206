// The same cases run against the system's private-profile functions on Windows
// and against our own implementation elsewhere.
#include "platform/Profile.h"
#include "platform/Files.h"
#include "platform/TestTempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

using namespace quill::platform;
using quill::test::readBytes;
using quill::test::TestTempDir;
using quill::test::writeBytes;

namespace {

const std::string kLong(300, 'p');

const std::string kSample = "[Setup]\r\n"
                            "POP3Port=5111\r\n"
                            "SMTPPort = 25 \r\n"
                            "Neg=-5\r\n"
                            "Plus=+7\r\n"
                            "Abc=abc\r\n"
                            "Mixed=12abc\r\n"
                            "Empty=\r\n"
                            "Spaces=  hello world  \r\n"
                            "Quoted=\"quoted value\"\r\n"
                            "Single='x'\r\n"
                            "HalfQuote=\"open\r\n"
                            "Long=" +
                            kLong +
                            "\r\n"
                            "Dup=first\r\n"
                            "Dup=second\r\n"
                            "[MailBox]\r\n"
                            "Inbox=0\r\n"
                            "Bulk=1";

} // namespace

TEST(Profile, ReadsIntegers) {
    TestTempDir dir;
    const std::string ini = dir.file("sample.ini");
    writeBytes(ini, kSample);
    struct Case {
        const char* section;
        const char* key;
        int defaultValue;
        int expected;
    } cases[] = {
        {"Setup", "POP3Port", 5110, 5111},
        {"SETUP", "pop3port", 5110, 5111}, // names ignore case
        {"Setup", "SMTPPort", 5025, 25},   // blanks around name and value
        {"Setup", "Neg", 5110, -5},
        {"Setup", "Plus", 0, 7},
        {"Setup", "Abc", 5025, 0},        // not a number
        {"Setup", "Mixed", 0, 12},        // leading digits
        {"Setup", "Empty", 42, 42},       // empty value: the default
        {"Setup", "Missing", 5110, 5110}, // missing key: the default
        {"Missing", "POP3Port", -1, -1},  // missing section
        {"MailBox", "Inbox", 1, 0},
        {"MailBox", "Bulk", 0, 1}, // last line without a line end
        {"Setup", "Inbox", 7, 7},  // a key of another section
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(profileInt(c.section, c.key, c.defaultValue, ini), c.expected) << "case " << i;
    }
    EXPECT_EQ(profileInt("Setup", "POP3Port", 5110, dir.file("absent.ini")), 5110);
}

TEST(Profile, ReadsStrings) {
    TestTempDir dir;
    const std::string ini = dir.file("sample.ini");
    writeBytes(ini, kSample);
    struct Case {
        const char* section;
        const char* key;
        const char* defaultValue;
        std::size_t size;
        std::string expected;
    } cases[] = {
        {"Setup", "Spaces", "", 256, "hello world"},
        {"Setup", "Quoted", "", 256, "quoted value"},
        {"Setup", "Single", "", 256, "x"},
        {"Setup", "HalfQuote", "", 256, "\"open"},
        {"Setup", "Empty", "dflt", 256, ""}, // present but empty: not the default
        {"Setup", "Long", "", 256, std::string(255, 'p')},
        {"Setup", "Long", "", 4, "ppp"},
        {"Setup", "Dup", "", 256, "first"},
        {"setup", "missing", "def  ", 256, "def"}, // default without trailing blanks
        {"Setup", "Missing", "abcdef", 4, "abc"},
        {"Setup", "Missing", "", 256, ""},
        {"Setup", "POP3Port", "", 256, "5111"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(profileString(c.section, c.key, c.defaultValue, c.size, ini), c.expected)
            << "case " << i;
    }
    EXPECT_EQ(profileString("Setup", "Proxy", "", 256, dir.file("absent.ini")), "");
}

TEST(Profile, WritesLikeTheSystem) {
    struct Write {
        const char* section;
        const char* key;
        std::string value;
    };
    struct Case {
        bool exists;
        std::string before;
        std::vector<Write> writes;
        std::string after;
    };
    const Case cases[] = {
        // A new file, sections in order of first write.
        {false,
         "",
         {{"Setup", "POP3Port", "5110"}, {"Setup", "SMTPPort", "5025"}, {"MailBox", "Bulk", "0"}},
         "[Setup]\r\nPOP3Port=5110\r\nSMTPPort=5025\r\n[MailBox]\r\nBulk=0\r\n"},
        // A key is replaced in place, keeping its spelling; other lines stay.
        {true,
         "[Setup]\r\nPOP3Port=1\r\nOther=x\r\n[MailBox]\r\nInbox=1\r\n",
         {{"setup", "pop3port", "5110"}},
         "[Setup]\r\nPOP3Port=5110\r\nOther=x\r\n[MailBox]\r\nInbox=1\r\n"},
        // A new key goes to the end of its section.
        {true,
         "[Setup]\r\nA=1\r\n[MailBox]\r\nInbox=1\r\n",
         {{"Setup", "B", "two words"}, {"MailBox", "Empty", ""}},
         "[Setup]\r\nA=1\r\nB=two words\r\n[MailBox]\r\nInbox=1\r\nEmpty=\r\n"},
        // A last line without a line end gets one.
        {true, "[Setup]\r\nA=1", {{"Setup", "B", "2"}}, "[Setup]\r\nA=1\r\nB=2\r\n"},
        {true,
         "[Setup]\r\nA=1",
         {{"MailBox", "Inbox", "1"}},
         "[Setup]\r\nA=1\r\n[MailBox]\r\nInbox=1\r\n"},
        // An empty file.
        {true, "", {{"Setup", "Proxy", kLong}}, "[Setup]\r\nProxy=" + kLong + "\r\n"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        const Case& c = cases[i];
        TestTempDir dir;
        const std::string ini = dir.file("w.ini");
        if (c.exists)
            writeBytes(ini, c.before);
        for (const Write& w : c.writes)
            EXPECT_TRUE(writeProfileString(w.section, w.key, w.value, ini)) << "case " << i;
        EXPECT_EQ(readBytes(ini), c.after) << "case " << i;
        for (const Write& w : c.writes)
            EXPECT_EQ(profileString(w.section, w.key, "?", 1024, ini), w.value) << "case " << i;
    }
}

TEST(Profile, WriteIntoAMissingFolderFails) {
    TestTempDir dir;
    EXPECT_FALSE(writeProfileString("Setup", "A", "1", dir.file("no-such-folder") + "/x.ini"));
}
