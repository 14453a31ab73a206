#include "webmail/SocketStream.h"

#include "net/CBlockSocket.h"
#include "platform/LargeBuffer.h"

#include <algorithm>
#include <cstring>

namespace quill {

namespace {

constexpr std::size_t kOutputReserve = 8192;
constexpr std::size_t kInputReserve = 65536;
// Input capacity from which the buffer grows fourfold.
constexpr std::size_t kFastGrowth = 1u << 20;

} // namespace

SocketStream::SocketStream(std::shared_ptr<ByteChannel> channel) : channel_(std::move(channel)) {
    output_.reserve(kOutputReserve);
    input_.reserve(kInputReserve);
}

SocketStream::SocketStream(const CBlockSocket& socket)
    : SocketStream(std::make_shared<CBlockSocket>(socket)) {}

SocketStream::~SocketStream() = default;

void SocketStream::write(const void* bytes, std::size_t length) {
    output_.append(static_cast<const char*>(bytes), length);
}

void SocketStream::reserveOutput(std::size_t total) {
    if (total > output_.capacity()) {
        output_.reserve(total);
    }
}

void SocketStream::reserveInput(std::size_t total) {
    if (head_ + total > input_.capacity()) {
        growInput(head_ + total);
    }
}

void SocketStream::growInput(std::size_t capacity) {
    // The hint must come before the bytes are copied over: pages that the copy
    // has already faulted in stay small.
    std::string grown;
    grown.reserve(capacity);
    platform::adviseLargeBuffer(&grown[0], grown.capacity());
    grown.append(input_);
    input_.swap(grown);
}

void SocketStream::writeLine(const std::string& text) {
    output_ += text;
    output_ += "\r\n";
}

void SocketStream::flush() {
    if (output_.empty()) {
        return;
    }
    channel_->write(output_.data(), output_.size());
    if (output_.capacity() > kKeptOutput) {
        // A large upload is not kept for the rest of the conversation.
        std::string().swap(output_);
        output_.reserve(kOutputReserve);
    } else {
        output_.clear();
    }
    input_.clear();
    head_ = 0;
}

std::size_t SocketStream::receiveChunk() {
    if (ended_) {
        return 0;
    }
    // Drop consumed bytes once they are the larger part, so the buffer stays
    // proportional to the unread data and the copying amortises to O(1) a byte.
    if (head_ > 0 && head_ >= input_.size() - head_) {
        input_.erase(0, head_);
        head_ = 0;
    }
    const std::size_t used = input_.size();
    if (used + kChunk > input_.capacity()) {
        // Geometric growth keeps a response read to its end at O(1) copies a
        // byte, whatever growth policy the library's resize has. Past 1 MiB
        // the factor is 4: a large upload is then copied about a third as
        // often, and the capacity it does not fill is never touched.
        const std::size_t factor = input_.capacity() >= kFastGrowth ? 4 : 2;
        const std::size_t grown = std::max(used + kChunk, input_.capacity() * factor);
        growInput(std::max(used + kChunk, std::min(grown, inputCap_)));
    }
    input_.resize(used + kChunk);
    std::size_t received = 0;
    try {
        received = channel_->receive(&input_[used], kChunk);
    } catch (...) {
        input_.resize(used);
        throw;
    }
    if (received > kChunk) {
        received = kChunk; // a channel never reports more than asked for
    }
    input_.resize(used + received);
    if (received == 0) {
        ended_ = true;
    }
    return received;
}

std::string SocketStream::take(std::size_t count) {
    if (head_ == 0 && count == input_.size()) {
        // Everything buffered goes (a whole response, a DATA upload): hand the
        // buffer over instead of copying it.
        std::string out = std::move(input_);
        input_ = std::string();
        input_.reserve(kInputReserve);
        return out;
    }
    std::string out = input_.substr(head_, count);
    head_ += count;
    if (head_ == input_.size()) {
        input_.clear();
        head_ = 0;
    }
    return out;
}

std::string SocketStream::readToEnd() {
    while (receiveChunk() > 0) {
    }
    return take(buffered());
}

std::string SocketStream::readUntil(const std::string& delimiter, std::size_t maxLength) {
    if (delimiter.empty()) {
        return std::string();
    }
    // Unread positions before head_ + scanned have been ruled out as starts of
    // the delimiter; each new chunk is searched from there.
    std::size_t scanned = 0;
    for (;;) {
        const std::size_t found = input_.find(delimiter, head_ + scanned);
        if (found != std::string::npos) {
            const std::size_t before = found - head_;
            if (before > maxLength) {
                input_.clear();
                head_ = 0;
                throw LineTooLong();
            }
            return take(before + delimiter.size());
        }
        const std::size_t unread = buffered();
        // A delimiter not yet complete could start in its last length-1 bytes.
        scanned = unread >= delimiter.size() ? unread - delimiter.size() + 1 : 0;
        if (maxLength != kUnlimited && scanned > maxLength) {
            input_.clear();
            head_ = 0;
            throw LineTooLong();
        }
        // receiveChunk may move the unread bytes to the front: scanned counts
        // from head_, so it stays valid.
        if (receiveChunk() == 0) {
            return take(buffered());
        }
    }
}

std::string SocketStream::readLine(std::size_t maxLength) {
    std::string line = readUntil("\r\n", maxLength);
    if (line.size() < 2) {
        throw PeerClosed();
    }
    if (line.compare(line.size() - 2, 2, "\r\n") == 0) {
        line.resize(line.size() - 2);
    }
    return line;
}

void SocketStream::close() noexcept {
    if (channel_) {
        channel_->close();
    }
}

} // namespace quill
