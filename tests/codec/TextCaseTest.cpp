#include "codec/TextCase.h"

#include <gtest/gtest.h>

#include <iterator>

namespace quill {
namespace {

TEST(TextCaseTest, OnlyAsciiLettersFold) {
    struct Case {
        const char* a;
        const char* b;
        bool equal;
        bool startsWith;
    } cases[] = {
        {"USER", "USER", true, true},
        {"user", "USER", true, true},
        {"uSeR", "USER", true, true},
        {"USERS", "USER", false, true},
        {"USE", "USER", false, false},
        {"", "USER", false, false},
        {"", "", true, true},
        {"RcPt", "RCPT", true, true},
        // A byte 0xC5 is not an "E"; "[" (0x5B) is not "{" (0x7B).
        {"\xC5HLO", "EHLO", false, false},
        {"[a", "{A", false, false},
        {"Basic abc", "basic ", false, true},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(equalsNoCase(cases[i].a, cases[i].b), cases[i].equal) << "case " << i;
        EXPECT_EQ(startsWithNoCase(cases[i].a, cases[i].b), cases[i].startsWith) << "case " << i;
    }
}

} // namespace
} // namespace quill
