#pragma once
// Waiting for the user to end a console program: SIGINT or SIGTERM on POSIX
// systems, Ctrl-C, Ctrl-Break or closing the console on Windows.

namespace quill::platform {

// Installs the handlers; call early (before threads start) so that a request
// that comes before waitForTermination is not lost. Idempotent.
void watchTermination();
// Blocks until termination has been requested (installing the handlers if
// needed). Returns at once when it already was.
void waitForTermination();
// Requests termination from inside the program, as a signal would.
void requestTermination();

} // namespace quill::platform
