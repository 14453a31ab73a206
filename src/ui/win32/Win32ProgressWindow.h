#pragma once
// The Win32 window of one ProgressWindow: a modeless dialog from template 3003
// with the animation, the detail line and a Cancel button.
//
// Threads: the window belongs to the thread that created it (the host's
// user-interface thread), which must pump messages. The WindowBackEnd calls
// come from service threads: each one is queued here with a copy of its text
// and the window thread is woken with a posted message, so a service thread
// never waits for the window thread. Cancel, Escape and the close box call
// the ProgressWindow's cancel() on the window thread; the dialog is never
// ended by them, only hidden.

#include "ui/WindowBackEnd.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace quill {

class ProgressWindow;

class Win32ProgressWindow : public WindowBackEnd {
public:
    // Creates the hidden dialog on the calling thread, with the desktop window
    // as parent; `owner` receives the Cancel clicks and must outlive the
    // window. Returns null when the dialog cannot be created.
    static std::shared_ptr<Win32ProgressWindow> create(ProgressWindow& owner);

    ~Win32ProgressWindow() override;
    Win32ProgressWindow(const Win32ProgressWindow&) = delete;
    Win32ProgressWindow& operator=(const Win32ProgressWindow&) = delete;

    void show() override;
    void hide() override;
    void setCaption(const std::string& text) override;
    void setDetail(const std::string& text) override;

    // Window thread only: destroys the dialog. Changes still queued are
    // dropped; later calls are queued and dropped as well.
    void destroy();

    HWND handle() const { return window_; }

    // For the thread's message hook: lets the dialog take its keyboard
    // messages (Tab, Escape). Returns true when the message was consumed.
    static bool dialogMessage(MSG* message);

private:
    enum class OpKind { Show, Hide, Caption, Detail };
    struct Op {
        OpKind kind;
        std::string text;
    };

    explicit Win32ProgressWindow(ProgressWindow& owner) : owner_(owner) {}
    void queue(OpKind kind, const std::string& text);
    void applyQueued(); // window thread
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    ProgressWindow& owner_;
    HWND window_ = nullptr; // written by the window thread before any back-end call can come

    std::mutex mutex_; // guards ops_, wakePosted_ and closed_
    std::vector<Op> ops_;
    bool wakePosted_ = false;
    bool closed_ = false;
};

} // namespace quill
