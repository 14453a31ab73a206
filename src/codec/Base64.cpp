#include "codec/Base64.h"

#include <array>
#include <cstring>

namespace quill {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr unsigned char kInvalid = 0xFF;

// Byte value -> alphabet value, kInvalid for every other byte ("=" included).
constexpr std::array<unsigned char, 256> makeTable() {
    std::array<unsigned char, 256> table{};
    for (auto& entry : table) {
        entry = kInvalid;
    }
    for (unsigned char i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    }
    return table;
}

constexpr std::array<unsigned char, 256> kTable = makeTable();

} // namespace

void Base64Coder::encode(const char* text) {
    if (text == nullptr) {
        return;
    }
    encode(text, std::strlen(text));
}

void Base64Coder::encode(const void* bytes, std::size_t length) {
    input_.assign(static_cast<const char*>(bytes), length);
    text_.clear();
    text_.reserve((length + 2) / 3 * 4);
    const auto* in = reinterpret_cast<const unsigned char*>(input_.data());
    std::size_t i = 0;
    for (; i + 3 <= length; i += 3) {
        const unsigned long group = (static_cast<unsigned long>(in[i]) << 16) |
                                    (static_cast<unsigned long>(in[i + 1]) << 8) | in[i + 2];
        text_ += kAlphabet[(group >> 18) & 0x3F];
        text_ += kAlphabet[(group >> 12) & 0x3F];
        text_ += kAlphabet[(group >> 6) & 0x3F];
        text_ += kAlphabet[group & 0x3F];
    }
    const std::size_t left = length - i;
    if (left > 0) {
        unsigned long group = static_cast<unsigned long>(in[i]) << 16;
        if (left == 2) {
            group |= static_cast<unsigned long>(in[i + 1]) << 8;
        }
        text_ += kAlphabet[(group >> 18) & 0x3F];
        text_ += kAlphabet[(group >> 12) & 0x3F];
        text_ += left == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        text_ += '=';
    }
}

std::string decodeBase64(const std::string& text) {
    std::string out;
    out.reserve(text.size() / 4 * 3 + 3);
    unsigned long accumulator = 0;
    int pending = 0;
    for (const char c : text) {
        if (c == '=') {
            break;
        }
        const unsigned char value = kTable[static_cast<unsigned char>(c)];
        if (value == kInvalid) {
            continue;
        }
        accumulator = (accumulator << 6) | value;
        if (++pending == 4) {
            out += static_cast<char>((accumulator >> 16) & 0xFF);
            out += static_cast<char>((accumulator >> 8) & 0xFF);
            out += static_cast<char>(accumulator & 0xFF);
            accumulator = 0;
            pending = 0;
        }
    }
    // A partial group: the missing values count as zero.
    if (pending == 1) {
        out += static_cast<char>((accumulator << 2) & 0xFF);
    } else if (pending == 2) {
        accumulator <<= 12;
        out += static_cast<char>((accumulator >> 16) & 0xFF);
    } else if (pending == 3) {
        accumulator <<= 6;
        out += static_cast<char>((accumulator >> 16) & 0xFF);
        out += static_cast<char>((accumulator >> 8) & 0xFF);
    }
    const std::size_t zero = out.find('\0');
    if (zero != std::string::npos) {
        out.resize(zero);
    }
    return out;
}

std::string encodeBase64(const std::string& bytes) {
    Base64Coder coder;
    coder.encode(bytes.data(), bytes.size());
    return std::string(coder.result(), coder.size());
}

} // namespace quill
