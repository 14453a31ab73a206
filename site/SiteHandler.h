#pragma once
// The web-mail site itself, without the network: takes one request, changes the
// site's state, and gives the bytes of the answer. SiteSimulator puts it on a
// socket; tests may also drive it directly.
//
// Requests and what they answer (host names from SiteConfig):
//   GET  /                              200 sign-in page: Set-Cookie lines, a fresh challenge
//   POST /config/login                  302 into the redirect chain, or 200 sign-in page
//                                       with an error (wrong user, answer or challenge)
//   GET  /config/verify?.hop=N          302 hops, each setting a cookie; the last points at
//                                       the mail host
//   GET  /vm/Welcome                    200 signed-in page ending the chain
//   GET  /vm/ShowFolder?box=B&Nview=a&Npos=N    listing page N (0-based) of folder B
//   GET  /vm/ShowFolder?box=Inbox&DEL=Delete&Mid=ID...&.crumb=C   move to Trash
//   GET  /vm/ShowFolder?ET=1&.crumb=C&reset=1   empty Trash
//   GET  /vm/ShowLetter?box=B&PRINT=1&Nhead=f&toc=1&MsgId=ID&bodyPart=HEADER|TEXT
//                                       raw header (through its empty line) or raw text
//   GET  /vm/ShowLetter?MsgId=ID&box=B  the message as an HTML page
//   GET  /vm/Compose                    compose form with a fresh YY token and crumb
//   POST /vm/Compose?YY=T               sends; 200 "Message Sent" page
//   GET  /config/logout                 ends the session
// A mail page asked for without a valid session (no cookie, a wrong one or an
// expired one) answers 200 with the sign-in page, whose title is not a
// signed-in title. A wrong crumb, a stale compose token or an unknown message
// id changes nothing and answers 200 with a signed-in error page, as the real
// site does; so does a compose post without any recipient.
// Absolute-form (proxy) requests need the configured Proxy-authorization
// (else 407) and a known host (else 502). Unknown paths answer 404, other
// methods 405.
//
// Cookies (our own names): B (browser, front page), Y (session, login POST),
// H1..Hn (hops), T (ticket, last hop; required with Y), PH (welcome page).
//
// Thread safety: every public member may be called from any thread; one lock
// guards all state and is held for the whole of one request (never while
// waiting on the network: delays are served by the caller).

#include "site/Fault.h"
#include "site/HttpAnswer.h"
#include "site/HttpRequest.h"
#include "site/Mailbox.h"
#include "site/RecordedRequest.h"
#include "site/SentMessage.h"
#include "site/SessionTable.h"
#include "site/SiteConfig.h"
#include "site/SitePages.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace quill::site {

class SiteHandler {
public:
    struct Reply {
        std::string bytes; // the answer ready to send, or its head when part is set
        // A print-view part, sent after bytes straight from the mailbox:
        // part points into the raw bytes of *source, which holding keeps
        // valid (they never change) without the site's lock.
        std::shared_ptr<const StoredMessage> source;
        std::string_view part;
        int status = 0;
        // Wire faults, served by whoever sends the bytes.
        std::chrono::milliseconds delay{0};
        long closeAfterBytes = -1;
        bool reset = false;
        std::chrono::milliseconds dripEvery{0};
        std::size_t dripBytes = 1;

        std::size_t size() const { return bytes.size() + part.size(); }
    };

    explicit SiteHandler(SiteConfig config);

    // Answers one parsed request; raw is what was received (recorded as is).
    Reply handle(const HttpRequest& request, std::string raw);
    // Parses raw (which must hold a whole request) and answers it; a request
    // that is malformed or incomplete answers 400 (or the parser's status).
    // The answer is whole in bytes (no separate part).
    Reply handleRaw(const std::string& raw);
    // Records a request that could not be parsed and answers the error status.
    Reply reject(int status, const std::string& raw);

    // The MD5 answer to a challenge: MD5 hex of (MD5 hex of password + challenge).
    static std::string md5Answer(const std::string& password, const std::string& challenge);

    const SiteConfig& config() const { return config_; }
    std::int64_t now() const;
    std::string frontPageUrl() const;
    std::string loginPageUrl() const;
    // One of the front, login and mail hosts (letter case aside).
    bool knownHost(const std::string& host) const;

    // Mailbox. Users come from the configuration; folders are "Inbox", "Sent", "Trash".
    // Returns the new message's id; see Mailbox::add for a chosen id.
    std::string addMessage(const std::string& user, const std::string& folder,
                           const std::string& raw, bool unread = true,
                           const std::string& id = std::string());
    int loadMailbox(const std::string& user, const std::string& directory);
    // Removes a message for good, as another client of the site would;
    // false when it is not there.
    bool removeMessage(const std::string& user, const std::string& folder, const std::string& id);
    std::vector<StoredMessage> folder(const std::string& user, const std::string& folder) const;

    // Faults apply to requests whose path (with query) starts with pathPrefix;
    // the longest matching prefix wins. Setting a prefix again replaces its fault.
    void setFault(const std::string& pathPrefix, const Fault& fault);
    void clearFaults();

    // Observation.
    std::vector<RecordedRequest> requests() const;
    void clearRequests();
    // Waits until at least count requests have been recorded (counting from
    // the last clearRequests), or the time is up; true when they have. A
    // request is recorded once it is read whole, before its answer is sent
    // (and before any injected delay), so a test can act while it is pending.
    bool waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    std::vector<SentMessage> sentMessages() const;
    // Their number, without copying them.
    std::size_t sentCount() const;
    // Delete and empty-trash requests refused for their crumb, compose posts
    // refused for their tokens.
    int rejectedForms() const;

    // Ends the sessions of one user (all users when empty): their cookies then
    // open only sign-in pages.
    void expireSessions(const std::string& user = std::string());
    std::size_t sessionCount() const;

private:
    struct Context;
    using Route = HttpAnswer (SiteHandler::*)(Context&);
    struct RouteEntry {
        const char* method;
        const char* path;
        Route route;
    };
    static const RouteEntry kRoutes[];

    HttpAnswer frontPage(Context& c);
    HttpAnswer loginPost(Context& c);
    HttpAnswer loginGet(Context& c);
    HttpAnswer hop(Context& c);
    HttpAnswer logout(Context& c);
    HttpAnswer welcomePage(Context& c);
    HttpAnswer showFolder(Context& c);
    HttpAnswer showLetter(Context& c);
    HttpAnswer composePage(Context& c);
    HttpAnswer composePost(Context& c);

    HttpAnswer dispatch(Context& c);
    HttpAnswer signInAnswer(Context& c, const std::string& error);
    HttpAnswer redirect(const std::string& location);
    HttpAnswer listingAnswer(Context& c, const SessionTable::Session* s, const std::string& folder,
                             int pageIndex, const std::string& notice);
    HttpAnswer failureAnswer(const SessionTable::Session& s, const std::string& heading,
                             const std::string& text);
    SessionTable::Session* session(Context& c);
    std::string canonicalUser(const std::string& login) const;
    const std::string* password(const std::string& user) const;
    int inboxUnread(const std::string& user) const;
    std::string composeCopy(const SentMessage& m, std::int64_t now);
    Fault* matchFault(const std::string& path);
    std::int64_t clockNow() const;

    const SiteConfig config_;
    const SitePages pages_;

    mutable std::mutex lock_;                  // guards everything below
    mutable std::condition_variable recorded_; // a request was recorded
    Mailbox mailbox_;
    SessionTable sessions_;
    std::map<std::string, Fault> faults_;
    std::vector<RecordedRequest> requests_;
    std::vector<SentMessage> sent_;
    int rejectedForms_ = 0;
};

} // namespace quill::site
