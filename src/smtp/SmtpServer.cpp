#include "smtp/SmtpServer.h"

#include "net/CBlockSocket.h"
#include "smtp/SmtpSession.h"
#include "webmail/SmtpVurelClient.h"

#include <utility>

namespace quill {

std::unique_ptr<SmtpService> makeSmtpServer(const ServiceSettings& settings, ServiceWindow& window,
                                            CookieJar& jar, ListenerService::Options options) {
    const auto bounds = options.webmail;
    auto factory = [&settings, &window, &jar,
                    bounds](CBlockSocket connection) -> std::unique_ptr<Session> {
        // The site addresses are taken afresh for each conversation.
        auto webmail = std::make_unique<SmtpVurelClient>(window, SiteConfig::current(), jar);
        webmail->applyBounds(bounds);
        return std::make_unique<SmtpSession>(std::make_shared<CBlockSocket>(connection),
                                             std::move(webmail), settings);
    };
    return std::make_unique<SmtpService>(settings, window, std::move(factory), std::move(options));
}

} // namespace quill
