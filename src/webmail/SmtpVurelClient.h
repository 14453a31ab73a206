#pragma once
// The web-mail client of an SMTP conversation: sign-in and sending show their
// step as the window's status first, and every request shows its URL as the
// window's detail line; new sign-ins are kept in the jar.

#include "webmail/CVurelClient.h"
#include "webmail/SmtpWebmail.h"

#include <utility>

namespace quill {

class SmtpVurelClient final : public CVurelClient, public SmtpWebmail {
public:
    // The window and the jar must outlive the client.
    explicit SmtpVurelClient(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                             CookieJar& jar = CookieJar::instance())
        : CVurelClient(std::move(site), &window, &jar) {}

    void useProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password) override {
        setProxy(host, port, user, password);
    }
    void useDirect() override { goDirect(); }
    bool adoptSaved(const std::string& user, const std::string& password) override {
        return adoptKept(user, password);
    }
    // "Logging to Vurel server ...", sign-in, then the session goes to the jar.
    void login(const std::string& user, const std::string& password) override {
        signInAndKeep(user, password);
    }
    void abort() noexcept override { cancel(); }

    // "Sending mail ...", then the compose form.
    void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                     const std::string& subject, const std::string& body, const std::string& format,
                     bool saveCopy) override;
};

} // namespace quill
