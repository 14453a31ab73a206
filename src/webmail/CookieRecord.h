#pragma once
// One user's signed-in state at the web-mail site: what a later conversation
// needs to skip the sign-in. A plain value, copied freely.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quill {

struct CookieRecord {
    // Bytes of one name=value pair, and of the whole Cookie string. What a
    // browser keeps per cookie; a site that sets more is broken or forged,
    // and every later request would carry it.
    static constexpr std::size_t kMaxPairBytes = 4096;
    static constexpr std::size_t kMaxCookieBytes = 65536;
    // True when cookie (pairs each followed by "; ") keeps both bounds.
    static bool withinBounds(const std::string& cookie);

    // The "Cookie: " header value: the site's name=value pairs, each followed
    // by "; ", in the order the site set them.
    std::string Cookie;
    // The web-mail user name that signed in, exactly as the mail client gave it.
    std::string User;
    // The mail host that the sign-in ended on. A bare host name means plain
    // HTTP on port 80 (every mail page URL is "http://" + Host + a path);
    // otherwise it is the origin with its scheme and any port
    // ("https://us.mail.example", "http://host:8080"), and a mail page URL is
    // Host + a path. The cookie file keeps it as it is, so records of older
    // builds read as before. An older build, which would take such a Host for
    // a bare name, never adopts these records: their verifier is of a
    // strength it rejects.
    std::string Host;
    // The sign-in time in seconds since 1970-01-01 00:00 UTC.
    std::int32_t Timestamp = 0;
    // The PasswordVerifier of the password that signed in; empty when there is
    // none (a record from an older file), and then the record is never adopted.
    std::string Verifier;

    // Assigns the three strings (the verifier is left as it is) and stamps the
    // record with the current time.
    void set(const std::string& user, const std::string& cookie, const std::string& host);
    // The same with a given time stamp.
    void set(const std::string& user, const std::string& cookie, const std::string& host,
             std::int32_t timestamp);
};

} // namespace quill
