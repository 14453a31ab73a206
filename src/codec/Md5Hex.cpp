#include "codec/Md5Hex.h"

#include <cstring>

namespace quill {

namespace {

// Working state of one digest computation; wiped when the computation ends so
// that no trace of the hashed text (a password) stays on the stack.
struct Md5State {
    std::uint32_t a = 0x67452301u;
    std::uint32_t b = 0xefcdab89u;
    std::uint32_t c = 0x98badcfeu;
    std::uint32_t d = 0x10325476u;
    std::uint8_t block[64] = {};
    std::uint32_t words[16] = {};
};

inline std::uint32_t rotl(std::uint32_t x, unsigned n) {
    return (x << n) | (x >> (32 - n));
}

// Per-step shift amounts and sine-derived constants of the reference algorithm.
const unsigned kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                             5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                             4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                             6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

const std::uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

void transform(Md5State& s) {
    for (int i = 0; i < 16; ++i) {
        s.words[i] = static_cast<std::uint32_t>(s.block[i * 4]) |
                     (static_cast<std::uint32_t>(s.block[i * 4 + 1]) << 8) |
                     (static_cast<std::uint32_t>(s.block[i * 4 + 2]) << 16) |
                     (static_cast<std::uint32_t>(s.block[i * 4 + 3]) << 24);
    }
    std::uint32_t a = s.a, b = s.b, c = s.c, d = s.d;
    for (int i = 0; i < 64; ++i) {
        std::uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (b & d) | (c & ~d);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const std::uint32_t next = b + rotl(a + f + kSine[i] + s.words[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    s.a += a;
    s.b += b;
    s.c += c;
    s.d += d;
}

// Overwrites memory in a way the optimiser may not drop.
void wipe(void* memory, std::size_t length) {
    volatile auto* p = static_cast<volatile unsigned char*>(memory);
    while (length-- > 0) {
        *p++ = 0;
    }
}

} // namespace

Md5Hex::Md5Hex(const char* text) {
    compute(text);
}

Md5Hex::Md5Hex(const std::string& text) {
    compute(text.c_str());
}

Md5Hex::~Md5Hex() = default;

void Md5Hex::compute(const char* text) {
    compute(text, text == nullptr ? 0 : std::strlen(text));
}

void Md5Hex::compute(const void* bytes, std::size_t length) {
    Md5State state;
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    std::size_t done = 0;
    for (; done + 64 <= length; done += 64) {
        std::memcpy(state.block, in + done, 64);
        transform(state);
    }
    // Padding: 0x80, zeros up to 56 mod 64, then the bit length little-endian.
    const std::size_t left = length - done;
    std::memset(state.block, 0, sizeof state.block);
    if (left > 0) {
        std::memcpy(state.block, in + done, left);
    }
    state.block[left] = 0x80;
    if (left >= 56) {
        transform(state);
        std::memset(state.block, 0, sizeof state.block);
    }
    const std::uint64_t bits = static_cast<std::uint64_t>(length) * 8u;
    for (int i = 0; i < 8; ++i) {
        state.block[56 + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    }
    transform(state);

    const std::uint32_t result[4] = {state.a, state.b, state.c, state.d};
    for (int w = 0; w < 4; ++w) {
        for (int i = 0; i < 4; ++i) {
            digest_[w * 4 + i] = static_cast<std::uint8_t>(result[w] >> (8 * i));
        }
    }
    static const char kHex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        hex_[i * 2] = kHex[digest_[i] >> 4];
        hex_[i * 2 + 1] = kHex[digest_[i] & 0x0F];
    }
    hex_[32] = '\0';
    wipe(&state, sizeof state);
}

} // namespace quill
