#pragma once
// The socket library's process-wide start-up. Idempotent and thread-safe: the
// first call does the work, later calls return its result. The socket calls in
// Socket.h start it themselves, so only code that must report a failure up
// front (the library's initialisation) needs to call it.

namespace quill::platform {

bool startSockets();

} // namespace quill::platform
