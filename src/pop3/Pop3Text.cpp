#include "pop3/Pop3Text.h"

#include <cstring>
#include <limits>

namespace quill {
namespace pop3text {

namespace {
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
bool endsWith(const std::string& text, const char* tail, std::size_t n) {
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}
} // namespace

std::string nextWord(const std::string& line, std::size_t& pos) {
    while (pos < line.size() && isSpace(line[pos])) {
        ++pos;
    }
    const std::size_t start = pos;
    while (pos < line.size() && !isSpace(line[pos])) {
        ++pos;
    }
    return line.substr(start, pos - start);
}

bool equalsNoCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size(); ++i) {
        if (b[i] == '\0' || lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return b[i] == '\0';
}

bool parseNumber(const std::string& word, unsigned long& number) {
    if (word.empty() || word[0] < '0' || word[0] > '9') {
        return false;
    }
    const unsigned long max = std::numeric_limits<unsigned long>::max();
    unsigned long value = 0;
    for (char c : word) {
        if (c < '0' || c > '9') {
            break;
        }
        const unsigned long digit = static_cast<unsigned long>(c - '0');
        value = value > (max - digit) / 10 ? max : value * 10 + digit;
    }
    number = value;
    return true;
}

std::string closeHeader(std::string header) {
    if (header.empty()) {
        header = "\r\n"; // an empty header block still ends with its empty line
    } else if (endsWith(header, "\r\n\r\n", 4)) {
        // complete
    } else if (endsWith(header, "\r\n", 2)) {
        header += "\r\n";
    } else {
        header += "\r\n\r\n";
    }
    return header;
}

std::string firstLines(const std::string& body, unsigned long lines) {
    std::size_t end = 0;
    for (unsigned long i = 0; i < lines; ++i) {
        const std::size_t lf = body.find("\r\n", end);
        if (lf == std::string::npos) {
            return body;
        }
        end = lf + 2;
    }
    return body.substr(0, end);
}

void DotStuffer::feed(const std::string& data) {
    const char* bytes = data.data();
    const std::size_t size = data.size();
    std::size_t segment = 0; // start of the bytes not yet handed on
    std::size_t pos = 0;     // next byte to look at
    while (pos < size) {
        if (atLineStart_ && bytes[pos] == '.') {
            if (pos > segment) {
                sink_(bytes + segment, pos - segment);
            }
            sink_(".", 1); // the extra dot; the line's own dot follows
            segment = pos;
        }
        // Lines are found with memchr: large messages are scanned at memory speed.
        const void* lf = std::memchr(bytes + pos, '\n', size - pos);
        if (lf == nullptr) {
            atLineStart_ = false;
            break;
        }
        const std::size_t at = static_cast<const char*>(lf) - bytes;
        atLineStart_ = at > 0 ? bytes[at - 1] == '\r' : afterCr_;
        pos = at + 1;
    }
    if (size > segment) {
        sink_(bytes + segment, size - segment);
    }
    if (size > 0) {
        afterCr_ = bytes[size - 1] == '\r';
    }
}

} // namespace pop3text
} // namespace quill
