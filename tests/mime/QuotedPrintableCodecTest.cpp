#include "mime/QuotedPrintableCodec.h"

#include "mime/MimeTestUtil.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

using test::printable;
using test::runCodec;
using D = MimeCodec::Direction;

TEST(QuotedPrintableCodec, DecodesTable) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"=41", "A"},
        {"=3d", "="},          // lower-case second digit still decodes
        {"=a1", "a1"},         // lower-case first digit is no hex digit
        {"ab=\r\ncd", "abcd"}, // soft line break
        {"ab=", "ab"},         // "=" at the end is dropped
        {"ab=4", "ab"},        // "=" with one byte after it is dropped
        {"a=\rb", "a\rb"},     // "=" before CR without LF
        {"=G0", "G0"},         // "=" before a non-hex byte gives that byte
        {"x=20y\r\nz", "x y\r\nz"},
        {"=3D=0D=0A", "=\r\n"},
        {"caf=C3=A9", "caf\xC3\xA9"},
        {"a_b", "a_b"}, // underscore is only special in encoded words
        {"", ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        QuotedPrintableCodec c;
        EXPECT_EQ(runCodec(c, cases[i].in, D::Decode), cases[i].out) << "case " << i;
    }
}

TEST(QuotedPrintableCodec, DecodeStopsAtCapacity) {
    const std::string in = "=41=42=43";
    char out[2];
    EXPECT_EQ(QuotedPrintableCodec::decodeSpan(reinterpret_cast<const unsigned char*>(in.data()),
                                               in.size(), out, 2, false),
              2u);
    EXPECT_EQ(std::string(out, 2), "AB");
}

TEST(QuotedPrintableCodec, EncodesTextForm) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain text", "plain text"},
        {"a=b", "a=3Db"},
        {"trail ", "trail=20"},
        {"tab\t", "tab=09"},
        {"sp \r\nx", "sp=20\r\nx"},
        {"a\r\n.\r\nb", "a\r\n=2E\r\nb"}, // a line holding only a dot
        {".\r\nb", ".\r\nb"},             // the dot among the first two bytes
        {"a.b", "a.b"},
        {"\xC3\xA9\x01", "=C3=A9=01"},
        {"x\r\ny", "x\r\ny"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        QuotedPrintableCodec c;
        EXPECT_EQ(runCodec(c, cases[i].in, D::Encode), cases[i].out) << "case " << i;
    }
}

TEST(QuotedPrintableCodec, SoftBreaksAtLastSpaceOrAt75) {
    QuotedPrintableCodec c;
    // No space: the break falls where the line would pass 75 characters.
    std::string longWord(80, 'a');
    EXPECT_EQ(runCodec(c, longWord, D::Encode), std::string(75, 'a') + "=\r\n" + "aaaaa");
    // With spaces the break follows the last space, and the bytes after it
    // move to the next line.
    std::string words;
    for (int i = 0; i < 20; ++i)
        words += "word ";
    words += "end";
    std::string enc = runCodec(c, words, D::Encode);
    std::size_t br = enc.find("=\r\n");
    ASSERT_NE(br, std::string::npos);
    EXPECT_EQ(enc[br - 1], ' ') << printable(enc);
    EXPECT_LE(br + 1, 76u);
}

TEST(QuotedPrintableCodec, BinaryFormEncodesLineEnds) {
    QuotedPrintableCodec c;
    c.setMode(true);
    EXPECT_EQ(runCodec(c, "a b\r\n.\r\n ", D::Encode), "a b=0D=0A.=0D=0A=20");
}

TEST(QuotedPrintableCodec, RandomRoundTripsWithinBoundAndLineLimit) {
    test::TestRandom rnd(7);
    for (int round = 0; round < 400; ++round) {
        for (bool binary : {false, true}) {
            std::string in =
                rnd.bytes(rnd.below(400), round % 3 ? std::string_view() : " \t\r\n.=a\xE9");
            QuotedPrintableCodec enc;
            enc.setMode(binary);
            bool held = false;
            std::string e = runCodec(enc, in, D::Encode, &held);
            EXPECT_TRUE(held) << "round " << round << " binary " << binary;
            // Every encoded line stays within 76 characters (a soft break's
            // "=" included).
            std::size_t start = 0;
            for (std::size_t k = 0; k <= e.size(); ++k)
                if (k == e.size() || e[k] == '\r' || e[k] == '\n') {
                    EXPECT_LE(k - start, 76u) << "round " << round << " " << printable(e);
                    start = k + 1;
                }
            QuotedPrintableCodec dec;
            EXPECT_EQ(runCodec(dec, e, D::Decode), in)
                << "round " << round << " binary " << binary << " " << printable(e);
        }
    }
}

} // namespace
} // namespace quill
