#include "webmail/TextScanner.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

TEST(TextScanner, FindsSuccessiveMatches) {
    const std::string text = "<b>one</b><b>two</b><b>three";
    TextScanner scanner(text);
    EXPECT_EQ(scanner.match(), "");
    EXPECT_EQ(scanner.rest(), text);
    ASSERT_TRUE(scanner.find("<b>", "</b>"));
    EXPECT_EQ(scanner.match(), "one");
    EXPECT_EQ(scanner.rest(), "</b><b>two</b><b>three");
    ASSERT_TRUE(scanner.find("<b>", "</b>"));
    EXPECT_EQ(scanner.match(), "two");
    // No end marker after the third begin: unchanged.
    EXPECT_FALSE(scanner.find("<b>", "</b>"));
    EXPECT_EQ(scanner.match(), "two");
    EXPECT_EQ(scanner.position(), 13u);
    EXPECT_FALSE(scanner.find("<i>", "</b>"));
    EXPECT_EQ(scanner.match(), "two");
}

TEST(TextScanner, PreviousEndServesAsNextBegin) {
    const std::string text = "a|b|c|";
    TextScanner scanner(text);
    ASSERT_TRUE(scanner.find("|", "|"));
    EXPECT_EQ(scanner.match(), "b");
    ASSERT_TRUE(scanner.find("|", "|"));
    EXPECT_EQ(scanner.match(), "c");
    EXPECT_FALSE(scanner.find("|", "|"));
}

TEST(TextScanner, Table) {
    const struct {
        std::string text, begin, end;
        bool found;
        std::string match;
    } cases[] = {
        {"HTTP/1.0 200 OK", " ", " ", true, "200"},
        {"HTTP/1.0 200", " ", " ", false, ""},
        {"xAByBAz", "AB", "BA", true, "y"},
        {"ABA", "AB", "BA", false, ""}, // end searched after begin, no overlap
        {"ABBA", "AB", "BA", true, ""},
        {"ABBBA", "AB", "BA", true, "B"},
        {"[]", "[", "]", true, ""},
        {"Content-Encoding: gzip", "Content-Encoding: ", "gzip", true, ""},
        {"content-encoding: gzip", "Content-Encoding: ", "gzip", false, ""},
        {"", "a", "b", false, ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        TextScanner scanner(cases[i].text);
        EXPECT_EQ(scanner.find(cases[i].begin, cases[i].end), cases[i].found) << "case " << i;
        EXPECT_EQ(scanner.match(), cases[i].match) << "case " << i;
    }
}

} // namespace
} // namespace quill
