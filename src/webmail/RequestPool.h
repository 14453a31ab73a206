#pragma once
// The threads on which one conversation makes site requests at once: a RETR's
// header and text together, the messages read ahead, the listing pages after
// the first. Threads are started as work comes, up to the pool's size, and
// live until the pool is destroyed; a task runs with the log scope of the
// thread that posted it, so its lines name the conversation.
//
// Errors: a task must not throw (what it throws is dropped); results and
// failures travel through whatever the task fills in (a promise, a slot).
//
// Threads: post, settle and the destructor belong to the conversation's
// thread. Tasks run on the pool's threads; onPoolThread tells which is which.

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quill {

class RequestPool {
public:
    // What a browser allows itself per host: more connections at once would
    // look like an attack to the site and gain little.
    static constexpr std::size_t kMaxThreads = 6;

    explicit RequestPool(std::size_t threads = kMaxThreads);
    // Drops the tasks not started (each is destroyed unrun, so a promise it
    // holds reports a broken promise) and waits for the running ones.
    ~RequestPool();

    RequestPool(const RequestPool&) = delete;
    RequestPool& operator=(const RequestPool&) = delete;

    // Runs task on a pool thread: an urgent one before every task still
    // waiting, the others in the order posted.
    void post(std::function<void()> task, bool urgent = false);
    // Drops the tasks not started and waits until none runs.
    void settle();
    // Waits until every task posted has run.
    void drain();

    // True on a thread of any pool: requests made there are not the step the
    // mail client waits for, so they are not shown in the progress window.
    static bool onPoolThread();

private:
    struct Task {
        std::function<void()> run;
        const char* service;
        unsigned long number;
    };
    void work();

    const std::size_t size_;
    mutable std::mutex lock_;          // guards everything below
    std::condition_variable posted_;   // a task waits, or the pool ends
    std::condition_variable finished_; // no task runs any more
    std::deque<Task> waiting_;
    std::size_t running_ = 0;
    std::size_t idle_ = 0;
    bool ending_ = false;
    std::vector<std::thread> threads_;
};

} // namespace quill
