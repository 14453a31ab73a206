#include "smtp/VurelSmtpWebmail.h"

#include <utility>

namespace quill {

VurelSmtpWebmail::VurelSmtpWebmail(ServiceWindow& window, SiteConfig site, CookieJar& jar)
    : client_(window, std::move(site), jar), jar_(jar) {}

void VurelSmtpWebmail::setProxy(const std::string& host, int port, const std::string& user,
                                const std::string& password) {
    client_.setProxy(host, port, user, password);
}

void VurelSmtpWebmail::clearProxy() {
    // Only the host decides between proxy and direct; the other fields stay.
    client_.setProxy(std::string(), client_.proxyPort(), client_.proxyUser(),
                     client_.proxyPassword());
}

bool VurelSmtpWebmail::adoptSaved(const std::string& user) {
    const CookieRecord record = jar_.find(user);
    if (record.Cookie.empty()) {
        return false;
    }
    client_.adoptSession(record);
    return true;
}

void VurelSmtpWebmail::login(const std::string& user, const std::string& password) {
    client_.login(user, password);
}

void VurelSmtpWebmail::sendMessage(const std::string& to, const std::string& cc,
                                   const std::string& bcc, const std::string& subject,
                                   const std::string& body, const std::string& format,
                                   bool saveCopy) {
    client_.sendMessage(to, cc, bcc, subject, body, format, saveCopy);
}

void VurelSmtpWebmail::abort() noexcept {
    client_.cancel();
}

} // namespace quill
