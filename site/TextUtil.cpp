#include "site/TextUtil.h"

#include "platform/LargeBuffer.h"

#include <array>
#include <cstdio>

namespace quill::site {

namespace {

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

} // namespace

std::string toLowerAscii(std::string text) {
    for (char& c : text) {
        c = lowerAscii(c);
    }
    return text;
}

std::string trim(const std::string& text) {
    const char* blanks = " \t\r\n";
    std::size_t b = text.find_first_not_of(blanks);
    if (b == std::string::npos) {
        return std::string();
    }
    std::size_t e = text.find_last_not_of(blanks);
    return text.substr(b, e - b + 1);
}

std::string htmlEscape(const std::string& text) {
    std::string out;
    out.reserve(text.size() + 16);
    for (char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string formDecode(std::string_view text) {
    // Every byte but "%" by table ("+" as space): only the rare "%" branches,
    // where a branch on "+" would be mispredicted at every word of a text.
    static const auto kPlain = [] {
        std::array<char, 256> table{};
        for (std::size_t i = 0; i < table.size(); ++i) {
            table[i] = static_cast<char>(i);
        }
        table['+'] = ' ';
        return table;
    }();
    std::string out;
    out.reserve(text.size());
    // A posted message text can be tens of megabytes: huge pages, and one
    // pass that writes through a pointer.
    platform::adviseLargeBuffer(&out[0], out.capacity());
    out.resize(text.size());
    char* to = &out[0];
    const auto* from = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = from + text.size();
    while (from < end) {
        const unsigned char c = *from;
        int high = 0;
        int low = 0;
        if (c != '%') {
            *to++ = kPlain[c];
            ++from;
        } else if (end - from > 2 && (high = hexValue(static_cast<char>(from[1]))) >= 0 &&
                   (low = hexValue(static_cast<char>(from[2]))) >= 0) {
            *to++ = static_cast<char>(high * 16 + low);
            from += 3;
        } else {
            *to++ = '%';
            ++from;
        }
    }
    out.resize(static_cast<std::size_t>(to - out.data()));
    return out;
}

std::string largeCopy(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    platform::adviseLargeBuffer(&out[0], out.capacity());
    out.assign(text.data(), text.size());
    return out;
}

std::string httpDate(std::int64_t seconds) {
    static const char* const days[] = {"Thu", "Fri", "Sat", "Sun", "Mon", "Tue", "Wed"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::int64_t dayCount = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
    std::int64_t rest = seconds - dayCount * 86400;
    // Civil date from days since 1970-01-01 (proleptic Gregorian calendar).
    std::int64_t z = dayCount + 719468;
    std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    std::int64_t doe = z - era * 146097;
    std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    std::int64_t mp = (5 * doy + 2) / 153;
    std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
    std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
    int weekday = static_cast<int>(((dayCount % 7) + 7) % 7);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04lld %02d:%02d:%02d GMT", days[weekday],
                  static_cast<int>(day), months[month - 1], static_cast<long long>(year),
                  static_cast<int>(rest / 3600), static_cast<int>(rest / 60 % 60),
                  static_cast<int>(rest % 60));
    return buffer;
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    if (from.empty()) {
        return text;
    }
    for (std::size_t pos = text.find(from); pos != std::string::npos;
         pos = text.find(from, pos + to.size())) {
        text.replace(pos, from.size(), to);
    }
    return text;
}

} // namespace quill::site
