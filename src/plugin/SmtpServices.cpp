// The SMTP server of the plug-in.
#include "plugin/PluginServices.h"

#include "smtp/SmtpServer.h"

namespace quill {

std::unique_ptr<ListenerService> makeSmtpService(const ServiceSettings& settings,
                                                 ServiceWindow& window) {
    return makeSmtpServer(settings, window);
}

} // namespace quill
