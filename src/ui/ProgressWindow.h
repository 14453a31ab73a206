#pragma once
// The progress window of one local service: which step the web-mail side is
// on (the caption), the URL in flight (the detail line), and a Cancel that
// aborts the running conversation.
//
// The decisions live here, platform-neutral; what the user sees is the
// attached WindowBackEnd (none until the host creates the windows, and then
// every operation still keeps the texts up to date without showing anything).
//
// Threads: the owning service thread calls setStatus, setDetail, hide,
// setPopup and setCancelTarget; the user-interface thread calls cancel,
// attach and the accessors. One mutex guards the flags, the texts and the
// back-end pointer, and is held while the back-end is told (back-ends never
// block, see WindowBackEnd.h). A second mutex serialises cancel's abort with
// setCancelTarget, so a session is never aborted while being destroyed. The
// two are never held together.

#include "net/ServiceWindow.h"
#include "ui/WindowBackEnd.h"

#include <memory>
#include <mutex>
#include <string>

namespace quill {

class Session;

class ProgressWindow : public ServiceWindow {
public:
    // serviceName ("POP3", "SMTP") labels the window for back-ends that need it.
    explicit ProgressWindow(std::string serviceName);
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Pops the window up when popup is on and it is not already up (once per
    // showing), and always sets the caption to text.
    void setStatus(const std::string& text) override;
    void setDetail(const std::string& text) override;
    // Hides the window only when popup is on and setStatus popped it up.
    void hide() override;
    void setPopup(bool on) override;
    bool popup() const override;
    // Waits for an abort in progress (see cancel) before replacing the target.
    void setCancelTarget(Session* session) override;

    // The Cancel button, the Escape key or the close box: aborts the running
    // conversation, if any, then hides as hide() does. The window stays
    // available for the next conversation.
    void cancel();

    // Connects the visible window (null disconnects it). A newly attached
    // back-end is given the current caption and detail, and shown when the
    // window counts as popped up. The previous back-end gets no further calls
    // once attach returns.
    void attach(std::shared_ptr<WindowBackEnd> backEnd);

    const std::string& name() const { return name_; }
    bool shown() const;
    Session* cancelTarget() const;
    std::string caption() const;
    std::string detail() const;

private:
    const std::string name_;

    mutable std::mutex mutex_; // guards everything below up to targetMutex_
    bool popup_ = false;
    bool shown_ = false;
    std::string caption_;
    std::string detail_;
    std::shared_ptr<WindowBackEnd> backEnd_;

    mutable std::mutex targetMutex_; // guards cancelTarget_ and spans each abort
    Session* cancelTarget_ = nullptr;
};

// The two process-wide windows, created on first use (safe from any thread)
// and living until the process ends.
ProgressWindow& pop3Progress();
ProgressWindow& smtpProgress();

} // namespace quill
