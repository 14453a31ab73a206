#pragma once
// Helpers shared by the simulator's tests: an answer splitter with gzip
// decoding, a cookie accumulator that behaves like a browser-less client
// (every Set-Cookie pair appended in arrival order), and a reader of listing
// pages that follows the same marker rules as the web-mail client.

#include "codec/Base64.h"
#include "codec/Md5Hex.h"

#include <zlib.h>

#include <functional>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace sitetest {

struct Answer {
    int status = -1;
    std::string header;
    std::string body;

    std::string value(const std::string& name) const {
        std::string key = "\r\n" + name + ": ";
        std::size_t p = header.find(key);
        if (p == std::string::npos) {
            return std::string();
        }
        p += key.size();
        return header.substr(p, header.find("\r\n", p) - p);
    }
    // "a=1; b=2; " from the Set-Cookie lines, attributes dropped.
    std::string cookiePairs() const {
        std::string out;
        std::size_t p = 0;
        while ((p = header.find("\r\nSet-Cookie: ", p)) != std::string::npos) {
            p += 14;
            std::size_t semi = header.find(';', p);
            if (semi == std::string::npos) {
                break;
            }
            out += header.substr(p, semi - p) + "; ";
            p = semi;
        }
        return out;
    }
};

// Inflates every gzip member in data; returns false on any damage.
inline bool gunzip(const std::string& data, std::string& out, int* members = nullptr) {
    out.clear();
    std::size_t pos = 0;
    int count = 0;
    while (pos < data.size()) {
        z_stream z{};
        if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) {
            return false;
        }
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + pos));
        z.avail_in = static_cast<uInt>(data.size() - pos);
        char buffer[4096];
        int rc = Z_OK;
        while (rc == Z_OK) {
            z.next_out = reinterpret_cast<Bytef*>(buffer);
            z.avail_out = sizeof buffer;
            rc = inflate(&z, Z_NO_FLUSH);
            out.append(buffer, sizeof buffer - z.avail_out);
        }
        std::size_t used = data.size() - pos - z.avail_in;
        inflateEnd(&z);
        if (rc != Z_STREAM_END) {
            return false;
        }
        pos += used;
        ++count;
    }
    if (members != nullptr) {
        *members = count;
    }
    return true;
}

inline Answer parseAnswer(const std::string& raw) {
    Answer a;
    std::size_t end = raw.find("\r\n\r\n");
    a.header = end == std::string::npos ? raw : raw.substr(0, end + 4);
    a.body = end == std::string::npos ? std::string() : raw.substr(end + 4);
    if (raw.compare(0, 5, "HTTP/") == 0) {
        std::size_t sp = raw.find(' ');
        a.status = std::atoi(raw.c_str() + sp + 1);
    }
    if (a.value("Content-Encoding") == "gzip") {
        std::string plain;
        if (gunzip(a.body, plain)) {
            a.body = plain;
        } else {
            a.body = "(gzip damaged)";
        }
    }
    return a;
}

// The text between begin and the next end after it, or empty; *found tells.
inline std::string between(const std::string& text, const std::string& begin,
                           const std::string& end, bool* found = nullptr,
                           std::size_t* from = nullptr) {
    std::size_t start = from != nullptr ? *from : 0;
    std::size_t b = text.find(begin, start);
    std::size_t e = b == std::string::npos ? b : text.find(end, b + begin.size());
    if (found != nullptr) {
        *found = e != std::string::npos;
    }
    if (e == std::string::npos) {
        return std::string();
    }
    if (from != nullptr) {
        *from = e;
    }
    return text.substr(b + begin.size(), e - b - begin.size());
}

inline bool isMailPage(const std::string& page, const std::string& domain) {
    bool found = false;
    std::string title = between(page, "<title>", "</title>", &found);
    if (!found) {
        return false;
    }
    std::size_t p = title.find("Vurel! Mail - ");
    return p != std::string::npos && title.find("@" + domain, p + 14) != std::string::npos;
}

// What a listing page yields under the client's reading rules.
struct ListingScan {
    bool counterFound = false;
    int first = 0, last = 0, total = 0;
    std::string crumb;
    std::vector<std::pair<std::string, long>> rows; // id, size in bytes
};

inline ListingScan scanListing(const std::string& page, bool firstPage) {
    ListingScan s;
    std::size_t pos = 0;
    bool found = false;
    if (firstPage) {
        std::size_t save = pos;
        s.crumb = between(page, "href=\"/vm/ShowFolder?ET=1&.crumb=", "&", &found, &pos);
        if (!found) {
            pos = save;
        }
    }
    std::string counter = between(page, "Messages ", "<", &found, &pos);
    if (!found || counter.size() >= 64) {
        return s;
    }
    std::istringstream in(counter);
    int second = 0;
    std::string word;
    in >> s.first >> second >> word >> s.total;
    s.last = -second;
    if (in.fail() || word != "of" || s.first > s.last || s.last > s.total) {
        return s;
    }
    s.counterFound = true;
    std::string previous;
    while (true) {
        std::string id = between(page, "href=\"/vm/ShowLetter?MsgId=", "&", &found, &pos);
        if (!found) {
            break;
        }
        if (id == previous) {
            continue;
        }
        previous = id;
        between(page, "<td", "</td>", &found, &pos);
        std::string size = between(page, "<td>", "</td>", &found, &pos);
        if (!found) {
            continue;
        }
        bool bold = false;
        std::size_t bp = 0;
        std::string inner = between(size, "<b>", "</b>", &bold, &bp);
        if (bold) {
            size = inner;
        }
        std::istringstream sin(size);
        long n = 0;
        std::string unit;
        sin >> n;
        if (sin.fail()) {
            n = 0;
            sin.clear();
        }
        sin >> unit;
        if (unit == "k") {
            n <<= 10;
        }
        s.rows.emplace_back(id, n);
    }
    return s;
}

const char kGetBlock[] =
    "User-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows 98; Win 9x 4.90)\r\n"
    "Accept: */*\r\n"
    "Accept-Encoding: gzip, deflate;\r\n"
    "Connection: close\r\n";

inline std::string md5Answer(const std::string& password, const std::string& challenge) {
    quill::Md5Hex inner(password);
    quill::Md5Hex outer(std::string(inner.hex()) + challenge);
    return outer.hex();
}

// Drives the handler as the web-mail client does: absolute URLs split into a
// path and a Host line (or sent whole through a proxy), cookies accumulated.
class Client {
public:
    using Transport = std::function<std::string(const std::string& request)>;
    Client(Transport send, std::string frontPage, std::string loginPage)
        : send_(std::move(send)), frontPage_(std::move(frontPage)),
          loginPage_(std::move(loginPage)) {}

    bool proxy = false;
    std::string proxyAuth; // "user:pass" or empty
    bool sendCookies = true;
    std::string cookies;
    std::string lastRaw;

    Answer get(const std::string& url, bool withCookie = true) {
        return exchange("GET", url, withCookie, nullptr);
    }
    Answer post(const std::string& url, const std::string& body) {
        return exchange("POST", url, true, &body);
    }
    Answer exchange(const std::string& method, const std::string& url, bool withCookie,
                    const std::string* body) {
        std::string host = url.substr(7, url.find('/', 7) - 7);
        std::string path = url.substr(url.find('/', 7));
        std::string r = method + " " + (proxy ? url : path) + " HTTP/1.0\r\n";
        if (!proxyAuth.empty()) {
            quill::Base64Coder coder;
            coder.encode(proxyAuth.c_str());
            r += std::string("Proxy-authorization: Basic ") + coder.result() + "\r\n";
        }
        r += "Host: " + host + "\r\n" + kGetBlock;
        if (body != nullptr) {
            r += "Content-Type: application/x-www-form-urlencoded\r\n";
            r += "Content-Length: " + std::to_string(body->size()) + "\r\n";
        }
        if (withCookie && sendCookies) {
            r += "Cookie: " + cookies + "\r\n";
        }
        r += "\r\n";
        if (body != nullptr) {
            r += *body + "\r\n";
        }
        lastRaw = send_(r);
        Answer a = sitetest::parseAnswer(lastRaw);
        return a;
    }

    // The client's sign-in: front page, MD5 answer, POST, redirects. Returns the
    // final answer; mailHost receives the host of the last URL.
    Answer signIn(const std::string& user, const std::string& password, int* hops = nullptr) {
        cookies.clear();
        Answer front = get(frontPage_, false);
        cookies += front.cookiePairs();
        bool found = false;
        std::string challenge = between(front.body, "name=\".challenge\" value=\"", "\"", &found);
        if (front.status != 200 || !found) {
            return front;
        }
        std::string body = ".tries=1&.src=vm&.intl=us&login=" + user +
                           "&passwd=" + md5Answer(password, challenge) +
                           "&.hash=1&.md5=1&.js=1&.challenge=" + challenge;
        Answer a = post(loginPage_, body);
        if (a.status != 302) {
            return a;
        }
        cookies += a.cookiePairs();
        std::string next = a.value("Location");
        int count = 0;
        a = get(next);
        while (a.status == 302 && count < 50) {
            ++count;
            cookies += a.cookiePairs();
            next = a.value("Location");
            a = get(next);
        }
        cookies += a.cookiePairs();
        mailHost = next.substr(7, next.find('/', 7) - 7);
        if (hops != nullptr) {
            *hops = count;
        }
        return a;
    }

    std::string mail(const std::string& path) const { return "http://" + mailHost + path; }
    // Fetches a compose page and posts its form with the page's tokens:
    // ".crumb=" and the crumb, then fields (missing tokens are sent empty).
    Answer postCompose(const std::string& fields) {
        const Answer page = get(mail("/vm/Compose"));
        std::size_t pos = 0;
        const std::string yy = between(page.body, "action=\"/vm/Compose?YY=", "\"", nullptr, &pos);
        const std::string crumb =
            between(page.body, "name=\".crumb\" value=\"", "\"", nullptr, &pos);
        return post(mail("/vm/Compose?YY=" + yy), ".crumb=" + crumb + fields);
    }
    std::string mailHost;

private:
    Transport send_;
    std::string frontPage_;
    std::string loginPage_;
};

} // namespace sitetest
