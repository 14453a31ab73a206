#pragma once
// A ServiceWindow that records what the web-mail client shows, in order.

#include "net/ServiceWindow.h"

#include <mutex>
#include <string>
#include <vector>

namespace quill::webtest {

class RecordingWindow : public ServiceWindow {
public:
    void setStatus(const std::string& text) override { add("status " + text); }
    void setDetail(const std::string& text) override { add("detail " + text); }
    void hide() override { add("hide"); }
    void setPopup(bool on) override { popup_ = on; }
    bool popup() const override { return popup_; }
    void setCancelTarget(Session*) override {}

    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        out.swap(events_);
        return out;
    }

private:
    void add(std::string event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
    }
    std::mutex mutex_;
    std::vector<std::string> events_;
    bool popup_ = false;
};

} // namespace quill::webtest
