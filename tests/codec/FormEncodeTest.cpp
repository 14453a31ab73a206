#include "codec/FormEncode.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace quill {
namespace {

TEST(FormEncode, KnownTexts) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"a b", "a+b"},       {"&", "%26"},
        {"=", "%3D"},         {".", "%2E"},
        {"-", "%2D"},         {"_", "%5F"},
        {"\xe9", "%E9"},      {"\r\n", "%0D%0A"},
        {"*~/", "%2A%7E%2F"}, {"", ""},
        {"Az09", "Az09"},     {std::string("ab\0cd", 5), "ab%00cd"}, // a zero byte cuts nothing
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(formEncode(cases[i].in), cases[i].out) << "case " << i;
    }
}

TEST(FormEncode, EveryByteValue) {
    for (int b = 0; b < 256; ++b) {
        const std::string out = formEncode(std::string(1, static_cast<char>(b)));
        std::string expected;
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9')) {
            expected = std::string(1, static_cast<char>(b));
        } else if (b == ' ') {
            expected = "+";
        } else {
            char buffer[4];
            std::snprintf(buffer, sizeof buffer, "%%%02X", b);
            expected = buffer;
        }
        EXPECT_EQ(out, expected) << "byte " << b;
    }
}

TEST(FormEncode, LongEscapedInputIsNeverCut) {
    // Three output characters per byte: more than twice the input plus 1024.
    // Longer than one encoding slice, so slice edges are crossed too.
    const std::string input(20000, '&');
    const std::string out = formEncode(input);
    ASSERT_EQ(out.size(), 60000u);
    EXPECT_EQ(formEncodedLength(input), out.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        ASSERT_EQ(out.compare(i * 3, 3, "%26"), 0) << "at " << i;
    }
}

} // namespace
} // namespace quill
