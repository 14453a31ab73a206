#pragma once
// A ByteChannel over one CBlockSocket: the channel of every real connection.

#include "net/CBlockSocket.h"
#include "webmail/ByteChannel.h"

namespace quill {

class SocketChannel : public ByteChannel {
public:
    // finish() reads for at most this long and at most this many bytes: a
    // peer that neither stops sending nor closes cannot hold the service.
    static constexpr int kFinishMs = 1000;
    static constexpr std::size_t kFinishBytes = 1u << 20;

    // Takes a share of the socket (an accepted connection, or a fresh socket
    // that connect() will open).
    explicit SocketChannel(const CBlockSocket& socket) : socket_(socket) {}

    void connect(const std::string& host, int port) override { socket_.connect(host, port); }
    std::size_t receive(void* buffer, std::size_t capacity) override {
        return socket_.receive(buffer, capacity);
    }
    void write(const void* bytes, std::size_t length) override { socket_.write(bytes, length); }
    // CBlockSocket::close is the one socket call allowed from another thread.
    void close() noexcept override { socket_.close(); }
    void finish() noexcept override;

    CBlockSocket& socket() { return socket_; }

private:
    CBlockSocket socket_;
};

} // namespace quill
