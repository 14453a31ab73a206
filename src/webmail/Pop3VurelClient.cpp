#include "webmail/Pop3VurelClient.h"

namespace quill {

MessageList Pop3VurelClient::listInbox() {
    window().setStatus("Fetching messages from Inbox ...");
    return CVurelClient::listInbox();
}

std::string Pop3VurelClient::fetchHeader(const MessageRef& message) {
    window().setStatus("Retrieving mail header ...");
    return CVurelClient::fetchHeader(message);
}

std::string Pop3VurelClient::fetchText(const MessageRef& message) {
    window().setStatus("Retrieving mail body ...");
    return CVurelClient::fetchText(message);
}

void Pop3VurelClient::deleteMessages(const MessageList& messages) {
    window().setStatus("Deleting mail ...");
    CVurelClient::deleteMessages(messages);
}

void Pop3VurelClient::emptyTrash() {
    window().setStatus("Emptying Trash ...");
    CVurelClient::emptyTrash();
}

} // namespace quill
