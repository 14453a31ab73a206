#include "webmail/Pop3VurelClient.h"

namespace quill {

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
    showStatus("Deleting mail ...");
    CVurelClient::deleteMessages(messages);
}

void Pop3VurelClient::emptyTrash() {
    showStatus("Emptying Trash ...");
    CVurelClient::emptyTrash();
}

} // namespace quill
