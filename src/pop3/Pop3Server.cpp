#include "pop3/Pop3Server.h"

#include "pop3/Pop3Session.h"
#include "pop3/VurelPop3Webmail.h"
#include "webmail/SocketChannel.h"

namespace quill {

std::unique_ptr<Pop3Service> makePop3Server(const ServiceSettings& settings, ServiceWindow& window,
                                            CookieJar& jar, ListenerService::Options options) {
    auto factory = [&settings, &window, &jar](CBlockSocket connection) -> std::unique_ptr<Session> {
        return std::make_unique<Pop3Session>(std::make_shared<SocketChannel>(connection),
                                             std::make_unique<VurelPop3Webmail>(window, jar),
                                             settings, window);
    };
    return std::make_unique<Pop3Service>(settings, window, factory, std::move(options));
}

} // namespace quill
