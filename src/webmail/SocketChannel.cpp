#include "webmail/SocketChannel.h"

#include <chrono>

namespace quill {

void SocketChannel::finish() noexcept {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFinishMs);
    try {
        socket_.shutdownSend();
        socket_.setTimeoutMs(kFinishMs, kFinishMs);
        char discard[16384];
        std::size_t total = 0;
        while (total < kFinishBytes && std::chrono::steady_clock::now() < deadline) {
            const std::size_t got = socket_.receive(discard, sizeof discard);
            if (got == 0) {
                break; // the peer has read everything and closed
            }
            total += got;
        }
    } catch (...) {
        // A time-out, a reset or a Cancel: the conversation ends all the same.
    }
}

} // namespace quill
