#include "codec/Pbkdf2.h"
#include "codec/Sha256.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quill {
namespace {

std::string hex(const std::uint8_t* bytes, std::size_t length) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < length; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
    }
    return out;
}

// Digests from Python's hashlib; each input is also fed in pieces of every
// size from 1 to 130 bytes, across the 64-byte block and padding boundaries.
TEST(Sha256Test, KnownDigestsWhateverThePieces) {
    const struct {
        std::string input;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::uint8_t digest[Sha256::kDigestSize];
        Sha256::digest(cases[i].input.data(), cases[i].input.size(), digest);
        EXPECT_EQ(hex(digest, sizeof digest), cases[i].digest) << "case " << i;
        for (std::size_t piece = 1; piece <= 130 && cases[i].input.size() < 1000; ++piece) {
            Sha256 sha;
            for (std::size_t at = 0; at < cases[i].input.size(); at += piece) {
                sha.update(cases[i].input.data() + at, std::min(piece, cases[i].input.size() - at));
            }
            sha.finish(digest);
            EXPECT_EQ(hex(digest, sizeof digest), cases[i].digest) << "case " << i << " " << piece;
        }
    }
}

// RFC 7914's and Python's hashlib.pbkdf2_hmac values; the long password is
// hashed first, as HMAC does with a key longer than a block.
TEST(Pbkdf2Test, KnownKeys) {
    const struct {
        std::string password;
        std::string salt;
        std::uint32_t rounds;
        std::size_t length;
        const char* key;
    } cases[] = {
        {"password", "salt", 1, 32,
         "120fb6cffcf8b32c43e7225256c4f837a86548c92ccc35480805987cb70be17b"},
        {"password", "salt", 4096, 32,
         "c5e478d59288c841aa530db6845c4c8d962893a001ce4e11a4963873aa98134a"},
        {std::string("passwordPASSWORDpassword") + "passwordPASSWORDpassword" +
             "passwordPASSWORDpassword",
         "saltSALTsaltSALTsaltSALTsaltSALTsalt", 2, 40,
         "e55f7af8d45a2721b48d87195bebbbc9e30555f46677693aff35e0ea4939fb2cfdab8fe121a7f6a4"},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::vector<std::uint8_t> key(cases[i].length);
        pbkdf2HmacSha256(cases[i].password, cases[i].salt, cases[i].rounds, key.data(), key.size());
        EXPECT_EQ(hex(key.data(), key.size()), cases[i].key) << "case " << i;
    }
}

} // namespace
} // namespace quill
