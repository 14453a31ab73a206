#pragma once
// The web-mail client of an SMTP conversation: sign-in and sending show their
// step as the window's status first, and every request shows its URL as the
// window's detail line just before it goes out. Results and exceptions pass
// through unchanged.

#include "net/ServiceWindow.h"
#include "webmail/CVurelClient.h"
#include "webmail/CookieJar.h"

namespace quill {

class SmtpVurelClient : public CVurelClient {
public:
    // The window and the jar must outlive the client.
    explicit SmtpVurelClient(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                             CookieJar& jar = CookieJar::instance());

    // "Logging to Vurel server ...", sign-in, then the new session is stored
    // in the jar (not when the sign-in throws).
    void login(const std::string& user, const std::string& password);
    // "Sending mail ...", then the compose form.
    void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                     const std::string& subject, const std::string& body, const std::string& format,
                     bool saveCopy);

    std::string request(const std::string& method, const std::string& url,
                        const std::string* cookie, const std::string& headerBlock, const char* body,
                        std::size_t bodyLength) override;

private:
    ServiceWindow& window_;
    CookieJar& jar_;
};

} // namespace quill
