#include "net/DiagnosticLog.h"

#include "net/CBlockSocket.h"

#include "platform/Clock.h"
#include "platform/Files.h"

#include <exception>
#include <typeinfo>
#include <utility>

namespace quill {

namespace {
struct ThreadScope {
    const char* service = "plug-in";
    unsigned long number = 0;
};
thread_local ThreadScope current;
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
        // One event, one line: line breaks in a cause (a server's text, say)
        // are shown, not obeyed.
        for (char c : text)
            line += (c == '\r' || c == '\n') ? ' ' : c;
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
    platform::appendTextFile(path_, line);
}

DiagnosticLog::Scope::Scope(const char* service, unsigned long number)
    : service_(current.service), number_(current.number) {
    current.service = service;
    current.number = number;
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
