#include "codec/FormEncode.h"

#include <algorithm>

namespace quill {

namespace {

// What each byte becomes: itself, '+' or a "%XX" escape (width 3).
struct FormTable {
    char plain[256];
    unsigned char width[256];
    FormTable() {
        for (int c = 0; c < 256; ++c) {
            const bool alnum =
                (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
            plain[c] = c == ' ' ? '+' : static_cast<char>(c);
            width[c] = alnum || c == ' ' ? 1 : 3;
        }
    }
};

const FormTable& table() {
    static const FormTable kTable;
    return kTable;
}

std::string_view upToZero(std::string_view text) {
    return text.substr(0, std::min(text.find('\0'), text.size()));
}

} // namespace

std::string formEncode(std::string_view text) {
    std::string out;
    out.reserve(formEncodedLength(text));
    appendFormEncoded(out, text);
    return out;
}

void appendFormEncoded(std::string& out, std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    const FormTable& t = table();
    text = upToZero(text);
    // Three output bytes at most per input byte.
    constexpr std::size_t kSlice = 8 * 1024;
    char buffer[3 * kSlice];
    for (std::size_t at = 0; at < text.size(); at += kSlice) {
        const std::size_t end = std::min(text.size(), at + kSlice);
        char* to = buffer;
        for (std::size_t i = at; i < end; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            if (t.width[byte] == 1) {
                *to++ = t.plain[byte];
            } else {
                to[0] = '%';
                to[1] = kHex[byte >> 4];
                to[2] = kHex[byte & 0x0F];
                to += 3;
            }
        }
        out.append(buffer, static_cast<std::size_t>(to - buffer));
    }
}

std::size_t formEncodedLength(std::string_view text) {
    const FormTable& t = table();
    std::size_t length = 0;
    for (const char c : upToZero(text)) {
        length += t.width[static_cast<unsigned char>(c)];
    }
    return length;
}

} // namespace quill
