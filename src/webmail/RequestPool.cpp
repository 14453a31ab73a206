#include "webmail/RequestPool.h"

#include "net/DiagnosticLog.h"

#include <utility>

namespace quill {

namespace {
thread_local bool onPool = false;
} // namespace

RequestPool::RequestPool(std::size_t threads) : size_(threads < 1 ? 1 : threads) {}

RequestPool::~RequestPool() {
    std::deque<Task> dropped;
    {
        std::lock_guard<std::mutex> hold(lock_);
        ending_ = true;
        dropped.swap(waiting_);
    }
    posted_.notify_all();
    dropped.clear(); // outside the lock: a task's destruction may do anything
    for (std::thread& t : threads_) {
        t.join();
    }
}

bool RequestPool::onPoolThread() {
    return onPool;
}

void RequestPool::post(std::function<void()> task, bool urgent) {
    Task entry{std::move(task), DiagnosticLog::Scope::currentService(),
               DiagnosticLog::Scope::currentNumber()};
    std::unique_lock<std::mutex> hold(lock_);
    if (urgent) {
        waiting_.push_front(std::move(entry));
    } else {
        waiting_.push_back(std::move(entry));
    }
    // A new thread only when no idle one will take the task.
    const bool start = idle_ < waiting_.size() && threads_.size() < size_;
    if (start) {
        threads_.emplace_back([this] { work(); });
    }
    hold.unlock();
    posted_.notify_one();
}

void RequestPool::settle() {
    std::deque<Task> dropped;
    std::unique_lock<std::mutex> hold(lock_);
    dropped.swap(waiting_);
    finished_.wait(hold, [this] { return running_ == 0; });
    hold.unlock();
    dropped.clear();
}

void RequestPool::drain() {
    std::unique_lock<std::mutex> hold(lock_);
    finished_.wait(hold, [this] { return running_ == 0 && waiting_.empty(); });
}

void RequestPool::work() {
    onPool = true;
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
        ++idle_;
        posted_.wait(hold, [this] { return ending_ || !waiting_.empty(); });
        --idle_;
        if (ending_) {
            return;
        }
        Task task = std::move(waiting_.front());
        waiting_.pop_front();
        ++running_;
        hold.unlock();
        {
            DiagnosticLog::Scope scope(task.service, task.number);
            try {
                task.run();
            } catch (...) {
                // A task reports through what it fills in; nothing escapes a thread.
            }
            task.run = nullptr; // destroyed here, outside the lock
        }
        hold.lock();
        --running_;
        finished_.notify_all(); // settle() or drain() may wait for it
    }
}

} // namespace quill
