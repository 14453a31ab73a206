#pragma once
// The plug-in's web-mail side of an SMTP conversation: an SmtpVurelClient
// (status and request URLs in the SMTP progress window) and the cookie jar that
// keeps signed-in sessions between conversations.
//
// Threads: the conversation's thread; abort() from any thread.

#include "smtp/SmtpWebmail.h"
#include "webmail/CookieJar.h"
#include "webmail/SmtpVurelClient.h"

namespace quill {

class ServiceWindow;

class VurelSmtpWebmail : public SmtpWebmail {
public:
    // The window and the jar must outlive the object.
    explicit VurelSmtpWebmail(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                              CookieJar& jar = CookieJar::instance());

    void setProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password) override;
    void clearProxy() override;
    bool adoptSaved(const std::string& user) override;
    void login(const std::string& user, const std::string& password) override;
    void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                     const std::string& subject, const std::string& body, const std::string& format,
                     bool saveCopy) override;
    void abort() noexcept override;

    SmtpVurelClient& client() { return client_; }

private:
    SmtpVurelClient client_;
    CookieJar& jar_;
};

} // namespace quill
