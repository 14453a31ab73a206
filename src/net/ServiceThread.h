#pragma once
// A long-lived thread object: start() runs run() on a new thread, join() waits
// for it. A derived class that overrides run() must make run() return and join
// in its own destructor (run() uses the derived object); the base destructor
// only joins a thread that has already been told to end.
//
// Threads: start, join and the destructor are called from one controlling
// thread (the host's); run() runs on the new thread.

#include <thread>

namespace quill {

class ServiceThread {
public:
    ServiceThread() = default;
    ServiceThread(const ServiceThread&) = delete;
    ServiceThread& operator=(const ServiceThread&) = delete;
    virtual ~ServiceThread();

    // Starts the thread; does nothing while a started thread has not been
    // joined. Throws std::system_error when the system cannot create a thread.
    virtual void start();
    // Waits for run() to return. Harmless when not started or already joined.
    void join() noexcept;
    // Whether a thread was started and not yet joined.
    bool started() const { return thread_.joinable(); }

protected:
    // The thread body. The base version does nothing.
    virtual void run() {}

private:
    std::thread thread_;
};

} // namespace quill
