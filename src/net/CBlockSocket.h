#pragma once
// A blocking IPv4 TCP socket as a value object. Copies share one counted socket
// record; closing through any copy is seen by all of them at once. It is the
// ByteChannel of every real connection (a shared copy under a SocketStream).
//
// Errors: every failure throws CBlockSocket::Error whose what() is the name of
// the failed operation ("create", "bind", "listenAt", "connect",
// "GetHostByName", "write", "receive", "setTimeout", "accept"; or "receive:
// too slow" and the like when an exchange limit is reached). A call on a
// socket that is already closed, or a blocking call interrupted by close() from
// another thread, throws CBlockSocket::Canceled (derived from Error).
//
// Threads: a CBlockSocket (and every copy of it) belongs to the thread that runs
// the conversation; the one call allowed from another thread is close(). Such a
// close wakes the blocked call at once, which then throws Canceled; the system
// socket itself is released only when no call on it is in flight, on Windows
// as on POSIX, so a call never acts on a socket number that has been handed
// out again.
//
// Time-outs: receive and write are limited by the time-outs; accept and connect
// are not. A connection returned by accept carries the listening socket's
// time-outs, while the listening socket itself waits in accept without limit.

#include "net/ByteChannel.h"
#include "net/ExchangeLimits.h"

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quill {

class CBlockSocket : public ByteChannel {
public:
    class Error : public std::exception {
    public:
        explicit Error(const char* operation, int systemError = 0)
            : what_(operation), systemError_(systemError) {}
        const char* what() const noexcept override { return what_; }
        // The system's error number of the failed call (0 when none was
        // reported), for the diagnostic log.
        int systemError() const noexcept { return systemError_; }

    private:
        const char* what_; // always a string literal
        int systemError_;
    };

    // what(): "canceled", with the operation where it is known
    // ("canceled: receive").
    class Canceled : public Error {
    public:
        Canceled() : Error("canceled") {}
        explicit Canceled(const char* operation) : Error(canceledText(operation)) {}

    private:
        static const char* canceledText(const char* operation);
    };

    // Creates a socket and sets its receive and send time-outs in seconds.
    CBlockSocket(int receiveSeconds, int sendSeconds);
    CBlockSocket(const CBlockSocket& other);
    CBlockSocket& operator=(const CBlockSocket& other);
    ~CBlockSocket() override;

    void setTimeout(int receiveSeconds, int sendSeconds);
    // Same, in milliseconds (tests use short time-outs).
    void setTimeoutMs(int receiveMs, int sendMs);

    void bind(int port);     // 127.0.0.1:port
    void listenAt(int port); // bind, then listen with the largest backlog
    // The same on another loopback address, e.g. "127.0.0.5" (a text that is
    // not a dotted IPv4 address raises Error "bind").
    void listenAt(const std::string& address, int port);
    CBlockSocket accept(); // waits without limit
    void connect(const char* host, int port);
    void connect(const std::string& host, int port) override;
    void write(const void* bytes, std::size_t length) override;
    // One receive of at most capacity bytes; 0 when the peer has closed.
    std::size_t receive(void* buffer, std::size_t capacity) override;
    // Ends the sending direction gracefully: the peer reads everything written
    // and then the end of the stream, where close() would reset the connection
    // and could cost it the last bytes. Receiving still works, so a server can
    // read until its client has gone before it closes. Failure: Error "write".
    void shutdownSend();
    // Ends a conversation whose peer may still be sending: shutdownSend, then
    // reads and discards for at most kFinishMs and kFinishBytes (a peer that
    // neither stops nor closes cannot hold the service), so that the close
    // that follows does not reset the connection before the peer has read
    // the last reply. Never throws.
    void finish() noexcept override;
    static constexpr int kFinishMs = 1000;
    static constexpr std::size_t kFinishBytes = 1u << 20;
    // Abortive close (linger 0); harmless when already closed; never throws.
    // Safe from another thread while a blocking call is in progress: it wakes
    // that call and makes every later one fail, but the system handle is given
    // back only when the last call is out, on Windows as on POSIX. A call that
    // begins in the same instant (counted in, not yet inside the system)
    // therefore still meets its own, shut-down socket, never a number the
    // system has handed out again.
    void close() noexcept override;

    // Limits of the one exchange this connection carries (a request and its
    // answer), counted from the set: once a stretch of lowSpeedMs passes in
    // which fewer than lowSpeedBytesPerSecond on average were received and
    // written together, or once deadlineMs have passed, receive and write
    // fail with Error "receive: too slow", "write: too slow", "receive:
    // exchange too long" or "write: exchange too long", and a log line says
    // why. The time left is folded into each call's wait, so a peer that
    // sends nothing, or a byte now and then, cannot hold a call past it.
    // A 0 turns that limit off; both are off unless set. Owning thread only.
    void setExchangeLimits(const ExchangeLimits& limits);

    // Test seam: when set, every accept, connect, write and receive calls it
    // with its operation's name on the calling thread after the call has been
    // counted in and found the socket open, right before the system call (a
    // test parks a call there and races a close against it). Null in the
    // product, where it costs one pointer test per call.
    using CallHook = void (*)(const char* operation);
    static void setCallHook(CallHook hook);

    bool isOpen() const noexcept;
    // The local port after bind (0 binds an ephemeral port, as tests do).
    int localPort() const;
    // Whether TCP_NODELAY is set: it is on every connection the bridge opens
    // or accepts (requests and replies are written whole). False when closed.
    bool noDelay() const noexcept;

private:
    struct Record;
    class InFlight;
    explicit CBlockSocket(Record* record);
    void bindTo(const std::string& address, int port, bool listen);
    void release() noexcept;
    Record* record_;
};

} // namespace quill
