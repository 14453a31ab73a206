#include "pop3/Pop3Text.h"

#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace quill {
namespace pop3text {

namespace {
bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}
bool endsWith(const std::string& text, const char* tail, std::size_t n) {
    return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

// The index of the next byte the framing changes, searched from `from` (at
// least 1) to size: a bare LF (it gets a CR) or a "." right after an LF (it
// gets another "."); size when there is none. Text lines are short, so a
// search line by line would pay a call per line: where the processor has
// 16-byte vectors, 16 positions are tested at once.
std::size_t nextMark(const char* bytes, std::size_t from, std::size_t size) {
    std::size_t i = from;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i dot = _mm_set1_epi8('.');
    for (; i + 16 <= size; i += 16) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
        const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i - 1));
        const __m128i bareLf =
            _mm_andnot_si128(_mm_cmpeq_epi8(before, cr), _mm_cmpeq_epi8(here, lf));
        const __m128i lineDot =
            _mm_and_si128(_mm_cmpeq_epi8(here, dot), _mm_cmpeq_epi8(before, lf));
        const int hits = _mm_movemask_epi8(_mm_or_si128(bareLf, lineDot));
        if (hits != 0) {
            return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(hits)));
        }
    }
#endif
    // From the byte before i: an LF there may precede a "." at i.
    for (std::size_t at = i - 1; at < size;) {
        const void* found = std::memchr(bytes + at, '\n', size - at);
        if (found == nullptr) {
            return size;
        }
        const std::size_t lf = static_cast<std::size_t>(static_cast<const char*>(found) - bytes);
        if (lf >= i && bytes[lf - 1] != '\r') {
            return lf;
        }
        if (lf + 1 < size && bytes[lf + 1] == '.') {
            return lf + 1;
        }
        at = lf + 1;
    }
    return size;
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

std::string withCrLf(std::string text) {
    std::size_t bare = 0;
    for (std::size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', lf + 1)) {
        bare += lf == 0 || text[lf - 1] != '\r' ? 1 : 0;
    }
    if (bare == 0) {
        return text;
    }
    std::string out;
    out.reserve(text.size() + bare);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            out += '\r';
        }
        out += text[i];
    }
    return out;
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
        const std::size_t lf = body.find('\n', end);
        if (lf == std::string::npos) {
            return body;
        }
        end = lf + 1;
    }
    return body.substr(0, end);
}

void DotStuffer::feed(const std::string& data) {
    const char* bytes = data.data();
    const std::size_t size = data.size();
    if (size == 0) {
        return;
    }
    // The first byte is judged by what the data fed before ended with.
    std::size_t segment = 0; // start of the bytes not yet handed on
    if (bytes[0] == '\n' && !afterCr_) {
        sink_("\r", 1);
    } else if (bytes[0] == '.' && atLineStart_) {
        sink_(".", 1); // the extra dot; the line's own dot follows
    }
    for (std::size_t mark = nextMark(bytes, 1, size); mark < size;
         mark = nextMark(bytes, mark + 1, size)) {
        sink_(bytes + segment, mark - segment);
        sink_(bytes[mark] == '\n' ? "\r" : ".", 1);
        segment = mark;
    }
    sink_(bytes + segment, size - segment);
    atLineStart_ = bytes[size - 1] == '\n';
    afterCr_ = bytes[size - 1] == '\r';
}

} // namespace pop3text
} // namespace quill
