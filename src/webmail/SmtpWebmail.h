#pragma once
// The web-mail side of one SMTP conversation, as SmtpSession uses it: an SmtpVurelClient
// in the plug-in, a scripted fake in session tests.
//
// Errors: the operations that talk to the site throw CVurelClient::Error
// (CVurelClient::InvalidCookie when the saved cookies no longer open the mail
// pages) and let the CBlockSocket exceptions of the connection pass through.
//
// Threads: owned by the session and used on its service thread only, except
// abort(), which the Cancel button calls from the user-interface thread.

#include "webmail/WebmailAccess.h"

#include <string>

namespace quill {

class SmtpWebmail : public WebmailAccess {
public:
    // The sign-in, the proxy and Cancel come from WebmailAccess.
    // Posts one message through the compose form ("Sending mail ..."); returns
    // only when the site has answered that the message was sent.
    virtual void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                             const std::string& subject, const std::string& body,
                             const std::string& format, bool saveCopy) = 0;
};

} // namespace quill
