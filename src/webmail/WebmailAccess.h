#pragma once
// What every conversation's web-mail side offers for reaching the site: the
// proxy, the saved sessions, the sign-in and Cancel. Pop3Webmail and
// SmtpWebmail add each service's operations; the service variants of
// CVurelClient implement them, session tests put a scripted fake in their place.
//
// Errors: login throws CVurelClient::Error and lets the CBlockSocket
// exceptions of the connection pass through.
//
// Threads: used on the conversation's service thread only, except abort(),
// which the Cancel button calls from the user-interface thread.

#include <string>

namespace quill {

class WebmailAccess {
public:
    virtual ~WebmailAccess() = default;
    // Requests go through this HTTP proxy; an empty host means direct requests.
    virtual void useProxy(const std::string& host, int port, const std::string& user,
                          const std::string& password) = 0;
    // Requests go direct; the other proxy fields are left as they are.
    virtual void useDirect() = 0;
    // Looks the user up among the saved web-mail sessions and, when a valid one
    // is there and was signed in with this password, adopts it (no network
    // traffic). Returns whether it adopted one; an empty password never does.
    virtual bool adoptSaved(const std::string& user, const std::string& password) = 0;
    // Signs in ("Logging to Vurel server ...") and saves the new session.
    virtual void login(const std::string& user, const std::string& password) = 0;
    // Closes the HTTP connection in flight, if any. Any thread; never throws.
    virtual void abort() noexcept = 0;
};

} // namespace quill
