#pragma once
// The plug-in's SMTP server: the SMTP listener (on the SMTPPort setting) whose
// every accepted connection becomes an SmtpSession with a fresh web-mail
// client that reports in the SMTP progress window and keeps its sign-ins in
// the cookie jar.
//
// Threads: made, started and stopped on the host's thread; the conversations
// run on the service thread.

#include "net/SmtpService.h"

#include <memory>

namespace quill {

class CookieJar;
class ServiceSettings;
class ServiceWindow;

// settings, window and jar must outlive the server. options: the time-outs of
// accepted connections, of the conversations' web-mail exchanges, and the
// address to bind (tests shorten and vary them).
std::unique_ptr<SmtpService> makeSmtpServer(const ServiceSettings& settings, ServiceWindow& window,
                                            CookieJar& jar, ListenerService::Options options = {});

} // namespace quill
