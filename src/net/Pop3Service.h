#pragma once
// The local POP3 server: a listener on the POP3Port setting whose conversations
// report in the POP3 progress window. The POP3 side supplies the session
// factory.

#include "net/ListenerService.h"

namespace quill {

class Pop3Service : public ListenerService {
public:
    Pop3Service(const ServiceSettings& settings, ServiceWindow& window, SessionFactory factory,
                Options options = Options())
        : ListenerService("POP3", settings, &ServiceSettings::pop3Port, window, std::move(factory),
                          std::move(options)) {}
};

} // namespace quill
