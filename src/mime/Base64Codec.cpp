#include "mime/Base64Codec.h"

#include <array>
#include <cstdint>

namespace quill {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t kSkip = 0xFE; // CR and LF
constexpr std::uint8_t kStop = 0xFF; // anything else outside the alphabet

constexpr std::array<std::uint8_t, 256> buildTable() {
    std::array<std::uint8_t, 256> t{};
    for (auto& v : t)
        v = kStop;
    for (int i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    t['\r'] = kSkip;
    t['\n'] = kSkip;
    return t;
}
constexpr std::array<std::uint8_t, 256> kTable = buildTable();

// The value of a character already shifted into its place in a group of four,
// with the top byte set for every character outside the alphabet, so that one
// OR of four look-ups both decodes a group and tells whether it was clean.
constexpr std::array<std::uint32_t, 256> buildShifted(int shift) {
    std::array<std::uint32_t, 256> t{};
    for (int c = 0; c < 256; ++c)
        t[c] = kTable[c] < 64 ? std::uint32_t(kTable[c]) << shift : 0xFF000000u;
    return t;
}
constexpr std::array<std::uint32_t, 256> kD0 = buildShifted(18);
constexpr std::array<std::uint32_t, 256> kD1 = buildShifted(12);
constexpr std::array<std::uint32_t, 256> kD2 = buildShifted(6);
constexpr std::array<std::uint32_t, 256> kD3 = buildShifted(0);

constexpr std::size_t kLine = 76;

} // namespace

std::size_t Base64Codec::encodedLength() const {
    std::size_t plain = (inLength() + 2) / 3 * 4;
    return mode() ? plain + 2 * (plain / kLine) + 2 : plain;
}

std::size_t Base64Codec::decodedLength() const {
    std::size_t n = inLength();
    return n / 4 * 3 + (n % 4) * 3 / 4 + 2; // n * 3 / 4 + 2 without overflow
}

std::size_t Base64Codec::encode(char* dest, std::size_t capacity) {
    return encodeSpan(in(), inLength(), dest, capacity, mode());
}

std::size_t Base64Codec::decode(char* dest, std::size_t capacity) {
    return decodeSpan(in(), inLength(), dest, capacity);
}

std::size_t Base64Codec::encodeSpan(const unsigned char* p, std::size_t n, char* dest,
                                    std::size_t capacity, bool lineBreaks) {
    std::size_t o = 0, col = 0;
    auto put = [&](char c) {
        if (o < capacity)
            dest[o++] = c;
    };
    auto putQuad = [&](const char q[4]) {
        for (int k = 0; k < 4; ++k) {
            put(q[k]);
            if (lineBreaks && ++col == kLine) {
                put('\r');
                put('\n');
                col = 0;
            }
        }
    };
    std::size_t i = 0;
    for (; i + 3 <= n && o < capacity; i += 3) {
        std::uint32_t v = (std::uint32_t(p[i]) << 16) | (std::uint32_t(p[i + 1]) << 8) | p[i + 2];
        char q[4] = {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63],
                     kAlphabet[v & 63]};
        putQuad(q);
    }
    if (i < n && n - i < 3) {
        std::uint32_t v = std::uint32_t(p[i]) << 16;
        if (n - i == 2)
            v |= std::uint32_t(p[i + 1]) << 8;
        char q[4] = {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63],
                     n - i == 2 ? kAlphabet[(v >> 6) & 63] : '=', '='};
        putQuad(q);
    }
    if (lineBreaks && col != 0) {
        put('\r');
        put('\n');
    }
    return o;
}

std::size_t Base64Codec::decodeSpan(const unsigned char* p, std::size_t n, char* dest,
                                    std::size_t capacity) {
    std::size_t o = 0;
    std::uint32_t acc = 0;
    int have = 0;
    std::size_t i = 0;
    while (i < n) {
        // Fast path: whole groups of four alphabet bytes, up to the next
        // line break or foreign byte.
        if (have == 0) {
            while (n - i >= 4 && capacity - o >= 3) {
                std::uint32_t v = kD0[p[i]] | kD1[p[i + 1]] | kD2[p[i + 2]] | kD3[p[i + 3]];
                if (v & 0xFF000000u) {
                    // The line break between two groups, as the slow path
                    // would skip it.
                    if (p[i] == '\r' && p[i + 1] == '\n') {
                        i += 2;
                        continue;
                    }
                    break;
                }
                dest[o] = static_cast<char>(v >> 16);
                dest[o + 1] = static_cast<char>(v >> 8);
                dest[o + 2] = static_cast<char>(v);
                o += 3;
                i += 4;
            }
            if (i >= n)
                break;
        }
        std::uint8_t v = kTable[p[i++]];
        if (v == kSkip)
            continue;
        if (v == kStop)
            break;
        acc = (acc << 6) | v;
        if (++have == 4) {
            for (int k = 2; k >= 0; --k) {
                if (o == capacity)
                    return o;
                dest[o++] = static_cast<char>(acc >> (8 * k));
            }
            acc = 0;
            have = 0;
        }
    }
    // A final partial group: 2 values give 1 byte, 3 give 2.
    if (have >= 2 && o < capacity)
        dest[o++] = static_cast<char>(acc >> (6 * have - 8));
    if (have == 3 && o < capacity)
        dest[o++] = static_cast<char>(acc >> 2);
    return o;
}

} // namespace quill
