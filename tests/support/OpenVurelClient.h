#pragma once
// A CVurelClient whose page operations are public, for the tests and fuzz
// targets of those operations themselves: no window, no cookie jar.

#include "webmail/CVurelClient.h"

#include <utility>

namespace quill {

class OpenVurelClient : public CVurelClient {
public:
    explicit OpenVurelClient(SiteConfig site = SiteConfig::current())
        : CVurelClient(std::move(site)) {}

    using CVurelClient::deleteMessages;
    using CVurelClient::emptyTrash;
    using CVurelClient::fetchHeader;
    using CVurelClient::fetchPart;
    using CVurelClient::fetchText;
    using CVurelClient::listInbox;
    using CVurelClient::login;
    using CVurelClient::mailUrl;
    using CVurelClient::sendMessage;
};

} // namespace quill
