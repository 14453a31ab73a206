#include "mime/FieldCoder.h"

#include "mime/CharClass.h"
#include "mime/EncodedWordCoder.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace quill {

namespace {

std::mutex& defaultCharsetMutex() {
    static std::mutex m;
    return m;
}
std::string& defaultCharsetValue() {
    static std::string* s = new std::string(); // lives until the process ends
    return *s;
}

struct Segment {
    std::size_t end = 0;      // one past the last byte of the segment
    std::size_t eightBit = 0; // bytes of 0x80 and above in it
};

// Scans one segment from start: it ends at the first white space or special
// byte outside a quoted string, comment or angle address; the byte that closes
// such a state ends it too. Returns where it ends (the terminator's position,
// or n).
Segment scanSegment(const unsigned char* p, std::size_t n, std::size_t start,
                    unsigned char initialState) {
    Segment s;
    unsigned char state = initialState;
    std::size_t i = start;
    for (; i < n; ++i) {
        unsigned char c = p[i];
        if (c >= 0x80) {
            ++s.eightBit;
            continue;
        }
        if (state != 0) {
            if (c == state)
                break;
            continue;
        }
        if (c == '"')
            state = '"';
        else if (c == '(')
            state = ')';
        else if (c == '<')
            state = '>';
        else if (CharClass::isWhite(c) || CharClass::isSpecial(c))
            break;
    }
    s.end = i;
    return s;
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
void forEachSegment(const unsigned char* p, std::size_t n, unsigned char initialState,
                    bool (*isFold)(const void*, unsigned char), const void* coder, Emit emit) {
    std::size_t i = 0;
    while (i < n) {
        std::size_t start = i;
        Segment s = scanSegment(p, n, start, initialState);
        while (s.eightBit && s.end < n && (p[s.end] == ' ' || p[s.end] == '\t') &&
               !isFold(coder, p[s.end])) {
            std::size_t k = s.end;
            while (k < n && (p[k] == ' ' || p[k] == '\t'))
                ++k;
            if (k >= n)
                break;
            Segment next = scanSegment(p, n, k, initialState);
            if (!next.eightBit)
                break;
            s.end = next.end;
            s.eightBit += next.eightBit;
        }
        emit(start, s.end, s.eightBit);
        i = s.end;
        if (i < n) {
            unsigned char term = p[i++];
            if (isFold(coder, term))
                while (i < n && CharClass::isWhite(p[i]))
                    ++i;
        }
    }
}

bool foldThunk(const void* coder, unsigned char c) {
    return static_cast<const FieldCoder*>(coder)->isFoldPoint(c);
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
    if (cs.empty())
        return length_;
    const auto* p = reinterpret_cast<const unsigned char*>(input_);
    std::size_t total = 0;
    EncodedWordCoder words;
    words.setCharset(cs);
    forEachSegment(p, length_, initialQuotingState(), foldThunk, this,
                   [&](std::size_t a, std::size_t b, std::size_t eightBit) {
                       std::size_t len = b - a;
                       if (!eightBit) {
                           total += len;
                       } else {
                           words.setInput(input_ + a, len);
                           words.setEncoding(useBForm(len, eightBit) ? 'B' : 'Q');
                           total += words.encodedLength();
                       }
                       if (b < length_)
                           total += isFoldPoint(p[b]) ? 4 : 1;
                   });
    return total;
}

void FieldCoder::encodeTo(std::string& out, const std::string& cs) const {
    const auto* p = reinterpret_cast<const unsigned char*>(input_);
    EncodedWordCoder words;
    words.setCharset(cs);
    forEachSegment(p, length_, initialQuotingState(), foldThunk, this,
                   [&](std::size_t a, std::size_t b, std::size_t eightBit) {
                       std::size_t len = b - a;
                       if (!eightBit) {
                           out.append(input_ + a, len);
                       } else {
                           words.setInput(input_ + a, len);
                           words.setEncoding(useBForm(len, eightBit) ? 'B' : 'Q');
                           words.encodeTo(out);
                       }
                       if (b < length_) {
                           out += static_cast<char>(p[b]);
                           if (isFoldPoint(p[b]))
                               out += "\r\n\t";
                       }
                   });
}

std::size_t FieldCoder::encode(char* dest, std::size_t capacity) {
    const std::string cs = effectiveCharset();
    std::size_t k;
    if (cs.empty()) {
        k = std::min(length_, capacity);
        if (k)
            std::memcpy(dest, input_, k);
        return k;
    }
    std::string out;
    out.reserve(length_ + 16);
    encodeTo(out, cs);
    k = std::min(out.size(), capacity);
    if (k)
        std::memcpy(dest, out.data(), k);
    return k;
}

std::size_t FieldCoder::decode(char* dest, std::size_t capacity) {
    EncodedWordCoder words;
    words.setInput(input_, length_);
    std::vector<char> buf(length_ + 1);
    std::size_t r = words.decode(buf.data(), length_);
    charset_ = words.charset();
    std::size_t k = std::min(r, capacity);
    if (k)
        std::memcpy(dest, buf.data(), k);
    return k;
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
