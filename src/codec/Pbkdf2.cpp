#include "codec/Pbkdf2.h"

#include "codec/Sha256.h"

#include <cstring>

namespace quill {

namespace {

// HMAC-SHA256 with the key's inner and outer pads hashed once: each further
// message then costs two compressions for a short message.
class HmacSha256 {
public:
    explicit HmacSha256(const std::string& key) {
        std::uint8_t block[Sha256::kBlockSize] = {};
        if (key.size() > Sha256::kBlockSize) {
            Sha256::digest(key.data(), key.size(), block);
        } else {
            std::memcpy(block, key.data(), key.size());
        }
        std::uint8_t pad[Sha256::kBlockSize];
        for (std::size_t i = 0; i < Sha256::kBlockSize; ++i) {
            pad[i] = block[i] ^ 0x36;
        }
        inner_.update(pad, sizeof pad);
        for (std::size_t i = 0; i < Sha256::kBlockSize; ++i) {
            pad[i] = block[i] ^ 0x5c;
        }
        outer_.update(pad, sizeof pad);
    }

    void mac(const void* first, std::size_t firstLength, const void* second,
             std::size_t secondLength, std::uint8_t out[Sha256::kDigestSize]) const {
        Sha256 inner = inner_;
        inner.update(first, firstLength);
        inner.update(second, secondLength);
        std::uint8_t innerDigest[Sha256::kDigestSize];
        inner.finish(innerDigest);
        Sha256 outer = outer_;
        outer.update(innerDigest, sizeof innerDigest);
        outer.finish(out);
    }

private:
    Sha256 inner_;
    Sha256 outer_;
};

} // namespace

void pbkdf2HmacSha256(const std::string& password, const std::string& salt, std::uint32_t rounds,
                      std::uint8_t* out, std::size_t length) {
    const HmacSha256 hmac(password);
    for (std::uint32_t block = 1; length > 0; ++block) {
        const std::uint8_t index[4] = {
            static_cast<std::uint8_t>(block >> 24), static_cast<std::uint8_t>(block >> 16),
            static_cast<std::uint8_t>(block >> 8), static_cast<std::uint8_t>(block)};
        std::uint8_t u[Sha256::kDigestSize];
        hmac.mac(salt.data(), salt.size(), index, sizeof index, u);
        std::uint8_t t[Sha256::kDigestSize];
        std::memcpy(t, u, sizeof t);
        for (std::uint32_t i = 1; i < rounds; ++i) {
            hmac.mac(u, sizeof u, nullptr, 0, u);
            for (std::size_t j = 0; j < sizeof t; ++j) {
                t[j] ^= u[j];
            }
        }
        const std::size_t take = length < sizeof t ? length : sizeof t;
        std::memcpy(out, t, take);
        out += take;
        length -= take;
    }
}

} // namespace quill
