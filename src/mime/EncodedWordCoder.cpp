#include "mime/EncodedWordCoder.h"

#include "mime/Base64Codec.h"
#include "mime/CharClass.h"
#include "mime/QuotedPrintableCodec.h"

#include <algorithm>
#include <cstring>

namespace quill {

namespace {

const char kHex[] = "0123456789ABCDEF";

// Room for the encoded text of one word: 68 less the charset length, but never
// less than one base64 group or one "=XX" so that every word makes progress
// however long the charset is.
std::size_t wordRoom(std::size_t charsetLength) {
    return charsetLength < 65 ? 68 - charsetLength : 3;
}

bool qLiteral(unsigned char c) {
    return c >= '!' && c <= '~' && c != '=' && c != '?' && c != '_';
}

bool isLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Position of the next "=?" at or after from, or n.
std::size_t findOpen(const char* p, std::size_t n, std::size_t from) {
    while (from + 1 < n) {
        const void* hit = std::memchr(p + from, '=', n - from - 1);
        if (!hit)
            return n;
        std::size_t k = static_cast<std::size_t>(static_cast<const char*>(hit) - p);
        if (p[k + 1] == '?')
            return k;
        from = k + 1;
    }
    return n;
}

// Position of the next "?=" at or after from, or n.
std::size_t findClose(const char* p, std::size_t n, std::size_t from) {
    for (std::size_t k = from; k + 1 < n; ++k)
        if (p[k] == '?' && p[k + 1] == '=')
            return k;
    return n;
}

} // namespace

std::size_t EncodedWordCoder::qTextLength() const {
    std::size_t s = 0;
    for (std::size_t i = 0; i < length_; ++i)
        s += qLiteral(static_cast<unsigned char>(input_[i])) ? 1 : 3;
    return s;
}

std::size_t EncodedWordCoder::encodedLength() const {
    const std::size_t c = charset_.size();
    const bool b = letter_ == 'B' || letter_ == 'b';
    std::size_t s = b ? (length_ + 2) / 3 * 4 : qTextLength();
    std::size_t per = c < 64 ? 64 - c : 1;
    return s + (c + 11) * (s / per + 1);
}

void EncodedWordCoder::encodeTo(std::string& out) const {
    const auto* p = reinterpret_cast<const unsigned char*>(input_);
    const std::size_t room = wordRoom(charset_.size());
    auto open = [&](char letter) {
        out += "=?";
        out += charset_;
        out += '?';
        out += letter;
        out += '?';
    };
    if (letter_ == 'B' || letter_ == 'b') {
        const std::size_t piece = std::max<std::size_t>(3, room / 4 * 3);
        char buf[4 * 24 + 8];
        for (std::size_t i = 0; i < length_; i += piece) {
            if (i)
                out += ' ';
            open('B');
            std::size_t k = std::min(piece, length_ - i);
            // Encode in chunks of at most 72 input bytes (96 characters).
            for (std::size_t j = 0; j < k; j += 72) {
                std::size_t m = std::min<std::size_t>(72, k - j);
                std::size_t w = Base64Codec::encodeSpan(p + i + j, m, buf, sizeof buf, false);
                out.append(buf, w);
            }
            out += "?=";
        }
        return;
    }
    if (length_ == 0)
        return;
    open('Q');
    std::size_t used = 0;
    for (std::size_t i = 0; i < length_; ++i) {
        unsigned char ch = p[i];
        std::size_t need = qLiteral(ch) ? 1 : 3;
        if (used + need > room) {
            out += "?= ";
            open('Q');
            used = 0;
        }
        if (need == 1) {
            out += static_cast<char>(ch);
        } else {
            out += '=';
            out += kHex[ch >> 4];
            out += kHex[ch & 15];
        }
        used += need;
    }
    out += "?=";
}

std::size_t EncodedWordCoder::encode(char* dest, std::size_t capacity) const {
    std::string out;
    encodeTo(out);
    std::size_t k = std::min(out.size(), capacity);
    if (k)
        std::memcpy(dest, out.data(), k);
    return k;
}

std::size_t EncodedWordCoder::decode(char* dest, std::size_t capacity) {
    charset_.clear();
    const char* p = input_;
    const std::size_t n = length_;
    std::size_t i = 0, o = 0;
    while (i < n && o < capacity) {
        if (p[i] == '=' && i + 1 < n && p[i + 1] == '?') {
            const void* q = i + 2 < n ? std::memchr(p + i + 2, '?', n - i - 2) : nullptr;
            if (q) {
                std::size_t q1 = static_cast<std::size_t>(static_cast<const char*>(q) - p);
                if (q1 + 3 < n && isLetter(static_cast<unsigned char>(p[q1 + 1])) &&
                    p[q1 + 2] == '?') {
                    char letter = p[q1 + 1];
                    std::size_t textStart = q1 + 3;
                    std::size_t textEnd = findClose(p, n, textStart);
                    std::size_t next = textEnd < n ? textEnd + 2 : n;
                    if (charset_.empty()) {
                        charset_.assign(p + i + 2, q1 - i - 2);
                        letter_ = letter;
                    }
                    const auto* text = reinterpret_cast<const unsigned char*>(p + textStart);
                    if (letter == 'B' || letter == 'b') {
                        o += Base64Codec::decodeSpan(text, textEnd - textStart, dest + o,
                                                     capacity - o);
                        i = next;
                        continue;
                    }
                    if (letter == 'Q' || letter == 'q') {
                        o += QuotedPrintableCodec::decodeSpan(text, textEnd - textStart, dest + o,
                                                              capacity - o, true);
                        i = next;
                        continue;
                    }
                }
            }
        }
        // Plain text up to the next "=?".
        std::size_t end = findOpen(p, n, i + 1);
        bool white = i != 0 && end < n;
        for (std::size_t k = i; white && k < end; ++k)
            white = CharClass::isWhite(static_cast<unsigned char>(p[k]));
        if (!white) {
            std::size_t k = std::min(end - i, capacity - o);
            std::memcpy(dest + o, p + i, k);
            o += k;
        }
        i = end;
    }
    return o;
}

} // namespace quill
