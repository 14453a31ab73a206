#pragma once
// Server-side sign-in state: outstanding login challenges, open sessions with
// their crumbs and tickets, and the one-time tokens of compose pages.
// Not synchronised: its owner (SiteHandler) holds its lock around every call.
// Times are seconds since 1970 as the site's clock gives them.

#include <cstdint>
#include <deque>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace quill::site {

class SessionTable {
public:
    struct Session {
        std::string id;     // value of the session cookie
        std::string user;   // canonical user name
        std::string ticket; // value of the second cookie, set at the end of the redirects
        std::string crumb;  // the listing's crumb, sent back by delete and empty trash
        std::int64_t created = 0;
        // Compose pages handed out and not yet posted: YY token and compose crumb.
        std::deque<std::pair<std::string, std::string>> compose;
    };

    explicit SessionTable(std::uint64_t seed);

    // count characters from letters and digits (plus "." when dotted).
    std::string token(std::size_t count, bool dotted = false);
    std::string digits(std::size_t count);

    // A fresh challenge bound to the browser cookie it is handed out with.
    std::string issueChallenge(const std::string& browser, std::int64_t now);
    // Whether the challenge is outstanding, younger than ttl and was issued with
    // one of these browser cookies. Consumes it either way: a challenge is
    // answered once.
    bool takeChallenge(const std::string& challenge, const std::vector<std::string>& browsers,
                       std::int64_t now, std::int64_t ttl);

    Session& open(const std::string& user, std::int64_t now);
    // The live session with this id; an expired one is dropped and gives null.
    Session* find(const std::string& id, std::int64_t now, std::int64_t ttl);
    void close(const std::string& id);
    // Ends every session (of one user, or all when user is empty).
    void expire(const std::string& user);
    std::size_t size() const { return sessions_.size(); }

    // YY token and compose crumb for a new compose page of the session.
    std::pair<std::string, std::string> issueCompose(Session& session);
    // Whether the pair was handed out to this session; consumes it.
    bool takeCompose(Session& session, const std::string& yy, const std::string& crumb);

private:
    struct Challenge {
        std::string browser;
        std::int64_t issued = 0;
    };
    // Bounds keep a client that loads pages in a loop from growing the tables
    // without end; the oldest entries go first.
    static constexpr std::size_t kMaxChallenges = 4096;
    static constexpr std::size_t kMaxSessions = 4096;
    static constexpr std::size_t kMaxComposePerSession = 32;

    std::mt19937_64 random_;
    std::map<std::string, Challenge> challenges_;
    std::deque<std::string> challengeOrder_;
    std::map<std::string, Session> sessions_;
    std::deque<std::string> sessionOrder_;
};

} // namespace quill::site
