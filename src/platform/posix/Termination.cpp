#include "platform/Termination.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <unistd.h>

namespace quill::platform {

namespace {

// A pipe written by the signal handler (write is async-signal-safe) and read
// by the waiting thread. Created once, kept until the process ends.
int wakePipe[2] = {-1, -1};
std::once_flag installed;

extern "C" void onTerminationSignal(int) {
    int saved = errno;
    char c = 1;
    if (wakePipe[1] >= 0)
        (void)::write(wakePipe[1], &c, 1);
    errno = saved;
}

void install() {
    if (::pipe(wakePipe) != 0)
        return;
    ::fcntl(wakePipe[0], F_SETFD, FD_CLOEXEC);
    ::fcntl(wakePipe[1], F_SETFD, FD_CLOEXEC);
    ::fcntl(wakePipe[1], F_SETFL, O_NONBLOCK); // a full pipe already means "stop"
    struct sigaction sa {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(SIGINT, &sa, nullptr);
    ::sigaction(SIGTERM, &sa, nullptr);
}

} // namespace

void watchTermination() {
    std::call_once(installed, install);
}

void waitForTermination() {
    watchTermination();
    if (wakePipe[0] < 0) {
        ::pause(); // no pipe: the default action of the signal ends the process
        return;
    }
    // Waits in slices rather than in one endless read: a runtime that defers
    // signal handlers until a system call returns (ThreadSanitizer does) would
    // otherwise never run the handler that wakes us.
    char c;
    for (;;) {
        struct pollfd wait {};
        wait.fd = wakePipe[0];
        wait.events = POLLIN;
        int ready = ::poll(&wait, 1, 100);
        if (ready < 0 && errno != EINTR)
            break;
        if (ready <= 0)
            continue;
        ssize_t n = ::read(wakePipe[0], &c, 1);
        if (n == 1)
            break;
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        break;
    }
    // Keep the request visible to a later wait.
    onTerminationSignal(0);
}

void requestTermination() {
    watchTermination();
    onTerminationSignal(0);
}

} // namespace quill::platform
