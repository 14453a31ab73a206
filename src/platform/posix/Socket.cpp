#include "platform/Socket.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace quill::platform {

namespace {

int fd(SocketHandle socket) {
    return static_cast<int>(socket);
}

bool setTimeout(SocketHandle socket, int option, int milliseconds) {
    if (milliseconds < 0)
        milliseconds = 0;
    timeval tv{};
    tv.tv_sec = milliseconds / 1000;
    tv.tv_usec = (milliseconds % 1000) * 1000;
    return ::setsockopt(fd(socket), SOL_SOCKET, option, &tv, sizeof tv) == 0;
}

sockaddr_in makeAddress(std::uint32_t address, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<std::uint16_t>(port));
    sa.sin_addr.s_addr = address;
    return sa;
}

std::atomic<const SocketTrace*> trace{nullptr};

// Every handle handed out: TCP_NODELAY set (see Socket.h), then the trace.
SocketHandle traced(int s) {
    if (s < 0)
        return kInvalidSocket;
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (const SocketTrace* t = trace.load())
        t->opened(s);
    return s;
}

void lingerZero(SocketHandle socket) {
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    ::setsockopt(fd(socket), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
}

} // namespace

void setSocketTrace(const SocketTrace* t) {
    trace.store(t);
}

SocketHandle socketOpen() {
    return traced(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
}

bool socketSetReceiveTimeout(SocketHandle socket, int milliseconds) {
    return setTimeout(socket, SO_RCVTIMEO, milliseconds);
}

bool socketSetSendTimeout(SocketHandle socket, int milliseconds) {
    return setTimeout(socket, SO_SNDTIMEO, milliseconds);
}

bool parseIPv4(const char* text, std::uint32_t& address) {
    if (text == nullptr)
        return false;
    in_addr_t a = ::inet_addr(text);
    if (a == INADDR_NONE)
        return false;
    address = a;
    return true;
}

bool lookupIPv4(const char* host, std::uint32_t& address) {
    if (host == nullptr || *host == '\0')
        return false;
    // getaddrinfo rather than gethostbyname: the latter returns a static
    // buffer shared by all threads.
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (::getaddrinfo(host, nullptr, &hints, &result) != 0 || result == nullptr)
        return false;
    bool found = false;
    for (addrinfo* ai = result; ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_family == AF_INET && ai->ai_addr != nullptr) {
            sockaddr_in sa;
            std::memcpy(&sa, ai->ai_addr, sizeof sa);
            address = sa.sin_addr.s_addr;
            found = true;
            break;
        }
    }
    ::freeaddrinfo(result);
    return found;
}

bool socketBind(SocketHandle socket, std::uint32_t address, int port) {
    if (port < 0 || port > 65535)
        return false;
    // A port whose last connection we ended first stays in TIME_WAIT for a
    // minute; without SO_REUSEADDR a service restarted meanwhile could not
    // bind it. Two listeners on one port are still refused.
    const int on = 1;
    ::setsockopt(fd(socket), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in sa = makeAddress(address, port);
    return ::bind(fd(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool socketNoDelay(SocketHandle socket) {
    int on = 0;
    socklen_t size = sizeof on;
    return ::getsockopt(fd(socket), IPPROTO_TCP, TCP_NODELAY, &on, &size) == 0 && on != 0;
}

bool socketListen(SocketHandle socket, int backlog) {
    return ::listen(fd(socket), backlog) == 0;
}

SocketHandle socketAccept(SocketHandle socket) {
    return traced(::accept4(fd(socket), nullptr, nullptr, SOCK_CLOEXEC));
}

bool socketConnect(SocketHandle socket, std::uint32_t address, int port) {
    if (port < 0 || port > 65535) {
        errno = EINVAL;
        return false;
    }
    sockaddr_in sa = makeAddress(address, port);
    return ::connect(fd(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

long socketSend(SocketHandle socket, const void* bytes, std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX))
        length = INT_MAX;
    return static_cast<long>(::send(fd(socket), bytes, length, MSG_NOSIGNAL));
}

long socketReceive(SocketHandle socket, void* buffer, std::size_t capacity) {
    if (capacity > static_cast<std::size_t>(INT_MAX))
        capacity = INT_MAX;
    return static_cast<long>(::recv(fd(socket), buffer, capacity, 0));
}

int socketLocalPort(SocketHandle socket) {
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (::getsockname(fd(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

bool socketShutdownSend(SocketHandle socket) {
    return ::shutdown(fd(socket), SHUT_WR) == 0;
}

int socketLastError() {
    return errno;
}

bool socketLastCallInterrupted() {
    return errno == EINTR;
}

void socketCancel(SocketHandle socket) {
    // close() from another thread would neither wake a call blocked in
    // recv/accept/connect nor keep the number from being reused at once;
    // shutdown wakes them all and the descriptor stays ours.
    lingerZero(socket);
    ::shutdown(fd(socket), SHUT_RDWR);
}

void socketClose(SocketHandle socket) {
    if (const SocketTrace* t = trace.load())
        t->released(socket);
    lingerZero(socket);
    ::close(fd(socket));
}

} // namespace quill::platform
