#pragma once
// The local SMTP server: a listener on the SMTPPort setting whose conversations
// report in the SMTP progress window. The SMTP side supplies the session
// factory.

#include "net/ListenerService.h"

namespace quill {

class SmtpService : public ListenerService {
public:
    SmtpService(const ServiceSettings& settings, ServiceWindow& window, SessionFactory factory,
                Options options = Options())
        : ListenerService("SMTP", settings, &ServiceSettings::smtpPort, window, std::move(factory),
                          std::move(options)) {}
};

} // namespace quill
