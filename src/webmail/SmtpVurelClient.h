#pragma once
// The web-mail client of an SMTP conversation: sign-in and sending show their
// step as the window's status first, and every request shows its URL as the
// window's detail line.

#include "webmail/ReportingVurelClient.h"

#include <utility>

namespace quill {

class SmtpVurelClient : public ReportingVurelClient {
public:
    // The window and the jar must outlive the client.
    explicit SmtpVurelClient(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                             CookieJar& jar = CookieJar::instance())
        : ReportingVurelClient(window, std::move(site), jar) {}

    // "Sending mail ...", then the compose form.
    void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                     const std::string& subject, const std::string& body, const std::string& format,
                     bool saveCopy);
};

} // namespace quill
