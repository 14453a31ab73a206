#include "mime/EncodedWordCoder.h"

#include "mime/MimeTestUtil.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

struct Decoded {
    std::string text, charset;
};

Decoded decode(std::string_view in) {
    EncodedWordCoder c;
    c.setInput(in.data(), in.size());
    std::string out(in.size(), '\0');
    out.resize(c.decode(&out[0], out.size()));
    return {out, c.charset()};
}

TEST(EncodedWordCoder, DecodesTable) {
    struct Case {
        std::string in, out, charset;
    } cases[] = {
        {"plain", "plain", ""},
        {"=?utf-8?B?aGVsbG8=?=", "hello", "utf-8"},
        {"=?utf-8?b?aGVsbG8=?=", "hello", "utf-8"},
        {"=?ISO-8859-1?Q?caf=E9?=", "caf\xE9", "ISO-8859-1"},
        {"=?x?q?a_b=5Fc?=", "a b_c", "x"},               // underscore is a space, =5F one
        {"=?a?Q?one?= =?b?Q?two?=", "onetwo", "a"},      // white space between words vanishes
        {"=?a?Q?one?=\r\n\t=?a?Q?two?=", "onetwo", "a"}, // ...also a fold
        {"=?a?Q?one?=  x =?a?Q?two?=", "one  x two", "a"},
        {"Re: =?a?Q?x?=", "Re: x", "a"}, // space before a word stays
        {" =?a?Q?x?=", " x", "a"},       // ...even at the very start
        {"=?a?Q?x?= tail", "x tail", "a"},
        {"=?a?X?abc?= z", "=?a?X?abc?= z", "a"},     // unknown letter: kept as text
        {"=?a?Q?unterminated", "unterminated", "a"}, // runs to the end of the value
        {"=?a?Q?", "=?a?Q?", ""},                    // no text after the letter
        {"=?broken", "=?broken", ""},
        {"a=?b", "a=?b", ""},
        {"=?a?Q?x=?= =?b?B?eQ==?=", "xy", "a"}, // "=" before "?=" is dropped
        {"=??Q?x?= =?c?Q?y?=", "xy", "c"},      // an empty charset is not kept
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Decoded d = decode(cases[i].in);
        EXPECT_EQ(d.text, cases[i].out) << "case " << i << ": " << test::printable(d.text);
        EXPECT_EQ(d.charset, cases[i].charset) << "case " << i;
    }
}

TEST(EncodedWordCoder, DecodeKeepsWithinCapacity) {
    std::string in = "=?a?Q?abcdef?= tail";
    for (std::size_t cap = 0; cap < 12; ++cap) {
        EncodedWordCoder c;
        c.setInput(in.data(), in.size());
        std::string out(cap + 3, '#');
        std::size_t n = c.decode(&out[0], cap);
        EXPECT_LE(n, cap);
        EXPECT_EQ(out.substr(cap), "###") << "capacity " << cap;
    }
}

TEST(EncodedWordCoder, EncodesBothFormsAndSplitsLongWords) {
    EncodedWordCoder c;
    c.setCharset("utf-8");
    std::string in = "caf\xC3\xA9 ?_=";
    c.setInput(in.data(), in.size());
    c.setEncoding('Q');
    std::string q;
    c.encodeTo(q);
    EXPECT_EQ(q, "=?utf-8?Q?caf=C3=A9=20=3F=5F=3D?=");
    c.setEncoding('B');
    std::string b;
    c.encodeTo(b);
    EXPECT_EQ(b, "=?utf-8?B?Y2Fmw6kgP189?=");

    std::string longText(200, '\xE9');
    for (char form : {'B', 'Q'}) {
        for (std::string cs :
             {std::string("utf-8"), std::string(70, 'c')}) { // a charset longer than a word
            c.setCharset(cs);
            c.setInput(longText.data(), longText.size());
            c.setEncoding(form);
            std::string out;
            c.encodeTo(out);
            EXPECT_LE(out.size(), c.encodedLength()) << form << " " << cs.size();
            EXPECT_EQ(decode(out).text, longText) << form;
            EXPECT_EQ(decode(out).charset, cs);
            if (cs.size() < 20) {
                // Every word stays within 75 characters.
                std::size_t start = 0;
                for (std::size_t k = 0; k <= out.size(); ++k)
                    if (k == out.size() || out[k] == ' ') {
                        EXPECT_LE(k - start, 75u) << form;
                        start = k + 1;
                    }
            }
        }
    }
}

} // namespace
} // namespace quill
