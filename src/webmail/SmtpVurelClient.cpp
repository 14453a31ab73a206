#include "webmail/SmtpVurelClient.h"

namespace quill {

void SmtpVurelClient::sendMessage(const std::string& to, const std::string& cc,
                                  const std::string& bcc, const std::string& subject,
                                  const std::string& body, const std::string& format,
                                  bool saveCopy) {
    showStatus("Sending mail ...");
    CVurelClient::sendMessage(to, cc, bcc, subject, body, format, saveCopy);
}

} // namespace quill
