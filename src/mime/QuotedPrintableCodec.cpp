#include "mime/QuotedPrintableCodec.h"

#include "mime/CharClass.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace quill {

namespace {

const char kHex[] = "0123456789ABCDEF";

// Lines of encoded text are kept within this many characters, the soft break
// "=" included in the count of the line it ends.
constexpr std::size_t kMaxLine = 75;

unsigned hexValue(unsigned char c) {
    // Deliberately unchecked for the second digit: anything above "9" counts
    // as its code minus 55, so a lower-case digit still gives the right value.
    return (c > '9' ? c - 55u : c - '0') & 0x0Fu;
}

// Builds quoted-printable text, inserting soft line breaks at the last space
// or tab of a line when a line would grow too long.
class QpWriter {
public:
    explicit QpWriter(std::size_t reserve) { out_.reserve(reserve); }

    void put(const char* s, std::size_t k) {
        if (out_.size() - lineStart_ + k > kMaxLine) {
            if (breakPoint_ != std::string::npos) {
                out_.insert(breakPoint_, "=\r\n");
                lineStart_ = breakPoint_ + 3;
                breakPoint_ = std::string::npos;
            }
            // What moved behind the break may still leave no room.
            if (out_.size() - lineStart_ + k > kMaxLine) {
                out_ += "=\r\n";
                lineStart_ = out_.size();
            }
        }
        out_.append(s, k);
    }
    void putEncoded(unsigned char c) {
        char e[3] = {'=', kHex[c >> 4], kHex[c & 15]};
        put(e, 3);
    }
    void putBreakable(char c) {
        put(&c, 1);
        breakPoint_ = out_.size();
    }
    void putLineEnd(char c) {
        out_ += c;
        lineStart_ = out_.size();
        breakPoint_ = std::string::npos;
    }
    const std::string& text() const { return out_; }

private:
    std::string out_;
    std::size_t lineStart_ = 0;
    std::size_t breakPoint_ = std::string::npos;
};

} // namespace

std::size_t QuotedPrintableCodec::encodedLength() const {
    const unsigned char* p = in();
    std::size_t n = inLength();
    std::size_t sum = n;
    for (std::size_t i = 0; i < n; ++i)
        if (!CharClass::isAlnum(p[i]))
            sum += 2;
    return sum + 6 * (sum / 74);
}

std::size_t QuotedPrintableCodec::encode(char* dest, std::size_t capacity) {
    const unsigned char* p = in();
    const std::size_t n = inLength();
    const bool binary = mode();
    QpWriter w(n + n / 8 + 16);
    for (std::size_t i = 0; i < n; ++i) {
        unsigned char c = p[i];
        if (c == ' ' || c == '\t') {
            bool last = i + 1 == n;
            bool beforeCr = !last && p[i + 1] == '\r';
            if (last || (!binary && beforeCr))
                w.putEncoded(c);
            else
                w.putBreakable(static_cast<char>(c));
        } else if (!binary && (c == '\r' || c == '\n')) {
            w.putLineEnd(static_cast<char>(c));
        } else if (c == '.' && !binary) {
            // A line holding only a dot is encoded so that no relay takes it
            // for the end of the message.
            bool lonely = i >= 2 && p[i - 2] == '\r' && p[i - 1] == '\n' && i + 2 < n &&
                          p[i + 1] == '\r' && p[i + 2] == '\n';
            if (lonely)
                w.putEncoded(c);
            else
                w.put(".", 1);
        } else if (c >= '!' && c <= '~' && c != '=') {
            char ch = static_cast<char>(c);
            w.put(&ch, 1);
        } else {
            w.putEncoded(c);
        }
    }
    std::size_t k = std::min(w.text().size(), capacity);
    if (k)
        std::memcpy(dest, w.text().data(), k);
    return k;
}

std::size_t QuotedPrintableCodec::decode(char* dest, std::size_t capacity) {
    return decodeSpan(in(), inLength(), dest, capacity, false);
}

std::size_t QuotedPrintableCodec::decodeSpan(const unsigned char* p, std::size_t n, char* dest,
                                             std::size_t capacity, bool underscoreIsSpace) {
    std::size_t i = 0, o = 0;
    while (i < n && o < capacity) {
        unsigned char c = p[i];
        if (c != '=') {
            dest[o++] = (underscoreIsSpace && c == '_') ? ' ' : static_cast<char>(c);
            ++i;
            continue;
        }
        if (n - i < 3)
            break; // "=" without two bytes after it: dropped with its tail
        unsigned char a = p[i + 1], b = p[i + 2];
        if (CharClass::isHex(a)) {
            dest[o++] = static_cast<char>((hexValue(a) << 4) | hexValue(b));
            i += 3;
        } else if (a == '\r' && b == '\n') {
            i += 3; // soft line break
        } else {
            dest[o++] = static_cast<char>(a);
            i += 2;
        }
    }
    return o;
}

} // namespace quill
