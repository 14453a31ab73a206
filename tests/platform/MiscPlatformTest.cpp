#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/LargeBuffer.h"
#include "platform/Termination.h"
#include "platform/TestTempDir.h"
#include "platform/TextCompare.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <future>
#include <string>

using namespace quill::platform;
using quill::test::TestTempDir;

TEST(Files, BinaryRoundTripAndAtomicReplace) {
    TestTempDir dir;
    const std::string path = dir.file("VurelCookie.dat");
    std::string bytes("a\r\r\nb\0c\n\x1a\xff", 11);
    std::string got = "stale";
    EXPECT_FALSE(readFile(path, got));
    EXPECT_TRUE(got.empty());
    EXPECT_FALSE(fileExists(path));

    ASSERT_TRUE(writeFileAtomically(path, bytes, true));
    EXPECT_TRUE(readFile(path, got));
    EXPECT_EQ(got, bytes); // no line-end translation either way

    ASSERT_TRUE(writeFileAtomically(path, "new", false));
    EXPECT_TRUE(readFile(path, got));
    EXPECT_EQ(got, "new");
    EXPECT_FALSE(fileExists(path + ".tmp"));
    ASSERT_TRUE(writeFileAtomically(path, "", false));
    EXPECT_TRUE(readFile(path, got));
    EXPECT_EQ(got, "");

    EXPECT_FALSE(writeFileAtomically(dir.file("missing-folder") + "/x", "x", false));
}

TEST(LargeBuffer, TheHintLeavesEveryBufferAsItWas) {
    // Null, tiny, unaligned and multi-megabyte buffers, on memory already
    // written: the contents and the size stay, and filling the rest works.
    adviseLargeBuffer(nullptr, 0);
    adviseLargeBuffer(nullptr, 64u << 20);
    for (std::size_t size : {std::size_t(1), std::size_t(4097), std::size_t(9u << 20) + 3}) {
        std::string buffer;
        buffer.reserve(size);
        buffer.assign(size / 2, 'q');
        adviseLargeBuffer(&buffer[1], buffer.capacity() - 1);
        EXPECT_EQ(buffer, std::string(size / 2, 'q')) << size;
        buffer.append(size - size / 2, 'r');
        EXPECT_EQ(buffer, std::string(size / 2, 'q') + std::string(size - size / 2, 'r')) << size;
    }
}

TEST(LargeBuffer, TheAllocatorGivesTheWholeBlockAndTakesItBack) {
    // Small, heap-sized and past the size that is placed on huge pages.
    using LargeString = std::basic_string<char, std::char_traits<char>, LargeBufferAllocator<char>>;
    for (std::size_t size :
         {std::size_t(1), std::size_t(9u << 20) + 3, std::size_t(40u << 20) + 5}) {
        LargeString buffer(size, 'q');
        buffer.back() = 'r';
        LargeString copy(buffer);
        buffer.clear();
        buffer.shrink_to_fit();
        EXPECT_EQ(copy.size(), size);
        EXPECT_EQ(copy.front(), size == 1 ? 'r' : 'q') << size;
        EXPECT_EQ(copy.back(), 'r') << size;
    }
}

TEST(TextCompare, OrdersVersionTexts) {
    struct Case {
        const char* a;
        const char* b;
        int sign;
    } cases[] = {
        {"2.00.05", "2.00.06", -1}, {"2.00.06", "2.00.06", 0}, {"2.00.10", "2.00.06", 1},
        {"2.75.02", "2.00.06", 1},  {"1.99", "2.00.06", -1},   {nullptr, "", 0},
        {"", "2.00.06", -1},
    };
    for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        int r = compareText(cases[i].a, cases[i].b);
        int sign = r < 0 ? -1 : (r > 0 ? 1 : 0);
        EXPECT_EQ(sign, cases[i].sign) << "case " << i;
    }
}

TEST(Clock, IsTheCalendarTime) {
    // 2020-01-01 and 2100-01-01.
    EXPECT_GT(nowSeconds(), 1577836800);
    EXPECT_LT(nowSeconds(), 4102444800);
}

TEST(Termination, ARequestEndsEveryWait) {
    watchTermination();
    auto waiting = std::async(std::launch::async, [] { waitForTermination(); });
    requestTermination();
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    waitForTermination(); // stays requested
}
