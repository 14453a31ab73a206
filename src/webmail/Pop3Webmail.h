#pragma once
// The web-mail side of one POP3 conversation, as Pop3Session uses it: a Pop3VurelClient
// in the plug-in, a scripted fake in session tests.
//
// Errors: the operations that talk to the site throw CVurelClient::Error
// (CVurelClient::InvalidCookie when the saved cookies no longer open the mail
// pages) and let the CBlockSocket exceptions of the connection pass through.
//
// Threads: owned by the session and used on its service thread only, except
// abort(), which the Cancel button calls from the user-interface thread.

#include "webmail/MessageList.h"
#include "webmail/WebmailAccess.h"

#include <cstddef>
#include <string>

namespace quill {

class Pop3Webmail : public WebmailAccess {
public:
    // The sign-in, the proxy and Cancel come from WebmailAccess.
    // The inbox in listing order ("Fetching messages from Inbox ...").
    virtual MessageList listInbox() = 0;
    // The message's raw header and raw text, as the site delivers them.
    virtual std::string fetchHeader(const MessageRef& message) = 0;
    virtual std::string fetchText(const MessageRef& message) = 0;
    // The raw header and, when withText, the raw text of mailbox[index] (the
    // conversation's listing), as fetchHeader and fetchText give them; throws
    // as they do. A client may fetch both at once and read the messages after
    // it ahead; this one fetches the header, then the text.
    virtual void fetchMessage(const MessageList& mailbox, std::size_t index, bool withText,
                              std::string& header, std::string& text) {
        header = fetchHeader(mailbox[index]);
        if (withText) {
            text = fetchText(mailbox[index]);
        }
    }
    // Deletes the messages on the site, all in one request; the same message
    // may be given more than once.
    virtual void deleteMessages(const MessageList& messages) = 0;
    virtual void emptyTrash() = 0;
};

} // namespace quill
