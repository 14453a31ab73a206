#include "webmail/HttpResponse.h"

#include "codec/TextCase.h"
#include "net/DiagnosticLog.h"
#include "webmail/AnswerLimits.h"
#include "webmail/GzipReader.h"
#include "webmail/TextScanner.h"

#include <climits>
#include <cstring>
#include <string_view>

namespace quill {

HttpResponse::HttpResponse(const std::string& raw, std::size_t maxInflated)
    : HttpResponse(std::string(raw), maxInflated) {}

HttpResponse::HttpResponse(std::string&& raw, std::size_t maxInflated) {
    static const std::string kHeaderEnd = "\r\n\r\n";
    const std::size_t end = raw.find(kHeaderEnd);
    const std::size_t headerSize = end == std::string::npos ? raw.size() : end + kHeaderEnd.size();
    if (headerSize > kMaxHeaderBytes) {
        logEvent("answer header of " + std::to_string(headerSize) + " bytes, beyond " +
                 std::to_string(kMaxHeaderBytes) + "; the answer is refused");
        throw AnswerTooLarge();
    }
    if (end == std::string::npos) {
        header_ = std::move(raw);
        return;
    }
    const std::size_t bodyStart = end + kHeaderEnd.size();
    header_.assign(raw, 0, bodyStart);
    // The body keeps raw's allocation: erasing the header moves it down once.
    raw.erase(0, bodyStart);
    body_ = std::move(raw);

    // Only "Content-Encoding: " directly followed by "gzip" is decoded; deflate
    // and every other encoding pass through untouched.
    TextScanner scanner(header_);
    if (!scanner.find("Content-Encoding: ", "gzip") || scanner.length() != 0) {
        return;
    }
    std::size_t announced = 0;
    if (body_.empty() && contentLength(header_, announced) == Length::Known && announced == 0) {
        return; // the sender says there is no body: nothing was encoded
    }
    try {
        body_ = GzipReader::decode(body_.data(), body_.size(), maxInflated);
    } catch (const GzipReader::TooLarge&) {
        throw AnswerTooLarge();
    } catch (const GzipReader::Corrupt& e) {
        throw BadGzip(e.what());
    }
}

HttpResponse::Length HttpResponse::contentLength(std::string_view header, std::size_t& length) {
    static constexpr std::string_view kName = "content-length:";
    length = 0;
    bool found = false;
    std::size_t value = 0;
    // Every line after the status line; the status line itself never counts.
    std::size_t lineStart = header.find("\r\n");
    while (lineStart != std::string_view::npos) {
        lineStart += 2;
        std::size_t lineEnd = header.find("\r\n", lineStart);
        const std::string_view line =
            header.substr(lineStart, lineEnd == std::string_view::npos ? std::string_view::npos
                                                                       : lineEnd - lineStart);
        lineStart = lineEnd;
        if (!startsWithNoCase(line, kName)) {
            continue;
        }
        std::size_t i = kName.size();
        auto blank = [&line](std::size_t at) {
            return at < line.size() && (line[at] == ' ' || line[at] == '\t');
        };
        while (blank(i)) {
            ++i;
        }
        const std::size_t digitsStart = i;
        std::size_t number = 0;
        for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i) {
            const std::size_t digit = static_cast<std::size_t>(line[i] - '0');
            if (number > (static_cast<std::size_t>(-1) - digit) / 10) {
                return Length::Unreadable; // beyond any size we could hold
            }
            number = number * 10 + digit;
        }
        const bool digits = i > digitsStart;
        while (blank(i)) {
            ++i;
        }
        if (!digits || i != line.size() || (found && number != value)) {
            return Length::Unreadable;
        }
        found = true;
        value = number;
    }
    if (!found) {
        return Length::Absent;
    }
    length = value;
    return Length::Known;
}

bool HttpResponse::cutShort(const std::string& raw) {
    static const std::string kHeaderEnd = "\r\n\r\n";
    const std::size_t end = raw.find(kHeaderEnd);
    if (end == std::string::npos) {
        return true;
    }
    std::size_t announced = 0;
    if (contentLength(std::string_view(raw.data(), end + 2), announced) != Length::Known) {
        return false;
    }
    return raw.size() - (end + kHeaderEnd.size()) < announced;
}

bool HttpResponse::wholeByLength(const std::string& raw) {
    static const std::string kHeaderEnd = "\r\n\r\n";
    const std::size_t end = raw.find(kHeaderEnd);
    std::size_t announced = 0;
    return end != std::string::npos &&
           contentLength(std::string_view(raw.data(), end + 2), announced) == Length::Known &&
           raw.size() - (end + kHeaderEnd.size()) >= announced;
}

int HttpResponse::statusCode() const {
    TextScanner scanner(header_);
    if (!scanner.find(" ", " ")) {
        return -1;
    }
    long long value = 0;
    for (std::size_t i = scanner.position(); i < scanner.position() + scanner.length(); ++i) {
        const char c = header_[i];
        if (c < '0' || c > '9') {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > INT_MAX) {
            return INT_MAX;
        }
    }
    return static_cast<int>(value);
}

std::string HttpResponse::headerValue(const std::string& name) const {
    TextScanner scanner(header_);
    if (!scanner.find("\r\n" + name, "\r\n")) {
        return std::string();
    }
    return scanner.match();
}

std::string HttpResponse::setCookiePairs() const {
    static const std::string kMarker = "\r\nSet-Cookie: ";
    std::string result;
    std::size_t from = 0;
    for (;;) {
        const std::size_t marker = header_.find(kMarker, from);
        if (marker == std::string::npos) {
            return result;
        }
        const std::size_t value = marker + kMarker.size();
        // The pair ends at its ";" or, for a cookie without attributes, at the
        // end of its line: the search never runs on into the next header line,
        // whose text would otherwise end up inside the Cookie header we send.
        std::size_t lineEnd = header_.find("\r\n", value);
        if (lineEnd == std::string::npos) {
            lineEnd = header_.size();
        }
        // Searched within the line only: a search to the end of the header for
        // each cookie line would cost time quadratic in a long header.
        const void* semicolon = std::memchr(header_.data() + value, ';', lineEnd - value);
        const std::size_t stop =
            semicolon != nullptr
                ? static_cast<std::size_t>(static_cast<const char*>(semicolon) - header_.data())
                : lineEnd;
        result.append(header_, value, stop - value);
        result += "; ";
        from = stop;
    }
}

} // namespace quill
