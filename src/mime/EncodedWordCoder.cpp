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

bool qLiteral(unsigned char byte) {
    return byte >= '!' && byte <= '~' && byte != '=' && byte != '?' && byte != '_';
}

bool isLetter(unsigned char byte) {
    return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}

// Position of the next "=?" at or after from, or length.
std::size_t findOpen(const char* data, std::size_t length, std::size_t from) {
    while (from + 1 < length) {
        const void* hit = std::memchr(data + from, '=', length - from - 1);
        if (!hit) {
            return length;
        }
        std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        if (data[at + 1] == '?') {
            return at;
        }
        from = at + 1;
    }
    return length;
}

// Position of the next "?=" at or after from, or length.
std::size_t findClose(const char* data, std::size_t length, std::size_t from) {
    for (std::size_t at = from; at + 1 < length; ++at) {
        if (data[at] == '?' && data[at + 1] == '=') {
            return at;
        }
    }
    return length;
}

} // namespace

std::size_t EncodedWordCoder::qTextLength() const {
    std::size_t total = 0;
    for (std::size_t i = 0; i < length_; ++i) {
        total += qLiteral(static_cast<unsigned char>(input_[i])) ? 1 : 3;
    }
    return total;
}

std::size_t EncodedWordCoder::encodedLength() const {
    const std::size_t charsetLength = charset_.size();
    const bool base64 = letter_ == 'B' || letter_ == 'b';
    const std::size_t text = base64 ? (length_ + 2) / 3 * 4 : qTextLength();
    const std::size_t perWord = charsetLength < 64 ? 64 - charsetLength : 1;
    return text + (charsetLength + 11) * (text / perWord + 1);
}

void EncodedWordCoder::encodeTo(std::string& out) const {
    const auto* data = reinterpret_cast<const unsigned char*>(input_);
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
        for (std::size_t i = 0; i < length_; i += piece) {
            if (i) {
                out += ' ';
            }
            open('B');
            const std::size_t wordBytes = std::min(piece, length_ - i);
            const std::size_t at = out.size();
            out.resize(at + (wordBytes + 2) / 3 * 4);
            out.resize(at + Base64Codec::encodeSpan(data + i, wordBytes, &out[at], out.size() - at,
                                                    false));
            out += "?=";
        }
        return;
    }
    if (length_ == 0) {
        return;
    }
    open('Q');
    std::size_t used = 0;
    for (std::size_t i = 0; i < length_; ++i) {
        unsigned char ch = data[i];
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
    const std::size_t count = std::min(out.size(), capacity);
    if (count > 0) {
        std::memcpy(dest, out.data(), count);
    }
    return count;
}

std::size_t EncodedWordCoder::decode(char* dest, std::size_t capacity) {
    charset_.clear();
    const char* data = input_;
    const std::size_t length = length_;
    std::size_t i = 0, written = 0;
    while (i < length && written < capacity) {
        if (data[i] == '=' && i + 1 < length && data[i + 1] == '?') {
            const void* mark =
                i + 2 < length ? std::memchr(data + i + 2, '?', length - i - 2) : nullptr;
            if (mark != nullptr) {
                std::size_t letterAt =
                    static_cast<std::size_t>(static_cast<const char*>(mark) - data);
                if (letterAt + 3 < length &&
                    isLetter(static_cast<unsigned char>(data[letterAt + 1])) &&
                    data[letterAt + 2] == '?') {
                    char letter = data[letterAt + 1];
                    std::size_t textStart = letterAt + 3;
                    std::size_t textEnd = findClose(data, length, textStart);
                    std::size_t next = textEnd < length ? textEnd + 2 : length;
                    if (charset_.empty()) {
                        charset_.assign(data + i + 2, letterAt - i - 2);
                        letter_ = letter;
                    }
                    const auto* text = reinterpret_cast<const unsigned char*>(data + textStart);
                    if (letter == 'B' || letter == 'b') {
                        written += Base64Codec::decodeSpan(text, textEnd - textStart,
                                                           dest + written, capacity - written);
                        i = next;
                        continue;
                    }
                    if (letter == 'Q' || letter == 'q') {
                        written += QuotedPrintableCodec::decodeSpan(
                            text, textEnd - textStart, dest + written, capacity - written, true);
                        i = next;
                        continue;
                    }
                }
            }
        }
        // Plain text up to the next "=?".
        std::size_t end = findOpen(data, length, i + 1);
        bool white = i != 0 && end < length;
        for (std::size_t at = i; white && at < end; ++at) {
            white = CharClass::isWhite(static_cast<unsigned char>(data[at]));
        }
        if (!white) {
            const std::size_t count = std::min(end - i, capacity - written);
            std::memcpy(dest + written, data + i, count);
            written += count;
        }
        i = end;
    }
    return written;
}

} // namespace quill
