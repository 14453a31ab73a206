#include "pop3/Pop3Server.h"

#include "net/CBlockSocket.h"
#include "pop3/Pop3Session.h"
#include "webmail/Pop3VurelClient.h"

namespace quill {

std::unique_ptr<Pop3Service> makePop3Server(const ServiceSettings& settings, ServiceWindow& window,
                                            CookieJar& jar, ListenerService::Options options) {
    const auto bounds = options.webmail;
    auto factory = [&settings, &window, &jar,
                    bounds](CBlockSocket connection) -> std::unique_ptr<Session> {
        // The site addresses are taken afresh for each conversation.
        auto webmail = std::make_unique<Pop3VurelClient>(window, SiteConfig::current(), jar);
        webmail->applyBounds(bounds);
        return std::make_unique<Pop3Session>(std::make_shared<CBlockSocket>(connection),
                                             std::move(webmail), settings, window);
    };
    return std::make_unique<Pop3Service>(settings, window, std::move(factory), std::move(options));
}

} // namespace quill
