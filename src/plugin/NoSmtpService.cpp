// The factory of a build without the SMTP server.
#include "plugin/PluginServices.h"

namespace quill {

std::unique_ptr<ListenerService> makeSmtpService(const ServiceSettings&, ServiceWindow&) {
    return nullptr;
}

} // namespace quill
