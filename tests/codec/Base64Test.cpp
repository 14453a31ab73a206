#include "codec/Base64.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

namespace quill {
namespace {

std::string encode(const std::string& bytes) {
    Base64Coder coder;
    coder.encode(bytes.data(), bytes.size());
    EXPECT_EQ(std::strlen(coder.result()), coder.size()) << "result must be zero-terminated";
    EXPECT_EQ(encodeBase64(bytes), coder.result());
    return coder.result();
}

std::string fromHex(const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return out;
}

TEST(Base64Coder, EncodesKnownTexts) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"a:b", "YTpi"},
        {"A", "QQ=="},
        {"AB", "QUI="},
        {"", ""},
        {"ABC", "QUJD"},
        {"user:pass", "dXNlcjpwYXNz"},
        {std::string("\0\0\0", 3), "AAAA"},
        {"\xff\xfe\xfd", "//79"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(encode(cases[i].in), cases[i].out) << "case " << i;
    }
}

TEST(Base64Coder, TextFormAndNullText) {
    Base64Coder coder;
    EXPECT_STREQ(coder.result(), "");
    coder.encode(static_cast<const char*>(nullptr));
    EXPECT_STREQ(coder.result(), "");
    coder.encode("a:b");
    EXPECT_STREQ(coder.result(), "YTpi");
    coder.encode("A"); // a second encode replaces the first result
    EXPECT_STREQ(coder.result(), "QQ==");
}

TEST(Base64Coder, LongInputHasNoLineBreaks) {
    const std::string text = encode(std::string(100, 'x'));
    EXPECT_EQ(text.size(), 136u);
    EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
}

TEST(Base64Coder, MatchesPythonsEncoder) {
    const struct {
        const char* hex;
        const char* base64;
    } vectors[] = {
#include "Base64Vectors.inc"
    };
    for (std::size_t i = 0; i < std::size(vectors); ++i) {
        const std::string bytes = fromHex(vectors[i].hex);
        EXPECT_EQ(encode(bytes), vectors[i].base64) << "vector " << i;
        // decodeBase64 ends at a zero byte; compare only that far.
        EXPECT_EQ(decodeBase64(vectors[i].base64), bytes.substr(0, bytes.find('\0')))
            << "vector " << i;
    }
}

TEST(DecodeBase64, DecodesAndSkips) {
    const struct {
        std::string in, out;
    } cases[] = {
        {"QUJD", "ABC"},
        {"QUI=", "AB"},
        {"QUI", "AB"},
        {"QQ==", "A"},
        {"QUJD\r\n", "ABC"},
        {"QU\r\nJD", "ABC"},
        {"=QUJD", ""},
        {"", ""},
        {" Q U J D ", "ABC"},
        {"QUJD=QUJD", "ABC"}, // stops at the first "="
        {"Q", "@"},           // one pending value: its six bits, high positions
        {"QU*J\x80"
         "D",
         "ABC"},       // bytes outside the alphabet are ignored
        {"QQBC", "A"}, // cut at the first zero byte produced
        {"AEJD", ""},  // zero first
        {"dXNlcjpwYXNz", "user:pass"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        EXPECT_EQ(decodeBase64(cases[i].in), cases[i].out) << "case " << i;
    }
}

TEST(DecodeBase64, RoundTripsRandomTexts) {
    std::mt19937 rng(7);
    for (int i = 0; i < 500; ++i) {
        std::string text(rng() % 200, '\0');
        for (char& c : text) {
            c = static_cast<char>(1 + rng() % 255); // no zero bytes: text form
        }
        EXPECT_EQ(decodeBase64(encode(text)), text) << "round " << i;
    }
}

} // namespace
} // namespace quill
