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
        if (stopEvent != nullptr)
            ::SetEvent(stopEvent);
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

void watchTermination() {
    std::call_once(installed, install);
}

void waitForTermination() {
    watchTermination();
    if (stopEvent == nullptr)
        return;
    // The waiting thread is the program's user-interface thread: windows it
    // created (a plug-in's modeless dialogs) get their messages meanwhile.
    for (;;) {
        DWORD woken = ::MsgWaitForMultipleObjects(1, &stopEvent, FALSE, INFINITE, QS_ALLINPUT);
        if (woken != WAIT_OBJECT_0 + 1)
            return; // the event, or a failed wait
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
}

void requestTermination() {
    watchTermination();
    if (stopEvent != nullptr)
        ::SetEvent(stopEvent);
}

} // namespace quill::platform
