#pragma once
// The local servers the plug-in runs, each made by its own subsystem's
// factory: Pop3Services.cpp over pop3/Pop3Server.h, SmtpServices.cpp over
// smtp/SmtpServer.h (a build without the SMTP side links NoSmtpService.cpp,
// which makes none). The lifecycle starts them at
// BKC_OnStart and stops and joins them at BKC_OnExit.

#include "net/ListenerService.h"

#include <memory>

namespace quill {

class ServiceSettings;
class ServiceWindow;

// The POP3 server on the POP3Port setting; its conversations report in window.
std::unique_ptr<ListenerService> makePop3Service(const ServiceSettings& settings,
                                                 ServiceWindow& window);
// The SMTP server on the SMTPPort setting, or null when this build has none.
std::unique_ptr<ListenerService> makeSmtpService(const ServiceSettings& settings,
                                                 ServiceWindow& window);

} // namespace quill
