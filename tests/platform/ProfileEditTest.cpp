// Our own private-profile writer edits the file in place: every line it does
// not change stays byte for byte as it was.
#include "platform/Files.h"
#include "platform/Profile.h"
#include "platform/TestTempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

using namespace quill::platform;
using quill::test::TestTempDir;

TEST(ProfileEdit, KeepsCommentsBlankLinesAndLineEnds) {
    struct Case {
        std::string before;
        const char* section;
        const char* key;
        const char* value;
        std::string after;
    } cases[] = {
        {"; comment\n\n[Setup]\nA=1\n\n[MailBox]\nX=y\n", "Setup", "B", "2",
         "; comment\n\n[Setup]\nA=1\nB=2\r\n\n[MailBox]\nX=y\n"},
        {"; comment\n\n[Setup]\nA = 1 ; note\n\n", "Setup", "a", "2",
         "; comment\n\n[Setup]\nA=2\n\n"},
        {"[Setup]\n  Key=old\n[Other]\n", "Other", "Key", "new",
         "[Setup]\n  Key=old\n[Other]\nKey=new\r\n"},
        {"[Setup]\n[Setup]\nA=1\n", "Setup", "A", "2", "[Setup]\nA=2\r\n[Setup]\nA=1\n"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        TestTempDir dir;
        const std::string ini = dir.file("e.ini");
        std::FILE* f = std::fopen(ini.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(cases[i].before.data(), 1, cases[i].before.size(), f);
        std::fclose(f);
        EXPECT_TRUE(writeProfileString(cases[i].section, cases[i].key, cases[i].value, ini));
        std::string got;
        readFile(ini, got);
        EXPECT_EQ(got, cases[i].after) << "case " << i;
    }
}

TEST(ProfileEdit, TheFileIsKeptPrivate) {
    // It may hold the proxy password.
    TestTempDir dir;
    const std::string ini = dir.file("p.ini");
    ASSERT_TRUE(writeProfileString("Setup", "Password", "secret", ini));
    namespace fs = std::filesystem;
    EXPECT_EQ(fs::status(ini).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}
