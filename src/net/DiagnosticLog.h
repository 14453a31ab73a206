#pragma once
// The opt-in diagnostic log: one line per event of the bridge, so that a user
// can see which page, request or socket call a failure came from. Off until
// opened; the plug-in opens it at start-up when the settings ask for it.
//
// A line reads "2026-12-08 12:34:56 POP3 #3 RETR" (local time, the service,
// the conversation's number, the text). Callers never pass secrets:
// passwords, authorization values, cookies, form bodies or message contents.
// The site's anti-forgery tokens, which ride in the URLs that are logged
// (".crumb=" and "YY=" parameters), are written as an ellipsis. The file is
// the user's alone, as the cookie file is.
//
// Writing never throws and never fails a conversation: a line that cannot be
// written is dropped. The lock is held only while one line is appended, so
// two services never interleave inside a line.
//
// Threads: open/close from the host thread; write from any thread.

#include <atomic>
#include <cstddef>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

namespace quill {

class DiagnosticLog {
public:
    // Past this size the file is renamed to "<path>.1" (one kept) and a new
    // one begun: the log never fills the disk.
    static constexpr std::size_t kMaxFileBytes = 1u << 20;

    // The process-wide log.
    static DiagnosticLog& instance();

    // Appends to the file at path from now on.
    void openFile(const std::string& path);
    // Hands each line (with its line end) to sink from now on: standard error
    // for the stand-in host, a recorder in tests.
    void openSink(std::function<void(const std::string&)> sink);
    void close();
    bool enabled() const { return enabled_.load(std::memory_order_relaxed); }

    // One line for the current conversation of this thread (see Scope).
    void write(const std::string& text) noexcept;

    // Names the conversation that this thread serves, for the lines written
    // on it while the scope lives: the service ("POP3", "SMTP") and its
    // number. Lines outside any scope belong to the plug-in.
    class Scope {
    public:
        Scope(const char* service, unsigned long number);
        ~Scope();
        // This thread's service and number, for work that another thread
        // does on the conversation's behalf: it opens a Scope with them.
        // service lives as long as the scope that set it.
        static const char* currentService();
        static unsigned long currentNumber();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        const char* service_;
        unsigned long number_;
    };

private:
    void append(const std::string& line);

    std::atomic<bool> enabled_{false};
    std::mutex mutex_; // guards everything below
    std::string path_;
    std::function<void(const std::string&)> sink_;
};

// Shorthand: writes text when the log is on. Build the text only inside
// `if (logEnabled())` where it costs more than a literal.
inline bool logEnabled() {
    return DiagnosticLog::instance().enabled();
}
inline void logEvent(const std::string& text) {
    if (logEnabled())
        DiagnosticLog::instance().write(text);
}

// An exception in words for the log: its text and, for a socket failure, the
// system's error number.
std::string describeException(const std::exception& e);
// The same for the exception being handled. Call inside a handler only.
std::string describeCurrentException();
// Logs "<where> failed: <what was caught>". Call inside a handler only;
// never throws, so it may stand where nothing may escape (an export).
void logCaughtException(const char* where) noexcept;

} // namespace quill
