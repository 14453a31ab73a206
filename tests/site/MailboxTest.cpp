#include "site/Mailbox.h"

#include "site/TextUtil.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

using namespace quill::site;
namespace fs = std::filesystem;

namespace {

void writeFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

class MailboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("site-mailbox-" +
                std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        box_.addUser("alice");
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
    Mailbox box_;
};

} // namespace

TEST_F(MailboxTest, NormalizeKeepsCrLfAndAlwaysEndsTheHeader) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"A: 1\r\n\r\nbody\r\n", "A: 1\r\n\r\nbody\r\n"},
        {"A: 1\n\nbody\n", "A: 1\r\n\r\nbody\r\n"},
        {"A: 1\r\nB: 2\r\n", "A: 1\r\nB: 2\r\n\r\n"},
        {"A: 1", "A: 1\r\n\r\n"},
        {"A: 1\r\n\r\nbare\rcr\r\n", "A: 1\r\n\r\nbare\rcr\r\n"},
        {"", "\r\n"},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        std::string n = Mailbox::normalize(cases[i].in);
        EXPECT_EQ(cases[i].out, n) << i;
        StoredMessage m;
        m.raw = n;
        EXPECT_EQ(n, m.header() + m.text()) << i;
    }
}

TEST_F(MailboxTest, IdsAreUniqueAndSafeInUrls) {
    std::set<std::string> ids;
    for (int i = 0; i < 200; ++i) {
        std::string id = box_.add("alice", "Inbox", "Subject: same\r\n\r\nsame\r\n");
        EXPECT_EQ(std::string::npos,
                  id.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                       "0123456789_-"))
            << id;
        ids.insert(id);
    }
    EXPECT_EQ(200u, ids.size());
    // Chosen ids: taken as they are, refused when taken or unsafe in a page.
    EXPECT_EQ("1_5+2%41", box_.add("alice", "Inbox", "x", true, "1_5+2%41"));
    for (const char* bad : {"1_5+2%41", "a&b", "a\"b", "a b", "a<b", "a#b",
                            "a\x7f"
                            "b"}) {
        EXPECT_EQ("", box_.add("alice", "Sent", "x", true, bad)) << bad;
    }
    EXPECT_TRUE(box_.add("nobody", "Inbox", "x").empty());
    EXPECT_TRUE(box_.add("alice", "Drafts", "x").empty());
}

TEST_F(MailboxTest, MoveRemoveAndClearChangeOnlyTheNamedMessages) {
    std::string a = box_.add("alice", "Inbox", "Subject: a\r\n\r\n");
    std::string b = box_.add("alice", "Inbox", "Subject: b\r\n\r\n");
    std::string c = box_.add("alice", "Inbox", "Subject: c\r\n\r\n", false);
    EXPECT_TRUE(box_.markRead("alice", "Inbox", b));
    EXPECT_FALSE(box_.markRead("alice", "Trash", b));
    EXPECT_EQ(2, box_.move("alice", "Inbox", "Trash", {c, a, "unknown"}));
    EXPECT_EQ(0, box_.move("alice", "Inbox", "Inbox", {b}));
    // The unread counts follow the messages: a (unread) and c (read) moved.
    EXPECT_EQ(0u, box_.unreadCount("alice", "Inbox"));
    EXPECT_EQ(1u, box_.unreadCount("alice", "Trash"));
    auto trash = box_.messages("alice", "Trash");
    ASSERT_EQ(2u, trash.size());
    EXPECT_EQ(a, trash[0].id); // folder order is kept
    EXPECT_EQ(c, trash[1].id);
    EXPECT_EQ(1, box_.remove("alice", "Trash", {a}));
    EXPECT_EQ(0u, box_.unreadCount("alice", "Trash"));
    EXPECT_EQ(1, box_.clear("alice", "Trash"));
    ASSERT_EQ(1u, box_.messages("alice", "Inbox").size());
    EXPECT_EQ(b, box_.messages("alice", "Inbox")[0].id);
    EXPECT_TRUE(box_.messages("nobody", "Inbox").empty());
}

TEST_F(MailboxTest, LoadsEmlFilesInNameOrder) {
    writeFile(dir_ / "b.eml", "Subject: second\n\nbody\n");
    writeFile(dir_ / "a.eml", "Subject: first\r\n\r\nbody\r\n");
    writeFile(dir_ / "notes.txt", "not mail");
    EXPECT_EQ(2, box_.loadDirectory("alice", dir_.string()));
    auto inbox = box_.messages("alice", "Inbox");
    ASSERT_EQ(2u, inbox.size());
    EXPECT_EQ("Subject: first\r\n\r\nbody\r\n", inbox[0].raw);
    EXPECT_EQ("Subject: second\r\n\r\nbody\r\n", inbox[1].raw);
    EXPECT_TRUE(inbox[0].unread);
}

TEST_F(MailboxTest, LoadsAMaildirWithItsSeenFlags) {
    writeFile(dir_ / "cur" / "1.host:2,S", "Subject: seen\r\n\r\n");
    writeFile(dir_ / "cur" / "2.host:2,", "Subject: not seen\r\n\r\n");
    writeFile(dir_ / "new" / "3.host", "Subject: new\r\n\r\n");
    fs::create_directories(dir_ / "tmp");
    EXPECT_EQ(3, box_.loadDirectory("alice", dir_.string()));
    auto inbox = box_.messages("alice", "Inbox");
    ASSERT_EQ(3u, inbox.size());
    EXPECT_FALSE(inbox[0].unread);
    EXPECT_TRUE(inbox[1].unread);
    EXPECT_TRUE(inbox[2].unread);
}

TEST_F(MailboxTest, LoadsFolderSubdirectoriesAndRefusesAMissingDirectory) {
    writeFile(dir_ / "Inbox" / "1.eml", "Subject: in\r\n\r\n");
    writeFile(dir_ / "Sent" / "1.eml", "Subject: out\r\n\r\n");
    writeFile(dir_ / "Trash" / "new" / "x", "Subject: gone\r\n\r\n");
    EXPECT_EQ(3, box_.loadDirectory("bob", dir_.string()));
    EXPECT_EQ(1u, box_.messages("bob", "Inbox").size());
    EXPECT_EQ(1u, box_.messages("bob", "Sent").size());
    EXPECT_EQ(1u, box_.messages("bob", "Trash").size());
    EXPECT_THROW(box_.loadDirectory("alice", (dir_ / "missing").string()), std::runtime_error);
}

TEST(TextUtilTest, HttpDatesAndFormDecoding) {
    EXPECT_EQ("Thu, 01 Jan 1970 00:00:00 GMT", httpDate(0));
    EXPECT_EQ("Tue, 08 Dec 2026 03:04:05 GMT", httpDate(1796699045));
    EXPECT_EQ("Tue, 29 Feb 2000 23:59:59 GMT", httpDate(951868799));
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {{"a+b", "a b"}, {"%41%2b", "A+"}, {"%", "%"},
                          {"%4", "%4"},   {"%zz", "%zz"},   {"%E9", "\xe9"},
                          {"", ""},       {"%%41", "%A"},   {"1%4+", "1%4 "}};
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        EXPECT_EQ(cases[i].out, formDecode(cases[i].in)) << i;
    }
}
