#include "webmail/Pop3VurelClient.h"

#include <utility>

namespace quill {

Pop3VurelClient::Pop3VurelClient(ServiceWindow& window, SiteConfig site, CookieJar& jar)
    : CVurelClient(std::move(site), &window, &jar),
      readAhead_(requestPool(), [this](const MessageRef& message, bool text) {
          return CVurelClient::fetchPart(message, text ? "TEXT" : "HEADER");
      }) {}

Pop3VurelClient::~Pop3VurelClient() {
    endRequests();
}

void Pop3VurelClient::fetchMessage(const MessageList& mailbox, std::size_t index, bool withText,
                                   std::string& header, std::string& text) {
    readAhead_.take(
        mailbox, index, withText, header, text, [this](const MessageRef& message, bool part) {
            showStatus(part ? "Retrieving mail body ..." : "Retrieving mail header ...");
            showDetail(printUrl(message, part ? "TEXT" : "HEADER"));
        });
}

MessageList Pop3VurelClient::listInbox() {
    showStatus("Fetching messages from Inbox ...");
    return CVurelClient::listInbox();
}

std::string Pop3VurelClient::fetchHeader(const MessageRef& message) {
    showStatus("Retrieving mail header ...");
    return CVurelClient::fetchHeader(message);
}

std::string Pop3VurelClient::fetchText(const MessageRef& message) {
    showStatus("Retrieving mail body ...");
    return CVurelClient::fetchText(message);
}

void Pop3VurelClient::deleteMessages(const MessageList& messages) {
    // Nothing read ahead runs beside the deletion.
    readAhead_.settle();
    showStatus("Deleting mail ...");
    CVurelClient::deleteMessages(messages);
}

void Pop3VurelClient::emptyTrash() {
    showStatus("Emptying Trash ...");
    CVurelClient::emptyTrash();
}

} // namespace quill
