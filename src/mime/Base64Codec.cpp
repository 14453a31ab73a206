#include "mime/Base64Codec.h"

#include <array>
#include <cstdint>

namespace quill {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::uint8_t kSkip = 0xFE; // CR and LF
constexpr std::uint8_t kStop = 0xFF; // anything else outside the alphabet

constexpr std::array<std::uint8_t, 256> buildTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& group : table) {
        group = kStop;
    }
    for (int i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
    }
    table['\r'] = kSkip;
    table['\n'] = kSkip;
    return table;
}
constexpr std::array<std::uint8_t, 256> kTable = buildTable();

// The value of a character already shifted into its place in a group of four,
// with the top byte set for every character outside the alphabet, so that one
// OR of four look-ups both decodes a group and tells whether it was clean.
constexpr std::array<std::uint32_t, 256> buildShifted(int shift) {
    std::array<std::uint32_t, 256> table{};
    for (int code = 0; code < 256; ++code) {
        table[code] = kTable[code] < 64 ? std::uint32_t(kTable[code]) << shift : 0xFF000000u;
    }
    return table;
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
    std::size_t length = inLength();
    return length / 4 * 3 + (length % 4) * 3 / 4 + 2; // n * 3 / 4 + 2 without overflow
}

std::size_t Base64Codec::encode(char* dest, std::size_t capacity) {
    return encodeSpan(in(), inLength(), dest, capacity, mode());
}

std::size_t Base64Codec::decode(char* dest, std::size_t capacity) {
    return decodeSpan(in(), inLength(), dest, capacity);
}

std::size_t Base64Codec::encodeSpan(const unsigned char* input, std::size_t length, char* dest,
                                    std::size_t capacity, bool lineBreaks) {
    std::size_t written = 0, col = 0;
    auto put = [&](char code) {
        if (written < capacity) {
            dest[written++] = code;
        }
    };
    auto putQuad = [&](const char quad[4]) {
        for (int digit = 0; digit < 4; ++digit) {
            put(quad[digit]);
            if (lineBreaks && ++col == kLine) {
                put('\r');
                put('\n');
                col = 0;
            }
        }
    };
    std::size_t i = 0;
    for (; i + 3 <= length && written < capacity; i += 3) {
        std::uint32_t group =
            (std::uint32_t(input[i]) << 16) | (std::uint32_t(input[i + 1]) << 8) | input[i + 2];
        char quad[4] = {kAlphabet[group >> 18], kAlphabet[(group >> 12) & 63],
                        kAlphabet[(group >> 6) & 63], kAlphabet[group & 63]};
        putQuad(quad);
    }
    if (i < length && length - i < 3) {
        std::uint32_t group = std::uint32_t(input[i]) << 16;
        if (length - i == 2) {
            group |= std::uint32_t(input[i + 1]) << 8;
        }
        char quad[4] = {kAlphabet[group >> 18], kAlphabet[(group >> 12) & 63],
                        length - i == 2 ? kAlphabet[(group >> 6) & 63] : '=', '='};
        putQuad(quad);
    }
    if (lineBreaks && col != 0) {
        put('\r');
        put('\n');
    }
    return written;
}

std::size_t Base64Codec::decodeSpan(const unsigned char* input, std::size_t length, char* dest,
                                    std::size_t capacity) {
    DecodeState state;
    std::size_t consumed = 0;
    std::size_t written = decodePiece(input, length, dest, capacity, state, consumed);
    return written + finishPieces(state, dest + written, capacity - written);
}

std::size_t Base64Codec::decodePiece(const unsigned char* input, std::size_t length, char* dest,
                                     std::size_t capacity, DecodeState& state,
                                     std::size_t& consumed) {
    consumed = 0;
    if (state.stopped) {
        return 0;
    }
    std::size_t written = 0;
    std::uint32_t acc = state.bits;
    int have = state.have;
    std::size_t i = 0;
    while (i < length) {
        // Fast path: whole groups of four alphabet bytes, up to the next
        // line break or foreign byte.
        if (have == 0) {
            while (length - i >= 4 && capacity - written >= 3) {
                std::uint32_t group =
                    kD0[input[i]] | kD1[input[i + 1]] | kD2[input[i + 2]] | kD3[input[i + 3]];
                if (group & 0xFF000000u) {
                    // The line break between two groups, as the slow path
                    // would skip it.
                    if (input[i] == '\r' && input[i + 1] == '\n') {
                        i += 2;
                        continue;
                    }
                    break;
                }
                dest[written] = static_cast<char>(group >> 16);
                dest[written + 1] = static_cast<char>(group >> 8);
                dest[written + 2] = static_cast<char>(group);
                written += 3;
                i += 4;
            }
            if (i >= length) {
                break;
            }
        }
        std::uint8_t value = kTable[input[i]];
        if (value == kSkip) {
            ++i;
            continue;
        }
        if (value == kStop) {
            state.stopped = true;
            break;
        }
        ++i;
        acc = (acc << 6) | value;
        if (++have == 4) {
            for (int digit = 2; digit >= 0; --digit) {
                if (written == capacity) {
                    // Out of room: nothing more is written, not even a
                    // partial group.
                    state = DecodeState{0, 0, true};
                    consumed = i;
                    return written;
                }
                dest[written++] = static_cast<char>(acc >> (8 * digit));
            }
            acc = 0;
            have = 0;
        }
    }
    state.bits = acc;
    state.have = have;
    consumed = i;
    return written;
}

std::size_t Base64Codec::finishPieces(const DecodeState& state, char* dest, std::size_t capacity) {
    // A final partial group: 2 values give 1 byte, 3 give 2.
    std::size_t written = 0;
    if (state.have >= 2 && written < capacity) {
        dest[written++] = static_cast<char>(state.bits >> (6 * state.have - 8));
    }
    if (state.have == 3 && written < capacity) {
        dest[written++] = static_cast<char>(state.bits >> 2);
    }
    return written;
}

} // namespace quill
