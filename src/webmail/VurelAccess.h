#pragma once
// WebmailAccess over one of our reporting site clients and the cookie jar that
// keeps signed-in sessions between conversations. Interface is the
// conversation's web-mail interface (derived from WebmailAccess); Client is
// the ReportingVurelClient that serves it.

#include "webmail/CookieJar.h"
#include "webmail/PasswordVerifier.h"
#include "webmail/SiteConfig.h"

#include <string>
#include <utility>

namespace quill {

class ServiceWindow;

template <class Interface, class Client> class VurelAccess : public Interface {
public:
    // The window and the jar must outlive the object.
    VurelAccess(ServiceWindow& window, SiteConfig site, CookieJar& jar)
        : client_(window, std::move(site), jar), jar_(jar) {}

    void setProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password) override {
        client_.setProxy(host, port, user, password);
    }
    void clearProxy() override {
        // Only the host decides between proxy and direct; the other fields stay.
        client_.setProxy(std::string(), client_.proxyPort(), client_.proxyUser(),
                         client_.proxyPassword());
    }
    bool adoptSaved(const std::string& user, const std::string& password) override {
        const CookieRecord record = jar_.find(user);
        if (record.Cookie.empty() || !PasswordVerifier::matches(record.Verifier, password)) {
            return false;
        }
        client_.adoptSession(record);
        return true;
    }
    void login(const std::string& user, const std::string& password) override {
        client_.login(user, password);
    }
    void abort() noexcept override { client_.cancel(); }

    Client& client() { return client_; }

protected:
    Client client_;

private:
    CookieJar& jar_;
};

} // namespace quill
