#include "smtp/SmtpText.h"

#include <gtest/gtest.h>

#include <string>

namespace quill {
namespace {

using namespace smtptext;

TEST(SmtpTextTest, CommandWordAndArgument) {
    struct Case {
        const char* line;
        const char* word;
        const char* argument;
    } cases[] = {
        {"EHLO client.example", "EHLO", "client.example"},
        {"  \tmail FROM:<a@b>  ", "mail", "FROM:<a@b>"},
        {"", "", ""},
        {"   ", "", ""},
        {"DATA", "DATA", ""},
        {"AUTH LOGIN dXNlcg==", "AUTH", "LOGIN dXNlcg=="},
    };
    int i = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.word, commandWord(c.line)) << "case " << i;
        EXPECT_EQ(c.argument, commandArgument(c.line)) << "case " << i;
        ++i;
    }
}

TEST(SmtpTextTest, RecipientAddressMarkers) {
    struct Case {
        const char* line;
        const char* address;
    } cases[] = {
        {"RCPT TO:<a@b.example>", "a@b.example"},
        {"rcpt to:<a@b.example>", "a@b.example"},
        {"RCPT TO: <a@b.example>", "a@b.example"},
        {"RCPT TO:\t <a@b.example> NOTIFY=NEVER", "a@b.example"},
        {"RCPT TO:a@b.example", ""},
        {"RCPT TO:<a@b.example", ""},
        {"RCPT FROM:<a@b.example>", ""},
        {"RCPT TO:<>", ""},
        {"RCPT TO: x <a@b.example>", ""},
        // The first marker counts, wherever it is on the line.
        {"RCPT rcpt to:<first@x> RCPT TO:<second@x>", "first@x"},
        {"RCPT TO:<\"odd >\"@x>", "\"odd "},
    };
    int i = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.address, recipientAddress(c.line)) << "case " << i;
        ++i;
    }
}

TEST(SmtpTextTest, UnstuffDotsOnlyAtLineStarts) {
    struct Case {
        std::string in;
        std::string out;
    } cases[] = {
        {"", ""},
        {".", ""},
        {"..", "."},
        {"..leading", ".leading"},
        {"a\r\n..b\r\n...c", "a\r\n.b\r\n..c"},
        {"mid.dle\r\nx..y", "mid.dle\r\nx..y"},
        // A bare LF does not start a line on the wire.
        {"a\n..b", "a\n..b"},
        {"a\r\n.", "a\r\n"},
        {"\r\n\r\n..", "\r\n\r\n."},
    };
    int i = 0;
    for (const Case& c : cases) {
        std::string text = c.in;
        unstuffDots(text);
        EXPECT_EQ(c.out, text) << "case " << i;
        ++i;
    }
}

// Line by line, the obvious way: the reference the fast version must match.
std::string unstuffByLines(const std::string& text) {
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        std::string line = text.substr(start, end == std::string::npos ? end : end - start);
        if (!line.empty() && line[0] == '.') {
            line.erase(0, 1);
        }
        out += line;
        if (end == std::string::npos) {
            return out;
        }
        out += "\r\n";
        start = end + 2;
    }
}

TEST(SmtpTextTest, UnstuffDotsMatchesLineByLineOnEveryShortText) {
    // Every text of up to 7 bytes over the bytes that matter.
    const char alphabet[] = {'.', '\r', '\n', 'a'};
    for (int length = 0; length <= 7; ++length) {
        int total = 1;
        for (int k = 0; k < length; ++k) {
            total *= 4;
        }
        for (int n = 0; n < total; ++n) {
            std::string text;
            for (int k = 0, v = n; k < length; ++k, v /= 4) {
                text += alphabet[v % 4];
            }
            std::string fast = text;
            unstuffDots(fast);
            ASSERT_EQ(unstuffByLines(text), fast) << "text #" << n << " of length " << length;
        }
    }
}

TEST(SmtpTextTest, NamesAddressAsWholeAddressWithoutCase) {
    struct Case {
        const char* header;
        const char* address;
        bool named;
    } cases[] = {
        {"al@x.example", "al@x.example", true},
        {"Al <AL@X.Example>", "al@x.example", true},
        {"sal@x.example", "al@x.example", false},
        {"al@x.example.org", "al@x.example", false},
        {"sal@x.example, al@x.example", "al@x.example", true},
        {"b@x.example,al@x.example", "al@x.example", true},
        {"\"al@x.example\" <other@y>", "al@x.example", true},
        {"", "al@x.example", false},
        {"al-1@x.example", "al@x.example", false},
        {"x+al@x.example", "al@x.example", false},
    };
    int i = 0;
    for (const Case& c : cases) {
        EXPECT_EQ(c.named, namesAddress(c.header, c.address)) << "case " << i;
        ++i;
    }
}

TEST(SmtpTextTest, BlindCopiesAppendUnnamedRecipientsInByteOrder) {
    const std::set<std::string> recipients = {"zed@y", "al@x", "Bob@x", "carol@z", "\xE9t@x"};
    // "al@x" is not named by "sal@x"; "Bob@x" is named in Cc ignoring case.
    EXPECT_EQ("al@x,carol@z,zed@y,\xE9t@x", blindCopies("sal@x", "bob@X", "", recipients));
    EXPECT_EQ("hidden@w,al@x,zed@y,\xE9t@x",
              blindCopies("carol@z", "Bob@x", "hidden@w", recipients));
    EXPECT_EQ("", blindCopies("al@x, zed@y, carol@z, Bob@x, \xE9t@x", "", "", recipients));
    EXPECT_EQ("keep", blindCopies("", "", "keep", {}));
}

} // namespace
} // namespace quill
