#include "webmail/SmtpVurelClient.h"

#include <utility>

namespace quill {

SmtpVurelClient::SmtpVurelClient(ServiceWindow& window, SiteConfig site, CookieJar& jar)
    : CVurelClient(std::move(site)), window_(window), jar_(jar) {}

void SmtpVurelClient::login(const std::string& user, const std::string& password) {
    window_.setStatus("Logging to Vurel server ...");
    CVurelClient::login(user, password);
    jar_.store(session());
}

void SmtpVurelClient::sendMessage(const std::string& to, const std::string& cc,
                                  const std::string& bcc, const std::string& subject,
                                  const std::string& body, const std::string& format,
                                  bool saveCopy) {
    window_.setStatus("Sending mail ...");
    CVurelClient::sendMessage(to, cc, bcc, subject, body, format, saveCopy);
}

std::string SmtpVurelClient::request(const std::string& method, const std::string& url,
                                     const std::string* cookie, const std::string& headerBlock,
                                     const char* body, std::size_t bodyLength) {
    window_.setDetail(url);
    return CVurelClient::request(method, url, cookie, headerBlock, body, bodyLength);
}

} // namespace quill
