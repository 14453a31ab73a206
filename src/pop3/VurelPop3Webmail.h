#pragma once
// The plug-in's web-mail side of a POP3 conversation: a Pop3VurelClient that
// reports to the POP3 progress window, and the process-wide CookieJar for the
// saved sessions.
//
// Threads: as Pop3Webmail; abort() cancels the client's exchange in flight.

#include "pop3/Pop3Webmail.h"
#include "webmail/Pop3VurelClient.h"

namespace quill {

class CookieJar;
class ServiceWindow;

class VurelPop3Webmail : public Pop3Webmail {
public:
    // window and jar must outlive the object.
    VurelPop3Webmail(ServiceWindow& window, CookieJar& jar);

    void setProxy(const std::string& host, int port, const std::string& user,
                  const std::string& password) override;
    void clearProxy() override;
    bool adoptSaved(const std::string& user) override;
    void login(const std::string& user, const std::string& password) override;
    MessageList listInbox() override;
    std::string fetchHeader(const MessageRef& message) override;
    std::string fetchText(const MessageRef& message) override;
    void deleteMessages(const MessageList& messages) override;
    void emptyTrash() override;
    void abort() noexcept override;

    Pop3VurelClient& client() { return client_; }

private:
    CookieJar& jar_;
    Pop3VurelClient client_;
};

} // namespace quill
