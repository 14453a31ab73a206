#include "platform/Socket.h"
#include "platform/SocketStartup.h"

#include <winsock2.h>

#include <climits>

namespace quill::platform {

namespace {

SOCKET sock(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

bool setTimeout(SocketHandle socket, int option, int milliseconds) {
    DWORD ms = milliseconds < 0 ? 0 : static_cast<DWORD>(milliseconds);
    return ::setsockopt(sock(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&ms),
                        sizeof ms) == 0;
}

sockaddr_in makeAddress(std::uint32_t address, int port) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<u_short>(port));
    sa.sin_addr.s_addr = address;
    return sa;
}

void lingerZero(SocketHandle socket) {
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    ::setsockopt(sock(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&lg),
                 sizeof lg);
}

} // namespace

SocketHandle socketOpen() {
    if (!startSockets())
        return kInvalidSocket;
    SOCKET s = ::socket(AF_INET, SOCK_STREAM, 0);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
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
    return ::bind(sock(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

bool socketListen(SocketHandle socket, int backlog) {
    return ::listen(sock(socket), backlog) == 0;
}

SocketHandle socketAccept(SocketHandle socket) {
    SOCKET s = ::accept(sock(socket), nullptr, nullptr);
    return s == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(s);
}

bool socketConnect(SocketHandle socket, std::uint32_t address, int port) {
    if (port < 0 || port > 65535)
        return false;
    sockaddr_in sa = makeAddress(address, port);
    return ::connect(sock(socket), reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
}

long socketSend(SocketHandle socket, const void* bytes, std::size_t length) {
    if (length > static_cast<std::size_t>(INT_MAX))
        length = INT_MAX;
    int n = ::send(sock(socket), static_cast<const char*>(bytes), static_cast<int>(length), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

long socketReceive(SocketHandle socket, void* buffer, std::size_t capacity) {
    if (capacity > static_cast<std::size_t>(INT_MAX))
        capacity = INT_MAX;
    int n = ::recv(sock(socket), static_cast<char*>(buffer), static_cast<int>(capacity), 0);
    return n == SOCKET_ERROR ? -1 : n;
}

int socketLocalPort(SocketHandle socket) {
    sockaddr_in sa{};
    int len = sizeof sa;
    if (::getsockname(sock(socket), reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return -1;
    return ntohs(sa.sin_port);
}

bool socketShutdownSend(SocketHandle socket) {
    return ::shutdown(sock(socket), SD_SEND) == 0;
}

int socketLastError() {
    return ::WSAGetLastError();
}

bool socketLastCallInterrupted() {
    return ::WSAGetLastError() == WSAEINTR;
}

bool socketCancel(SocketHandle socket) {
    // Winsock wakes a blocked call only when its socket is closed; shutdown
    // does not end a blocked accept. The handle is therefore released here.
    // A call that has passed its closed check but not yet entered Winsock when
    // this runs could still meet the handle value reused by a new socket; that
    // window is a few instructions wide, where on Linux there is none.
    lingerZero(socket);
    ::closesocket(sock(socket));
    return true;
}

void socketClose(SocketHandle socket) {
    lingerZero(socket);
    ::closesocket(sock(socket));
}

} // namespace quill::platform
