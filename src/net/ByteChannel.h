#pragma once
// The byte transport under a SocketStream: a CBlockSocket in the program, a
// scripted in-memory peer in tests.
//
// Errors: the operations throw CBlockSocket::Error (what(): "connect",
// "receive", "write", ...) on failure and CBlockSocket::Canceled once the
// channel has been closed, exactly like the socket they stand for.
//
// Threads: a channel belongs to the thread that runs the conversation; close()
// alone may be called from another thread, and it makes a blocked receive,
// write or connect fail at once.

#include <cstddef>
#include <string>

namespace quill {

class ByteChannel {
public:
    virtual ~ByteChannel() = default;

    // Opens the connection to host:port (a dotted IPv4 address or a name).
    // Channels made from an accepted connection are already connected.
    virtual void connect(const std::string& host, int port) = 0;
    // One receive of at most capacity bytes; 0 when the peer has closed.
    virtual std::size_t receive(void* buffer, std::size_t capacity) = 0;
    // Sends all length bytes.
    virtual void write(const void* bytes, std::size_t length) = 0;
    // Closes the connection; harmless when already closed; never throws.
    virtual void close() noexcept = 0;
    // Ends a conversation whose peer may still be sending: ends the sending
    // direction after what was written, then reads and discards what comes
    // for a moment, so that the close that follows does not reset the
    // connection before the peer has read the last reply. Never throws;
    // channels without a connection of their own do nothing.
    virtual void finish() noexcept {}
    // After receive returned 0: whether that end was the peer's own word. A
    // TLS channel says so only when the peer's close_notify came; anyone on
    // the path can end a plain TCP stream, and no channel can tell, so plain
    // channels say true and leave the question to the data's own length.
    virtual bool endConfirmed() const noexcept { return true; }
};

} // namespace quill
