#include "mime/FieldCoder.h"

#include "mime/FieldCoderRegistry.h"
#include "mime/MimeTestUtil.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

std::string encodeField(std::string_view name, std::string_view value, std::string charset) {
    auto c = FieldCoderRegistry::coderFor(name);
    c->setCharset(std::move(charset));
    c->setDirection(FieldCoder::Direction::Encode);
    c->setInput(value.data(), value.size());
    std::string out = c->encoded();
    EXPECT_LE(out.size(), c->encodedLength()) << name << ": " << value;
    return out;
}

std::string decodeField(std::string_view name, std::string_view raw,
                        std::string* charset = nullptr) {
    auto c = FieldCoderRegistry::coderFor(name);
    c->setInput(raw.data(), raw.size());
    std::string out(raw.size(), '\0');
    out.resize(c->decode(&out[0], out.size()));
    if (charset)
        *charset = c->charset();
    return out;
}

TEST(FieldCoder, RegistryChoosesByNameWithoutCase) {
    struct Case {
        const char* name;
        bool foldsComma, foldsSemicolon, oneSegment;
    } cases[] = {
        {"Subject", false, false, true},
        {"comments", false, false, true},
        {"CONTENT-DESCRIPTION", false, false, true},
        {"TO", true, false, false},
        {"from", true, false, false},
        {"Resent-Reply-To", true, false, false},
        {"content-type", false, true, false},
        {"Content-Disposition", false, true, false},
        {"X-Mailer", false, false, false},
        {"", false, false, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        auto c = FieldCoderRegistry::coderFor(cases[i].name);
        EXPECT_EQ(c->isFoldPoint(','), cases[i].foldsComma) << "case " << i;
        EXPECT_EQ(c->isFoldPoint(':'), cases[i].foldsComma) << "case " << i;
        EXPECT_EQ(c->isFoldPoint(';'), cases[i].foldsSemicolon) << "case " << i;
        EXPECT_EQ(c->initialQuotingState() == 255, cases[i].oneSegment) << "case " << i;
    }
}

TEST(FieldCoder, EncodesSegmentsTable) {
    struct Case {
        const char* name;
        std::string value, charset, out;
    } cases[] = {
        // No charset anywhere: the value is copied, folds and all.
        {"To", "J\xF6rg <j@x>, a@b", "", "J\xF6rg <j@x>, a@b"},
        // ASCII segments stay; the address fields fold after "," and ":".
        {"To", "a@b, c@d", "utf-8", "a@b,\r\n\tc@d"},
        {"To", "group: a@b;", "x", "group:\r\n\ta@b;"},
        {"Content-Type", "text/plain; charset=x", "x", "text/plain;\r\n\tcharset=x"},
        // One 8-bit byte in a long segment: Q form.
        {"To", "J\xF6rg <j@x>", "iso-8859-1", "=?iso-8859-1?Q?J=F6rg?= <j@x>"},
        // Mostly 8-bit: B form.
        {"X-Name", "\xE9\xE9\xE9\xE9", "x", "=?x?B?6enp6Q==?="},
        // The text coder takes the whole value as one segment.
        {"Subject", "Gr\xFC\xDF Gott, Welt", "x", "=?x?Q?Gr=FC=DF=20Gott,=20Welt?="},
        // A quoted string is one segment up to the closing quote, which is
        // written after the encoded word.
        {"From", "\"M\xFCller, A\" <a@b>", "x", "=?x?Q?\"M=FCller,=20A?=\" <a@b>"},
        // Two 8-bit words with a space between: one encoded stretch, so that
        // the space survives decoding.
        {"To", "J\xF6rg M\xFCller <j@x>", "x", "=?x?Q?J=F6rg=20M=FCller?= <j@x>"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(encodeField(cases[i].name, cases[i].value, cases[i].charset), cases[i].out)
            << "case " << i << ": "
            << test::printable(encodeField(cases[i].name, cases[i].value, cases[i].charset));
}

TEST(FieldCoder, DefaultCharsetAppliesWhenCoderHasNone) {
    FieldCoder::setDefaultCharset("utf-8");
    EXPECT_EQ(encodeField("Subject", "\xC3\xA9", ""), "=?utf-8?B?w6k=?=");
    FieldCoder::setDefaultCharset("");
    EXPECT_EQ(encodeField("Subject", "\xC3\xA9", ""), "\xC3\xA9");
}

TEST(FieldCoder, DecodeKeepsFoldsAndTakesFirstCharset) {
    std::string cs;
    EXPECT_EQ(decodeField("Subject", "a\r\n\tb =?one?Q?x?= =?two?Q?y?=", &cs), "a\r\n\tb xy");
    EXPECT_EQ(cs, "one");
    EXPECT_EQ(decodeField("X-Any", "no words", &cs), "no words");
    EXPECT_EQ(cs, "");
}

TEST(FieldCoder, RandomEightBitValuesRoundTrip) {
    test::TestRandom rnd(11);
    const char* names[] = {"Subject", "To", "Content-Description", "X-Note"};
    const std::string alphabet = "abcXYZ019 \xC3\xA9\xE4\xFC\xDF";
    for (int round = 0; round < 300; ++round) {
        std::string value = rnd.bytes(1 + rnd.below(150), alphabet);
        value[0] = 'v'; // a value never starts with a blank after parsing
        const char* name = names[round % 4];
        std::string enc = encodeField(name, value, round % 2 ? "utf-8" : "iso-8859-15");
        std::string cs;
        EXPECT_EQ(decodeField(name, enc, &cs), value)
            << "round " << round << " " << name << ": " << test::printable(enc);
    }
}

} // namespace
} // namespace quill
