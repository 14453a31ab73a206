#pragma once
// Holds a fake's call as a request in flight is held, until the test releases
// it (or the Cancel it presses does, through the fake's abort): the call runs
// enterAndWait(), the test waits with waitEntered() and then acts. Every wait
// is bounded, so a fault shows as a failed expectation, not a hung test: the
// waits return false when the bound passes.
//
// Threads: any; everything is under one lock.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace quill {

class Gate {
public:
    static constexpr std::chrono::seconds kBound{20};

    bool enterAndWait() {
        std::unique_lock<std::mutex> lock(mutex_);
        entered_ = true;
        changed_.notify_all();
        return changed_.wait_for(lock, kBound, [this] { return released_; });
    }
    bool waitEntered() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kBound, [this] { return entered_; });
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool entered_ = false;
    bool released_ = false;
};

} // namespace quill
