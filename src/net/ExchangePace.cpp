#include "net/ExchangePace.h"

#include "net/CBlockSocket.h"
#include "net/DiagnosticLog.h"

#include <algorithm>
#include <climits>
#include <string>

namespace quill {

ExchangePace::ExchangePace(const ExchangeLimits& limits)
    : limits_(limits), started_(Clock::now()), stretchStart_(started_) {}

std::uint64_t ExchangePace::needed() const {
    return static_cast<std::uint64_t>(limits_.lowSpeedBytesPerSecond) *
           static_cast<std::uint64_t>(limits_.lowSpeedMs) / 1000;
}

int ExchangePace::waitMs(int baseMs) const {
    Clock::time_point limit = Clock::time_point::max();
    if (limits_.deadlineMs > 0) {
        limit = started_ + std::chrono::milliseconds(limits_.deadlineMs);
    }
    if (lowSpeed()) {
        // A stretch that already has its bytes can fail only at the end of
        // the next one.
        limit = std::min(limit, stretchStart_ + stretch() * (moved_ >= needed() ? 2 : 1));
    }
    if (limit == Clock::time_point::max()) {
        return baseMs;
    }
    // One more millisecond, so that a call that times out finds the limit
    // reached.
    const long long left =
        std::chrono::duration_cast<std::chrono::milliseconds>(limit - Clock::now()).count() + 1;
    const int wait = static_cast<int>(std::max(1LL, std::min<long long>(left, INT_MAX)));
    return baseMs > 0 && baseMs < wait ? baseMs : wait;
}

bool ExchangePace::prepare(platform::SocketHandle handle, int baseMs, bool receiving) {
    const int wait = waitMs(baseMs);
    int& applied = receiving ? appliedReceiveMs_ : appliedSendMs_;
    if (wait == applied) {
        return true;
    }
    applied = wait;
    return receiving ? platform::socketSetReceiveTimeout(handle, wait)
                     : platform::socketSetSendTimeout(handle, wait);
}

namespace {

// A wait that the system ends at a limit may end up to a tick of its timer
// before this clock reaches the limit (Windows counts its waits in ticks of
// about 16 ms): a call that failed this close to a limit has reached it.
constexpr auto kTimerSlack = std::chrono::milliseconds(20);

} // namespace

void ExchangePace::check(std::size_t bytes, bool receiving) {
    moved_ += bytes;
    const auto now = bytes == 0 ? Clock::now() + kTimerSlack : Clock::now();
    const char* const operation = receiving ? "receive" : "write";
    if (limits_.deadlineMs > 0 && now >= started_ + std::chrono::milliseconds(limits_.deadlineMs)) {
        logEvent(std::string(operation) + ": the exchange still runs after " +
                 std::to_string(limits_.deadlineMs) + " ms; it fails");
        throw CBlockSocket::Error(receiving ? "receive: exchange too long"
                                            : "write: exchange too long");
    }
    while (lowSpeed() && now >= stretchStart_ + stretch()) {
        if (moved_ < needed()) {
            logEvent(std::string(operation) + ": " + std::to_string(moved_) + " bytes moved in " +
                     std::to_string(limits_.lowSpeedMs) + " ms, below " +
                     std::to_string(limits_.lowSpeedBytesPerSecond) +
                     " bytes/s; the exchange fails");
            throw CBlockSocket::Error(receiving ? "receive: too slow" : "write: too slow");
        }
        stretchStart_ += stretch();
        moved_ = 0;
    }
}

} // namespace quill
