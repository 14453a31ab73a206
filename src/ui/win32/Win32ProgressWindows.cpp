// The two progress windows as Win32 dialogs on the host's user-interface thread.
#include "ui/ProgressWindows.h"

#include "ui/ProgressWindow.h"
#include "ui/win32/Win32ProgressWindow.h"

#include <windows.h>

#include <memory>

namespace quill {

namespace {

// Window thread only.
std::shared_ptr<Win32ProgressWindow> pop3Window;
std::shared_ptr<Win32ProgressWindow> smtpWindow;
HHOOK keyboardHook = nullptr;

// Modeless dialogs get Tab and Escape only when the message loop hands them
// to IsDialogMessage. A host's loop need not do that, so the thread's own
// message hook does it for our two dialogs.
LRESULT CALLBACK getMessageHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION && wParam == PM_REMOVE) {
        MSG* message = reinterpret_cast<MSG*>(lParam);
        if (message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST &&
            Win32ProgressWindow::dialogMessage(message)) {
            message->message = WM_NULL;
            message->wParam = 0;
            message->lParam = 0;
        }
    }
    return CallNextHookEx(keyboardHook, code, wParam, lParam);
}

} // namespace

bool ProgressWindows::open() noexcept {
    if (pop3Window || smtpWindow)
        return true;
    try {
        pop3Window = Win32ProgressWindow::create(pop3Progress());
        smtpWindow = Win32ProgressWindow::create(smtpProgress());
        if (!pop3Window || !smtpWindow) {
            close();
            return false;
        }
        keyboardHook =
            SetWindowsHookExA(WH_GETMESSAGE, getMessageHook, nullptr, GetCurrentThreadId());
        pop3Progress().attach(pop3Window);
        smtpProgress().attach(smtpWindow);
        return true;
    } catch (...) {
        close();
        return false;
    }
}

void ProgressWindows::close() noexcept {
    // Detach first: once attach returns, no service thread reaches the window.
    pop3Progress().attach(nullptr);
    smtpProgress().attach(nullptr);
    for (std::shared_ptr<Win32ProgressWindow>* w : {&pop3Window, &smtpWindow}) {
        if (*w) {
            (*w)->destroy();
            w->reset();
        }
    }
    if (keyboardHook) {
        UnhookWindowsHookEx(keyboardHook);
        keyboardHook = nullptr;
    }
}

bool ProgressWindows::isOpen() noexcept {
    return pop3Window != nullptr;
}

} // namespace quill
