#pragma once
// ASCII case folding for protocol words, header names and host names: only the
// letters A-Z and a-z fold, every other byte (8-bit ones included) compares
// exactly, whatever the process's locale. The one copy for the POP3 and SMTP
// sessions, the MIME library and the site simulator; header-only, so that a
// library that links nothing else can use it.

#include <cstddef>
#include <string_view>

namespace quill {

constexpr char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether text begins with prefix, ASCII letters compared without case.
inline bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (lowerAscii(text[i]) != lowerAscii(prefix[i])) {
            return false;
        }
    }
    return true;
}

// Whether a and b are equal when ASCII letters are compared without case.
inline bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && startsWithNoCase(a, b);
}

} // namespace quill
