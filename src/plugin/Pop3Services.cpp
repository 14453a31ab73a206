// The POP3 server of the plug-in.
#include "plugin/PluginServices.h"

#include "pop3/Pop3Server.h"
#include "webmail/CookieJar.h"

namespace quill {

std::unique_ptr<ListenerService> makePop3Service(const ServiceSettings& settings,
                                                 ServiceWindow& window) {
    return makePop3Server(settings, window, CookieJar::instance());
}

} // namespace quill
