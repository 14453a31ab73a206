#pragma once
// The web-mail side of one POP3 conversation, as Pop3Session uses it. The
// plug-in's implementation (VurelPop3Webmail) is a Pop3VurelClient plus the
// process-wide CookieJar; session tests put a scripted fake in its place.
//
// Errors: the operations that talk to the site throw CVurelClient::Error
// (CVurelClient::InvalidCookie when the saved cookies no longer open the mail
// pages) and let the CBlockSocket exceptions of the connection pass through.
//
// Threads: owned by the session and used on its service thread only, except
// abort(), which the Cancel button calls from the user-interface thread.

#include "webmail/MessageList.h"

#include <string>

namespace quill {

class Pop3Webmail {
public:
    virtual ~Pop3Webmail() = default;

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

    // The inbox in listing order ("Fetching messages from Inbox ...").
    virtual MessageList listInbox() = 0;
    // The message's raw header and raw text, as the site delivers them.
    virtual std::string fetchHeader(const MessageRef& message) = 0;
    virtual std::string fetchText(const MessageRef& message) = 0;
    // Deletes the messages on the site, all in one request; the same message
    // may be given more than once.
    virtual void deleteMessages(const MessageList& messages) = 0;
    virtual void emptyTrash() = 0;

    // Closes the HTTP connection in flight, if any. Any thread; never throws.
    virtual void abort() noexcept = 0;
};

} // namespace quill
