#pragma once
// ASCII case folding for protocol words, header names and host names: only the
// letters A-Z and a-z fold, every other byte (8-bit ones included) compares
// exactly, whatever the process's locale. The one copy for the POP3 and SMTP
// sessions and the site simulator.

#include <string_view>

namespace quill {

constexpr char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Whether a and b are equal when ASCII letters are compared without case.
bool equalsNoCase(std::string_view a, std::string_view b);
// Whether text begins with prefix, ASCII letters compared without case.
bool startsWithNoCase(std::string_view text, std::string_view prefix);

} // namespace quill
