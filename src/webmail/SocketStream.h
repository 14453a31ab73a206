#pragma once
// Buffered byte stream over one connection: line reading (CR LF), reading up
// to a delimiter or to the end, and writing that is sent whole by flush().
// Used by the HTTP exchange and by the POP3 and SMTP sessions.
//
// Errors: failures of the connection surface as CBlockSocket::Error and
// CBlockSocket::Canceled. readLine() at the end of the stream with fewer than
// two bytes left throws SocketStream::PeerClosed, a receive failure of the
// socket's kind. A bounded read whose line grows past its limit throws
// SocketStream::LineTooLong.
//
// Threads: one thread uses the stream; close() may come from another thread.

#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>

namespace quill {

class SocketStream {
public:
    // A line or a delimited read ran past its byte limit without the delimiter.
    // The buffered input is dropped; the caller should end the conversation.
    class LineTooLong : public std::length_error {
    public:
        LineTooLong() : std::length_error("line too long") {}
    };

    // The peer closed its side where a line was expected: an ordinary end of
    // a conversation, reported as the socket's receive failure.
    class PeerClosed : public CBlockSocket::Error {
    public:
        PeerClosed() : CBlockSocket::Error("receive: the peer closed the connection") {}
    };

    // Bytes asked for per receive.
    static constexpr std::size_t kChunk = 16384;
    // No limit for readUntil's maxLength.
    static constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);
    // Output capacity that a flush keeps for the next writes; a larger buffer
    // is given back, so a large upload is not held for the whole conversation.
    static constexpr std::size_t kKeptOutput = 1u << 20;

    // Over any channel; the stream shares it with whoever else holds it (the
    // HTTP client keeps a share for a Cancel from another thread).
    explicit SocketStream(std::shared_ptr<ByteChannel> channel);
    // Over a socket (an accepted connection): wraps a share of it in a channel.
    explicit SocketStream(const CBlockSocket& socket);
    virtual ~SocketStream();

    SocketStream(const SocketStream&) = delete;
    SocketStream& operator=(const SocketStream&) = delete;

    // Append to the output; nothing is sent before flush().
    void write(const std::string& text) { output_ += text; }
    void write(const void* bytes, std::size_t length);
    void writeLine(const std::string& text);
    // Makes room for total bytes of output in all, so that the writes up to the
    // next flush never move what is already buffered (a large form body is
    // then held once, not once per doubling).
    void reserveOutput(std::size_t total);

    // Sends all buffered output (nothing when it is empty), then discards every
    // received byte not yet read: a peer must wait for each reply before it
    // sends more.
    void flush();

    // Receives one more chunk onto the unread bytes; returns its byte count,
    // 0 at the end of the stream.
    std::size_t receiveMore() { return receiveChunk(); }
    // Makes room for total unread bytes, so that receiving up to that many
    // moves nothing (a caller that knows the size to come avoids the regrowth).
    void reserveInput(std::size_t total);
    // Geometric growth of the input buffer stops at capacity bytes (a single
    // receive still gets its chunk): a reader that gives up past a bound then
    // never holds four times the bound.
    void capInputGrowth(std::size_t capacity) { inputCap_ = capacity; }
    // The unread bytes, without consuming them; valid until the next call.
    const char* unreadData() const { return input_.data() + head_; }

    // Receives until the peer closes; returns everything buffered and unread.
    std::string readToEnd();

    // Returns the buffered bytes up to and including the first delimiter,
    // receiving more while it is absent; the rest stays buffered. When the peer
    // closes first, returns what is buffered (the delimiter missing) and
    // consumes it, so a later read cannot hand out the same bytes again. The search
    // costs time linear in the data: only new bytes are scanned.
    // maxLength bounds the bytes before the delimiter: when that many are
    // buffered and no delimiter among them, throws LineTooLong.
    std::string readUntil(const std::string& delimiter, std::size_t maxLength = kUnlimited);

    // readUntil(CR LF) without the CR LF. At the end of the stream a remainder
    // of two bytes or more is returned as the last line; with fewer left it
    // throws PeerClosed. maxLength bounds the line as in readUntil.
    std::string readLine(std::size_t maxLength = kUnlimited);

    // Closes the connection; safe from another thread, never throws.
    void close() noexcept;

    const std::shared_ptr<ByteChannel>& channel() const { return channel_; }
    // Bytes received and not yet read.
    std::size_t buffered() const { return input_.size() - head_; }

private:
    // Receives one chunk onto the input; returns the byte count, 0 at the end.
    std::size_t receiveChunk();
    // Moves the buffered bytes into a buffer of this capacity.
    void growInput(std::size_t capacity);
    // Removes and returns the next count unread bytes.
    std::string take(std::size_t count);

    std::shared_ptr<ByteChannel> channel_;
    std::string output_;
    // Unread input is input_[head_, size): consumed bytes are dropped lazily
    // so that many short reads do not move the rest of a large buffer each time.
    std::string input_;
    std::size_t head_ = 0;
    bool ended_ = false; // the peer has closed: no more receives
    std::size_t inputCap_ = kUnlimited;
};

} // namespace quill
