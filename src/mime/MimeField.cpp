#include "mime/MimeField.h"

#include "mime/CharClass.h"
#include "mime/FieldCoderRegistry.h"

#include <cstring>

namespace quill {

namespace {

// Position of the next CR LF at or after from inside [0, length), or length.
std::size_t findCrLf(const char* data, std::size_t length, std::size_t from) {
    while (from + 1 < length) {
        const void* hit = std::memchr(data + from, '\r', length - from - 1);
        if (!hit) {
            return length;
        }
        std::size_t crAt = static_cast<std::size_t>(static_cast<const char*>(hit) - data);
        if (data[crAt + 1] == '\n') {
            return crAt;
        }
        from = crAt + 1;
    }
    return length;
}

bool isBlank(char byte) {
    return byte == ' ' || byte == '\t';
}

} // namespace

std::size_t MimeField::load(const char* data, std::size_t length) {
    std::size_t line = 0;
    // A line starting with white space here belongs to no field: skip it.
    while (line < length && CharClass::isWhite(static_cast<unsigned char>(data[line]))) {
        if (data[line] == '\r') {
            return 0;
        }
        std::size_t lineEnd = findCrLf(data, length, line);
        if (lineEnd >= length) {
            return 0;
        }
        line = lineEnd + 2;
    }
    if (line >= length) {
        return 0;
    }

    std::size_t i = line;
    while (i < length && data[i] != '\0' && data[i] != '\n' && data[i] != '\r' && data[i] != ':') {
        ++i;
    }
    std::size_t valueStart;
    if (i < length && data[i] == ':') {
        name_.assign(data + line, i - line);
        valueStart = i + 1;
    } else {
        name_.clear();
        valueStart = line;
    }
    while (valueStart < length && isBlank(data[valueStart])) {
        ++valueStart;
    }

    std::size_t end = findCrLf(data, length, valueStart);
    if (end >= length) {
        return 0;
    }
    while (end + 2 < length && isBlank(data[end + 2])) {
        end = findCrLf(data, length, end + 2);
        if (end >= length) {
            return 0;
        }
    }

    auto coder = FieldCoderRegistry::coderFor(name_);
    coder->setDirection(FieldCoder::Direction::Decode);
    coder->setInput(data + valueStart, end - valueStart);
    value_ = coder->decoded();
    charset_ = coder->charset();
    return end + 2;
}

std::size_t MimeField::storedLength() const {
    auto coder = FieldCoderRegistry::coderFor(name_);
    coder->setDirection(FieldCoder::Direction::Encode);
    coder->setCharset(charset_);
    coder->setInput(value_.data(), value_.size());
    return name_.size() + coder->encodedLength() + 4;
}

std::size_t MimeField::store(char* dest, std::size_t capacity) const {
    if (capacity < name_.size() + 4) {
        return 0;
    }
    std::size_t written = 0;
    std::memcpy(dest, name_.data(), name_.size());
    written += name_.size();
    dest[written++] = ':';
    dest[written++] = ' ';
    auto coder = FieldCoderRegistry::coderFor(name_);
    coder->setDirection(FieldCoder::Direction::Encode);
    coder->setCharset(charset_);
    coder->setInput(value_.data(), value_.size());
    written += coder->encode(dest + written, capacity - written - 2);
    dest[written++] = '\r';
    dest[written++] = '\n';
    return written;
}

std::string_view MimeField::mainValue() const {
    std::string_view text(value_);
    std::size_t semi = text.find(';');
    if (semi != std::string_view::npos) {
        text = text.substr(0, semi);
    }
    while (!text.empty() && CharClass::isWhite(static_cast<unsigned char>(text.back()))) {
        text.remove_suffix(1);
    }
    return text;
}

bool MimeField::getParameter(std::string_view wanted, std::string& out) const {
    const std::string_view text(value_);
    const std::size_t length = text.size();
    std::size_t pos = text.find(';');
    if (pos == std::string_view::npos) {
        out.clear();
        return false;
    }
    for (;;) {
        while (pos < length &&
               (text[pos] == ';' || CharClass::isWhite(static_cast<unsigned char>(text[pos])))) {
            ++pos;
        }
        std::size_t nameAt = pos;
        std::size_t eq = text.find('=', nameAt);
        if (eq == std::string_view::npos) {
            break;
        }
        std::size_t valueAt = eq + 1, valueEnd = valueAt;
        std::size_t close = std::string_view::npos;
        if (valueAt < length && text[valueAt] == '"') {
            close = text.find('"', valueAt + 1);
        }
        if (close != std::string_view::npos) {
            valueEnd = close + 1;
        } else {
            // A quote that never closes is a special byte: the value is empty.
            while (valueEnd < length) {
                auto byte = static_cast<unsigned char>(text[valueEnd]);
                if (byte <= 32 || CharClass::isSpecial(byte)) {
                    break;
                }
                ++valueEnd;
            }
        }
        std::string_view at = text.substr(nameAt);
        if (CharClass::startsWithNoCase(at, wanted) && nameAt + wanted.size() < length) {
            auto after = static_cast<unsigned char>(text[nameAt + wanted.size()]);
            if (CharClass::isWhite(after) || after == '=') {
                std::string_view span = text.substr(valueAt, valueEnd - valueAt);
                if (!span.empty() && span.front() == '"') {
                    span.remove_prefix(1);
                    if (!span.empty() && span.back() == '"') {
                        span.remove_suffix(1);
                    }
                }
                out.assign(span.data(), span.size());
                return true;
            }
        }
        pos = valueEnd;
    }
    out.clear();
    return false;
}

} // namespace quill
