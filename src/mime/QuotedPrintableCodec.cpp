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

unsigned hexValue(unsigned char byte) {
    // Deliberately unchecked for the second digit: anything above "9" counts
    // as its code minus 55, so a lower-case digit still gives the right value.
    return (byte > '9' ? byte - 55u : byte - '0') & 0x0Fu;
}

// Builds quoted-printable text, inserting soft line breaks at the last space
// or tab of a line when a line would grow too long.
class QpWriter {
public:
    explicit QpWriter(std::size_t reserve) { out_.reserve(reserve); }

    void put(const char* bytes, std::size_t count) {
        if (out_.size() - lineStart_ + count > kMaxLine) {
            if (breakPoint_ != std::string::npos) {
                out_.insert(breakPoint_, "=\r\n");
                lineStart_ = breakPoint_ + 3;
                breakPoint_ = std::string::npos;
            }
            // What moved behind the break may still leave no room.
            if (out_.size() - lineStart_ + count > kMaxLine) {
                out_ += "=\r\n";
                lineStart_ = out_.size();
            }
        }
        out_.append(bytes, count);
    }
    void putEncoded(unsigned char byte) {
        char escape[3] = {'=', kHex[byte >> 4], kHex[byte & 15]};
        put(escape, 3);
    }
    void putBreakable(char byte) {
        put(&byte, 1);
        breakPoint_ = out_.size();
    }
    void putLineEnd(char byte) {
        out_ += byte;
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
    const unsigned char* input = in();
    std::size_t length = inLength();
    std::size_t sum = length;
    for (std::size_t i = 0; i < length; ++i) {
        if (!CharClass::isAlnum(input[i])) {
            sum += 2;
        }
    }
    return sum + 6 * (sum / 74);
}

std::size_t QuotedPrintableCodec::encode(char* dest, std::size_t capacity) {
    const unsigned char* input = in();
    const std::size_t length = inLength();
    const bool binary = mode();
    QpWriter writer(length + length / 8 + 16);
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char byte = input[i];
        if (byte == ' ' || byte == '\t') {
            bool last = i + 1 == length;
            bool beforeCr = !last && input[i + 1] == '\r';
            if (last || (!binary && beforeCr)) {
                writer.putEncoded(byte);
            } else {
                writer.putBreakable(static_cast<char>(byte));
            }
        } else if (!binary && (byte == '\r' || byte == '\n')) {
            writer.putLineEnd(static_cast<char>(byte));
        } else if (byte == '.' && !binary) {
            // A line holding only a dot is encoded so that no relay takes it
            // for the end of the message.
            bool lonely = i >= 2 && input[i - 2] == '\r' && input[i - 1] == '\n' &&
                          i + 2 < length && input[i + 1] == '\r' && input[i + 2] == '\n';
            if (lonely) {
                writer.putEncoded(byte);
            } else {
                writer.put(".", 1);
            }
        } else if (byte >= '!' && byte <= '~' && byte != '=') {
            char ch = static_cast<char>(byte);
            writer.put(&ch, 1);
        } else {
            writer.putEncoded(byte);
        }
    }
    std::size_t count = std::min(writer.text().size(), capacity);
    if (count) {
        std::memcpy(dest, writer.text().data(), count);
    }
    return count;
}

std::size_t QuotedPrintableCodec::decode(char* dest, std::size_t capacity) {
    return decodeSpan(in(), inLength(), dest, capacity, false);
}

std::size_t QuotedPrintableCodec::decodeSpan(const unsigned char* input, std::size_t length,
                                             char* dest, std::size_t capacity,
                                             bool underscoreIsSpace) {
    std::size_t i = 0, written = 0;
    while (i < length && written < capacity) {
        unsigned char byte = input[i];
        if (byte != '=') {
            dest[written++] = (underscoreIsSpace && byte == '_') ? ' ' : static_cast<char>(byte);
            ++i;
            continue;
        }
        if (length - i < 3) {
            break; // "=" without two bytes after it: dropped with its tail
        }
        unsigned char first = input[i + 1], second = input[i + 2];
        if (CharClass::isHex(first)) {
            dest[written++] = static_cast<char>((hexValue(first) << 4) | hexValue(second));
            i += 3;
        } else if (first == '\r' && second == '\n') {
            i += 3; // soft line break
        } else {
            dest[written++] = static_cast<char>(first);
            i += 2;
        }
    }
    return written;
}

} // namespace quill
