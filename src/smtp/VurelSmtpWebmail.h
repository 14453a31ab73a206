#pragma once
// The plug-in's web-mail side of an SMTP conversation: an SmtpVurelClient
// (status and request URLs in the SMTP progress window) and the cookie jar that
// keeps signed-in sessions between conversations.
//
// Threads: the conversation's thread; abort() from any thread.

#include "smtp/SmtpWebmail.h"
#include "webmail/SmtpVurelClient.h"
#include "webmail/VurelAccess.h"

namespace quill {

class VurelSmtpWebmail : public VurelAccess<SmtpWebmail, SmtpVurelClient> {
public:
    // The window and the jar must outlive the object.
    explicit VurelSmtpWebmail(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                              CookieJar& jar = CookieJar::instance())
        : VurelAccess(window, std::move(site), jar) {}

    void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                     const std::string& subject, const std::string& body, const std::string& format,
                     bool saveCopy) override {
        client_.sendMessage(to, cc, bcc, subject, body, format, saveCopy);
    }
};

} // namespace quill
