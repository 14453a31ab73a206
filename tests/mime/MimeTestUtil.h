#pragma once
// Helpers shared by the MIME tests.

#include "mime/MimeCodec.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace quill::test {

// Runs a codec over input in the given direction into a buffer of its own
// bound, checking that the bound holds.
inline std::string runCodec(MimeCodec& codec, std::string_view input, MimeCodec::Direction d,
                            bool* boundHeld = nullptr) {
    codec.setInput(input.data(), input.size());
    codec.setDirection(d);
    std::size_t bound = codec.convertedLength();
    std::string out(bound + 64, '\0');
    std::size_t n = codec.convert(&out[0], out.size());
    if (boundHeld)
        *boundHeld = n <= bound;
    out.resize(n);
    return out;
}

// A small deterministic generator for random test contents.
class TestRandom {
public:
    explicit TestRandom(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    std::uint32_t below(std::uint32_t n) { return next() % n; }
    std::string bytes(std::size_t n, std::string_view alphabet = {}) {
        std::string s(n, '\0');
        for (auto& c : s)
            c = alphabet.empty() ? static_cast<char>(next() & 0xFF)
                                 : alphabet[below(static_cast<std::uint32_t>(alphabet.size()))];
        return s;
    }

private:
    std::uint32_t state_;
};

inline std::string printable(std::string_view s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 32 || c >= 127) {
            static const char hex[] = "0123456789ABCDEF";
            out += "\\x";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else
            out += static_cast<char>(c);
    }
    return out;
}

} // namespace quill::test
