#pragma once
// The web-mail client of a POP3 conversation: every operation the POP3 session
// uses shows its step as the window's status first, and every request shows
// its URL as the window's detail line.

#include "webmail/ReportingVurelClient.h"

#include <utility>

namespace quill {

class Pop3VurelClient : public ReportingVurelClient {
public:
    // The window and the jar must outlive the client.
    explicit Pop3VurelClient(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                             CookieJar& jar = CookieJar::instance())
        : ReportingVurelClient(window, std::move(site), jar) {}

    // "Fetching messages from Inbox ..."
    MessageList listInbox();
    // "Retrieving mail header ..." / "Retrieving mail body ..."
    std::string fetchHeader(const MessageRef& message);
    std::string fetchText(const MessageRef& message);
    // "Deleting mail ..." / "Emptying Trash ..."
    void deleteMessages(const MessageList& messages);
    void emptyTrash();
};

} // namespace quill
