#include "webmail/ReportingVurelClient.h"

#include "webmail/PasswordVerifier.h"

#include <utility>

namespace quill {

ReportingVurelClient::ReportingVurelClient(ServiceWindow& window, SiteConfig site, CookieJar& jar)
    : CVurelClient(std::move(site)), window_(window), jar_(jar) {}

void ReportingVurelClient::login(const std::string& user, const std::string& password) {
    window_.setStatus("Logging to Vurel server ...");
    CVurelClient::login(user, password);
    CookieRecord saved = session();
    saved.Verifier = PasswordVerifier::make(password);
    jar_.store(saved);
}

std::string ReportingVurelClient::request(const std::string& method, const std::string& url,
                                          const std::string* cookie,
                                          const std::string& headerBlock, const char* body,
                                          std::size_t bodyLength) {
    window_.setDetail(url);
    return CVurelClient::request(method, url, cookie, headerBlock, body, bodyLength);
}

} // namespace quill
