#include "platform/Socket.h"
#include "platform/SocketStartup.h"

#include <winsock2.h>

#include <atomic>
#include <climits>

// Every socket is non-blocking (WSAEventSelect makes it so). A call first tries
// the system call; only when that would block does it wait, with
// WSAWaitForMultipleEvents, for the socket's network event, its cancel event or
// the end of its time-out, and then simply tries again. Nothing depends on
// which notification woke the wait or on when Winsock re-arms FD_WRITE and
// FD_CLOSE (systems differ there): the retried call decides. A Cancel sets the
// cancel event and shuts the socket down, and the handle stays allocated until
// its owner closes it, so a call can never reach a handle number that the
// system has handed out again. Needs Winsock 2 only (Windows 95 with Winsock 2,
// NT 4 and later; the build targets XP).

namespace quill::platform {

namespace {

// What a SocketHandle points at. socket and the two events never change after
// creation. The time-outs are written and read by the owning thread only; the
// one call from another thread, socketCancel, touches only socket and cancel.
struct WinSocket {
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT network = WSA_INVALID_EVENT; // WSAEventSelect's event
    WSAEVENT cancel = WSA_INVALID_EVENT;  // manual reset: set once by socketCancel
    DWORD receiveMs = 0;                  // 0: no limit
    DWORD sendMs = 0;
};

// A wait longer than this wakes and retries anyway: a notification that some
// Winsock never delivers then costs this much instead of the whole time-out.
constexpr DWORD kLongestWait = 500;

constexpr long kNetworkEvents = FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE;

std::atomic<const SocketTrace*> trace{nullptr};

WinSocket* from(SocketHandle handle) {
    return reinterpret_cast<WinSocket*>(handle);
}

sockaddr_in makeAddress(std::uint32_t address, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    sa.sin_addr.s_addr = address;
    return sa;
}

void lingerZero(SOCKET s) {
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg), sizeof lg);
}

// Wraps a system socket: its own events, selected for every network event
// (which also makes it non-blocking). An accepted socket inherits its
// listener's selection and event, so it is selected anew here. On failure the
// system socket is closed and kInvalidSocket returned.
SocketHandle adopt(SOCKET s) {
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    WinSocket* k = new WinSocket;
    k->socket = s;
    k->network = ::WSACreateEvent();
    k->cancel = ::WSACreateEvent();
    if (k->network == WSA_INVALID_EVENT || k->cancel == WSA_INVALID_EVENT ||
        ::WSAEventSelect(s, k->network, kNetworkEvents) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(s);
        if (k->network != WSA_INVALID_EVENT)
            ::WSACloseEvent(k->network);
        if (k->cancel != WSA_INVALID_EVENT)
            ::WSACloseEvent(k->cancel);
        delete k;
        ::WSASetLastError(error);
        return kInvalidSocket;
    }
    const SocketHandle handle = reinterpret_cast<SocketHandle>(k);
    if (const SocketTrace* t = trace.load())
        t->opened(handle);
    return handle;
}

bool canceled(const WinSocket& k) {
    return ::WaitForSingleObject(k.cancel, 0) == WAIT_OBJECT_0;
}

// Clears the network event and Winsock's record of what set it. Done before
// each try: whatever happens after the try sets the event again.
void clearNetworkEvents(const WinSocket& k) {
    WSANETWORKEVENTS seen;
    ::WSAEnumNetworkEvents(k.socket, k.network, &seen);
}

// Waits for either event, at most remainingMs (INFINITE: no limit) and never
// longer than kLongestWait. False with the Winsock error set when the wait
// itself fails.
bool awaitEvent(const WinSocket& k, DWORD remainingMs) {
    WSAEVENT events[2] = {k.cancel, k.network};
    const DWORD ms = remainingMs < kLongestWait ? remainingMs : kLongestWait;
    return ::WSAWaitForMultipleEvents(2, events, FALSE, ms, FALSE) != WSA_WAIT_FAILED;
}

// Runs attempt, which returns true when its call completed (succeeded, or
// failed other than with WSAEWOULDBLOCK), until it completes. False when the
// socket was canceled first (error WSAEINTR), limitMs (0: none) passed first
// (WSAETIMEDOUT) or the wait failed.
template <class Attempt> bool untilDone(const WinSocket& k, DWORD limitMs, Attempt attempt) {
    const DWORD start = ::GetTickCount();
    for (;;) {
        if (canceled(k)) {
            ::WSASetLastError(WSAEINTR);
            return false;
        }
        clearNetworkEvents(k);
        if (attempt())
            return true;
        DWORD remaining = INFINITE;
        if (limitMs != 0) {
            const DWORD spent = ::GetTickCount() - start; // wraps correctly
            if (spent >= limitMs) {
                ::WSASetLastError(WSAETIMEDOUT);
                return false;
            }
            remaining = limitMs - spent;
        }
        if (!awaitEvent(k, remaining))
            return false;
    }
}

bool wouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

DWORD limit(int milliseconds) {
    return milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds);
}

} // namespace

void setSocketTrace(const SocketTrace* t) {
    trace.store(t);
}

SocketHandle socketOpen() {
    if (!startSockets())
        return kInvalidSocket;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kInvalidSocket : adopt(s);
}

bool socketSetReceiveTimeout(SocketHandle socket, int milliseconds) {
    from(socket)->receiveMs = limit(milliseconds);
    return true;
}

bool socketSetSendTimeout(SocketHandle socket, int milliseconds) {
    from(socket)->sendMs = limit(milliseconds);
    return true;
}

bool parseIPv4(const char* text, std::uint32_t& address) {
    if (text == nullptr)
        return false;
    unsigned long a = ::inet_addr(text);
    if (a == INADDR_NONE)
        return false;
    address = static_cast<std::uint32_t>(a);
    return true;
}

bool lookupIPv4(const char* host, std::uint32_t& address) {
    if (host == nullptr || *host == '\0' || !startSockets())
        return false;
    // Winsock keeps the result in a buffer of the calling thread.
    hostent* he = ::gethostbyname(host);
    if (he == nullptr || he->h_addrtype != AF_INET || he->h_addr_list == nullptr ||
        he->h_addr_list[0] == nullptr)
        return false;
    in_addr a;
    memcpy(&a, he->h_addr_list[0], sizeof a);
    address = a.s_addr;
    return true;
}

bool socketBind(SocketHandle socket, std::uint32_t address, int port) {
    if (port < 0 || port > 65535)
        return false;
    sockaddr_in sa = makeAddress(address, port);
    return ::bind(from(socket)->socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool socketNoDelay(SocketHandle socket) {
    BOOL on = FALSE;
    int size = sizeof on;
    return ::getsockopt(from(socket)->socket, IPPROTO_TCP, TCP_NODELAY,
                        reinterpret_cast<char*>(&on), &size) == 0 &&
           on != FALSE;
}

bool socketListen(SocketHandle socket, int backlog) {
    return ::listen(from(socket)->socket, backlog) == 0;
}

SocketHandle socketAccept(SocketHandle socket) {
    const WinSocket& k = *from(socket);
    SOCKET accepted = INVALID_SOCKET;
    const bool done = untilDone(k, 0, [&] {
        accepted = ::accept(k.socket, nullptr, nullptr);
        return accepted != INVALID_SOCKET || !wouldBlock();
    });
    if (!done || accepted == INVALID_SOCKET)
        return kInvalidSocket;
    return adopt(accepted);
}

bool socketConnect(SocketHandle socket, std::uint32_t address, int port) {
    if (port < 0 || port > 65535) {
        ::WSASetLastError(WSAEINVAL);
        return false;
    }
    const WinSocket& k = *from(socket);
    if (canceled(k)) {
        ::WSASetLastError(WSAEINTR);
        return false;
    }
    sockaddr_in sa = makeAddress(address, port);
    if (::connect(k.socket, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0)
        return true;
    if (!wouldBlock())
        return false;
    // In progress. Its outcome is read with a select that does not wait:
    // writable means connected, the exception set means failed, with the
    // reason in SO_ERROR. No time-out of ours: the system gives up on its own.
    bool connected = false;
    const bool done = untilDone(k, 0, [&] {
        fd_set writable;
        fd_set failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(k.socket, &writable);
        FD_SET(k.socket, &failed);
        timeval now{0, 0};
        if (::select(0, nullptr, &writable, &failed, &now) == SOCKET_ERROR)
            return true;
        if (FD_ISSET(k.socket, &failed)) {
            int error = 0;
            int length = sizeof error;
            ::getsockopt(k.socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            ::WSASetLastError(error != 0 ? error : WSAECONNREFUSED);
            return true;
        }
        connected = FD_ISSET(k.socket, &writable) != 0;
        return connected;
    });
    return done && connected;
}

long socketSend(SocketHandle socket, const void* bytes, std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX))
        length = INT_MAX;
    const WinSocket& k = *from(socket);
    int n = SOCKET_ERROR;
    const bool done = untilDone(k, k.sendMs, [&] {
        n = ::send(k.socket, static_cast<const char*>(bytes), static_cast<int>(length), 0);
        return n != SOCKET_ERROR || !wouldBlock();
    });
    return done && n != SOCKET_ERROR ? n : -1;
}

long socketReceive(SocketHandle socket, void* buffer, std::size_t capacity) {
    if (capacity > static_cast<std::size_t>(INT_MAX))
        capacity = INT_MAX;
    const WinSocket& k = *from(socket);
    int n = SOCKET_ERROR;
    const bool done = untilDone(k, k.receiveMs, [&] {
        n = ::recv(k.socket, static_cast<char*>(buffer), static_cast<int>(capacity), 0);
        return n != SOCKET_ERROR || !wouldBlock();
    });
    return done && n != SOCKET_ERROR ? n : -1;
}

int socketLocalPort(SocketHandle socket) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(from(socket)->socket, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

bool socketShutdownSend(SocketHandle socket) {
    return ::shutdown(from(socket)->socket, SD_SEND) == 0;
}

int socketLastError() {
    return ::WSAGetLastError();
}

bool socketLastCallInterrupted() {
    return ::WSAGetLastError() == WSAEINTR;
}

void socketCancel(SocketHandle socket) {
    // The event ends a wait in progress and is seen by every later call before
    // it tries; the shutdown ends the connection at once, as on POSIX.
    const WinSocket& k = *from(socket);
    ::WSASetEvent(k.cancel);
    lingerZero(k.socket);
    ::shutdown(k.socket, SD_BOTH);
}

void socketClose(SocketHandle socket) {
    if (const SocketTrace* t = trace.load())
        t->released(socket);
    WinSocket* k = from(socket);
    lingerZero(k->socket);
    ::closesocket(k->socket);
    ::WSACloseEvent(k->network);
    ::WSACloseEvent(k->cancel);
    delete k;
}

} // namespace quill::platform
