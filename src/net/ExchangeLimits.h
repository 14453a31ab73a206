#pragma once
// Limits of one exchange over a connection (a request and its answer), kept
// by the socket that carries it (CBlockSocket::setExchangeLimits), so that
// whatever runs over the socket is limited alike. A 0 turns a limit off.

#include <cstddef>

namespace quill {

struct ExchangeLimits {
    // The exchange fails once a stretch of lowSpeedMs passes in which fewer
    // than lowSpeedBytesPerSecond on average were received and written
    // together: a peer that sends a byte now and then never trips a receive
    // time-out, but trips this.
    std::size_t lowSpeedBytesPerSecond = 0;
    int lowSpeedMs = 0;
    // The exchange fails this long after the limits were set, however fast
    // it goes.
    int deadlineMs = 0;
};

} // namespace quill
