#include "net/CBlockSocket.h"

#include "net/ExchangePace.h"
#include "platform/Socket.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <memory>

namespace quill {

const char* CBlockSocket::Canceled::canceledText(const char* operation) {
    // Error keeps a pointer to a literal, so each operation has its text here.
    static const struct {
        const char* operation;
        const char* text;
    } texts[] = {{"accept", "canceled: accept"},
                 {"connect", "canceled: connect"},
                 {"write", "canceled: write"},
                 {"receive", "canceled: receive"},
                 {"listenAt", "canceled: listenAt"}};
    for (const auto& entry : texts) {
        if (std::strcmp(entry.operation, operation) == 0)
            return entry.text;
    }
    return "canceled";
}

namespace {
constexpr int kLargestBacklog = 2147483647;

std::atomic<CBlockSocket::CallHook> callHook{nullptr};

// Between a call's entry and its system call: where a test parks it.
void beforeSystemCall(const char* operation) {
    if (CBlockSocket::CallHook hook = callHook.load(std::memory_order_relaxed))
        hook(operation);
}

int secondsToMs(int seconds) {
    if (seconds <= 0)
        return 0;
    if (seconds > INT_MAX / 1000)
        return INT_MAX;
    return seconds * 1000;
}
} // namespace

// The shared record. The handle never changes after construction; what changes
// is atomic, because close() may run on another thread at any moment:
//  - state: the closed flag (kClosed, set once by the first close(); every
//    later call throws Canceled) and, in steps of kCall, the calls in flight on
//    the handle, close() itself included. One word, so that "the last call is
//    out and the socket is closed" is decided in one atomic step: with two
//    separate flags a close() could set closed between a leaving call's count
//    and its look at closed, and then act on (shut down, or close again) a
//    handle the leaving call had released and the system handed out anew.
//  - released: the handle has been (or is being) released; set by whoever
//    releases it, always before the release, so it happens exactly once (a
//    call that enters a closed socket leaves it again and must not release
//    a second time).
// holders, timeouts and listening are touched by the owning thread only, but
// holders is atomic anyway so that a copy held by a cancel path stays sound.
struct CBlockSocket::Record {
    explicit Record(platform::SocketHandle h) : handle(h) {}

    const platform::SocketHandle handle;
    std::atomic<int> holders{1};
    static constexpr unsigned kClosed = 1;
    static constexpr unsigned kCall = 2;
    std::atomic<unsigned> state{0};
    std::atomic<bool> released{false};
    std::atomic<int> receiveMs{0};
    std::atomic<int> sendMs{0};
    std::atomic<bool> listening{false};
    std::unique_ptr<ExchangePace> pace; // owning thread only; null without limits

    bool closed() const noexcept { return (state.load() & kClosed) != 0; }
    // Counts a call in; returns whether the socket was already closed.
    bool enter() noexcept { return (state.fetch_add(kCall) & kClosed) != 0; }
    // Counts a call out; the one that leaves a closed socket with no call in
    // flight releases the handle, unless another such leaver already did.
    void leave() noexcept {
        if (state.fetch_sub(kCall) == (kCall | kClosed) && !released.exchange(true))
            platform::socketClose(handle);
    }
};

// One call on the handle: refuses to start on a closed socket, and keeps the
// handle allocated until the call has returned.
class CBlockSocket::InFlight {
public:
    explicit InFlight(CBlockSocket::Record* r) : record_(r) {
        if (record_->enter()) {
            record_->leave();
            throw CBlockSocket::Canceled();
        }
    }
    ~InFlight() { record_->leave(); }
    InFlight(const InFlight&) = delete;
    InFlight& operator=(const InFlight&) = delete;

    // The exception for a failed call: Canceled when the socket was closed
    // under it or the system reports an interrupted call.
    [[noreturn]] void fail(const char* operation) const {
        const int code = platform::socketLastError();
        bool interrupted = platform::socketLastCallInterrupted();
        if (interrupted || record_->closed())
            throw CBlockSocket::Canceled(operation);
        throw CBlockSocket::Error(operation, code);
    }
    bool cancelled() const { return record_->closed(); }

private:
    CBlockSocket::Record* record_;
};

CBlockSocket::CBlockSocket(int receiveSeconds, int sendSeconds) : record_(nullptr) {
    platform::SocketHandle h = platform::socketOpen();
    if (h == platform::kInvalidSocket)
        throw Error("create");
    record_ = new Record(h);
    try {
        setTimeout(receiveSeconds, sendSeconds);
    } catch (...) {
        release();
        throw;
    }
}

CBlockSocket::CBlockSocket(Record* record) : record_(record) {}

CBlockSocket::CBlockSocket(const CBlockSocket& other) : record_(other.record_) {
    record_->holders.fetch_add(1);
}

CBlockSocket& CBlockSocket::operator=(const CBlockSocket& other) {
    if (record_ != other.record_) {
        other.record_->holders.fetch_add(1);
        release();
        record_ = other.record_;
    }
    return *this;
}

CBlockSocket::~CBlockSocket() {
    release();
}

void CBlockSocket::release() noexcept {
    if (record_ == nullptr)
        return;
    if (record_->holders.fetch_sub(1) == 1) {
        close();
        delete record_;
    }
    record_ = nullptr;
}

void CBlockSocket::setTimeout(int receiveSeconds, int sendSeconds) {
    setTimeoutMs(secondsToMs(receiveSeconds), secondsToMs(sendSeconds));
}

void CBlockSocket::setTimeoutMs(int receiveMs, int sendMs) {
    InFlight call(record_);
    if (receiveMs < 0)
        receiveMs = 0;
    if (sendMs < 0)
        sendMs = 0;
    record_->receiveMs.store(receiveMs);
    record_->sendMs.store(sendMs);
    if (record_->pace)
        record_->pace->forgetApplied();
    // A listening socket keeps waiting in accept without limit: the values are
    // only kept for the connections it accepts.
    if (record_->listening.load())
        return;
    if (!platform::socketSetReceiveTimeout(record_->handle, receiveMs))
        call.fail("setTimeout");
    if (!platform::socketSetSendTimeout(record_->handle, sendMs))
        call.fail("setTimeout");
}

void CBlockSocket::bind(int port) {
    bindTo("127.0.0.1", port, false);
}

void CBlockSocket::listenAt(int port) {
    bindTo("127.0.0.1", port, true);
}

void CBlockSocket::listenAt(const std::string& address, int port) {
    bindTo(address, port, true);
}

void CBlockSocket::bindTo(const std::string& address, int port, bool listen) {
    InFlight call(record_);
    std::uint32_t ip = 0;
    if (!platform::parseIPv4(address.c_str(), ip))
        throw Error("bind");
    if (!platform::socketBind(record_->handle, ip, port))
        call.fail("bind");
    if (!listen)
        return;
    // Some systems also limit accept by the receive time-out: the listening
    // socket has none, its connections get the values set on it.
    if (!platform::socketSetReceiveTimeout(record_->handle, 0) ||
        !platform::socketSetSendTimeout(record_->handle, 0))
        call.fail("listenAt");
    if (!platform::socketListen(record_->handle, kLargestBacklog))
        call.fail("listenAt");
    record_->listening.store(true);
}

CBlockSocket CBlockSocket::accept() {
    InFlight call(record_);
    beforeSystemCall("accept");
    platform::SocketHandle h = platform::socketAccept(record_->handle);
    if (h == platform::kInvalidSocket)
        call.fail("accept");
    if (call.cancelled()) {
        platform::socketClose(h);
        throw Canceled();
    }
    if (!platform::socketSetReceiveTimeout(h, record_->receiveMs.load()) ||
        !platform::socketSetSendTimeout(h, record_->sendMs.load())) {
        platform::socketClose(h);
        throw Error("accept");
    }
    return CBlockSocket(new Record(h));
}

void CBlockSocket::connect(const char* host, int port) {
    InFlight call(record_);
    std::uint32_t ip = 0;
    if (!platform::parseIPv4(host, ip) && !platform::lookupIPv4(host, ip))
        throw Error("GetHostByName");
    if (call.cancelled())
        throw Canceled();
    beforeSystemCall("connect");
    if (!platform::socketConnect(record_->handle, ip, port))
        call.fail("connect");
}

void CBlockSocket::connect(const std::string& host, int port) {
    connect(host.c_str(), port);
}

void CBlockSocket::write(const void* bytes, std::size_t length) {
    const char* p = static_cast<const char*>(bytes);
    InFlight call(record_);
    ExchangePace* pace = record_->pace.get();
    while (length > 0) {
        if (call.cancelled())
            throw Canceled();
        if (pace != nullptr && !pace->prepare(record_->handle, record_->sendMs.load(), false))
            call.fail("write");
        beforeSystemCall("write");
        long n = platform::socketSend(record_->handle, p, length);
        if (n <= 0) {
            if (pace != nullptr && !call.cancelled())
                pace->check(0, false);
            call.fail("write");
        }
        if (pace != nullptr)
            pace->check(static_cast<std::size_t>(n), false);
        p += n;
        length -= static_cast<std::size_t>(n);
    }
}

std::size_t CBlockSocket::receive(void* buffer, std::size_t capacity) {
    InFlight call(record_);
    ExchangePace* pace = record_->pace.get();
    if (pace != nullptr && !pace->prepare(record_->handle, record_->receiveMs.load(), true))
        call.fail("receive");
    beforeSystemCall("receive");
    long n = platform::socketReceive(record_->handle, buffer, capacity);
    if (n < 0) {
        if (pace != nullptr && !call.cancelled())
            pace->check(0, true);
        call.fail("receive");
    }
    // A cancelled socket may also end a blocked receive as if the peer had
    // closed: that is a cancellation, not an end of stream.
    if (n == 0 && call.cancelled())
        throw Canceled();
    // The end of the stream ends the exchange: nothing is left to limit.
    if (n > 0 && pace != nullptr)
        pace->check(static_cast<std::size_t>(n), true);
    return static_cast<std::size_t>(n);
}

void CBlockSocket::shutdownSend() {
    InFlight call(record_);
    if (!platform::socketShutdownSend(record_->handle))
        call.fail("write");
}

void CBlockSocket::close() noexcept {
    Record* r = record_;
    if (r == nullptr)
        return;
    // Our own count keeps the handle allocated until our leave(): nobody else
    // releases it meanwhile.
    r->enter();
    if ((r->state.fetch_or(Record::kClosed) & Record::kClosed) == 0)
        platform::socketCancel(r->handle);
    r->leave(); // the last call out releases the handle
}

void CBlockSocket::setCallHook(CallHook hook) {
    callHook.store(hook);
}

void CBlockSocket::setExchangeLimits(const ExchangeLimits& limits) {
    InFlight call(record_);
    record_->pace = std::make_unique<ExchangePace>(limits);
}

bool CBlockSocket::isOpen() const noexcept {
    return record_ != nullptr && !record_->closed();
}

int CBlockSocket::localPort() const {
    InFlight call(record_);
    int port = platform::socketLocalPort(record_->handle);
    if (port < 0)
        call.fail("bind");
    return port;
}

bool CBlockSocket::noDelay() const noexcept {
    try {
        InFlight call(record_);
        return platform::socketNoDelay(record_->handle);
    } catch (...) {
        return false; // closed
    }
}

void CBlockSocket::finish() noexcept {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kFinishMs);
    try {
        shutdownSend();
        setTimeoutMs(kFinishMs, kFinishMs);
        char discard[16384];
        std::size_t total = 0;
        while (total < kFinishBytes && std::chrono::steady_clock::now() < deadline) {
            const std::size_t got = receive(discard, sizeof discard);
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
