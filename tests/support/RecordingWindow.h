#pragma once
// The one fake progress window of the tests: records every call as an event,
// in order ("status <text>", "detail <text>", "hide", "popup on", "popup off",
// "target set", "target cleared"), and plays the Cancel button: cancel()
// aborts the session that is the current cancel target, and cancelOnDetail
// presses it as a detail line holding a text is shown (on the thread that
// shows it, so before that request goes out).
//
// Threads: any; the events under one lock, the target under its own (cancel
// calls abort while holding it, as the real window does).

#include "net/ServiceWindow.h"
#include "net/Session.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

namespace quill {

class RecordingWindow : public ServiceWindow {
public:
    void setStatus(const std::string& text) override { add("status " + text); }
    void setDetail(const std::string& text) override {
        add("detail " + text);
        std::string at;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            at = cancelAt_;
        }
        if (!at.empty() && text.find(at) != std::string::npos) {
            cancel();
        }
    }
    void hide() override { add("hide"); }
    void setPopup(bool on) override {
        popup_ = on;
        add(on ? "popup on" : "popup off");
    }
    bool popup() const override { return popup_; }
    void setCancelTarget(Session* session) override {
        {
            std::lock_guard<std::mutex> lock(targetMutex_);
            target_ = session;
        }
        add(session != nullptr ? "target set" : "target cleared");
    }

    // Presses Cancel; false when no conversation is the target.
    bool cancel() {
        std::lock_guard<std::mutex> lock(targetMutex_);
        if (target_ == nullptr) {
            return false;
        }
        target_->abort();
        return true;
    }

    // Presses Cancel when a detail line holding text is shown; empty: never.
    void cancelOnDetail(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelAt_ = text;
    }

    std::vector<std::string> events() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    // The events so far, which are then forgotten.
    std::vector<std::string> take() {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        out.swap(events_);
        return out;
    }
    // The texts of the events of one kind ("status ", "detail "), in order.
    std::vector<std::string> texts(const std::string& kind) const {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<std::string> out;
        for (const std::string& e : events_) {
            if (e.compare(0, kind.size(), kind) == 0) {
                out.push_back(e.substr(kind.size()));
            }
        }
        return out;
    }
    // Waits (at most 30 s) until an event holding text has been recorded.
    bool waitFor(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
            for (const std::string& e : events_) {
                if (e.find(text) != std::string::npos) {
                    return true;
                }
            }
            return false;
        });
    }

private:
    void add(std::string event) {
        std::lock_guard<std::mutex> lock(mutex_);
        events_.push_back(std::move(event));
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::string cancelAt_;
    std::atomic<bool> popup_{false};
    std::mutex targetMutex_;
    Session* target_ = nullptr;
};

} // namespace quill
