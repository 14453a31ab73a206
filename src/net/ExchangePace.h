#pragma once
// What has moved over one connection since its ExchangeLimits were set, and
// the waits and failures that follow from them. The low-speed limit looks at
// consecutive stretches of lowSpeedMs from the set: a stretch that ends with
// too few bytes fails the exchange, one with enough begins the next.
//
// Errors: check throws CBlockSocket::Error ("receive: too slow", "write: too
// slow", "receive: exchange too long", "write: exchange too long") after a
// log line saying which limit was reached.
//
// Threads: used by the socket's owning thread only.

#include "net/ExchangeLimits.h"
#include "platform/Socket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>

namespace quill {

class ExchangePace {
public:
    using Clock = std::chrono::steady_clock;

    // The limits count from now.
    explicit ExchangePace(const ExchangeLimits& limits);

    // Sets the socket's receive (or send) time-out for the next call to
    // baseMs (0: none) cut to the moment a limit would be reached if nothing
    // more moved, so that a silent peer cannot hold the call past it. False
    // when the system refuses the time-out.
    bool prepare(platform::SocketHandle handle, int baseMs, bool receiving);
    // Counts bytes that moved (0 after a failed call), then throws when a
    // limit has been reached (after a failed call: within a timer tick of it,
    // since the failure is most likely the wait that prepare cut to it).
    void check(std::size_t bytes, bool receiving);
    // The socket's time-outs were set anew from outside.
    void forgetApplied() { appliedReceiveMs_ = appliedSendMs_ = -1; }

private:
    int waitMs(int baseMs) const;
    bool lowSpeed() const { return limits_.lowSpeedBytesPerSecond > 0 && limits_.lowSpeedMs > 0; }
    std::chrono::milliseconds stretch() const {
        return std::chrono::milliseconds(limits_.lowSpeedMs);
    }
    std::uint64_t needed() const;

    const ExchangeLimits limits_;
    const Clock::time_point started_;
    Clock::time_point stretchStart_;
    std::uint64_t moved_ = 0; // in the current stretch, both directions
    int appliedReceiveMs_ = -1;
    int appliedSendMs_ = -1;
};

} // namespace quill
