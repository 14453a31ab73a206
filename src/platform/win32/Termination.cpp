#include "platform/Termination.h"

#include <windows.h>

#include <mutex>

namespace quill::platform {

namespace {

// A manual-reset event set by the console handler; it stays set, so every
// later wait returns at once. Created once, kept until the process ends.
HANDLE stopEvent = nullptr;
std::once_flag installed;

BOOL WINAPI onConsoleEvent(DWORD type) {
    switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        if (stopEvent != nullptr) ::SetEvent(stopEvent);
        return TRUE;
    default:
        return FALSE;
    }
}

void install() {
    stopEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ::SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

} // namespace

void watchTermination() { std::call_once(installed, install); }

void waitForTermination() {
    watchTermination();
    if (stopEvent == nullptr) return;
    ::WaitForSingleObject(stopEvent, INFINITE);
}

void requestTermination() {
    watchTermination();
    if (stopEvent != nullptr) ::SetEvent(stopEvent);
}

} // namespace quill::platform
