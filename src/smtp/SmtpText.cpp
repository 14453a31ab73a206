#include "smtp/SmtpText.h"

#include "codec/TextCase.h"

#include <cstring>

namespace quill {
namespace smtptext {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Letters, digits and the bytes that may stand in the local part or the domain
// of an address (RFC 5322 atext, the dot and the at-sign). Bytes of 0x80 and up
// count too, so that an 8-bit address is not cut in the middle.
bool isAddressChar(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u >= 0x80) {
        return true;
    }
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
        return true;
    }
    return c != '\0' && std::strchr("!#$%&'*+-/=?^_`{|}~.@", c) != nullptr;
}

// First position at or after from where needle occurs in hay, ASCII case
// folded; npos when absent.
std::size_t findNoCase(const std::string& hay, const std::string& needle, std::size_t from) {
    if (needle.empty()) {
        return from <= hay.size() ? from : std::string::npos;
    }
    const char first = lowerAscii(needle[0]);
    for (std::size_t i = from; i + needle.size() <= hay.size(); ++i) {
        if (lowerAscii(hay[i]) != first) {
            continue;
        }
        std::size_t k = 1;
        while (k < needle.size() && lowerAscii(hay[i + k]) == lowerAscii(needle[k])) {
            ++k;
        }
        if (k == needle.size()) {
            return i;
        }
    }
    return std::string::npos;
}

} // namespace

std::string commandWord(const std::string& line) {
    std::size_t begin = 0;
    while (begin < line.size() && isBlank(line[begin])) {
        ++begin;
    }
    std::size_t end = begin;
    while (end < line.size() && !isBlank(line[end])) {
        ++end;
    }
    return line.substr(begin, end - begin);
}

std::string commandArgument(const std::string& line) {
    std::size_t i = 0;
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    while (i < line.size() && !isBlank(line[i])) {
        ++i;
    }
    while (i < line.size() && isBlank(line[i])) {
        ++i;
    }
    std::size_t end = line.size();
    while (end > i && isBlank(line[end - 1])) {
        --end;
    }
    return line.substr(i, end - i);
}

std::string recipientAddress(const std::string& line) {
    static const std::string marker = "RCPT TO:";
    std::size_t pos = findNoCase(line, marker, 0);
    if (pos == std::string::npos) {
        return std::string();
    }
    pos += marker.size();
    while (pos < line.size() && isBlank(line[pos])) {
        ++pos;
    }
    if (pos >= line.size() || line[pos] != '<') {
        return std::string();
    }
    ++pos;
    const std::size_t close = line.find('>', pos);
    if (close == std::string::npos) {
        return std::string();
    }
    return line.substr(pos, close - pos);
}

void unstuffDots(std::string& text) {
    // Only a dot can be removed, so the search jumps from dot to dot; the
    // bytes between two removed dots move down in one block. The checks look
    // only at bytes at or after the last removed dot, which no move has
    // touched yet.
    char* const data = &text[0];
    const std::size_t size = text.size();
    std::size_t out = 0;  // end of the un-stuffed text written so far
    std::size_t kept = 0; // start of the bytes not yet moved
    std::size_t from = 0;
    while (from < size) {
        const void* found = std::memchr(data + from, '.', size - from);
        if (found == nullptr) {
            break;
        }
        const std::size_t dot = static_cast<std::size_t>(static_cast<const char*>(found) - data);
        if (dot == 0 || (dot >= 2 && data[dot - 1] == '\n' && data[dot - 2] == '\r')) {
            std::memmove(data + out, data + kept, dot - kept);
            out += dot - kept;
            kept = dot + 1;
        }
        from = dot + 1;
    }
    std::memmove(data + out, data + kept, size - kept);
    text.resize(out + size - kept);
}

bool namesAddress(const std::string& header, const std::string& address) {
    if (address.empty()) {
        return true; // nothing to add for an empty address
    }
    std::size_t pos = findNoCase(header, address, 0);
    while (pos != std::string::npos) {
        const bool startOk = pos == 0 || !isAddressChar(header[pos - 1]);
        const std::size_t after = pos + address.size();
        const bool endOk = after == header.size() || !isAddressChar(header[after]);
        if (startOk && endOk) {
            return true;
        }
        pos = findNoCase(header, address, pos + 1);
    }
    return false;
}

std::string blindCopies(const std::string& to, const std::string& cc, const std::string& bcc,
                        const std::set<std::string>& recipients) {
    std::string result = bcc;
    for (const std::string& address : recipients) {
        if (namesAddress(to, address) || namesAddress(cc, address) || namesAddress(bcc, address)) {
            continue;
        }
        if (!result.empty()) {
            result += ',';
        }
        result += address;
    }
    return result;
}

} // namespace smtptext
} // namespace quill
