#include "codec/Md5Hex.h"

#include <gtest/gtest.h>

#include <string>

namespace quill {
namespace {

TEST(Md5Hex, ReferenceSuite) {
    const struct {
        const char* text;
        const char* hex;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Md5Hex md5(cases[i].text);
        EXPECT_STREQ(md5.hex(), cases[i].hex) << "case " << i;
    }
}

TEST(Md5Hex, PaddingBoundaries) {
    // Lengths around the 56-byte padding limit and the 64-byte block, from
    // Python's hashlib (b"a" * n).
    const struct {
        std::size_t length;
        const char* hex;
    } cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},   {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},   {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},   {65, "c743a45e0d2e6a95cb859adae0248435"},
        {1000, "cabe45dcc9ae5b66ba86600cca6b8ba8"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        Md5Hex md5(std::string(cases[i].length, 'a'));
        EXPECT_STREQ(md5.hex(), cases[i].hex) << "case " << i;
    }
}

TEST(Md5Hex, RecomputeAndForms) {
    Md5Hex md5("abc");
    md5.compute("a");
    EXPECT_STREQ(md5.hex(), "0cc175b9c0f1b6a831c399e269772661");
    md5.compute(static_cast<const char*>(nullptr));
    EXPECT_STREQ(md5.hex(), "d41d8cd98f00b204e9800998ecf8427e");
    // The text form stops at the first zero byte; the byte form does not.
    Md5Hex text(std::string("a\0b", 3));
    EXPECT_STREQ(text.hex(), "0cc175b9c0f1b6a831c399e269772661");
    md5.compute("a\0b", 3);
    EXPECT_STRNE(md5.hex(), "0cc175b9c0f1b6a831c399e269772661");
    EXPECT_EQ(std::string(md5.hex()).size(), 32u);
}

} // namespace
} // namespace quill
