#include "webmail/CVurelClient.h"

#include "codec/Md5Hex.h"
#include "net/CBlockSocket.h"
#include "net/DiagnosticLog.h"
#include "net/ServiceWindow.h"
#include "webmail/HttpResponse.h"
#include "webmail/PasswordVerifier.h"
#include "webmail/RequestFailure.h"
#include "webmail/TextScanner.h"
#include "webmail/Url.h"

#include <algorithm>
#include <cstdint>
#include <deque>
#include <future>
#include <limits>
#include <locale>
#include <memory>
#include <sstream>
#include <system_error>

namespace quill {

namespace {

// Counters of this many characters or more are no counter. Generous: a
// mailbox of 10,000 messages already needs 18 ("1001-1025 of 10000").
constexpr std::size_t kMaxCounterLength = 64;

// A scraped value that could split a request line or header.
bool usable(const std::string& value) {
    return value.find_first_of(std::string("\r\n\0", 3)) == std::string::npos;
}

// Appends the name=value pairs of a Set-Cookie collection (each followed by
// "; "), leaving out any pair that holds a line break or NUL: a Set-Cookie
// line without ";" can run on into the next header lines. A pair beyond
// CookieRecord::kMaxPairBytes, or a cookie string that would pass
// kMaxCookieBytes, fails the sign-in (Error with the URL of the answer that
// set it): the session would not work without that cookie, and keeping it
// would send it with every later request and save it in the cookie file.
void appendCookies(std::string& accumulator, const std::string& pairs, const std::string& url) {
    std::size_t start = 0;
    while (start < pairs.size()) {
        std::size_t end = pairs.find("; ", start);
        if (end == std::string::npos) {
            end = pairs.size();
        }
        if (end - start > CookieRecord::kMaxPairBytes) {
            logEvent("sign-in: " + url + " sets a cookie of " + std::to_string(end - start) +
                     " bytes, beyond " + std::to_string(CookieRecord::kMaxPairBytes));
            throw WebmailError(url);
        }
        const std::string pair = pairs.substr(start, end - start);
        if (usable(pair) && end < pairs.size()) {
            if (accumulator.size() + pair.size() + 2 > CookieRecord::kMaxCookieBytes) {
                logEvent("sign-in: the cookies set up to " + url + " pass " +
                         std::to_string(CookieRecord::kMaxCookieBytes) + " bytes");
                throw WebmailError(url);
            }
            accumulator += pair;
            accumulator += "; ";
        }
        start = end + 2;
    }
}

// The redirect target of a 302 answer, or empty when it is absent or could
// not be sent.
std::string location(const HttpResponse& response) {
    const std::string value = response.headerValue("Location: ");
    return usable(value) ? value : std::string();
}

// Only an absolute http or https URL with a host can be requested.
bool requestable(const std::string& url) {
    return (url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0) &&
           !Url(url).host.empty();
}

// A redirect may not lead from TLS back to plain HTTP: the cookies gathered so
// far would travel in clear text, and anyone on the path could answer the
// rest of the sign-in.
bool downgrade(const std::string& from, const std::string& to) {
    return Url(from).secure() && !Url(to).secure();
}

// What the session keeps as its mail host: the bare host name for plain HTTP
// on port 80 (as records have always held it), otherwise the origin with its
// scheme and any port ("https://us.mail.example", "http://host:8080").
std::string mailHostOf(const Url& url) {
    return !url.secure() && url.port == Url::kHttpPort ? url.host : url.origin();
}

// Formatted extraction in the classic locale, whatever the process's locale.
class Extractor {
public:
    explicit Extractor(const std::string& text) : in_(text) { in_.imbue(std::locale::classic()); }
    std::istringstream& stream() { return in_; }

private:
    std::istringstream in_;
};

// Size text of a listing row: a number, then a word; "k" means kilobytes.
// "12k" 12288, "512" 512, "1.5k" 1 (the word is ".5k"), no number 0.
std::int32_t readSize(const std::string& text) {
    Extractor extractor(text);
    std::int32_t n = 0;
    if (!(extractor.stream() >> n)) {
        return 0;
    }
    std::string unit;
    extractor.stream() >> unit;
    if (unit != "k") {
        return n;
    }
    const std::int64_t bytes = static_cast<std::int64_t>(n) * 1024;
    if (bytes > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (bytes < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(bytes);
}

// The listing counter "first-last of total", read as the integer first, the
// integer -last (the dash is read as its sign), the word "of", the integer
// total. False when it is not a valid counter.
bool readCounter(const std::string& counter, std::int64_t& firstShown, std::int64_t& last,
                 std::int64_t& total) {
    if (counter.size() >= kMaxCounterLength) {
        return false;
    }
    TextScanner shape(counter);
    if (!shape.find("-", " of ")) {
        return false;
    }
    Extractor extractor(counter);
    int first = 0;
    int negativeLast = 0;
    std::string word;
    int count = 0;
    if (!(extractor.stream() >> first >> negativeLast >> word >> count)) {
        return false;
    }
    firstShown = first;
    last = -static_cast<std::int64_t>(negativeLast);
    total = count;
    return word == "of" && first <= last && last <= total;
}

} // namespace

CVurelClient::CVurelClient(SiteConfig site, ServiceWindow* window, CookieJar* jar)
    : site_(std::move(site)), window_(window), jar_(jar) {}

void CVurelClient::cancel() noexcept {
    canceled_ = true;
    HttpClient::stop();
}

void CVurelClient::applyBounds(const ListenerService::Options::WebmailBounds& bounds) {
    if (bounds.timeoutMs > 0) {
        setTimeoutsMs(bounds.timeoutMs, bounds.timeoutMs);
    }
    if (bounds.listPages > 0) {
        setListPageBound(bounds.listPages);
    }
    if (bounds.inflatedBytes > 0) {
        setInflatedBound(bounds.inflatedBytes);
    }
    ExchangeLimits limits = exchangeLimits();
    if (bounds.lowSpeedBytesPerSecond > 0) {
        limits.lowSpeedBytesPerSecond = bounds.lowSpeedBytesPerSecond;
    }
    if (bounds.lowSpeedMs > 0) {
        limits.lowSpeedMs = bounds.lowSpeedMs;
    }
    if (bounds.exchangeMs > 0) {
        limits.deadlineMs = bounds.exchangeMs;
    }
    setExchangeLimits(limits);
    if (bounds.listMessages > 0) {
        maxListMessages_ = bounds.listMessages;
    }
    if (bounds.listIdBytes > 0) {
        maxListIdBytes_ = bounds.listIdBytes;
    }
}

std::string CVurelClient::request(const std::string& method, const std::string& url,
                                  const std::string* cookie, const std::string& headerBlock,
                                  const RequestBody* body) {
    if (window_ != nullptr && !RequestPool::onPoolThread()) {
        window_->setDetail(url);
    }
    if (canceled_) {
        throw CBlockSocket::Canceled();
    }
    std::string answer = HttpClient::request(method, url, cookie, headerBlock, body);
    if (HttpResponse::cutShort(answer)) {
        throw Error(url); // the site's connection ended inside the answer
    }
    return answer;
}

void CVurelClient::showStatus(const char* text) {
    if (window_ != nullptr) {
        window_->setStatus(text);
    }
}

void CVurelClient::signInAndKeep(const std::string& user, const std::string& password) {
    showStatus("Logging to Vurel server ...");
    // The verifier's derivation (a few hundred milliseconds of CPU) runs
    // beside the sign-in's requests, which spend their time waiting on the
    // site. A sign-in that fails still waits for it before it throws.
    std::future<std::string> verifier;
    if (jar_ != nullptr) {
        try {
            verifier = std::async(std::launch::async,
                                  [password] { return PasswordVerifier::make(password); });
        } catch (const std::system_error&) {
            // No thread to be had: derived after the sign-in instead.
        }
    }
    login(user, password);
    if (jar_ != nullptr) {
        CookieRecord kept = session_;
        kept.Verifier = verifier.valid() ? verifier.get() : PasswordVerifier::make(password);
        jar_->store(kept);
    }
}

bool CVurelClient::adoptKept(const std::string& user, const std::string& password) {
    const CookieRecord record = jar_ != nullptr ? jar_->find(user) : CookieRecord();
    if (record.Cookie.empty()) {
        return false;
    }
    // A session signed in over plain HTTP would send its cookies, and every
    // page, in clear text once the setup has moved to HTTPS: the user signs
    // in afresh, and that record replaces this one.
    if (site_.secure() && !Url(mailUrl(record.Host, "/")).secure()) {
        logEvent("the saved session's mail host is plain HTTP while the site is HTTPS; "
                 "signing in afresh");
        return false;
    }
    if (!PasswordVerifier::matches(record.Verifier, password)) {
        return false;
    }
    adoptSession(record);
    return true;
}

void CVurelClient::showDetail(const std::string& url) {
    if (window_ != nullptr) {
        window_->setDetail(url);
    }
}

void CVurelClient::endRequests() noexcept {
    HttpClient::stop();
    pool_.settle();
}

void CVurelClient::goDirect() {
    // Only the host decides between proxy and direct; the other fields stay.
    setProxy(std::string(), proxyPort(), proxyUser(), proxyPassword());
}

std::string CVurelClient::mailUrl(const std::string& path) const {
    return mailUrl(session_.Host, path);
}

std::string CVurelClient::mailUrl(const std::string& host, const std::string& path) {
    if (host.find("://") != std::string::npos) {
        return host + path;
    }
    return "http://" + host + path;
}

std::string CVurelClient::getFollowing(std::string& url, std::string& cookies, bool sendCookie,
                                       int followed) {
    for (;; ++followed) {
        if (!requestable(url)) {
            throw Error(url);
        }
        std::string raw = sendCookie ? get(url, cookies) : get(url);
        sendCookie = true;
        const HttpResponse reply(raw, maxInflated_);
        if (reply.statusCode() != 302) {
            return raw;
        }
        if (followed >= kMaxRedirects) {
            logEvent("sign-in: more than " + std::to_string(kMaxRedirects) + " redirects");
            throw Error(url);
        }
        appendCookies(cookies, reply.setCookiePairs(), url);
        std::string next = location(reply);
        if (downgrade(url, next)) {
            logEvent("sign-in: refused a redirect from https to http: " + next);
            throw Error(next);
        }
        url = std::move(next);
    }
}

void CVurelClient::login(const std::string& user, const std::string& password) {
    std::string cookies;
    cookies.reserve(1024);

    // A front page that moved is followed (without a cookie on the first
    // request, with the ones gathered on the way after it).
    std::string frontUrl = site_.frontPage;
    const HttpResponse front(getFollowing(frontUrl, cookies, false), maxInflated_);
    if (front.statusCode() != 200) {
        throw Error(frontUrl);
    }
    appendCookies(cookies, front.setCookiePairs(), frontUrl);

    TextScanner scanner(front.body());
    if (!scanner.find("name=\".challenge\" value=\"", "\"") || !usable(scanner.match())) {
        logEvent("sign-in: the front page has no usable \".challenge\" field");
        throw Error("challenge value");
    }
    const std::string challenge = scanner.match();

    // The site checks MD5(MD5(password) + challenge); the password never travels.
    Md5Hex md5(std::string{});
    md5.compute(password.data(), password.size());
    const std::string inner = std::string(md5.hex()) + challenge;
    md5.compute(inner.data(), inner.size());
    const std::string answer = md5.hex();

    // Once the front page has come over TLS, nothing of the sign-in goes out
    // in clear text: the challenge and its answer together would let anyone
    // on the path guess the password offline.
    if (Url(frontUrl).secure() && !Url(site_.loginPage).secure()) {
        logEvent("sign-in: refused to post the login form over plain HTTP (" + site_.loginPage +
                 ") after a front page over HTTPS");
        throw Error(site_.loginPage);
    }

    const std::string form = ".tries=1&.src=vm&.intl=us&login=" + user + "&passwd=" + answer +
                             "&.hash=1&.md5=1&.js=1&.challenge=" + challenge;
    const HttpResponse posted(post(site_.loginPage, cookies, form), maxInflated_);
    if (posted.statusCode() != 302) {
        logEvent("sign-in: the login form was answered " + std::to_string(posted.statusCode()) +
                 " where a redirect means success");
        throw Error(site_.loginPage);
    }
    appendCookies(cookies, posted.setCookiePairs(), site_.loginPage);
    std::string next = location(posted);
    if (downgrade(site_.loginPage, next)) {
        logEvent("sign-in: refused a redirect from https to http: " + next);
        throw Error(next);
    }

    // The login form's 302 counts as the first of the redirects followed.
    const HttpResponse reply(getFollowing(next, cookies, true, 1), maxInflated_);
    if (reply.statusCode() != 200) {
        throw Error(next);
    }
    appendCookies(cookies, reply.setCookiePairs(), next);

    // The session changes in one step, only after a complete sign-in.
    session_.set(user, cookies, mailHostOf(Url(next)));
}

void CVurelClient::adoptSession(const CookieRecord& record) {
    session_ = record;
}

bool CVurelClient::isMailPage(const std::string& page) const {
    TextScanner scanner(page);
    if (!scanner.find("<title>", "</title>")) {
        return false;
    }
    const std::string title = scanner.match();
    TextScanner inTitle(title);
    return inTitle.find("Vurel! Mail - ", site_.mailSuffix());
}

bool CVurelClient::readListPage(int page, const std::string& url, const std::string& raw,
                                MessageList& messages, std::size_t& idBytes, ListCounter& counter) {
    const HttpResponse reply(raw, maxInflated_);
    if (reply.statusCode() != 200) {
        throw Error(url);
    }
    const std::string& body = reply.body();
    if (!isMailPage(body)) {
        throw InvalidCookie(url);
    }

    // The crumb comes from the first page's trash link only; the counter
    // is searched after it when it is there, from the top otherwise.
    TextScanner top(body);
    TextScanner afterCrumb(body);
    const bool crumbFound = page == 0 &&
                            afterCrumb.find("href=\"/vm/ShowFolder?ET=1&.crumb=", "&") &&
                            usable(afterCrumb.match());
    if (crumbFound) {
        crumb_ = afterCrumb.match();
    }
    TextScanner& scanner = crumbFound ? afterCrumb : top;

    if (!scanner.find("Messages ", "<")) {
        logEvent("listing: page " + std::to_string(page) +
                 " has no \"Messages \" counter; the listing ends there");
        return false;
    }
    if (!readCounter(scanner.match(), counter.first, counter.last, counter.total)) {
        logEvent("listing: the counter of page " + std::to_string(page) +
                 " cannot be read; the listing ends there");
        return false;
    }

    if (counter.total > 0) {
        // Real pages link each message twice in a row (sender, subject);
        // an id repeated by the link just before it on this page is the
        // same message.
        std::string previous;
        bool havePrevious = false;
        while (scanner.find("href=\"/vm/ShowLetter?MsgId=", "&")) {
            if (canceled()) {
                throw CBlockSocket::Canceled(); // a Cancel inside a long page
            }
            const std::string id = scanner.match();
            const bool repeated = havePrevious && id == previous;
            previous = id;
            havePrevious = true;
            if (repeated) {
                continue;
            }
            scanner.find("<td", "</td>");
            if (!scanner.find("<td>", "</td>")) {
                continue;
            }
            std::string size = scanner.match();
            TextScanner bold(size);
            if (bold.find("<b>", "</b>")) {
                size = bold.match();
            }
            if (!usable(id)) {
                continue;
            }
            if (messages.size() >= maxListMessages_ || id.size() > maxListIdBytes_ - idBytes) {
                logEvent("listing: " + std::to_string(messages.size()) + " messages with " +
                         std::to_string(idBytes) + " bytes of ids reach the bound on page " +
                         std::to_string(page) + "; the listing ends there");
                return false;
            }
            idBytes += id.size();
            messages.emplace_back(id, readSize(size));
        }
    }
    return counter.last < counter.total;
}

MessageList CVurelClient::listInbox() {
    MessageList messages;
    std::size_t idBytes = 0;
    const std::string base = mailUrl("/vm/ShowFolder?box=Inbox&Nview=a&Npos=");
    auto urlOf = [&base](int page) { return base + std::to_string(page); };

    ListCounter counter;
    if (!readListPage(0, urlOf(0), get(urlOf(0), session_), messages, idBytes, counter)) {
        return messages;
    }
    // The first page's counter tells how many pages follow: they are asked
    // for together, a window of the pool's size ahead of the page being
    // read, and read in page order. A page whose counter is not the one
    // foretold (the mailbox changed meanwhile) is read as it is, and the
    // listing goes on page by page after it.
    int next = 1;
    const std::int64_t perPage = counter.last - counter.first + 1;
    if (counter.first == 1 && perPage > 0) {
        std::int64_t pages =
            std::min<std::int64_t>((counter.total + perPage - 1) / perPage, maxListPages_);
        // Nor beyond the page where the message or id bounds will end the
        // listing (ids taken at the first page's average length): a listing
        // that goes on past the foretold pages goes on page by page.
        constexpr std::uint64_t kRowsCap = std::uint64_t(1) << 40;
        const std::int64_t rowsByMessages =
            static_cast<std::int64_t>(std::min<std::uint64_t>(maxListMessages_, kRowsCap));
        pages = std::min(pages, rowsByMessages / perPage + 1);
        if (!messages.empty() && idBytes > 0) {
            const std::size_t average = (idBytes + messages.size() - 1) / messages.size();
            const std::int64_t rowsByIds = static_cast<std::int64_t>(
                std::min<std::uint64_t>(maxListIdBytes_ / average, kRowsCap));
            pages = std::min(pages, rowsByIds / perPage + 1);
        }
        const std::int64_t total = counter.total;
        // A page's answer, or how its request failed.
        struct Answer {
            std::string raw;
            RequestFailure failure;
        };
        std::deque<std::future<Answer>> window;
        int requested = 1;
        // Whatever ends the listing, the pages asked for are answered (and
        // dropped) before it returns: nothing of it runs on after it, and the
        // requests made do not depend on how fast the site answered. After a
        // Cancel they end at once.
        struct Drain {
            RequestPool& pool;
            ~Drain() { pool.drain(); }
        } drain{pool_};
        for (; next < pages; ++next) {
            while (requested < pages &&
                   requested < next + static_cast<int>(RequestPool::kMaxThreads)) {
                auto answer = std::make_shared<std::promise<Answer>>();
                window.push_back(answer->get_future());
                const std::string url = urlOf(requested);
                pool_.post([this, url, answer] {
                    Answer got;
                    try {
                        got.raw = get(url, session_);
                    } catch (...) {
                        got.failure = RequestFailure::current();
                    }
                    answer->set_value(std::move(got));
                });
                ++requested;
            }
            Answer got = window.front().get();
            window.pop_front();
            if (got.failure) {
                got.failure.raise();
            }
            const std::string& raw = got.raw;
            ListCounter shown;
            const bool goOn = readListPage(next, urlOf(next), raw, messages, idBytes, shown);
            const std::int64_t first = next * perPage + 1;
            const bool foretold = shown.first == first && shown.total == total &&
                                  shown.last == std::min(first + perPage - 1, total);
            if (!goOn) {
                return messages;
            }
            if (!foretold) {
                ++next;
                break;
            }
        }
    }
    for (int page = next; page < maxListPages_; ++page) {
        const std::string url = urlOf(page);
        if (!readListPage(page, url, get(url, session_), messages, idBytes, counter)) {
            break;
        }
    }
    return messages;
}

std::string CVurelClient::printUrl(const MessageRef& message, const std::string& part) const {
    std::string url = mailUrl("/vm/ShowLetter?box=Inbox&PRINT=1&Nhead=f&toc=1&MsgId=");
    url += message.id();
    url += "&bodyPart=" + part;
    return url;
}

std::string CVurelClient::fetchPart(const MessageRef& message, const std::string& part) {
    const std::string url = printUrl(message, part);
    HttpResponse reply(get(url, session_), maxInflated_);
    if (reply.statusCode() != 200) {
        throw Error(url);
    }
    if (part == "HEADER" && isMailPage(reply.body())) {
        logEvent("print view: a page of the site came in place of the message's header (the "
                 "message is no longer there)");
        throw Error(url);
    }
    return reply.takeBody();
}

std::string CVurelClient::fetchHeader(const MessageRef& message) {
    return fetchPart(message, "HEADER");
}

std::string CVurelClient::fetchText(const MessageRef& message) {
    return fetchPart(message, "TEXT");
}

void CVurelClient::deleteMessages(const MessageList& messages) {
    std::string url = mailUrl("/vm/ShowFolder?box=Inbox&DEL=Delete");
    for (const MessageRef& message : messages) {
        url += "&Mid=";
        url += message.id();
    }
    url += "&.crumb=";
    url += crumb_;
    const HttpResponse reply(get(url, session_), maxInflated_);
    if (reply.statusCode() != 200) {
        throw Error(url);
    }
}

void CVurelClient::emptyTrash() {
    const std::string url = mailUrl("/vm/ShowFolder?ET=1&.crumb=") + crumb_ + "&reset=1";
    const HttpResponse reply(get(url, session_), maxInflated_);
    if (reply.statusCode() != 200) {
        throw Error(url);
    }
}

} // namespace quill
