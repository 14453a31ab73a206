#include "mime/MimeField.h"

#include "mime/CharClass.h"
#include "mime/FieldCoderRegistry.h"

#include <cstring>

namespace quill {

namespace {

// Position of the next CR LF at or after from inside [0, n), or n.
std::size_t findCrLf(const char* p, std::size_t n, std::size_t from) {
    while (from + 1 < n) {
        const void* hit = std::memchr(p + from, '\r', n - from - 1);
        if (!hit)
            return n;
        std::size_t k = static_cast<std::size_t>(static_cast<const char*>(hit) - p);
        if (p[k + 1] == '\n')
            return k;
        from = k + 1;
    }
    return n;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

} // namespace

std::size_t MimeField::load(const char* p, std::size_t n) {
    std::size_t line = 0;
    // A line starting with white space here belongs to no field: skip it.
    while (line < n && CharClass::isWhite(static_cast<unsigned char>(p[line]))) {
        if (p[line] == '\r')
            return 0;
        std::size_t e = findCrLf(p, n, line);
        if (e >= n)
            return 0;
        line = e + 2;
    }
    if (line >= n)
        return 0;

    std::size_t i = line;
    while (i < n && p[i] != '\0' && p[i] != '\n' && p[i] != '\r' && p[i] != ':')
        ++i;
    std::size_t valueStart;
    if (i < n && p[i] == ':') {
        name_.assign(p + line, i - line);
        valueStart = i + 1;
    } else {
        name_.clear();
        valueStart = line;
    }
    while (valueStart < n && isBlank(p[valueStart]))
        ++valueStart;

    std::size_t end = findCrLf(p, n, valueStart);
    if (end >= n)
        return 0;
    while (end + 2 < n && isBlank(p[end + 2])) {
        end = findCrLf(p, n, end + 2);
        if (end >= n)
            return 0;
    }

    auto coder = FieldCoderRegistry::coderFor(name_);
    coder->setDirection(FieldCoder::Direction::Decode);
    coder->setInput(p + valueStart, end - valueStart);
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
    if (capacity < name_.size() + 4)
        return 0;
    std::size_t o = 0;
    std::memcpy(dest, name_.data(), name_.size());
    o += name_.size();
    dest[o++] = ':';
    dest[o++] = ' ';
    auto coder = FieldCoderRegistry::coderFor(name_);
    coder->setDirection(FieldCoder::Direction::Encode);
    coder->setCharset(charset_);
    coder->setInput(value_.data(), value_.size());
    o += coder->encode(dest + o, capacity - o - 2);
    dest[o++] = '\r';
    dest[o++] = '\n';
    return o;
}

std::string_view MimeField::mainValue() const {
    std::string_view v(value_);
    std::size_t semi = v.find(';');
    if (semi != std::string_view::npos)
        v = v.substr(0, semi);
    while (!v.empty() && CharClass::isWhite(static_cast<unsigned char>(v.back())))
        v.remove_suffix(1);
    return v;
}

bool MimeField::getParameter(std::string_view wanted, std::string& out) const {
    const std::string_view v(value_);
    const std::size_t n = v.size();
    std::size_t pos = v.find(';');
    if (pos == std::string_view::npos) {
        out.clear();
        return false;
    }
    for (;;) {
        while (pos < n && (v[pos] == ';' || CharClass::isWhite(static_cast<unsigned char>(v[pos]))))
            ++pos;
        std::size_t nameAt = pos;
        std::size_t eq = v.find('=', nameAt);
        if (eq == std::string_view::npos)
            break;
        std::size_t valueAt = eq + 1, valueEnd = valueAt;
        std::size_t close = std::string_view::npos;
        if (valueAt < n && v[valueAt] == '"')
            close = v.find('"', valueAt + 1);
        if (close != std::string_view::npos) {
            valueEnd = close + 1;
        } else {
            // A quote that never closes is a special byte: the value is empty.
            while (valueEnd < n) {
                auto c = static_cast<unsigned char>(v[valueEnd]);
                if (c <= 32 || CharClass::isSpecial(c))
                    break;
                ++valueEnd;
            }
        }
        std::string_view at = v.substr(nameAt);
        if (CharClass::startsWithNoCase(at, wanted) && nameAt + wanted.size() < n) {
            auto after = static_cast<unsigned char>(v[nameAt + wanted.size()]);
            if (CharClass::isWhite(after) || after == '=') {
                std::string_view span = v.substr(valueAt, valueEnd - valueAt);
                if (!span.empty() && span.front() == '"') {
                    span.remove_prefix(1);
                    if (!span.empty() && span.back() == '"')
                        span.remove_suffix(1);
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
