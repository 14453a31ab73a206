#include "webmail/CookieJar.h"

#include "platform/TestTempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

namespace quill {
namespace {

namespace fs = std::filesystem;
using test::readBytes;
using test::writeBytes;

constexpr std::int64_t kNow = 1700000000;

CookieRecord record(const std::string& user, const std::string& cookie, const std::string& host,
                    std::int64_t timestamp) {
    CookieRecord r;
    r.set(user, cookie, host, static_cast<std::int32_t>(timestamp));
    return r;
}

// The bytes the Windows build writes through its text-mode file (each CR LF
// of the content becomes CR CR LF): the format every build reads and writes.
const std::string kTwoRecordFile = "//vurel cookie data file\r\r\n"
                                   "User: Alice\r\r\n"
                                   "Cookie: B=1; Y=v=1&n=a; \r\r\n"
                                   "Host: mail.vurel.example\r\r\n"
                                   "Timestamp: 1699990000\r\r\n"
                                   "\r\r\n"
                                   "User: bob\r\r\n"
                                   "Cookie: B=2; \r\r\n"
                                   "Host: m2.vurel.example\r\r\n"
                                   "Timestamp: 1700000000\r\r\n"
                                   "\r\r\n";

struct CookieJarTest : ::testing::Test {
    CookieJarTest() {
        dir = fs::temp_directory_path() /
              ("quill-cookiejar-" + std::to_string(reinterpret_cast<std::uintptr_t>(this)) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / "VurelCookie.dat";
    }
    ~CookieJarTest() override {
        std::error_code ignored;
        fs::remove_all(dir, ignored);
    }

    std::atomic<std::int64_t> now{kNow};
    CookieJar jar{[this] { return now.load(); }};
    fs::path dir;
    fs::path file;
};

TEST_F(CookieJarTest, ValidForEightHoursFromItsTimestamp) {
    struct Case {
        std::int64_t age;
        bool found;
    } cases[] = {{0, true}, {28799, true}, {28800, false}, {28801, false}, {-5000, true}};
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        jar.store(record("u", "c=1; ", "h", kNow - cases[i].age));
        const CookieRecord found = jar.find("u");
        EXPECT_EQ(!found.Cookie.empty(), cases[i].found) << "case " << i;
        if (!cases[i].found) {
            EXPECT_EQ(found.User, "") << "case " << i;
            EXPECT_EQ(found.Host, "") << "case " << i;
        }
    }
}

TEST_F(CookieJarTest, UnknownUserGivesAnEmptyRecord) {
    const CookieRecord found = jar.find("nobody");
    EXPECT_EQ(found.Cookie, "");
    EXPECT_EQ(found.User, "");
    EXPECT_EQ(found.Host, "");
    EXPECT_FALSE(jar.modified());
}

TEST_F(CookieJarTest, StoreReplacesTheRecordOfTheSameUserAndKeepsCaseApart) {
    jar.store(record("Alice", "a=1; ", "h1", kNow - 100));
    jar.store(record("Alice", "a=2; ", "h2", kNow - 10));
    jar.store(record("alice", "a=3; ", "h3", kNow));
    EXPECT_EQ(jar.size(), 2u);
    const CookieRecord upper = jar.find("Alice");
    EXPECT_EQ(upper.Cookie, "a=2; ");
    EXPECT_EQ(upper.Host, "h2");
    EXPECT_EQ(upper.Timestamp, kNow - 10);
    EXPECT_EQ(jar.find("alice").Cookie, "a=3; ");
    EXPECT_EQ(jar.find("ALICE").Cookie, "");
    EXPECT_TRUE(jar.modified());
}

TEST_F(CookieJarTest, SaveWritesValidRecordsInTheFileFormat) {
    jar.store(record("bob", "B=2; ", "m2.vurel.example", kNow));
    jar.store(record("Alice", "B=1; Y=v=1&n=a; ", "mail.vurel.example", kNow - 10000));
    jar.store(record("old", "x=1; ", "h", kNow - 28800));
    jar.save(file.string());
    EXPECT_EQ(readBytes(file), kTwoRecordFile);
    EXPECT_FALSE(jar.modified());
    EXPECT_EQ(jar.size(), 3u); // the expired record stays in memory
    EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
}

TEST_F(CookieJarTest, LoadReadsWhatEitherBuildWrote) {
    writeBytes(file, kTwoRecordFile);
    jar.load(file.string());
    EXPECT_FALSE(jar.modified());
    const CookieRecord alice = jar.find("Alice");
    EXPECT_EQ(alice.User, "Alice");
    EXPECT_EQ(alice.Cookie, "B=1; Y=v=1&n=a; ");
    EXPECT_EQ(alice.Host, "mail.vurel.example");
    EXPECT_EQ(alice.Timestamp, 1699990000);
    EXPECT_EQ(jar.find("bob").Host, "m2.vurel.example");
}

TEST_F(CookieJarTest, SaveThenLoadGivesTheSameRecords) {
    jar.store(record("u1", "a=1; b=2; ", "h1", kNow));
    jar.store(record("U1", "c=3; ", "h2", kNow - 1));
    jar.save(file.string());
    CookieJar other([this] { return now.load(); });
    other.load(file.string());
    EXPECT_EQ(other.size(), 2u);
    for (const char* user : {"u1", "U1"}) {
        const CookieRecord a = jar.find(user);
        const CookieRecord b = other.find(user);
        EXPECT_EQ(a.Cookie, b.Cookie) << user;
        EXPECT_EQ(a.Host, b.Host) << user;
        EXPECT_EQ(a.Timestamp, b.Timestamp) << user;
    }
}

// The verifier line follows the time stamp of its own record only.
TEST_F(CookieJarTest, VerifiersAreSavedAfterTheTimestampAndLoadedBack) {
    const std::string v1 = "pbkdf2-sha256$20000$00$11";
    const std::string v2 = "pbkdf2-sha256$20000$22$33";
    CookieRecord alice = record("Alice", "B=1; ", "h1", kNow - 10);
    alice.Verifier = v1;
    CookieRecord bob = record("bob", "B=2; ", "h2", kNow);
    bob.Verifier = v2;
    jar.store(alice);
    jar.store(bob);
    jar.save(file.string());
    const std::string expected = "//vurel cookie data file\r\r\n"
                                 "User: Alice\r\r\nCookie: B=1; \r\r\nHost: h1\r\r\n"
                                 "Timestamp: 1699999990\r\r\nVerifier: " +
                                 v1 +
                                 "\r\r\n\r\r\n"
                                 "User: bob\r\r\nCookie: B=2; \r\r\nHost: h2\r\r\n"
                                 "Timestamp: 1700000000\r\r\nVerifier: " +
                                 v2 + "\r\r\n\r\r\n";
    EXPECT_EQ(readBytes(file), expected);
    CookieJar other([this] { return now.load(); });
    other.load(file.string());
    EXPECT_EQ(other.find("Alice").Verifier, v1);
    EXPECT_EQ(other.find("bob").Verifier, v2);

    // A verifier line anywhere else belongs to no record.
    writeBytes(file, "x\r\r\nUser: a\r\r\nCookie: c\r\r\nHost: h\r\r\nTimestamp: 1699999999\r\r\n"
                     "\r\r\nVerifier: " +
                         v1 + "\r\r\n");
    CookieJar third([this] { return now.load(); });
    third.load(file.string());
    EXPECT_EQ(third.find("a").Cookie, "c");
    EXPECT_EQ(third.find("a").Verifier, "");
}

TEST_F(CookieJarTest, LoadAndSaveWithNothingStoredLeaveTheFileAsItWas) {
    const std::string original = kTwoRecordFile + "trailing bytes of no record";
    writeBytes(file, original);
    jar.load(file.string());
    jar.save(file.string());
    EXPECT_EQ(readBytes(file), original);
    EXPECT_FALSE(fs::exists(file.string() + ".tmp"));
}

std::string repeated(const std::string& text, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) {
        out += text;
    }
    return out;
}

TEST_F(CookieJarTest, MalformedGroupsAreSkippedAndAMissingKeyEndsTheLoad) {
    const std::string line = "\r\r\n";
    struct Case {
        std::string file;
        std::vector<std::string> users; // loaded, in any order
    } cases[] = {
        // empty cookie, then a good record
        {"//vurel cookie data file" + line + "User: a" + line + "Cookie: " + line + "Host: h" +
             line + "Timestamp: 1699999999" + line + line + "User: b" + line + "Cookie: c=1; " +
             line + "Host: h" + line + "Timestamp: 1699999999" + line + line,
         {"b"}},
        // time stamp 0 and time stamp without digits, then a good record
        {"x" + line + "User: a" + line + "Cookie: c" + line + "Host: h" + line + "Timestamp: 0" +
             line + line + "User: z" + line + "Cookie: c" + line + "Host: h" + line +
             "Timestamp: soon" + line + line + "User: b" + line + "Cookie: c" + line + "Host: h" +
             line + "Timestamp:   1699999999xyz" + line + line,
         {"b"}},
        // file ends in the middle of the second record
        {"x" + line + "User: a" + line + "Cookie: c" + line + "Host: h" + line +
             "Timestamp: 1699999999" + line + line + "User: b" + line + "Cookie: c",
         {"a"}},
        // the second group has no host: the load ends, the first record stays
        {"x" + line + "User: a" + line + "Cookie: c" + line + "Host: h" + line +
             "Timestamp: 1699999999" + line + line + "User: b" + line + "Cookie: c" + line +
             "Timestamp: 1699999999" + line + line,
         {"a"}},
        // no header line and no line end before the first "User: "
        {"User: a" + line + "Cookie: c" + line + "Host: h" + line + "Timestamp: 1699999999" + line,
         {}},
        // plain CR LF line ends are not the file's format
        {"x\r\nUser: a\r\nCookie: c\r\nHost: h\r\nTimestamp: 1699999999\r\n", {}},
        // the same user twice: the later group wins
        {"x" + line + "User: a" + line + "Cookie: first" + line + "Host: h" + line +
             "Timestamp: 1699999999" + line + line + "User: a" + line + "Cookie: second" + line +
             "Host: h" + line + "Timestamp: 1699999999" + line,
         {"a"}},
        // binary garbage
        {std::string("\0\r\r\n\xff\x1a User: \r\r\n", 14), {}},
        {"", {}}, // a pair beyond 4 KiB, and a cookie string beyond 64 KiB, from an
        // older build: skipped; the records after them load
        {"x" + line + "User: a" + line + "Cookie: A=" + std::string(4095, 'v') + "; " + line +
             "Host: h" + line + "Timestamp: 1699999999" + line + line + "User: b" + line +
             "Cookie: c=1; " + line + "Host: h" + line + "Timestamp: 1699999999" + line,
         {"b"}},
        {"x" + line + "User: a" + line +
             "Cookie: " + repeated("A=" + std::string(4000, 'v') + "; ", 17) + line + "Host: h" +
             line + "Timestamp: 1699999999" + line + line + "User: b" + line + "Cookie: c=1; " +
             line + "Host: h" + line + "Timestamp: 1699999999" + line,
         {"b"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        CookieJar fresh([this] { return now.load(); });
        writeBytes(file, cases[i].file);
        fresh.load(file.string());
        EXPECT_EQ(fresh.size(), cases[i].users.size()) << "case " << i;
        for (const std::string& user : cases[i].users) {
            EXPECT_NE(fresh.find(user).Cookie, "") << "case " << i << " user " << user;
        }
        EXPECT_FALSE(fresh.modified()) << "case " << i;
    }
    CookieJar fresh([this] { return now.load(); });
    writeBytes(file, cases[6].file);
    fresh.load(file.string());
    EXPECT_EQ(fresh.find("a").Cookie, "second");
}

TEST_F(CookieJarTest, LoadMergesAndReplacesRecordsOfTheSameUser) {
    jar.store(record("Alice", "mine", "h", kNow));
    jar.store(record("carol", "kept", "h", kNow));
    writeBytes(file, kTwoRecordFile);
    jar.load(file.string());
    EXPECT_EQ(jar.size(), 3u);
    EXPECT_EQ(jar.find("Alice").Cookie, "B=1; Y=v=1&n=a; ");
    EXPECT_EQ(jar.find("carol").Cookie, "kept");
}

TEST_F(CookieJarTest, ExpiredRecordsLoadButAreNeitherFoundNorSaved) {
    writeBytes(file, kTwoRecordFile);
    now = 1699990000 + 28800; // Alice just expired, bob still valid
    jar.load(file.string());
    EXPECT_EQ(jar.size(), 2u);
    EXPECT_EQ(jar.find("Alice").Cookie, "");
    jar.store(record("bob", "B=2; ", "m2.vurel.example", 1700000000));
    jar.save(file.string());
    EXPECT_EQ(readBytes(file), "//vurel cookie data file\r\r\n"
                               "User: bob\r\r\nCookie: B=2; \r\r\nHost: m2.vurel.example\r\r\n"
                               "Timestamp: 1700000000\r\r\n\r\r\n");
}

TEST_F(CookieJarTest, MissingFileChangesNothing) {
    jar.store(record("a", "c", "h", kNow));
    jar.load((dir / "absent.dat").string());
    EXPECT_EQ(jar.size(), 1u);
    EXPECT_TRUE(jar.modified());
}

TEST_F(CookieJarTest, UnwritableTargetLeavesNoFileAndClearsModified) {
    jar.store(record("a", "c", "h", kNow));
    const fs::path target = dir / "no-such-folder" / "VurelCookie.dat";
    jar.save(target.string());
    EXPECT_FALSE(fs::exists(target));
    EXPECT_FALSE(jar.modified());
}

TEST_F(CookieJarTest, SaveReplacesTheWholeFileAndOnlyTheOwnerMayReadIt) {
    writeBytes(file, std::string(5000, 'x'));
    jar.store(record("a", "c=1; ", "h", kNow));
    jar.save(file.string());
    EXPECT_EQ(readBytes(file), "//vurel cookie data file\r\r\nUser: a\r\r\nCookie: c=1; \r\r\n"
                               "Host: h\r\r\nTimestamp: 1700000000\r\r\n\r\r\n");
    // Only where the file system keeps owner-only modes (not on Windows).
    const fs::path probe = dir / "probe";
    writeBytes(probe, "p");
    fs::permissions(probe, fs::perms::owner_read | fs::perms::owner_write);
    if (fs::status(probe).permissions() == (fs::perms::owner_read | fs::perms::owner_write)) {
        EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    }
}

TEST_F(CookieJarTest, RecordsWithLineBreaksAreNotWrittenSoTheyCannotForgeRecords) {
    jar.store(record("evil", "a=1\r\nUser: admin", "h", kNow));
    jar.store(record("ok", "b=2; ", "h", kNow));
    jar.save(file.string());
    CookieJar other([this] { return now.load(); });
    other.load(file.string());
    EXPECT_EQ(other.size(), 1u);
    EXPECT_EQ(other.find("ok").Cookie, "b=2; ");
    EXPECT_EQ(jar.find("evil").Cookie, "a=1\r\nUser: admin"); // still usable in memory
}

TEST_F(CookieJarTest, ServiceThreadsAndTheHostThreadShareOneJar) {
    std::thread pop3([&] {
        for (int i = 0; i < 300; ++i) {
            jar.store(record("p" + std::to_string(i % 7), "c=" + std::to_string(i), "h", kNow));
            (void)jar.find("s3");
        }
    });
    std::thread smtp([&] {
        for (int i = 0; i < 300; ++i) {
            jar.store(record("s" + std::to_string(i % 5), "c", "h", kNow));
            (void)jar.find("p1");
        }
    });
    for (int i = 0; i < 20; ++i) {
        jar.save(file.string());
        jar.load(file.string());
    }
    pop3.join();
    smtp.join();
    EXPECT_EQ(jar.size(), 12u);
}

TEST(CookieRecordTest, SetStampsTheCurrentTime) {
    CookieRecord r;
    const std::int64_t before = CookieJar::systemTime();
    r.set("u", "c", "h");
    const std::int64_t after = CookieJar::systemTime();
    EXPECT_EQ(r.User, "u");
    EXPECT_EQ(r.Cookie, "c");
    EXPECT_EQ(r.Host, "h");
    EXPECT_GE(r.Timestamp, before);
    EXPECT_LE(r.Timestamp, after);
}

} // namespace
} // namespace quill
