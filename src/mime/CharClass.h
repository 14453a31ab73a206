#pragma once
// Character classes of the 7-bit characters, shared by the header, body and
// codec code of the MIME library. Bytes of 0x80 and above belong to no class.

#include "codec/TextCase.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quill {

namespace detail {

constexpr std::array<std::uint8_t, 128> buildCharClassTable() {
    std::array<std::uint8_t, 128> t{};
    for (int c = 0; c < 128; ++c) {
        std::uint8_t bits = 0;
        if (c < 32 || c == 127)
            bits |= 0x01;
        if ((c >= 9 && c <= 13) || c == 32)
            bits |= 0x02;
        bool alnum = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        if (alnum)
            bits |= 0x04;
        else if (c > 32 && c < 127)
            bits |= 0x10;
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))
            bits |= 0x40;
        t[static_cast<std::size_t>(c)] = bits;
    }
    for (char c : {'"', '(', ')', ',', '.', ':', ';', '<', '>', '=', '@', '[', ']', '\\'})
        t[static_cast<unsigned char>(c)] |= 0x20;
    return t;
}

inline constexpr std::array<std::uint8_t, 128> kCharClassTable = buildCharClassTable();

} // namespace detail

class CharClass {
public:
    static constexpr std::uint8_t Control = 0x01;      // 0 to 31 and 127
    static constexpr std::uint8_t WhiteSpace = 0x02;   // HT, LF, VT, FF, CR and space
    static constexpr std::uint8_t Alphanumeric = 0x04; // A-Z, a-z, 0-9
    static constexpr std::uint8_t Punctuation = 0x10;  // printable, not alphanumeric
    static constexpr std::uint8_t Special = 0x20;      // RFC 822 specials plus "="
    static constexpr std::uint8_t HexDigit = 0x40;     // 0-9 and A-F (upper case only)

    // True when the byte belongs to any of the classes in mask.
    static constexpr bool is(unsigned char c, std::uint8_t mask) {
        return c < 0x80 && (detail::kCharClassTable[c] & mask) != 0;
    }
    static constexpr bool isWhite(unsigned char c) { return is(c, WhiteSpace); }
    static constexpr bool isSpecial(unsigned char c) { return is(c, Special); }
    static constexpr bool isHex(unsigned char c) { return is(c, HexDigit); }
    static constexpr bool isAlnum(unsigned char c) { return is(c, Alphanumeric); }

    static constexpr const std::array<std::uint8_t, 128>& table() {
        return detail::kCharClassTable;
    }

    // ASCII case folding, the one copy in codec/TextCase.h.
    static constexpr unsigned char lower(unsigned char c) {
        return static_cast<unsigned char>(lowerAscii(static_cast<char>(c)));
    }
    static bool equalNoCase(std::string_view a, std::string_view b) { return equalsNoCase(a, b); }
    static bool startsWithNoCase(std::string_view text, std::string_view prefix) {
        return quill::startsWithNoCase(text, prefix);
    }
};

} // namespace quill
