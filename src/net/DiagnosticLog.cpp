#include "net/DiagnosticLog.h"

#include "net/CBlockSocket.h"

#include "platform/Clock.h"
#include "platform/Files.h"

#include <exception>
#include <string>
#include <typeinfo>
#include <utility>

namespace quill {

namespace {
struct ThreadScope {
    const char* service = "plug-in";
    unsigned long number = 0;
};
thread_local ThreadScope current;

// Query parameters whose values are the site's anti-forgery tokens: with one,
// a page of the site could act for the signed-in user, so a log that anyone
// may be shown never holds them. Each is matched as a whole parameter name
// (after "?" or "&").
const char* const kTokenParameters[] = {".crumb=", "YY="};
const char kElided[] = "\xE2\x80\xA6"; // the ellipsis, in UTF-8

// Appends text to line with every token value replaced by the ellipsis and
// every line break by a blank (one event, one line: a server's text is
// shown, not obeyed).
void appendCleaned(std::string& line, const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            line += ' ';
            ++i;
            continue;
        }
        line += c;
        ++i;
        if (c != '?' && c != '&') {
            continue;
        }
        for (const char* name : kTokenParameters) {
            const std::size_t length = std::char_traits<char>::length(name);
            if (text.compare(i, length, name) != 0) {
                continue;
            }
            line.append(name, length);
            i += length;
            while (i < text.size() && text[i] != '&' && text[i] != '#' && text[i] != ' ' &&
                   text[i] != '"' && text[i] != '\r' && text[i] != '\n') {
                ++i;
            }
            line += kElided;
            break;
        }
    }
}
} // namespace

DiagnosticLog& DiagnosticLog::instance() {
    static DiagnosticLog log;
    return log;
}

void DiagnosticLog::openFile(const std::string& path) {
    std::lock_guard<std::mutex> hold(mutex_);
    path_ = path;
    sink_ = nullptr;
    enabled_ = true;
}

void DiagnosticLog::openSink(std::function<void(const std::string&)> sink) {
    std::lock_guard<std::mutex> hold(mutex_);
    path_.clear();
    sink_ = std::move(sink);
    enabled_ = sink_ != nullptr;
}

void DiagnosticLog::close() {
    std::lock_guard<std::mutex> hold(mutex_);
    enabled_ = false;
    path_.clear();
    sink_ = nullptr;
}

void DiagnosticLog::write(const std::string& text) noexcept {
    if (!enabled())
        return;
    try {
        std::string line = platform::localTimeText();
        line += ' ';
        line += current.service;
        if (current.number != 0) {
            line += " #";
            line += std::to_string(current.number);
        }
        line += ' ';
        appendCleaned(line, text);
        line += '\n';
        append(line);
    } catch (...) {
        // Out of memory: the line is dropped.
    }
}

void DiagnosticLog::append(const std::string& line) {
    std::lock_guard<std::mutex> hold(mutex_);
    if (sink_) {
        sink_(line);
        return;
    }
    if (path_.empty())
        return;
    if (platform::fileSize(path_) + line.size() > kMaxFileBytes)
        platform::renameReplacing(path_, path_ + ".1");
    platform::appendPrivateTextFile(path_, line);
}

DiagnosticLog::Scope::Scope(const char* service, unsigned long number)
    : service_(current.service), number_(current.number) {
    current.service = service;
    current.number = number;
}

const char* DiagnosticLog::Scope::currentService() {
    return current.service;
}

unsigned long DiagnosticLog::Scope::currentNumber() {
    return current.number;
}

DiagnosticLog::Scope::~Scope() {
    current.service = service_;
    current.number = number_;
}

std::string describeException(const std::exception& e) {
    std::string text = e.what();
    if (const auto* socket = dynamic_cast<const CBlockSocket::Error*>(&e)) {
        if (socket->systemError() != 0)
            text += " (system error " + std::to_string(socket->systemError()) + ")";
    }
    return text;
}

std::string describeCurrentException() {
    try {
        throw;
    } catch (const std::exception& e) {
        return describeException(e);
    } catch (...) {
        return "an exception of unknown type";
    }
}

void logCaughtException(const char* where) noexcept {
    try {
        if (logEnabled())
            logEvent(std::string(where) + " failed: " + describeCurrentException());
    } catch (...) {
        // Out of memory: nothing is logged, nothing escapes.
    }
}

} // namespace quill
