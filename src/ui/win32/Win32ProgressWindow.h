#pragma once
// The Win32 window of one ProgressWindow: a modeless dialog from template 3003
// with the animation, the detail line and a Cancel button.
//
// Threads: the window belongs to the thread that created it (the host's
// user-interface thread), which must pump messages. The WindowBackEnd calls
// come from service threads: each one is recorded here (a copy of the text, or
// the wanted visibility) and the window thread is woken with a posted message,
// so a service thread never waits for the window thread. Changes that arrive
// faster than the window thread applies them replace each other: the window
// catches up with the latest caption, detail and visibility, and the record
// never grows however far behind the window thread falls. Cancel, Escape and the close box call
// the ProgressWindow's cancel() on the window thread; the dialog is never
// ended by them, only hidden.

#include "ui/WindowBackEnd.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

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

    // Window thread only: destroys the dialog. Changes not yet applied are
    // dropped, and so are later calls.
    void destroy();

    HWND handle() const { return window_; }

    // For the thread's message hook: lets the dialog take its keyboard
    // messages (Tab, Escape). Returns true when the message was consumed.
    static bool dialogMessage(MSG* message);

private:
    enum class Visibility { Unchanged, Show, Hide };
    // What the window thread has yet to apply.
    struct Pending {
        Visibility visibility = Visibility::Unchanged;
        bool hasCaption = false;
        bool hasDetail = false;
        std::string caption;
        std::string detail;
    };

    explicit Win32ProgressWindow(ProgressWindow& owner) : owner_(owner) {}
    // Records a change under the lock and wakes the window thread.
    template <class Change> void record(Change change);
    void applyPending(); // window thread
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    ProgressWindow& owner_;
    HWND window_ = nullptr; // written by the window thread before any back-end call can come

    std::mutex mutex_; // guards pending_, wakePosted_ and closed_
    Pending pending_;
    bool wakePosted_ = false;
    bool closed_ = false;
};

} // namespace quill
