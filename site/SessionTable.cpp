#include "site/SessionTable.h"

#include <algorithm>

namespace quill::site {

SessionTable::SessionTable(std::uint64_t seed)
    : random_(seed != 0 ? seed : std::random_device{}() * 0x9E3779B97F4A7C15ull + 1) {}

std::string SessionTable::token(std::size_t count, bool dotted) {
    static const char plain[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        std::size_t range = (dotted && i > 0 && i + 1 < count) ? 63 : 62;
        std::size_t v = static_cast<std::size_t>(random_() % range);
        out += v == 62 ? '.' : plain[v];
    }
    return out;
}

std::string SessionTable::digits(std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += static_cast<char>('0' + (i == 0 ? 1 + random_() % 9 : random_() % 10));
    }
    return out;
}

std::string SessionTable::issueChallenge(const std::string& browser, std::int64_t now) {
    std::string c;
    do {
        c = token(22, true);
    } while (challenges_.count(c) != 0);
    challenges_[c] = Challenge{browser, now};
    challengeOrder_.push_back(c);
    while (challengeOrder_.size() > kMaxChallenges) {
        challenges_.erase(challengeOrder_.front());
        challengeOrder_.pop_front();
    }
    return c;
}

bool SessionTable::takeChallenge(const std::string& challenge,
                                 const std::vector<std::string>& browsers, std::int64_t now,
                                 std::int64_t ttl) {
    auto it = challenges_.find(challenge);
    if (it == challenges_.end()) {
        return false;
    }
    Challenge c = it->second;
    challenges_.erase(it);
    challengeOrder_.erase(std::find(challengeOrder_.begin(), challengeOrder_.end(), challenge));
    if (now - c.issued >= ttl || now < c.issued) {
        return false;
    }
    return std::find(browsers.begin(), browsers.end(), c.browser) != browsers.end();
}

SessionTable::Session& SessionTable::open(const std::string& user, std::int64_t now) {
    std::string id;
    do {
        id = token(26);
    } while (sessions_.count(id) != 0);
    Session& s = sessions_[id];
    s.id = id;
    s.user = user;
    s.ticket = token(18);
    s.crumb = token(11, true);
    s.created = now;
    sessionOrder_.push_back(id);
    while (sessionOrder_.size() > kMaxSessions) {
        sessions_.erase(sessionOrder_.front());
        sessionOrder_.pop_front();
    }
    return sessions_[id];
}

SessionTable::Session* SessionTable::find(const std::string& id, std::int64_t now,
                                          std::int64_t ttl) {
    auto it = sessions_.find(id);
    if (it == sessions_.end()) {
        return nullptr;
    }
    if (now - it->second.created >= ttl) {
        close(id);
        return nullptr;
    }
    return &it->second;
}

void SessionTable::close(const std::string& id) {
    if (sessions_.erase(id) != 0) {
        sessionOrder_.erase(std::find(sessionOrder_.begin(), sessionOrder_.end(), id));
    }
}

void SessionTable::expire(const std::string& user) {
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (user.empty() || it->second.user == user) {
            sessionOrder_.erase(std::find(sessionOrder_.begin(), sessionOrder_.end(), it->first));
            it = sessions_.erase(it);
        } else {
            ++it;
        }
    }
}

std::pair<std::string, std::string> SessionTable::issueCompose(Session& session) {
    auto pair = std::make_pair(digits(5) + "_" + digits(4), token(11, true));
    session.compose.push_back(pair);
    while (session.compose.size() > kMaxComposePerSession) {
        session.compose.pop_front();
    }
    return pair;
}

bool SessionTable::takeCompose(Session& session, const std::string& yy, const std::string& crumb) {
    for (auto it = session.compose.begin(); it != session.compose.end(); ++it) {
        if (it->first == yy) {
            bool ok = it->second == crumb;
            session.compose.erase(it);
            return ok;
        }
    }
    return false;
}

} // namespace quill::site
