#pragma once
// One user's conversation with the Vurel web-mail site, carried out the way a
// browser user works its pages: sign-in with the MD5 challenge-response,
// inbox listing, print view retrieval, deletion, emptying the trash and the
// compose form. Pages are never parsed as HTML: every reader looks for fixed
// begin and end markers.
//
// Errors: a page that is not what an operation expects throws
// CVurelClient::Error, whose text is the URL requested (or the word named at
// the operation; "answer too large" for an answer beyond AnswerLimits.h, and
// the fault for a gzip body that is not whole, e.g. "gzip answer cut short");
// InvalidCookie (derived from Error) means the session's cookies no longer
// open the mail pages, and the caller signs in again and repeats. Connection
// failures are CBlockSocket::Error / CBlockSocket::Canceled and pass through
// untouched. A Cancel also ends the reading of a long listing page.
//
// Limits that keep a broken or hostile site from holding a conversation for
// ever or from shaping our requests:
// - a sign-in follows at most kMaxRedirects redirects after the login form
//   (and as many from a front page that moved); a longer chain throws Error
//   with the last URL requested; a redirect from https to http is refused;
// - a listing reads at most kMaxListPages pages (or the bound set with
//   setListPageBound) and returns what they gave; it also ends, with a log
//   line, before the message that would pass kMaxListMessages messages or
//   kMaxListIdBytes bytes of ids (or the bounds set with setListBounds), so a
//   listing of millions of rows cannot take the host's memory;
// - a gzip body inflates to kMaxInflatedBytes at most (or the bound set with
//   setInflatedBound), beyond which the page fails with AnswerTooLarge;
// - a value scraped from a page (challenge, crumb, message id, compose token,
//   Location) that holds CR, LF or NUL is treated as missing, so it never
//   reaches a request line or header.
//
// The page operations are protected: a conversation reaches them through its
// service variant (Pop3VurelClient, SmtpVurelClient), which shows each step in
// its progress window and keeps each new sign-in in the cookie jar, so no call
// can skip that work. A client made with a window shows every request's URL
// there as the detail line just before the request goes out.
//
// Requests at once: a listing requests the pages after the first together
// once the first page's counter has told how many there are, and a POP3
// client fetches a message's parts and the messages after it together
// (ReadAhead), all on the conversation's RequestPool: at most
// RequestPool::kMaxThreads requests in flight. The requests themselves are
// the ones made one after the other, and so is the outcome.
//
// Threads: one object per conversation, used by that conversation's thread,
// and by its pool's threads for the page fetches it hands them (those never
// touch the window). The one call allowed from any other thread is cancel
// (the progress window's Cancel through the session's abort), which closes
// every connection in flight.

#include "net/ListenerService.h"
#include "webmail/CookieJar.h"
#include "webmail/CookieRecord.h"
#include "webmail/HttpClient.h"
#include "webmail/MessageList.h"
#include "webmail/MessageRef.h"
#include "webmail/RequestPool.h"
#include "webmail/SiteConfig.h"
#include "webmail/WebmailError.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace quill {

class ServiceWindow;

class CVurelClient : public HttpClient {
public:
    // The answers' size bounds (AnswerLimits.h) throw AnswerTooLarge, one of these.
    using Error = WebmailError;

    // The saved cookies no longer open the mail pages: what() names the page
    // that came back as something else.
    class InvalidCookie : public Error {
    public:
        explicit InvalidCookie(const std::string& url = std::string())
            : Error("the session no longer opens the mail pages" +
                    (url.empty() ? std::string() : ": " + url + " is not a mail page")) {}
    };

    static constexpr int kMaxRedirects = 20;
    static constexpr int kMaxListPages = 10000;
    static constexpr std::size_t kMaxListMessages = 1000000;
    static constexpr std::size_t kMaxListIdBytes = 64u << 20;

    // Takes over a saved record as the session; no traffic, no check.
    void adoptSession(const CookieRecord& record);
    // True for a signed-in mail page: a title holding "Vurel! Mail - " and,
    // after it, the mail-domain suffix.
    bool isMailPage(const std::string& page) const;

    // Closes the exchange in flight, which then throws CBlockSocket::Canceled,
    // and makes every later request of this client throw it before connecting:
    // a Cancel that falls between two pages still ends the operation. Safe
    // from any thread; never throws.
    void cancel() noexcept override;
    bool canceled() const noexcept { return canceled_.load(); }

    // Pages a listing reads at most (kMaxListPages unless set), and bytes a
    // gzip body may inflate to (kMaxInflatedBytes unless set). Tests lower
    // them, so that an endless listing or a gzip bomb ends sooner; values
    // below 1 count as 1.
    void setListPageBound(int pages) { maxListPages_ = pages < 1 ? 1 : pages; }
    void setInflatedBound(std::size_t bytes) { maxInflated_ = bytes < 1 ? 1 : bytes; }
    // Messages, and bytes of their ids, that a listing keeps at most
    // (kMaxListMessages and kMaxListIdBytes unless set).
    void setListBounds(std::size_t messages, std::size_t idBytes) {
        maxListMessages_ = messages;
        maxListIdBytes_ = idBytes;
    }
    // A service's bounds for its conversations' clients (time-out, exchange
    // limits, listing pages and messages, inflated bytes); a 0 keeps the
    // client's own.
    void applyBounds(const ListenerService::Options::WebmailBounds& bounds);

    const CookieRecord& session() const { return session_; }
    const std::string& crumb() const { return crumb_; }
    const SiteConfig& site() const { return site_; }

    // Every exchange of the client: refuses to start once canceled, shows the
    // URL in the window (when there is one, and not on a pool thread), then
    // HttpClient's exchange; an answer shorter than its Content-Length throws
    // Error with the URL.
    std::string request(const std::string& method, const std::string& url,
                        const std::string* cookie, const std::string& headerBlock,
                        const RequestBody* body) override;

protected:
    // A signed-out client for the given site addresses. window (shown each
    // step and URL) and jar (the sign-ins kept between conversations) may be
    // null; when given they must outlive the client.
    explicit CVurelClient(SiteConfig site = SiteConfig::current(), ServiceWindow* window = nullptr,
                          CookieJar* jar = nullptr);

    // Signs in and replaces the session (User, Cookie, mail Host, Timestamp =
    // now) in one step at the end; a sign-in that throws leaves the session as
    // it was. The front page, the login form, the redirects and the mail
    // host may each be http or https. Throws Error with the front page URL
    // (not 200 after its redirects), "challenge value" (no challenge on the
    // front page), the login page URL (form not answered 302) or the last URL
    // requested (redirect target not 200, too many, or from https to http).
    void login(const std::string& user, const std::string& password);

    // Pages through the inbox until the counter says the last message has been
    // shown; also takes the crumb from the first page's trash link. Throws
    // Error (a page's URL, status not 200) and InvalidCookie (a page that is
    // not signed in).
    MessageList listInbox();

    // The print view of one message: part "HEADER" gives the raw header, "TEXT"
    // the raw text, exactly as the site sends them. Throws Error (the URL),
    // also when the header part is a signed-in page of the site instead (the
    // message was deleted or moved at the site since the listing): that page
    // handed to the mail client as the message would stand in for it, and
    // the client could delete the real one. Safe on a pool thread.
    std::string fetchPart(const MessageRef& message, const std::string& part);
    // The URL fetchPart requests.
    std::string printUrl(const MessageRef& message, const std::string& part) const;
    std::string fetchHeader(const MessageRef& message);
    std::string fetchText(const MessageRef& message);
    // Deletes all given messages in one request (ids in the given order, the
    // crumb last). Throws Error (the URL).
    void deleteMessages(const MessageList& messages);
    // Empties the site's trash folder. Throws Error (the URL).
    void emptyTrash();

    // Sends one message through the compose form. format is "html" or empty;
    // saveCopy asks the site to keep a copy in its Sent folder. Throws
    // InvalidCookie when the compose page is not signed in, Error (the URL
    // requested) otherwise.
    void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                     const std::string& subject, const std::string& body, const std::string& format,
                     bool saveCopy);

    // What both service variants offer their conversation, done once here.
    // Shows text as the window's status (the step about to run).
    void showStatus(const char* text);
    // "Logging to Vurel server ...", login, then the new session is stored in
    // the jar with a verifier of the password (not when the sign-in throws).
    void signInAndKeep(const std::string& user, const std::string& password);
    // Adopts the jar's record of user when it has one and password matches
    // the verifier kept with it; returns whether it did.
    bool adoptKept(const std::string& user, const std::string& password);
    // Requests go direct; the other proxy fields are left as they are.
    void goDirect();
    // Shows url as the window's detail line (when there is a window).
    void showDetail(const std::string& url);
    // The conversation's threads for requests at once.
    RequestPool& requestPool() { return pool_; }
    // Stops every request (as cancel does) and waits until the pool's tasks
    // have ended. A service variant calls it first in its destructor, so no
    // task runs while the object is taken apart.
    void endRequests() noexcept;

    // The mail host's origin + path: "http://" + Host + path for a bare host
    // name, Host + path when it carries its scheme (see CookieRecord).
    std::string mailUrl(const std::string& path) const;
    // The same for a given mail host.
    static std::string mailUrl(const std::string& host, const std::string& path);

private:
    // GETs url and follows its redirects (gathering their cookies) until an
    // answer other than 302; returns that raw answer, and url is the address
    // it came from. followed counts the redirects already behind the caller.
    // The first request carries cookies only when sendCookie is set. Throws
    // Error with the URL when it cannot be requested, when the chain passes
    // kMaxRedirects, or when it would lead from https to http (logged).
    std::string getFollowing(std::string& url, std::string& cookies, bool sendCookie,
                             int followed = 0);

    // A listing page's counter "first-last of total".
    struct ListCounter {
        std::int64_t first = 0;
        std::int64_t last = 0;
        std::int64_t total = 0;
    };
    // Reads listing page number page (its raw answer, requested from url):
    // appends its messages and fills counter. Returns whether the listing
    // goes on after it: false when the page has no readable counter, when
    // the bounds are reached, or when its counter has shown the last
    // message. Throws Error (status not 200) and InvalidCookie.
    bool readListPage(int page, const std::string& url, const std::string& raw,
                      MessageList& messages, std::size_t& idBytes, ListCounter& counter);

    CookieRecord session_;
    std::string crumb_;
    SiteConfig site_;
    ServiceWindow* const window_;
    CookieJar* const jar_;
    std::atomic<bool> canceled_{false};
    int maxListPages_ = kMaxListPages;
    std::size_t maxInflated_ = kMaxInflatedBytes;
    std::size_t maxListMessages_ = kMaxListMessages;
    std::size_t maxListIdBytes_ = kMaxListIdBytes;
    // Last, so that it ends (joining its threads) before anything they use.
    RequestPool pool_;
};

} // namespace quill
