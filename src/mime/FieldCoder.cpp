#include "mime/FieldCoder.h"

#include "mime/CharClass.h"
#include "mime/EncodedWordCoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace quill {

namespace {

std::mutex& defaultCharsetMutex() {
    static std::mutex charsetMutex;
    return charsetMutex;
}
std::string& defaultCharsetValue() {
    static std::string* charset = new std::string(); // lives until the process ends
    return *charset;
}

struct Segment {
    std::size_t end = 0;      // one past the last byte of the segment
    std::size_t eightBit = 0; // bytes of 0x80 and above in it
};

// Scans one segment from start: it ends at the first white space or special
// byte outside a quoted string, comment or angle address; the byte that closes
// such a state ends it too. Returns where it ends (the terminator's position,
// or length).
Segment scanSegment(const unsigned char* data, std::size_t length, std::size_t start,
                    unsigned char initialState) {
    Segment segment;
    unsigned char state = initialState;
    std::size_t i = start;
    for (; i < length; ++i) {
        unsigned char byte = data[i];
        if (byte >= 0x80) {
            ++segment.eightBit;
            continue;
        }
        if (state != 0) {
            if (byte == state) {
                break;
            }
            continue;
        }
        if (byte == '"') {
            state = '"';
        } else if (byte == '(') {
            state = ')';
        } else if (byte == '<') {
            state = '>';
        } else if (CharClass::isWhite(byte) || CharClass::isSpecial(byte)) {
            break;
        }
    }
    segment.end = i;
    return segment;
}

bool useBForm(std::size_t length, std::size_t eightBit) {
    return (length + 2) / 3 * 4 < length + 2 * eightBit && length < 5 * eightBit;
}

// Calls emit(start, end, eightBit, terminatorPos) for every segment, with
// terminatorPos == n for the last one when it runs to the end of the value.
// Two segments that both hold 8-bit bytes and are separated only by spaces or
// tabs are joined into one, spaces included: written as two encoded words, the
// decoder would drop the spaces between them.
template <class Emit>
void forEachSegment(const unsigned char* data, std::size_t length, unsigned char initialState,
                    bool (*isFold)(const void*, unsigned char), const void* coder, Emit emit) {
    std::size_t i = 0;
    while (i < length) {
        std::size_t start = i;
        Segment segment = scanSegment(data, length, start, initialState);
        while (segment.eightBit && segment.end < length &&
               (data[segment.end] == ' ' || data[segment.end] == '\t') &&
               !isFold(coder, data[segment.end])) {
            std::size_t at = segment.end;
            while (at < length && (data[at] == ' ' || data[at] == '\t')) {
                ++at;
            }
            if (at >= length) {
                break;
            }
            Segment next = scanSegment(data, length, at, initialState);
            if (!next.eightBit) {
                break;
            }
            segment.end = next.end;
            segment.eightBit += next.eightBit;
        }
        emit(start, segment.end, segment.eightBit);
        i = segment.end;
        if (i < length) {
            unsigned char term = data[i++];
            if (isFold(coder, term)) {
                while (i < length && CharClass::isWhite(data[i])) {
                    ++i;
                }
            }
        }
    }
}

bool foldThunk(const void* coder, unsigned char byte) {
    return static_cast<const FieldCoder*>(coder)->isFoldPoint(byte);
}

} // namespace

void FieldCoder::setDefaultCharset(std::string charset) {
    std::lock_guard<std::mutex> lock(defaultCharsetMutex());
    defaultCharsetValue() = std::move(charset);
}

std::string FieldCoder::defaultCharset() {
    std::lock_guard<std::mutex> lock(defaultCharsetMutex());
    return defaultCharsetValue();
}

std::string FieldCoder::effectiveCharset() const {
    return charset_.empty() ? defaultCharset() : charset_;
}

std::size_t FieldCoder::encodedLength() const {
    const std::string cs = effectiveCharset();
    if (cs.empty()) {
        return length_;
    }
    const auto* data = reinterpret_cast<const unsigned char*>(input_);
    std::size_t total = 0;
    EncodedWordCoder words;
    words.setCharset(cs);
    forEachSegment(data, length_, initialQuotingState(), foldThunk, this,
                   [&](std::size_t from, std::size_t to, std::size_t eightBit) {
                       std::size_t len = to - from;
                       if (!eightBit) {
                           total += len;
                       } else {
                           words.setInput(input_ + from, len);
                           words.setEncoding(useBForm(len, eightBit) ? 'B' : 'Q');
                           total += words.encodedLength();
                       }
                       if (to < length_) {
                           total += isFoldPoint(data[to]) ? 4 : 1;
                       }
                   });
    return total;
}

void FieldCoder::encodeTo(std::string& out, const std::string& cs) const {
    const auto* data = reinterpret_cast<const unsigned char*>(input_);
    EncodedWordCoder words;
    words.setCharset(cs);
    forEachSegment(data, length_, initialQuotingState(), foldThunk, this,
                   [&](std::size_t from, std::size_t to, std::size_t eightBit) {
                       std::size_t len = to - from;
                       if (!eightBit) {
                           out.append(input_ + from, len);
                       } else {
                           words.setInput(input_ + from, len);
                           words.setEncoding(useBForm(len, eightBit) ? 'B' : 'Q');
                           words.encodeTo(out);
                       }
                       if (to < length_) {
                           out += static_cast<char>(data[to]);
                           if (isFoldPoint(data[to])) {
                               out += "\r\n\t";
                           }
                       }
                   });
}

std::size_t FieldCoder::encode(char* dest, std::size_t capacity) {
    const std::string cs = effectiveCharset();
    if (cs.empty()) {
        const std::size_t count = std::min(length_, capacity);
        if (count > 0) {
            std::memcpy(dest, input_, count);
        }
        return count;
    }
    std::string out;
    out.reserve(length_ + 16);
    encodeTo(out, cs);
    const std::size_t count = std::min(out.size(), capacity);
    if (count > 0) {
        std::memcpy(dest, out.data(), count);
    }
    return count;
}

std::size_t FieldCoder::decode(char* dest, std::size_t capacity) {
    const std::string out = decoded();
    const std::size_t count = std::min(out.size(), capacity);
    if (count > 0) {
        std::memcpy(dest, out.data(), count);
    }
    return count;
}

std::string FieldCoder::encoded() {
    std::string out(encodedLength(), '\0');
    out.resize(encode(&out[0], out.size()));
    return out;
}

std::string FieldCoder::decoded() {
    // Decoding never grows the value, so the result fits the input's size.
    EncodedWordCoder words;
    words.setInput(input_, length_);
    std::string out(length_, '\0');
    out.resize(words.decode(&out[0], out.size()));
    charset_ = words.charset();
    return out;
}

} // namespace quill
