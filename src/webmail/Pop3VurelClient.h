#pragma once
// The web-mail client of a POP3 conversation: every operation the POP3 session
// uses shows its step as the window's status first, and every request shows
// its URL as the window's detail line; new sign-ins are kept in the jar.

#include "webmail/CVurelClient.h"
#include "webmail/Pop3Webmail.h"
#include "webmail/ReadAhead.h"

#include <utility>

namespace quill {

class Pop3VurelClient final : public CVurelClient, public Pop3Webmail {
public:
    // The window and the jar must outlive the client.
    explicit Pop3VurelClient(ServiceWindow& window, SiteConfig site = SiteConfig::current(),
                             CookieJar& jar = CookieJar::instance());
    // Ends the fetches still in flight (messages read ahead and never asked
    // for) before anything of the client goes.
    ~Pop3VurelClient() override;

    void useProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password) override {
        setProxy(host, port, user, password);
    }
    void useDirect() override { goDirect(); }
    bool adoptSaved(const std::string& user, const std::string& password) override {
        return adoptKept(user, password);
    }
    // "Logging to Vurel server ...", sign-in, then the session goes to the jar.
    void login(const std::string& user, const std::string& password) override {
        signInAndKeep(user, password);
    }
    void abort() noexcept override { cancel(); }

    // "Fetching messages from Inbox ..."
    MessageList listInbox() override;
    // "Retrieving mail header ..." / "Retrieving mail body ..."
    std::string fetchHeader(const MessageRef& message) override;
    std::string fetchText(const MessageRef& message) override;
    // Header and text at once, the messages after it read ahead (ReadAhead);
    // the window shows the step of the message asked for.
    void fetchMessage(const MessageList& mailbox, std::size_t index, bool withText,
                      std::string& header, std::string& text) override;
    // "Deleting mail ..." / "Emptying Trash ..."
    void deleteMessages(const MessageList& messages) override;
    void emptyTrash() override;

private:
    ReadAhead readAhead_;
};

} // namespace quill
