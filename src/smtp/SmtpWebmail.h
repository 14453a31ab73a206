#pragma once
// The web-mail side of one SMTP conversation, as SmtpSession uses it. The
// plug-in's implementation (VurelWebmail) is an SmtpVurelClient plus the
// process-wide CookieJar; session tests put a scripted fake in its place.
//
// Errors: the operations that talk to the site throw CVurelClient::Error
// (CVurelClient::InvalidCookie when the saved cookies no longer open the mail
// pages) and let the CBlockSocket exceptions of the connection pass through.
//
// Threads: owned by the session and used on its service thread only, except
// abort(), which the Cancel button calls from the user-interface thread.

#include <string>

namespace quill {

class SmtpWebmail {
public:
    virtual ~SmtpWebmail() = default;

    // Requests go through this HTTP proxy; an empty host means direct requests.
    virtual void setProxy(const std::string& host, int port, const std::string& user,
                          const std::string& password) = 0;
    // Requests go direct; the other proxy fields are left as they are.
    virtual void clearProxy() = 0;

    // Looks the user up among the saved web-mail sessions and, when a valid one
    // is there, adopts it (no network traffic). Returns whether it adopted one.
    virtual bool adoptSaved(const std::string& user) = 0;

    // Signs in ("Logging to Vurel server ...") and saves the new session.
    virtual void login(const std::string& user, const std::string& password) = 0;

    // Posts one message through the compose form ("Sending mail ..."); returns
    // only when the site has answered that the message was sent.
    virtual void sendMessage(const std::string& to, const std::string& cc, const std::string& bcc,
                             const std::string& subject, const std::string& body,
                             const std::string& format, bool saveCopy) = 0;

    // Closes the HTTP connection in flight, if any. Any thread; never throws.
    virtual void abort() noexcept = 0;
};

} // namespace quill
