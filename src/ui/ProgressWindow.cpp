#include "ui/ProgressWindow.h"

#include "net/Session.h"

#include <utility>

namespace quill {

ProgressWindow::ProgressWindow(std::string serviceName) : name_(std::move(serviceName)) {}

void ProgressWindow::setStatus(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (popup_ && !shown_) {
        shown_ = true;
        if (backEnd_) {
            backEnd_->show();
        }
    }
    caption_ = text;
    if (backEnd_) {
        backEnd_->setCaption(text);
    }
}

void ProgressWindow::setDetail(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    detail_ = text;
    if (backEnd_) {
        backEnd_->setDetail(text);
    }
}

void ProgressWindow::hide() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (popup_ && shown_) {
        shown_ = false;
        if (backEnd_) {
            backEnd_->hide();
        }
    }
}

void ProgressWindow::setPopup(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    popup_ = on;
}

bool ProgressWindow::popup() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return popup_;
}

void ProgressWindow::setCancelTarget(Session* session) {
    std::lock_guard<std::mutex> lock(targetMutex_);
    cancelTarget_ = session;
}

void ProgressWindow::cancel() {
    {
        std::lock_guard<std::mutex> lock(targetMutex_);
        if (cancelTarget_ != nullptr) {
            cancelTarget_->abort();
        }
    }
    hide();
}

void ProgressWindow::attach(std::shared_ptr<WindowBackEnd> backEnd) {
    std::lock_guard<std::mutex> lock(mutex_);
    backEnd_ = std::move(backEnd);
    if (backEnd_) {
        backEnd_->setCaption(caption_);
        backEnd_->setDetail(detail_);
        if (shown_) {
            backEnd_->show();
        }
    }
}

bool ProgressWindow::shown() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
}

Session* ProgressWindow::cancelTarget() const {
    std::lock_guard<std::mutex> lock(targetMutex_);
    return cancelTarget_;
}

std::string ProgressWindow::caption() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return caption_;
}

std::string ProgressWindow::detail() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return detail_;
}

// Never destroyed: service threads may still report while the process exits,
// and a destroyed mutex must not be reached from them.
ProgressWindow& pop3Progress() {
    static ProgressWindow* const window = new ProgressWindow("POP3");
    return *window;
}

ProgressWindow& smtpProgress() {
    static ProgressWindow* const window = new ProgressWindow("SMTP");
    return *window;
}

} // namespace quill
