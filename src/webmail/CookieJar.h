#pragma once
// The signed-in states of all users, kept for 8 hours so that a later POP3 or
// SMTP conversation of the same user can skip the sign-in, and saved to and
// loaded from the cookie file across restarts.
//
// Validity: a record is valid while (now - Timestamp) < 28800 seconds; one
// stamped in the future counts as valid. Only find and save apply the rule;
// expired records stay in memory and are left out of the file.
//
// The cookie file holds the line "//vurel cookie data file" and then per valid
// record the lines "User: ", "Cookie: ", "Host: ", "Timestamp: " in decimal,
// "Verifier: " (left out when the record has none) and an empty line. A reader
// that knows only the first four keys skips the verifier line. On disk every
// line ends in CR CR LF on every system (what text-mode writing of CR LF gives
// on Windows), so files move freely between the Windows and the Linux build;
// reading maps CR LF to LF before parsing.
//
// Threads: both service threads call find and store at any time, the host's
// thread load and save. One mutex guards the records and the modified flag and
// is held for each whole operation, file access included; no other lock is
// taken while it is held.

#include "webmail/CookieRecord.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>

namespace quill {

class CookieJar {
public:
    static constexpr std::int64_t kValiditySeconds = 28800;

    // Seconds since 1970-01-01 00:00 UTC; tests inject a fixed clock.
    using Clock = std::function<std::int64_t()>;
    static std::int64_t systemTime();

    // The process-wide jar, created empty on first use and never destroyed
    // (service threads may still use it while the process exits).
    static CookieJar& instance();

    explicit CookieJar(Clock clock = systemTime);
    CookieJar(const CookieJar&) = delete;
    CookieJar& operator=(const CookieJar&) = delete;

    // A copy of the user's record when there is one and it is valid; otherwise
    // a record whose three strings are empty (an empty Cookie means: sign in).
    CookieRecord find(const std::string& user) const;
    // Files the record under record.User, replacing all fields of an
    // existing one, and marks the jar as modified.
    void store(const CookieRecord& record);
    // Merges the records of a cookie file into the jar; a record replaces one
    // of the same user. A missing or unreadable file changes nothing. Groups
    // with an empty user, cookie or host, a time stamp not above 0, or a
    // cookie beyond CookieRecord's bounds (from an older build) are skipped; the first missing key
    // ends the load. A verifier is taken only from the line right after the time stamp. Never sets
    // modified.
    void load(const std::string& path);
    // Writes the valid records when the jar was modified since the last save,
    // then clears modified (also when the file could not be written). The file
    // is written beside the target under a temporary name and then renamed
    // over it, so a failed write never leaves a truncated cookie file. It is
    // readable by its owner only (it holds live sessions): mode 0600 on POSIX,
    // an access list for the user and SYSTEM alone on Windows.
    void save(const std::string& path);

    bool modified() const;
    // Records in memory, expired ones included.
    std::size_t size() const;

private:
    bool valid(const CookieRecord& record) const;

    const Clock clock_;
    mutable std::mutex mutex_;
    std::map<std::string, CookieRecord> records_; // key == record.User, exact bytes
    bool modified_ = false;
};

} // namespace quill
