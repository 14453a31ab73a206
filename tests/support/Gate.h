#pragma once
// Holds a fake's call as a request in flight is held, until the test releases
// it (or the Cancel it presses does, through the fake's abort): the call runs
// enterAndWait(), the test waits with waitEntered() and then acts. Every wait
// is bounded, so a fault shows as a failed expectation, not a hung test: the
// waits return false when the bound passes.
//
// Threads: any; everything is under one lock.

#include "net/Session.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

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

// Runs session on a thread of its own, as its listener does (whatever run()
// throws is caught there), presses Cancel once a fake's call has entered gate,
// and returns when the run has ended; false when no call entered in time.
inline bool cancelWhenEntered(Session& session, Gate& gate) {
    std::thread service([&session] {
        try {
            session.run();
        } catch (...) {
        }
    });
    const bool entered = gate.waitEntered();
    session.abort();
    service.join();
    return entered;
}

} // namespace quill
