#include "pop3/VurelPop3Webmail.h"

#include "webmail/CookieJar.h"

namespace quill {

VurelPop3Webmail::VurelPop3Webmail(ServiceWindow& window, CookieJar& jar)
    : jar_(jar), client_(window, SiteConfig::current(), jar) {}

void VurelPop3Webmail::setProxy(const std::string& host, int port, const std::string& user,
                                const std::string& password) {
    client_.setProxy(host, port, user, password);
}

void VurelPop3Webmail::clearProxy() {
    // Only the host goes: without it requests are direct.
    client_.setProxy(std::string(), client_.proxyPort(), client_.proxyUser(),
                     client_.proxyPassword());
}

bool VurelPop3Webmail::adoptSaved(const std::string& user) {
    const CookieRecord record = jar_.find(user);
    if (record.Cookie.empty()) {
        return false;
    }
    client_.adoptSession(record);
    return true;
}

void VurelPop3Webmail::login(const std::string& user, const std::string& password) {
    client_.login(user, password);
}

MessageList VurelPop3Webmail::listInbox() { return client_.listInbox(); }

std::string VurelPop3Webmail::fetchHeader(const MessageRef& message) {
    return client_.fetchHeader(message);
}

std::string VurelPop3Webmail::fetchText(const MessageRef& message) {
    return client_.fetchText(message);
}

void VurelPop3Webmail::deleteMessages(const MessageList& messages) {
    client_.deleteMessages(messages);
}

void VurelPop3Webmail::emptyTrash() { client_.emptyTrash(); }

void VurelPop3Webmail::abort() noexcept { client_.cancel(); }

} // namespace quill
