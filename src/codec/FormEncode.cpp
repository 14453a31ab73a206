#include "codec/FormEncode.h"

namespace quill {

std::string formEncode(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    // At most three characters per input byte; sized once so that nothing is
    // ever cut and no reallocation happens while encoding.
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == 0) {
            break;
        }
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9')) {
            out += c;
        } else if (byte == ' ') {
            out += '+';
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

} // namespace quill
