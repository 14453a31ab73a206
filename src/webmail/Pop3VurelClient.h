#pragma once
// The web-mail client of a POP3 conversation: every operation the POP3 session
// uses shows its step as the window's status first, and every request shows
// its URL as the window's detail line just before it goes out. Results and
// exceptions pass through unchanged.

#include "net/ServiceWindow.h"
#include "webmail/CVurelClient.h"
#include "webmail/CookieJar.h"

namespace quill {

class Pop3VurelClient : public CVurelClient {
public:
    // The window and the jar must outlive the client.
    explicit Pop3VurelClient(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                             CookieJar& jar = CookieJar::instance());

    // "Logging to Vurel server ...", sign-in, then the new session is stored
    // in the jar (not when the sign-in throws).
    void login(const std::string& user, const std::string& password);
    // "Fetching messages from Inbox ..."
    MessageList listInbox();
    // "Retrieving mail header ..." / "Retrieving mail body ..."
    std::string fetchHeader(const MessageRef& message);
    std::string fetchText(const MessageRef& message);
    // "Deleting mail ..." / "Emptying Trash ..."
    void deleteMessages(const MessageList& messages);
    void emptyTrash();

    std::string request(const std::string& method, const std::string& url,
                        const std::string* cookie, const std::string& headerBlock, const char* body,
                        std::size_t bodyLength) override;

private:
    ServiceWindow& window_;
    CookieJar& jar_;
};

} // namespace quill
