#include "net/ServiceThread.h"

namespace quill {

ServiceThread::~ServiceThread() {
    join();
}

void ServiceThread::start() {
    if (thread_.joinable())
        return;
    thread_ = std::thread([this] { run(); });
}

void ServiceThread::join() noexcept {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        try {
            thread_.join();
        } catch (...) {
            // join fails only for a thread that is not joinable: nothing to do.
        }
    }
}

} // namespace quill
