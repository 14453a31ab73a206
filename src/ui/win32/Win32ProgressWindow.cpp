#include "ui/win32/Win32ProgressWindow.h"

#include "ui/ProgressWindow.h"
#include "ui/win32/ResourceModule.h"
#include "ui/win32/resource.h"

#include <commctrl.h>

#include <utility>

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
    HWND handle = CreateDialogParamA(resourceModule(), MAKEINTRESOURCEA(IDD_PROGRESS),
                                     GetDesktopWindow(), dialogProc,
                                     reinterpret_cast<LPARAM>(window.get()));
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
        ops_.clear();
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

void Win32ProgressWindow::show() {
    queue(OpKind::Show, std::string());
}

void Win32ProgressWindow::hide() {
    queue(OpKind::Hide, std::string());
}

void Win32ProgressWindow::setCaption(const std::string& text) {
    queue(OpKind::Caption, text);
}

void Win32ProgressWindow::setDetail(const std::string& text) {
    queue(OpKind::Detail, text);
}

void Win32ProgressWindow::queue(OpKind kind, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (closed_)
        return;
    try {
        ops_.push_back(Op{kind, text});
    } catch (...) {
        return; // out of memory: this change is not shown
    }
    // One wake-up at a time: the window thread takes the whole queue.
    if (!wakePosted_ && window_)
        wakePosted_ = PostMessageA(window_, wakeMessage, 0, 0) != FALSE;
}

void Win32ProgressWindow::applyQueued() {
    std::vector<Op> ops;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ops.swap(ops_);
        wakePosted_ = false;
    }
    for (const Op& op : ops) {
        switch (op.kind) {
        case OpKind::Show:
            ShowWindow(window_, SW_SHOW);
            SetForegroundWindow(window_);
            break;
        case OpKind::Hide:
            ShowWindow(window_, SW_HIDE);
            break;
        case OpKind::Caption:
            SetWindowTextA(window_, op.text.c_str());
            break;
        case OpKind::Detail:
            SetDlgItemTextA(window_, IDC_PROGRESS_DETAIL, op.text.c_str());
            break;
        }
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
            self->applyQueued();
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
