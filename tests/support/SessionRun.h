#pragma once
// Runs a session as its listener does: whatever run() throws is caught there,
// so a test sees only whether an exception ended the conversation.

#include "net/Session.h"
#include "support/Gate.h"

#include <thread>

namespace quill {

// Returns true when run() ended by an exception.
inline bool runToEnd(Session& session) noexcept {
    try {
        session.run();
        return false;
    } catch (...) {
        return true;
    }
}

// Runs session on a thread of its own, presses Cancel (abort) once a fake's
// call has entered gate, and returns when the run has ended; false when no
// call entered in time.
inline bool cancelWhenEntered(Session& session, Gate& gate) {
    std::thread service([&session] { runToEnd(session); });
    const bool entered = gate.waitEntered();
    session.abort();
    service.join();
    return entered;
}

} // namespace quill
