#include "ui/win32/Win32ProgressWindow.h"

#include "ui/ProgressWindow.h"
#include "ui/win32/ResourceModule.h"
#include "ui/win32/resource.h"

#include <commctrl.h>

#include <utility>
#include <vector>

namespace quill {

namespace {

// Posted to the dialog when changes are waiting in its queue.
constexpr UINT wakeMessage = WM_APP + 0x51;

// The dialogs that exist on this thread, for the keyboard hook. Window thread only.
std::vector<HWND> liveDialogs;

} // namespace

std::shared_ptr<Win32ProgressWindow> Win32ProgressWindow::create(ProgressWindow& owner) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_ANIMATE_CLASS};
    InitCommonControlsEx(&controls);

    std::shared_ptr<Win32ProgressWindow> window(new Win32ProgressWindow(owner));
    HWND handle =
        CreateDialogParamA(resourceModule(), MAKEINTRESOURCEA(IDD_PROGRESS), GetDesktopWindow(),
                           dialogProc, reinterpret_cast<LPARAM>(window.get()));
    if (!handle)
        return nullptr;
    window->window_ = handle;
    liveDialogs.push_back(handle);
    return window;
}

Win32ProgressWindow::~Win32ProgressWindow() {
    // The last reference normally goes on the window thread after destroy();
    // a window still open here can only be destroyed from that thread, so it
    // is left to the process end rather than touched from a foreign thread.
}

void Win32ProgressWindow::destroy() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        pending_ = Pending();
    }
    if (window_) {
        for (auto it = liveDialogs.begin(); it != liveDialogs.end(); ++it) {
            if (*it == window_) {
                liveDialogs.erase(it);
                break;
            }
        }
        SetWindowLongPtrA(window_, DWLP_USER, 0);
        DestroyWindow(window_);
        window_ = nullptr;
    }
}

template <class Change> void Win32ProgressWindow::record(Change change) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_)
        return;
    try {
        change(pending_);
    } catch (...) {
        return; // out of memory copying a text: this change is not shown
    }
    // One wake-up at a time: the window thread takes everything pending.
    if (!wakePosted_ && window_)
        wakePosted_ = PostMessageA(window_, wakeMessage, 0, 0) != FALSE;
}

void Win32ProgressWindow::show() {
    record([](Pending& p) { p.visibility = Visibility::Show; });
}

void Win32ProgressWindow::hide() {
    record([](Pending& p) { p.visibility = Visibility::Hide; });
}

void Win32ProgressWindow::setCaption(const std::string& text) {
    record([&text](Pending& p) {
        p.caption = text;
        p.hasCaption = true;
    });
}

void Win32ProgressWindow::setDetail(const std::string& text) {
    record([&text](Pending& p) {
        p.detail = text;
        p.hasDetail = true;
    });
}

void Win32ProgressWindow::applyPending() {
    Pending p;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::swap(p, pending_);
        wakePosted_ = false;
    }
    // The texts first, so that a window popping up shows the new ones at once.
    if (p.hasCaption)
        SetWindowTextA(window_, p.caption.c_str());
    if (p.hasDetail)
        SetDlgItemTextA(window_, IDC_PROGRESS_DETAIL, p.detail.c_str());
    if (p.visibility == Visibility::Show) {
        ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
    } else if (p.visibility == Visibility::Hide) {
        ShowWindow(window_, SW_HIDE);
    }
}

INT_PTR CALLBACK Win32ProgressWindow::dialogProc(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam) {
    auto* self = reinterpret_cast<Win32ProgressWindow*>(GetWindowLongPtrA(window, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(window, DWLP_USER, lParam);
        HINSTANCE module = resourceModule();
        HICON icon = LoadIconA(module, MAKEINTRESOURCEA(IDI_PROGRESS));
        if (icon)
            SendMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
        SendDlgItemMessageA(window, IDC_PROGRESS_ANIMATION, ACM_OPENA,
                            reinterpret_cast<WPARAM>(module),
                            reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IDR_PROGRESS_CLIP)));
        return TRUE;
    }
    case wakeMessage:
        if (self)
            self->applyPending();
        return TRUE;
    case WM_COMMAND:
        // The Cancel button, and Escape and the close box, which the dialog
        // manager turns into IDCANCEL: abort and hide, never end the dialog.
        if (LOWORD(wParam) == IDCANCEL && self) {
            try {
                self->owner_.cancel();
            } catch (...) {
            }
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

bool Win32ProgressWindow::dialogMessage(MSG* message) {
    for (HWND dialog : liveDialogs) {
        if (message->hwnd == dialog || IsChild(dialog, message->hwnd))
            return IsDialogMessageA(dialog, message) != FALSE;
    }
    return false;
}

} // namespace quill
