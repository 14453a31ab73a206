#include "site/SiteHandler.h"

#include "codec/Base64.h"
#include "codec/Md5Hex.h"
#include "platform/LargeBuffer.h"
#include "site/FormFields.h"
#include "site/GzipWriter.h"
#include "site/TextUtil.h"

#include <algorithm>

namespace quill::site {

namespace {

const char kHtml[] = "text/html";

struct Cookie {
    std::string name;
    std::string value;
};

std::vector<Cookie> parseCookies(const HttpRequest& request) {
    std::vector<Cookie> out;
    for (const auto& h : request.headers) {
        if (!equalsNoCase(h.first, "Cookie")) {
            continue;
        }
        const std::string& line = h.second;
        std::size_t pos = 0;
        while (pos < line.size()) {
            std::size_t semi = line.find(';', pos);
            std::string piece =
                trim(line.substr(pos, semi == std::string::npos ? semi : semi - pos));
            std::size_t eq = piece.find('=');
            if (eq != std::string::npos && eq > 0) {
                out.push_back(Cookie{piece.substr(0, eq), piece.substr(eq + 1)});
            }
            if (semi == std::string::npos) {
                break;
            }
            pos = semi + 1;
        }
    }
    return out;
}

std::vector<std::string> cookieValues(const std::vector<Cookie>& cookies, const std::string& name) {
    std::vector<std::string> out;
    for (const auto& c : cookies) {
        if (c.name == name) {
            out.push_back(c.value);
        }
    }
    return out;
}

// Marker spellings a malformed page carries instead of the real ones.
const std::pair<const char*, const char*> kMalformed[] = {
    {"name=\".challenge\" value=\"", "name=\".chlg\" value=\""},
    {"href=\"/vm/ShowFolder?ET=1&.crumb=", "href=\"/vm/ShowFolder?ET=1&amp;.crumb="},
    {"Messages ", "Msgs "},
    {"href=\"/vm/ShowLetter?MsgId=", "href=\"/vm/ShowLetter?Mid="},
    {"action=\"/vm/Compose?YY=", "action=\"/vm/Compose?Y="},
    {"name=\".crumb\" value=\"", "name=\"crumb\" value=\""},
    {"Message Sent", "Mail Status"},
};

// Whether a recipient list ("a@x, B <b@y>; c@z") names the address (lower case).
bool addressed(const std::string& list, const std::string& address) {
    std::size_t pos = 0;
    while (pos <= list.size()) {
        std::size_t sep = list.find_first_of(",;", pos);
        std::string item = trim(list.substr(pos, sep == std::string::npos ? sep : sep - pos));
        std::size_t lt = item.rfind('<');
        if (lt != std::string::npos) {
            item = item.substr(lt + 1, item.find('>', lt) - lt - 1);
        }
        if (toLowerAscii(trim(item)) == address) {
            return true;
        }
        if (sep == std::string::npos) {
            break;
        }
        pos = sep + 1;
    }
    return false;
}

std::string rfc5322Date(std::int64_t now) {
    std::string d = httpDate(now); // "Tue, 08 Dec 2026 03:04:05 GMT"
    return d.substr(0, d.size() - 3) + "+0000";
}

// A gzipped answer (its bytes as sent) damaged as the fault says.
std::string damagedGzip(std::string bytes, Fault::GzipDamage damage) {
    if (damage == Fault::GzipDamage::BadCrc) {
        bytes[bytes.size() - 8] ^= 0x01; // the first byte of the trailer's CRC-32
        return bytes;
    }
    const std::size_t body = bytes.find("\r\n\r\n") + 4;
    bytes.resize(body + (bytes.size() - body) / 2);
    const std::size_t length = bytes.find("Content-Length: ");
    bytes.erase(length, bytes.find("\r\n", length) + 2 - length);
    return bytes;
}

} // namespace

struct SiteHandler::Context {
    const HttpRequest& request;
    FormFields query;
    FormFields form;
    std::vector<Cookie> cookies;
    std::int64_t now = 0;
    bool malformed = false;
    bool endlessCounter = false;
    // The message whose bytes the answer borrows (a print-view part).
    std::shared_ptr<const StoredMessage> borrowed = nullptr;
};

const SiteHandler::RouteEntry SiteHandler::kRoutes[] = {
    {"GET", "/", &SiteHandler::frontPage},
    {"POST", "/config/login", &SiteHandler::loginPost},
    {"GET", "/config/login", &SiteHandler::loginGet},
    {"GET", "/config/verify", &SiteHandler::hop},
    {"GET", "/config/logout", &SiteHandler::logout},
    {"GET", "/vm/Welcome", &SiteHandler::welcomePage},
    {"GET", "/vm/ShowFolder", &SiteHandler::showFolder},
    {"GET", "/vm/ShowLetter", &SiteHandler::showLetter},
    {"GET", "/vm/Compose", &SiteHandler::composePage},
    {"POST", "/vm/Compose", &SiteHandler::composePost},
};

SiteHandler::SiteHandler(SiteConfig config)
    : config_(std::move(config)), pages_(config_), sessions_(config_.seed) {
    for (const auto& u : config_.users) {
        mailbox_.addUser(u.name);
    }
}

std::int64_t SiteHandler::clockNow() const {
    if (config_.clock) {
        return config_.clock();
    }
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::int64_t SiteHandler::now() const {
    std::lock_guard<std::mutex> guard(lock_);
    return clockNow();
}

std::string SiteHandler::frontPageUrl() const {
    return config_.scheme + "://" + config_.frontHost + "/";
}
std::string SiteHandler::loginPageUrl() const {
    return pages_.loginUrl();
}

std::string SiteHandler::md5Answer(const std::string& password, const std::string& challenge) {
    Md5Hex inner(password);
    Md5Hex outer(std::string(inner.hex()) + challenge);
    return outer.hex();
}

// ---- observation and set-up ----------------------------------------------------

std::string SiteHandler::addMessage(const std::string& user, const std::string& folderName,
                                    const std::string& raw, bool unread, const std::string& id) {
    std::lock_guard<std::mutex> guard(lock_);
    return mailbox_.add(user, folderName, raw, unread, id);
}

bool SiteHandler::removeMessage(const std::string& user, const std::string& folderName,
                                const std::string& id) {
    std::lock_guard<std::mutex> guard(lock_);
    return mailbox_.remove(user, folderName, {id}) == 1;
}

int SiteHandler::loadMailbox(const std::string& user, const std::string& directory) {
    std::lock_guard<std::mutex> guard(lock_);
    return mailbox_.loadDirectory(user, directory);
}

std::vector<StoredMessage> SiteHandler::folder(const std::string& user,
                                               const std::string& folderName) const {
    std::lock_guard<std::mutex> guard(lock_);
    return mailbox_.messages(user, folderName);
}

void SiteHandler::setFault(const std::string& pathPrefix, const Fault& fault) {
    std::lock_guard<std::mutex> guard(lock_);
    faults_[pathPrefix] = fault;
}

void SiteHandler::clearFaults() {
    std::lock_guard<std::mutex> guard(lock_);
    faults_.clear();
}

std::vector<RecordedRequest> SiteHandler::requests() const {
    std::lock_guard<std::mutex> guard(lock_);
    return requests_;
}

void SiteHandler::clearRequests() {
    std::lock_guard<std::mutex> guard(lock_);
    requests_.clear();
}

bool SiteHandler::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> guard(lock_);
    return recorded_.wait_for(guard, timeout, [&] { return requests_.size() >= count; });
}

std::vector<SentMessage> SiteHandler::sentMessages() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sent_;
}

std::size_t SiteHandler::sentCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sent_.size();
}

int SiteHandler::rejectedForms() const {
    std::lock_guard<std::mutex> guard(lock_);
    return rejectedForms_;
}

void SiteHandler::expireSessions(const std::string& user) {
    std::lock_guard<std::mutex> guard(lock_);
    sessions_.expire(user.empty() ? std::string() : canonicalUser(user));
}

std::size_t SiteHandler::sessionCount() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sessions_.size();
}

// ---- the exchange -----------------------------------------------------------------

SiteHandler::Reply SiteHandler::handleRaw(const std::string& raw) {
    HttpRequest request;
    HttpRequest::Parse result = request.parse(raw, config_.maxRequestBytes);
    if (result == HttpRequest::Parse::Complete) {
        Reply reply = handle(request, raw.substr(0, request.consumed));
        reply.bytes.append(reply.part);
        reply.part = std::string_view();
        reply.source.reset();
        return reply;
    }
    return reject(result == HttpRequest::Parse::Bad ? request.errorStatus() : 400, raw);
}

SiteHandler::Reply SiteHandler::reject(int status, const std::string& raw) {
    std::unique_lock<std::mutex> guard(lock_);
    RecordedRequest record;
    record.raw = raw.substr(0, 64 * 1024);
    record.status = status;
    requests_.push_back(record);
    recorded_.notify_all();
    HttpAnswer answer(status, kHtml, SitePages::status(status, HttpAnswer::reason(status)));
    Reply reply;
    reply.status = status;
    reply.bytes = answer.serialize(clockNow());
    guard.unlock(); // the log callback may call back into the site
    if (config_.log) {
        config_.log("- - \"(unreadable request)\" " + std::to_string(status) + " " +
                    std::to_string(reply.bytes.size()));
    }
    return reply;
}

bool SiteHandler::knownHost(const std::string& host) const {
    return equalsNoCase(host, config_.frontHost) || equalsNoCase(host, config_.loginHost) ||
           equalsNoCase(host, config_.mailHost);
}

Fault* SiteHandler::matchFault(const std::string& path) {
    Fault* best = nullptr;
    std::size_t bestLength = 0;
    for (auto& entry : faults_) {
        if (entry.second.times == 0) {
            continue;
        }
        if (path.compare(0, entry.first.size(), entry.first) == 0 &&
            (best == nullptr || entry.first.size() > bestLength)) {
            best = &entry.second;
            bestLength = entry.first.size();
        }
    }
    if (best != nullptr && best->times > 0) {
        --best->times;
    }
    return best;
}

SiteHandler::Reply SiteHandler::handle(const HttpRequest& request, std::string raw) {
    std::unique_lock<std::mutex> guard(lock_);
    // The record keeps the request's bytes; the form's raw values view its
    // body, the end of them, until the record is filed after the answer.
    RecordedRequest record;
    record.raw = std::move(raw);
    Context c{request, FormFields(request.query), FormFields(), parseCookies(request)};
    c.now = clockNow();
    if (request.method == "POST" &&
        toLowerAscii(request.header("Content-Type")).find("multipart/") == std::string::npos) {
        c.form = FormFields(
            std::string_view(record.raw).substr(std::min(request.bodyStart, record.raw.size())));
    }
    record.method = request.method;
    record.target = request.target;
    record.path = request.path;
    record.proxyForm = request.proxyForm;
    if (request.proxyForm) {
        record.host = request.urlHost;
    } else {
        std::string host = request.header("Host");
        record.host = host.substr(0, host.find(':'));
    }

    Reply reply;
    HttpAnswer answer;
    bool answered = false;
    bool bomb = false;
    Fault::GzipDamage damage = Fault::GzipDamage::None;
    std::string lengthField;
    if (request.proxyForm && !config_.proxyUser.empty()) {
        std::string expected = config_.proxyUser + ":" + config_.proxyPassword;
        std::string auth = request.header("Proxy-Authorization");
        bool ok = false;
        if (startsWithNoCase(auth, "Basic ")) {
            ok = decodeBase64(trim(auth.substr(6))) == expected;
        }
        if (!ok) {
            answer =
                HttpAnswer(407, kHtml, SitePages::status(407, "Proxy Authentication Required"));
            answer.addHeader("Proxy-Authenticate", "Basic realm=\"Vurel proxy\"");
            answered = true;
        }
    }
    if (!answered && request.proxyForm && !knownHost(request.urlHost)) {
        answer = HttpAnswer(502, kHtml, SitePages::status(502, "Bad Gateway"));
        answered = true;
    }
    if (!answered) {
        Fault* fault = matchFault(request.path);
        if (fault != nullptr) {
            reply.delay = fault->delay;
            reply.closeAfterBytes = fault->closeAfterBytes;
            reply.reset = fault->reset && fault->closeAfterBytes >= 0;
            reply.dripEvery = fault->dripEvery;
            reply.dripBytes = fault->dripBytes;
            c.malformed = fault->malformed;
            c.endlessCounter = fault->endlessCounter;
            damage = fault->gzipDamage;
            lengthField = fault->lengthField;
            if (fault->status != 0) {
                answer =
                    HttpAnswer(fault->status, kHtml,
                               SitePages::status(fault->status, HttpAnswer::reason(fault->status)));
                answered = true;
            } else if (fault->gzipBombBytes > 0) {
                answer = HttpAnswer(200, kHtml, gzipOfZeros(fault->gzipBombBytes));
                answer.addHeader("Content-Encoding", "gzip");
                bomb = true; // already compressed: never compressed again
                answered = true;
            } else if (fault->redirectLoop) {
                std::string host = record.host.empty() ? config_.frontHost : record.host;
                answer = redirect(config_.scheme + "://" + host + request.path);
                answer.setCookie("L", sessions_.token(8), "");
                answered = true;
            }
        }
    }
    if (!answered) {
        answer = dispatch(c);
        if (c.malformed && answer.contentType == kHtml) {
            for (const auto& m : kMalformed) {
                answer.body = replaceAll(answer.body, m.first, m.second);
            }
        }
    }

    int members = 0;
    if (config_.gzipMembers > 0 && !bomb &&
        toLowerAscii(request.header("Accept-Encoding")).find("gzip") != std::string::npos) {
        members = config_.gzipMembers;
    }
    reply.status = answer.status;
    if (damage != Fault::GzipDamage::None && !bomb) {
        reply.bytes = damagedGzip(answer.serialize(c.now, 1, false), damage);
    } else if (c.borrowed != nullptr && members == 0) {
        // The part goes out from the mailbox itself: no copy of its bytes.
        reply.bytes = answer.head(c.now, answer.borrowedBody.size());
        reply.part = answer.borrowedBody;
        reply.source = std::move(c.borrowed);
    } else {
        reply.bytes = answer.serialize(c.now, members, config_.gzipHeaderFields);
    }
    if (!lengthField.empty()) {
        const std::size_t at = reply.bytes.find("Content-Length: ");
        if (at != std::string::npos && at < reply.bytes.find("\r\n\r\n")) {
            reply.bytes.replace(at, 16, lengthField);
        }
    }
    record.status = answer.status;
    std::string host = record.host.empty() ? std::string("-") : record.host;
    requests_.push_back(std::move(record));
    recorded_.notify_all();
    guard.unlock(); // the log callback may call back into the site
    if (config_.log) {
        config_.log(host + " \"" + request.method + " " + request.target + " " + request.version +
                    "\" " + std::to_string(reply.status) + " " +
                    std::to_string(reply.bytes.size()));
    }
    return reply;
}

HttpAnswer SiteHandler::dispatch(Context& c) {
    bool pathKnown = false;
    for (const auto& r : kRoutes) {
        if (c.request.route == r.path) {
            pathKnown = true;
            if (c.request.method == r.method) {
                return (this->*r.route)(c);
            }
        }
    }
    if (pathKnown) {
        HttpAnswer a(405, kHtml, SitePages::status(405, "Method Not Allowed"));
        return a;
    }
    return HttpAnswer(404, kHtml, SitePages::status(404, "Not Found"));
}

HttpAnswer SiteHandler::redirect(const std::string& location) {
    HttpAnswer a(302, kHtml,
                 "<html><head><title>Document Moved</title></head><body>The document has moved "
                 "<a href=\"" +
                     htmlEscape(location) + "\">here</a>.</body></html>\r\n");
    a.addHeader("Location", location);
    return a;
}

// ---- sign-in -------------------------------------------------------------------

std::string SiteHandler::canonicalUser(const std::string& login) const {
    std::string name = login;
    std::string suffix = "@" + config_.mailDomain;
    if (name.size() > suffix.size() &&
        equalsNoCase(name.substr(name.size() - suffix.size()), suffix)) {
        name = name.substr(0, name.size() - suffix.size());
    }
    for (const auto& u : config_.users) {
        if (equalsNoCase(u.name, name)) {
            return u.name;
        }
    }
    return std::string();
}

const std::string* SiteHandler::password(const std::string& user) const {
    for (const auto& u : config_.users) {
        if (u.name == user) {
            return &u.password;
        }
    }
    return nullptr;
}

HttpAnswer SiteHandler::signInAnswer(Context& c, const std::string& error) {
    // The challenge is bound to the browser cookie; a browser without one gets one.
    std::vector<std::string> browsers = cookieValues(c.cookies, "B");
    std::string browser = browsers.empty() ? std::string() : browsers.back();
    HttpAnswer a;
    if (browser.empty()) {
        browser = sessions_.token(13) + "&b=3&s=" + sessions_.token(2);
        a.setCookie("B", browser, "." + config_.mailDomain);
        a.setCookie("VC", "v=1&l=us&t=" + std::to_string(c.now), "." + config_.mailDomain);
    }
    std::string challenge = sessions_.issueChallenge(browser, c.now);
    a.body = pages_.signIn(challenge, error);
    return a;
}

HttpAnswer SiteHandler::frontPage(Context& c) {
    return signInAnswer(c, std::string());
}

HttpAnswer SiteHandler::loginGet(Context& c) {
    return signInAnswer(c, std::string());
}

HttpAnswer SiteHandler::loginPost(Context& c) {
    const FormFields& f = c.form;
    if (f.value("login").empty() || !f.has("passwd") || f.value(".challenge").empty()) {
        return signInAnswer(c, "Please enter your Vurel! ID and password.");
    }
    if (!sessions_.takeChallenge(f.value(".challenge"), cookieValues(c.cookies, "B"), c.now,
                                 config_.challengeTtlSeconds)) {
        return signInAnswer(c, "This sign-in page has expired or your browser does not accept "
                               "cookies. Please try again.");
    }
    std::string user = canonicalUser(f.value("login"));
    const std::string* secret = user.empty() ? nullptr : password(user);
    bool ok = false;
    if (secret != nullptr) {
        if (f.value(".md5") == "1") {
            ok = f.value("passwd") == md5Answer(*secret, f.value(".challenge"));
        } else {
            ok = f.value("passwd") == *secret;
        }
    }
    if (!ok) {
        return signInAnswer(c, "Invalid ID or password. Please try again.");
    }
    SessionTable::Session& s = sessions_.open(user, c.now);
    std::string domain = "." + config_.mailDomain;
    HttpAnswer a =
        config_.redirects > 0
            ? redirect(config_.scheme + "://" + config_.loginHost + "/config/verify?.hop=1&.src=vm")
            : redirect(config_.scheme + "://" + config_.mailHost +
                       "/vm/Welcome?.rand=" + sessions_.token(10));
    a.setCookie("Y", "v=1&n=" + s.id + "&l=" + user + "&p=m2", domain);
    if (config_.redirects <= 0) {
        a.setCookie("T", "z=" + s.ticket + "&a=QAE&sk=DAA", domain);
    }
    return a;
}

SessionTable::Session* SiteHandler::session(Context& c) {
    std::vector<std::string> tickets = cookieValues(c.cookies, "T");
    for (const auto& y : cookieValues(c.cookies, "Y")) {
        FormFields fields(y);
        SessionTable::Session* s =
            sessions_.find(std::string(fields.raw("n")), c.now, config_.sessionTtlSeconds);
        if (s == nullptr) {
            continue;
        }
        for (const auto& t : tickets) {
            if (FormFields(t).raw("z") == s->ticket) {
                return s;
            }
        }
    }
    return nullptr;
}

HttpAnswer SiteHandler::hop(Context& c) {
    // Hops only need the session cookie of the login POST: the ticket comes last.
    SessionTable::Session* s = nullptr;
    for (const auto& y : cookieValues(c.cookies, "Y")) {
        s = sessions_.find(std::string(FormFields(y).raw("n")), c.now, config_.sessionTtlSeconds);
        if (s != nullptr) {
            break;
        }
    }
    if (s == nullptr) {
        return signInAnswer(c, "Your browser does not accept cookies. Please enable cookies "
                               "and sign in again.");
    }
    std::string hopText = c.query.value(".hop");
    int n = 0;
    if (!hopText.empty() && hopText.size() < 4 &&
        hopText.find_first_not_of("0123456789") == std::string::npos) {
        n = std::stoi(hopText);
    }
    if (n < 1 || n > config_.redirects) {
        return signInAnswer(c, "Please sign in.");
    }
    std::string domain = "." + config_.mailDomain;
    HttpAnswer a;
    if (n < config_.redirects) {
        a = redirect(config_.scheme + "://" + config_.loginHost +
                     "/config/verify?.hop=" + std::to_string(n + 1) + "&.src=vm");
    } else {
        a = redirect(config_.scheme + "://" + config_.mailHost +
                     "/vm/Welcome?.rand=" + sessions_.token(10));
        a.setCookie("T", "z=" + s->ticket + "&a=QAE&sk=DAA", domain);
    }
    a.setCookie("H" + std::to_string(n), sessions_.token(12), domain);
    return a;
}

HttpAnswer SiteHandler::logout(Context& c) {
    for (const auto& y : cookieValues(c.cookies, "Y")) {
        sessions_.close(std::string(FormFields(y).raw("n")));
    }
    return signInAnswer(c, "You are now signed out.");
}

int SiteHandler::inboxUnread(const std::string& user) const {
    return static_cast<int>(mailbox_.unreadCount(user, "Inbox"));
}

HttpAnswer SiteHandler::welcomePage(Context& c) {
    SessionTable::Session* s = session(c);
    if (s == nullptr) {
        return signInAnswer(c, std::string());
    }
    HttpAnswer a;
    a.setCookie("PH", "fn=" + s->user + "&l=us", "." + config_.mailDomain);
    a.body =
        pages_.welcome(s->user, s->crumb, static_cast<int>(mailbox_.view(s->user, "Inbox").size()),
                       inboxUnread(s->user));
    return a;
}

// ---- mail pages ---------------------------------------------------------------------

HttpAnswer SiteHandler::failureAnswer(const SessionTable::Session& s, const std::string& heading,
                                      const std::string& text) {
    HttpAnswer a;
    a.body = pages_.failure(s.user, s.crumb, heading, text, inboxUnread(s.user));
    return a;
}

HttpAnswer SiteHandler::listingAnswer(Context& c, const SessionTable::Session* s,
                                      const std::string& folderName, int pageIndex,
                                      const std::string& notice) {
    // Only the rows of the page are looked at: the folder stays where it is.
    const Mailbox::Messages& all = mailbox_.view(s->user, folderName);
    const int size = std::max(1, config_.pageSize);
    const int total = static_cast<int>(all.size());
    const int realPages = std::max(1, (total + size - 1) / size);
    SitePages::Listing l;
    l.user = s->user;
    l.folder = folderName;
    l.crumb = s->crumb;
    l.notice = notice;
    l.inboxUnread = inboxUnread(s->user);
    if (pageIndex < 0) {
        pageIndex = 0;
    }
    int shownPage = pageIndex;
    if (c.endlessCounter) {
        // One page more than shown, whatever page is asked for.
        shownPage = pageIndex % realPages;
        l.pageIndex = pageIndex;
        l.pageCount = pageIndex + 2;
        l.first = pageIndex * size + 1;
        l.last = l.first + size - 1;
        l.total = l.last + size;
    } else {
        shownPage = std::min(pageIndex, realPages - 1);
        l.pageIndex = shownPage;
        l.pageCount = realPages;
        l.total = total;
        l.first = total == 0 ? 0 : shownPage * size + 1;
        l.last = std::min(total, (shownPage + 1) * size);
    }
    for (int i = shownPage * size; i < std::min(total, (shownPage + 1) * size); ++i) {
        const int stored = config_.newestFirst ? total - 1 - i : i;
        l.rows.push_back(all[static_cast<std::size_t>(stored)].get());
    }
    HttpAnswer a;
    a.body = pages_.listing(l);
    return a;
}

HttpAnswer SiteHandler::showFolder(Context& c) {
    SessionTable::Session* s = session(c);
    if (s == nullptr) {
        return signInAnswer(c, "Please sign in to read your mail.");
    }
    std::string box = c.query.has("box") ? c.query.value("box") : std::string("Inbox");
    if (!Mailbox::isFolder(box)) {
        return failureAnswer(*s, "Folder not found", "There is no folder named " + box + ".");
    }
    bool emptyTrash = c.query.value("ET") == "1";
    bool remove = c.query.has("DEL");
    if (emptyTrash || remove) {
        if (c.query.raw(".crumb") != s->crumb) {
            ++rejectedForms_;
            return failureAnswer(*s, "Your request could not be completed",
                                 "This page has expired. Please go back, reload the page and "
                                 "try again.");
        }
        if (emptyTrash) {
            int n = mailbox_.clear(s->user, "Trash");
            return listingAnswer(c, s, box, 0,
                                 "Trash emptied (" + std::to_string(n) + " removed).");
        }
        std::vector<std::string> ids = c.query.rawAll("Mid");
        int n = box == "Trash" ? mailbox_.remove(s->user, box, ids)
                               : mailbox_.move(s->user, box, "Trash", ids);
        return listingAnswer(
            c, s, box, 0, std::to_string(n) + (box == "Trash" ? " deleted." : " moved to Trash."));
    }
    std::string npos = c.query.value("Npos");
    int page = 0;
    if (!npos.empty() && npos.size() < 9 &&
        npos.find_first_not_of("0123456789") == std::string::npos) {
        page = std::stoi(npos);
    }
    return listingAnswer(c, s, box, page, std::string());
}

HttpAnswer SiteHandler::showLetter(Context& c) {
    SessionTable::Session* s = session(c);
    if (s == nullptr) {
        return signInAnswer(c, "Please sign in to read your mail.");
    }
    std::string box = c.query.has("box") ? c.query.value("box") : std::string("Inbox");
    const std::string id(c.query.raw("MsgId"));
    std::shared_ptr<const StoredMessage> m =
        Mailbox::isFolder(box) ? mailbox_.find(s->user, box, id) : nullptr;
    if (m == nullptr) {
        return failureAnswer(*s, "Message not available",
                             "This message has been moved or deleted.");
    }
    std::string part = c.query.value("bodyPart");
    if (c.query.value("PRINT") == "1" && (part == "HEADER" || part == "TEXT")) {
        if (c.malformed) {
            return failureAnswer(*s, "Unable to display", "This part cannot be shown now.");
        }
        if (part == "TEXT") {
            mailbox_.markRead(s->user, box, id);
        }
        HttpAnswer a(200, "text/plain", std::string());
        a.borrowedBody = part == "HEADER" ? m->headerView() : m->textView();
        c.borrowed = m;
        return a;
    }
    mailbox_.markRead(s->user, box, id);
    HttpAnswer a;
    a.body = pages_.letter(s->user, s->crumb, *m, box, inboxUnread(s->user));
    return a;
}

HttpAnswer SiteHandler::composePage(Context& c) {
    SessionTable::Session* s = session(c);
    if (s == nullptr) {
        return signInAnswer(c, "Please sign in to send mail.");
    }
    auto tokens = sessions_.issueCompose(*s);
    HttpAnswer a;
    a.body = pages_.compose(s->user, s->crumb, tokens.first, tokens.second, inboxUnread(s->user));
    return a;
}

std::string SiteHandler::composeCopy(const SentMessage& m, std::int64_t now) {
    std::string out;
    out.reserve(m.body.size() + m.to.size() + m.cc.size() + m.subject.size() + 512);
    platform::adviseLargeBuffer(&out[0], out.capacity());
    out += "From: " + m.user + "@" + config_.mailDomain + "\r\n";
    out += "To: " + m.to + "\r\n";
    if (!m.cc.empty()) {
        out += "Cc: " + m.cc + "\r\n";
    }
    out += "Subject: " + m.subject + "\r\n";
    out += "Date: " + rfc5322Date(now) + "\r\n";
    out += "Message-ID: <" + sessions_.token(20) + "@" + config_.mailHost + ">\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += std::string("Content-Type: ") + (m.format == "html" ? "text/html" : "text/plain") +
           "; charset=iso-8859-1\r\n";
    out += "Content-Transfer-Encoding: 8bit\r\n\r\n";
    out += m.body;
    if (!m.body.empty() && m.body.back() != '\n') {
        out += "\r\n";
    }
    return out;
}

HttpAnswer SiteHandler::composePost(Context& c) {
    SessionTable::Session* s = session(c);
    if (s == nullptr) {
        return signInAnswer(c, "Please sign in to send mail.");
    }
    FormFields& f = c.form;
    if (!sessions_.takeCompose(*s, std::string(c.query.raw("YY")), std::string(f.raw(".crumb")))) {
        ++rejectedForms_;
        return failureAnswer(*s, "Your mail could not be sent",
                             "The form has expired. Please go back, reload the page and try "
                             "again.");
    }
    if (!f.has("SEND")) {
        return failureAnswer(*s, "Nothing to do", "Use the Send button to send your mail.");
    }
    SentMessage m;
    m.user = s->user;
    m.to = f.value("To");
    m.cc = f.value("Cc");
    m.bcc = f.value("Bcc");
    m.subject = f.value("Subj");
    m.body = largeCopy(f.value("Body"));
    m.format = f.value("Format");
    m.saveCopy = f.value("SaveCopy") == "yes";
    // The form is not read after this: its values move into the record.
    for (auto& field : f.takeFields()) {
        m.fields.emplace_back(std::move(field.name), std::move(field.value));
    }
    if (trim(m.to).empty() && trim(m.cc).empty() && trim(m.bcc).empty()) {
        return failureAnswer(*s, "Your mail could not be sent",
                             "Please enter at least one recipient.");
    }
    // The stored copy is made only where it is kept: a long message is not
    // copied once more for nothing.
    std::string copy;
    if (m.saveCopy || config_.deliverLocally) {
        copy = composeCopy(m, c.now);
    }
    if (m.saveCopy) {
        m.sentId = mailbox_.add(s->user, "Sent", copy, false);
    }
    if (config_.deliverLocally) {
        for (const auto& u : config_.users) {
            std::string address = toLowerAscii(u.name + "@" + config_.mailDomain);
            for (const std::string* list : {&m.to, &m.cc, &m.bcc}) {
                if (addressed(*list, address)) {
                    mailbox_.add(u.name, "Inbox", copy, true);
                    break;
                }
            }
        }
    }
    HttpAnswer a;
    std::string shown = m.to;
    for (const std::string* more : {&m.cc, &m.bcc}) {
        if (!trim(*more).empty()) {
            shown += (trim(shown).empty() ? "" : ", ") + *more;
        }
    }
    sent_.push_back(std::move(m));
    a.body = pages_.sent(s->user, s->crumb, shown, inboxUnread(s->user));
    return a;
}

} // namespace quill::site
