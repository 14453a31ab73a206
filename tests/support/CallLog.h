#pragma once
// What a fake was asked, in order, kept apart from the fake so that the test
// can read it after the object that owns the fake (a session) is gone. add()
// may come from another thread (an abort from the cancelling one); read
// calls directly only once that thread has been joined.

#include <mutex>
#include <string>
#include <vector>

namespace quill {

struct CallLog {
    std::mutex mutex;
    std::vector<std::string> calls;

    void add(const std::string& call) {
        std::lock_guard<std::mutex> lock(mutex);
        calls.push_back(call);
    }
    std::vector<std::string> snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

} // namespace quill
