#include "codec/FormEncode.h"

#include <algorithm>
#include <cstring>

namespace quill {

namespace {

// What each byte becomes: itself, '+' or a "%XX" escape, as the first width
// bytes of code. The encoder copies code whole and advances by width, so that
// no branch depends on the text (one on escapes would be mispredicted at
// every word).
struct FormTable {
    char code[256][4];
    unsigned char width[256];
    FormTable() {
        static const char kHex[] = "0123456789ABCDEF";
        for (int c = 0; c < 256; ++c) {
            const bool alnum =
                (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            width[c] = alnum || c == ' ' ? 1 : 3;
            code[c][0] = width[c] == 1 ? (c == ' ' ? '+' : static_cast<char>(c)) : '%';
            code[c][1] = kHex[c >> 4];
            code[c][2] = kHex[c & 0x0F];
            code[c][3] = '\0';
        }
    }
};

const FormTable& table() {
    static const FormTable kTable;
    return kTable;
}

} // namespace

std::string formEncode(std::string_view text) {
    std::string out;
    out.reserve(formEncodedLength(text));
    appendFormEncoded(out, text);
    return out;
}

void appendFormEncoded(std::string& out, std::string_view text) {
    const FormTable& t = table();
    // Three output bytes at most per input byte, and the last code's fourth.
    constexpr std::size_t kSlice = 8 * 1024;
    char buffer[3 * kSlice + 1];
    for (std::size_t at = 0; at < text.size(); at += kSlice) {
        const std::size_t end = std::min(text.size(), at + kSlice);
        char* to = buffer;
        for (std::size_t i = at; i < end; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            std::memcpy(to, t.code[byte], 4);
            to += t.width[byte];
        }
        out.append(buffer, static_cast<std::size_t>(to - buffer));
    }
}

std::size_t formEncodedLength(std::string_view text) {
    const FormTable& t = table();
    std::size_t length = 0;
    for (const char c : text) {
        length += t.width[static_cast<unsigned char>(c)];
    }
    return length;
}

} // namespace quill
