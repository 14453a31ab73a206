#pragma once
// Configuration of the web-mail site simulator: who may sign in, the host names
// it answers for, and the knobs that tests turn (page size, redirect chain,
// gzip, proxy credentials, session lifetime, clock, randomness).
//
// A plain value: copied into the simulator at construction and never shared.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quill::site {

struct SiteConfig {
    struct User {
        std::string name;     // the sign-in name (matched without regard to letter case)
        std::string password; // the clear password the MD5 answer is checked against
    };
    std::vector<User> users;

    // Host names the pages and redirects are built on. In proxy mode an absolute
    // request for any other host answers 502. They may be dotted addresses.
    std::string frontHost = "mail.vurel.example";   // serves "/"
    std::string loginHost = "login.vurel.example";  // serves "/config/login" and the redirect hops
    std::string mailHost = "us.mail.vurel.example"; // serves the "/vm/..." pages
    // Signed-in titles read "Vurel! Mail - " + user + "@" + mailDomain.
    std::string mailDomain = "vurel.example";
    // The scheme of every URL the pages and redirects name: "https" when the
    // simulator serves TLS (SiteSimulator::setTls).
    std::string scheme = "http";

    // Where the simulator listens: a loopback address and a port (0: ephemeral).
    std::string listenAddress = "127.0.0.1";
    int listenPort = 0;

    int pageSize = 25;       // listing rows per page (at least 1)
    int redirects = 2;       // 302 hops between the login POST's 302 and the signed-in page
    bool newestFirst = true; // listing order: newest message first, as the real site shows
    // A sent message addressed (To, Cc or Bcc) to user@mailDomain of a user of
    // the site is also delivered to that user's Inbox, unread.
    bool deliverLocally = false;

    // 0: answers are never compressed. n >= 1: answers to requests whose
    // Accept-Encoding names gzip carry "Content-Encoding: gzip", split into n members.
    int gzipMembers = 0;
    // Each gzip member header also carries FEXTRA, FNAME, FCOMMENT and FHCRC fields.
    bool gzipHeaderFields = false;

    // Non-empty: absolute-form (proxy) requests must carry
    // "Proxy-authorization: Basic" with these credentials, otherwise 407.
    std::string proxyUser;
    std::string proxyPassword;

    // A session opened by a sign-in is valid for this many seconds after it.
    std::int64_t sessionTtlSeconds = 12 * 3600;
    // A front-page challenge must be answered within this many seconds.
    std::int64_t challengeTtlSeconds = 600;
    // Seconds since 1970-01-01 UTC; empty: the system clock. Called under the
    // simulator's lock, from connection threads: keep it quick and thread-safe.
    std::function<std::int64_t()> clock;
    // Seed of the token generator; 0: a random seed.
    std::uint64_t seed = 0;

    // Requests larger than this (header and body) answer 413.
    std::size_t maxRequestBytes = 16u << 20;
    // A client that sends nothing for this long is dropped.
    int receiveTimeoutMs = 30000;
    // Connections served at once; further ones answer 503 at once.
    int maxConnections = 64;

    // Called with one line per answered request when set, from connection
    // threads, outside the simulator's lock (it may look at the site).
    std::function<void(const std::string&)> log;
};

} // namespace quill::site
