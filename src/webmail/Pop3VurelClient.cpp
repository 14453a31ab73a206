#include "webmail/Pop3VurelClient.h"

#include <utility>

namespace quill {

Pop3VurelClient::Pop3VurelClient(ServiceWindow& window, SiteConfig site, CookieJar& jar)
    : CVurelClient(std::move(site)), window_(window), jar_(jar) {}

void Pop3VurelClient::login(const std::string& user, const std::string& password) {
    window_.setStatus("Logging to Vurel server ...");
    CVurelClient::login(user, password);
    jar_.store(session());
}

MessageList Pop3VurelClient::listInbox() {
    window_.setStatus("Fetching messages from Inbox ...");
    return CVurelClient::listInbox();
}

std::string Pop3VurelClient::fetchHeader(const MessageRef& message) {
    window_.setStatus("Retrieving mail header ...");
    return CVurelClient::fetchHeader(message);
}

std::string Pop3VurelClient::fetchText(const MessageRef& message) {
    window_.setStatus("Retrieving mail body ...");
    return CVurelClient::fetchText(message);
}

void Pop3VurelClient::deleteMessages(const MessageList& messages) {
    window_.setStatus("Deleting mail ...");
    CVurelClient::deleteMessages(messages);
}

void Pop3VurelClient::emptyTrash() {
    window_.setStatus("Emptying Trash ...");
    CVurelClient::emptyTrash();
}

std::string Pop3VurelClient::request(const std::string& method, const std::string& url,
                                     const std::string* cookie, const std::string& headerBlock,
                                     const char* body, std::size_t bodyLength) {
    window_.setDetail(url);
    return CVurelClient::request(method, url, cookie, headerBlock, body, bodyLength);
}

} // namespace quill
