#include "webmail/CookieJar.h"

#include "net/DiagnosticLog.h"
#include "platform/AtomicFile.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "webmail/TextScanner.h"

#include <cctype>
#include <initializer_list>
#include <limits>

namespace quill {

namespace {

const char kHeaderLine[] = "//vurel cookie data file";
// What a text-mode write of CR LF leaves on disk on Windows, written by hand so
// that every build writes the same bytes.
const char kDiskLineEnd[] = "\r\r\n";

// Text-mode reading as Windows does it: each CR LF becomes LF.
std::string fromDiskText(const std::string& bytes) {
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            continue;
        }
        text += bytes[i];
    }
    return text;
}

// Leading blanks, an optional sign, then decimal digits up to the first other
// character; no digits give 0. Values beyond 32 bits are held at the limit.
std::int32_t readTimestamp(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    std::int64_t value = 0;
    const std::int64_t limit = std::numeric_limits<std::int32_t>::max();
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit) {
            value = limit;
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

const char kVerifierKey[] = "Verifier: ";

// The value of a "Verifier: " line that starts right at lineEnd (the CR LF
// that ends a record's time stamp line); empty when the next line is another.
std::string verifierAfter(const std::string& text, std::size_t lineEnd) {
    const std::string key = std::string("\r\n") + kVerifierKey;
    if (text.compare(lineEnd, key.size(), key) != 0) {
        return std::string();
    }
    const std::size_t start = lineEnd + key.size();
    const std::size_t end = text.find("\r\n", start);
    return text.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// A field holding a line break could not be read back as written (and could
// forge records), and a cookie beyond the bounds would be skipped by the load:
// such a record stays in memory but is not saved.
bool representable(const CookieRecord& record) {
    if (!CookieRecord::withinBounds(record.Cookie)) {
        return false;
    }
    for (const std::string* field :
         {&record.User, &record.Cookie, &record.Host, &record.Verifier}) {
        if (field->find_first_of("\r\n") != std::string::npos) {
            return false;
        }
    }
    return true;
}

} // namespace

std::int64_t CookieJar::systemTime() {
    return platform::nowSeconds();
}

CookieJar& CookieJar::instance() {
    static CookieJar* const jar = new CookieJar;
    return *jar;
}

CookieJar::CookieJar(Clock clock) : clock_(clock ? std::move(clock) : Clock(systemTime)) {}

bool CookieJar::valid(const CookieRecord& record) const {
    return clock_() - static_cast<std::int64_t>(record.Timestamp) < kValiditySeconds;
}

CookieRecord CookieJar::find(const std::string& user) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = records_.find(user);
    if (it == records_.end() || !valid(it->second)) {
        return CookieRecord();
    }
    return it->second;
}

void CookieJar::store(const CookieRecord& record) {
    std::lock_guard<std::mutex> lock(mutex_);
    records_[record.User] = record;
    modified_ = true;
}

void CookieJar::load(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string bytes;
    if (!platform::readFile(path, bytes)) {
        logEvent("no cookie file read at " + path);
        return;
    }
    logEvent("cookie file read: " + path);
    const std::string text = fromDiskText(bytes);
    TextScanner scanner(text);
    for (;;) {
        if (!scanner.find("\r\nUser: ", "\r\n")) {
            break;
        }
        const std::string user = scanner.match();
        if (!scanner.find("\r\nCookie: ", "\r\n")) {
            break;
        }
        const std::string cookie = scanner.match();
        if (!scanner.find("\r\nHost: ", "\r\n")) {
            break;
        }
        const std::string host = scanner.match();
        if (!scanner.find("\r\nTimestamp: ", "\r\n")) {
            break;
        }
        const std::int32_t timestamp = readTimestamp(scanner.match());
        const std::string verifier = verifierAfter(text, scanner.position() + scanner.length());
        if (user.empty() || cookie.empty() || host.empty() || timestamp <= 0) {
            continue;
        }
        if (!CookieRecord::withinBounds(cookie)) {
            logEvent("cookie file: a record whose cookie is beyond the bounds is skipped");
            continue;
        }
        CookieRecord record;
        record.set(user, cookie, host, timestamp);
        record.Verifier = verifier;
        records_[user] = record;
    }
}

void CookieJar::save(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!modified_) {
        return;
    }
    std::string file = kHeaderLine;
    file += kDiskLineEnd;
    for (const auto& entry : records_) {
        const CookieRecord& record = entry.second;
        if (!valid(record) || !representable(record)) {
            continue;
        }
        file += "User: " + record.User + kDiskLineEnd;
        file += "Cookie: " + record.Cookie + kDiskLineEnd;
        file += "Host: " + record.Host + kDiskLineEnd;
        file += "Timestamp: " + std::to_string(record.Timestamp) + kDiskLineEnd;
        if (!record.Verifier.empty()) {
            file += kVerifierKey + record.Verifier + kDiskLineEnd;
        }
        file += kDiskLineEnd;
    }
    // A failed write is not reported and does not keep the jar modified: the
    // next exit would fail the same way.
    const bool written = platform::writeFileAtomically(path, file, true);
    logEvent((written ? "cookie file written: " : "cookie file could not be written: ") + path);
    modified_ = false;
}

bool CookieJar::modified() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return modified_;
}

std::size_t CookieJar::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

} // namespace quill
