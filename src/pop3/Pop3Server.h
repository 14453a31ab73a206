#pragma once
// The plug-in's POP3 server: the POP3 listener (on the POP3Port setting) whose
// every accepted connection becomes a Pop3Session with a fresh web-mail client
// that reports in the POP3 progress window and keeps its sign-ins in the
// cookie jar.
//
// Threads: made, started and stopped on the host's thread; the conversations
// run on the service thread.

#include "net/Pop3Service.h"

#include <memory>

namespace quill {

class CookieJar;
class ServiceSettings;
class ServiceWindow;

// settings, window and jar must outlive the server. options: the time-outs of
// accepted connections, of the conversations' web-mail exchanges, and the
// address to bind (tests shorten and vary them).
std::unique_ptr<Pop3Service> makePop3Server(const ServiceSettings& settings, ServiceWindow& window,
                                            CookieJar& jar, ListenerService::Options options = {});

} // namespace quill
