#include "platform/SocketStartup.h"

#include <winsock2.h>

namespace quill::platform {

namespace {
// Winsock stays started until the process ends: sockets may be in use on
// service threads right up to then.
struct Startup {
    bool ok = false;
    Startup() {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
};
} // namespace

bool startSockets() {
    static const Startup startup; // thread-safe one-time initialisation
    return startup.ok;
}

} // namespace quill::platform
