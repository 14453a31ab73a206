#pragma once
// The plug-in's web-mail side of a POP3 conversation: a Pop3VurelClient that
// reports to the POP3 progress window, and the process-wide CookieJar for the
// saved sessions.
//
// Threads: as Pop3Webmail; abort() cancels the client's exchange in flight.

#include "pop3/Pop3Webmail.h"
#include "webmail/Pop3VurelClient.h"
#include "webmail/VurelAccess.h"

namespace quill {

class VurelPop3Webmail : public VurelAccess<Pop3Webmail, Pop3VurelClient> {
public:
    // window and jar must outlive the object.
    VurelPop3Webmail(ServiceWindow& window, CookieJar& jar)
        : VurelAccess(window, SiteConfig::current(), jar) {}

    MessageList listInbox() override { return client_.listInbox(); }
    std::string fetchHeader(const MessageRef& message) override {
        return client_.fetchHeader(message);
    }
    std::string fetchText(const MessageRef& message) override { return client_.fetchText(message); }
    void deleteMessages(const MessageList& messages) override { client_.deleteMessages(messages); }
    void emptyTrash() override { client_.emptyTrash(); }
};

} // namespace quill
