#include "pop3/Pop3Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quill {
namespace {

using namespace pop3text;

TEST(Pop3TextTest, WordsAreRunsOfNonBlanks) {
    struct Case {
        std::string line;
        std::vector<std::string> words;
    } cases[] = {
        {"USER alice", {"USER", "alice"}},
        {"  \tLIST   2  ", {"LIST", "2"}},
        {"", {}},
        {"   ", {}},
        {std::string("RE\0TR 1", 7), {std::string("RE\0TR", 5), "1"}},
        {"TOP 1 10 extra", {"TOP", "1", "10", "extra"}},
        {"\x01\xff \x7f", {"\x01\xff", "\x7f"}},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::vector<std::string> got;
        std::size_t pos = 0;
        for (;;) {
            std::string w = nextWord(cases[i].line, pos);
            if (w.empty())
                break;
            got.push_back(w);
        }
        EXPECT_EQ(got, cases[i].words) << "case " << i;
    }
}

TEST(Pop3TextTest, MessageNumbersAreLeadingDigits) {
    struct Case {
        const char* word;
        bool ok;
        unsigned long value;
    } cases[] = {
        {"1", true, 1},
        {"42", true, 42},
        {"007", true, 7},
        {"3abc", true, 3},
        {"abc", false, 0},
        {"", false, 0},
        {"-1", false, 0},
        {"+1", false, 0},
        {"99999999999999999999999999", true, static_cast<unsigned long>(-1)},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        unsigned long n = 12345;
        EXPECT_EQ(parseNumber(cases[i].word, n), cases[i].ok) << "case " << i;
        if (cases[i].ok) {
            EXPECT_EQ(n, cases[i].value) << "case " << i;
        }
    }
}

TEST(Pop3TextTest, HeaderGetsCrLfLineEndsAndItsEmptyLine) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"Subject: a\r\n\r\n", "Subject: a\r\n\r\n"},
        {"Subject: a\r\n", "Subject: a\r\n\r\n"},
        {"Subject: a", "Subject: a\r\n\r\n"},
        {"", "\r\n"},
        {"Subject: a\r", "Subject: a\r\r\n\r\n"},
        {"A: 1\nB: 2\n", "A: 1\r\nB: 2\r\n\r\n"},
        {"A: 1\r\n\n", "A: 1\r\n\r\n"},
        {"\n\r\n", "\r\n\r\n"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(closeHeader(withCrLf(cases[i].in)), cases[i].out) << "case " << i;
    }
}

TEST(Pop3TextTest, FirstLinesOfABody) {
    const std::string body = "one\r\ntwo\nthree";
    EXPECT_EQ(firstLines(body, 0), "");
    EXPECT_EQ(firstLines(body, 1), "one\r\n");
    EXPECT_EQ(firstLines(body, 2), "one\r\ntwo\n"); // a bare LF ends a line too
    EXPECT_EQ(firstLines(body, 3), body);
    EXPECT_EQ(firstLines(body, 99999999), body);
}

std::string stuffed(const std::vector<std::string>& pieces, bool* endsWithLineEnd = nullptr) {
    std::string out;
    DotStuffer stuffer([&out](const char* b, std::size_t n) { out.append(b, n); });
    for (const auto& p : pieces)
        stuffer.feed(p);
    if (endsWithLineEnd)
        *endsWithLineEnd = stuffer.endsWithLineEnd();
    return out;
}

TEST(Pop3TextTest, DotStuffingOfLinesThatBeginWithADot) {
    struct Case {
        std::vector<std::string> in;
        std::string out;
        bool endsWithLineEnd;
    } cases[] = {
        {{"a\r\n.\r\nb"}, "a\r\n..\r\nb", false},
        {{".x\r\n"}, "..x\r\n", true},
        {{"a\r\n..\r\n"}, "a\r\n...\r\n", true},
        {{"a.b\r\n x.\r\n"}, "a.b\r\n x.\r\n", true},
        // A bare LF becomes CR LF and ends a line; a lone CR does not.
        {{"a\n.b\r.c\r\n"}, "a\r\n..b\r.c\r\n", true},
        {{"second line\n.\r\n+OK injected\r\n"}, "second line\r\n..\r\n+OK injected\r\n", true},
        {{"\n\n.\r\r\n"}, "\r\n\r\n..\r\r\n", true},
        // Line starts and CRs are followed across pieces, even inside a CR LF.
        {{"H: 1\r\n\r\n", ".body\r\n"}, "H: 1\r\n\r\n..body\r\n", true},
        {{"a\r", "\n.b"}, "a\r\n..b", false},
        {{"a\n", "\n", ".b\n"}, "a\r\n\r\n..b\r\n", true},
        {{"a\r\n", ""}, "a\r\n", true},
        {{"", "."}, "..", false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        bool end = false;
        EXPECT_EQ(stuffed(cases[i].in, &end), cases[i].out) << "case " << i;
        EXPECT_EQ(end, cases[i].endsWithLineEnd) << "case " << i;
    }
}

// Whatever way the data is split, the stuffed bytes are the same.
TEST(Pop3TextTest, DotStuffingDoesNotDependOnSplits) {
    const std::string data = ".a\r\n.\r\n..\nb.\r\n\n.c\r\r\n.\n\n.";
    const std::string whole = stuffed({data});
    for (std::size_t a = 0; a <= data.size(); ++a) {
        for (std::size_t b = a; b <= data.size(); ++b) {
            EXPECT_EQ(stuffed({data.substr(0, a), data.substr(a, b - a), data.substr(b)}), whole)
                << "split at " << a << "," << b;
        }
    }
}

// Long texts with dots, CRs and LFs everywhere, fed whole and in pieces of
// many sizes, against a framing that goes byte by byte.
TEST(Pop3TextTest, DotStuffingOfLongTextsMatchesAByteByByteStuffer) {
    std::uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 16;
    };
    const char alphabet[] = {'.', '\r', '\n', 'a', 'b', ' '};
    for (int round = 0; round < 20; ++round) {
        std::string data;
        const std::size_t size = 1 + next() % 3000;
        for (std::size_t i = 0; i < size; ++i) {
            // Mostly CR LF line ends, so that dot lines are common.
            data += next() % 4 == 0 ? std::string("\r\n") : std::string(1, alphabet[next() % 6]);
        }
        std::string expected;
        bool lineStart = true;
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (data[i] == '\n' && (i == 0 || data[i - 1] != '\r')) {
                expected += '\r';
            }
            if (lineStart && data[i] == '.') {
                expected += '.';
            }
            expected += data[i];
            lineStart = data[i] == '\n';
        }
        EXPECT_EQ(stuffed({data}), expected) << "round " << round;
        for (std::size_t piece : {1u, 2u, 15u, 16u, 17u, 31u, 100u}) {
            std::vector<std::string> pieces;
            for (std::size_t at = 0; at < data.size(); at += piece) {
                pieces.push_back(data.substr(at, piece));
            }
            bool end = false;
            ASSERT_EQ(stuffed(pieces, &end), expected)
                << "round " << round << ", pieces of " << piece;
            EXPECT_EQ(end, lineStart) << "round " << round << ", pieces of " << piece;
        }
    }
}

} // namespace
} // namespace quill
