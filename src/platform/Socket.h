#pragma once
// Thin wrappers over the system's IPv4 TCP socket calls. No exceptions: each
// call reports failure by its return value, and socketLastCallInterrupted()
// tells right after a failure (on the same thread) whether the system reported
// an interrupted blocking call. Addresses are IPv4 in network byte order, ports
// in host byte order. Time-outs are in milliseconds, 0 meaning none.

#include <cstddef>
#include <cstdint>

namespace quill::platform {

using SocketHandle = std::intptr_t;
constexpr SocketHandle kInvalidSocket = -1;

// An IPv4 stream socket with the default protocol, or kInvalidSocket. Starts
// the socket library first where the system needs that (see SocketStartup.h).
// Every socket handed out (opened or accepted) has TCP_NODELAY set: each
// request and reply is written whole, so Nagle's wait for the peer's
// acknowledgement would only add a round trip at a distance.
SocketHandle socketOpen();
// Whether TCP_NODELAY is set on the socket.
bool socketNoDelay(SocketHandle socket);

bool socketSetReceiveTimeout(SocketHandle socket, int milliseconds);
bool socketSetSendTimeout(SocketHandle socket, int milliseconds);

// A dotted IPv4 address ("127.0.0.1", also the short forms the system's
// inet_addr accepts); false when the text is not one.
bool parseIPv4(const char* text, std::uint32_t& address);
// The first IPv4 address of a host name; false when the name is not found.
bool lookupIPv4(const char* host, std::uint32_t& address);

bool socketBind(SocketHandle socket, std::uint32_t address, int port);
bool socketListen(SocketHandle socket, int backlog);
// Waits for one connection; kInvalidSocket on failure.
SocketHandle socketAccept(SocketHandle socket);
bool socketConnect(SocketHandle socket, std::uint32_t address, int port);
// Bytes sent or received, -1 on failure; receive returns 0 at end of stream.
// A send never raises a signal when the peer is gone.
long socketSend(SocketHandle socket, const void* bytes, std::size_t length);
long socketReceive(SocketHandle socket, void* buffer, std::size_t capacity);
// The bound local port, or -1.
int socketLocalPort(SocketHandle socket);
// Ends the sending direction once the data already sent has gone out (a FIN,
// not a reset); receiving goes on. False on failure.
bool socketShutdownSend(SocketHandle socket);

bool socketLastCallInterrupted();
// The system's error number of the last failed call on this thread (errno,
// WSAGetLastError), for diagnostics.
int socketLastError();

// Called from any thread while other threads may be blocked on the socket:
// arms an abortive close (linger on, 0 seconds) and makes every blocked and
// every later call on it return at once. The handle stays allocated: its owner
// releases it with socketClose once no call on it is in flight, so that its
// number cannot be reused under a running call.
void socketCancel(SocketHandle socket);
// Abortive close; releases the handle.
void socketClose(SocketHandle socket);

// Test seam: when set, opened is called with every handle socketOpen and
// socketAccept hand out, released with every handle just before socketClose
// gives it back (tests count that each is released exactly once). Either may
// run on any thread. Null in the product, where it costs one pointer test.
struct SocketTrace {
    void (*opened)(SocketHandle);
    void (*released)(SocketHandle);
};
void setSocketTrace(const SocketTrace* trace);

} // namespace quill::platform
