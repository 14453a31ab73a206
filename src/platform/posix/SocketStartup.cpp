#include "platform/SocketStartup.h"

namespace quill::platform {

// BSD sockets need no start-up.
bool startSockets() {
    return true;
}

} // namespace quill::platform
