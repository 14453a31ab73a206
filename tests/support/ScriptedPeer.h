#pragma once
// The one fake byte channel of the tests and fuzz targets: a scripted peer
// (the mail client of a session test, the site of an HTTP test) that replies
// from a list and records what it got. It hands out its input in chunks (never
// two chunks in one receive, each cut into slices of at most `slice` bytes),
// records every byte written, and can fail the N-th operation.
//
// What happens once the input is used up is chosen by AtEnd: the peer closes
// (receive returns 0), the receive times out (CBlockSocket::Error "receive"),
// or the receive blocks until close() is called from another thread and then
// throws CBlockSocket::Canceled, as a socket closed by a Cancel does.
//
// Threads: the owning thread makes the calls; close() and the observers may
// come from any thread. Everything is under one lock.

#include "net/ByteChannel.h"
#include "net/CBlockSocket.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace quill {

class ScriptedPeer : public ByteChannel {
public:
    enum class AtEnd { Close, TimeOut, Block };

    // A fuzz input as the receives of a peer: each pair "\xff\xff" starts a
    // new receive.
    static std::vector<std::string> receivesOf(const std::uint8_t* data, std::size_t size) {
        std::vector<std::string> chunks(1);
        for (std::size_t i = 0; i < size; ++i) {
            if (data[i] == 0xff && i + 1 < size && data[i + 1] == 0xff) {
                chunks.emplace_back();
                ++i;
            } else {
                chunks.back() += static_cast<char>(data[i]);
            }
        }
        return chunks;
    }

    explicit ScriptedPeer(std::vector<std::string> chunks = {},
                          std::size_t slice = static_cast<std::size_t>(-1),
                          AtEnd atEnd = AtEnd::Close)
        : slice_(slice == 0 ? 1 : slice), atEnd_(atEnd) {
        for (std::string& chunk : chunks) {
            if (!chunk.empty()) { // an empty chunk would read as the peer's close
                chunks_.push_back(std::move(chunk));
            }
        }
    }

    // The n-th operation (1-based, counting connect, receive and write alike)
    // throws CBlockSocket::Error with that operation's name.
    void failAt(int n) {
        std::lock_guard<std::mutex> guard(lock_);
        failAt_ = n;
    }
    // Adds input after what is already scripted.
    void push(const std::string& chunk) {
        std::lock_guard<std::mutex> guard(lock_);
        if (!chunk.empty()) {
            chunks_.push_back(chunk);
        }
    }

    // Makes connect() hang until close(), as a connect to a peer that never
    // accepts does; it then throws CBlockSocket::Canceled.
    void hangOnConnect() {
        std::lock_guard<std::mutex> guard(lock_);
        hangOnConnect_ = true;
    }

    void connect(const std::string& host, int port) override {
        std::unique_lock<std::mutex> guard(lock_);
        step("connect");
        host_ = host;
        port_ = port;
        if (hangOnConnect_) {
            waitForClose(guard);
        }
        connected_ = true;
    }

    std::size_t receive(void* buffer, std::size_t capacity) override {
        std::unique_lock<std::mutex> guard(lock_);
        step("receive");
        while (chunks_.empty()) {
            if (atEnd_ == AtEnd::Close) {
                return 0;
            }
            if (atEnd_ == AtEnd::TimeOut) {
                throw CBlockSocket::Error("receive");
            }
            waitForClose(guard);
        }
        std::string& chunk = chunks_.front();
        const std::size_t count = std::min({capacity, slice_, chunk.size()});
        std::memcpy(buffer, chunk.data(), count);
        chunk.erase(0, count);
        if (chunk.empty()) {
            chunks_.pop_front();
        }
        return count;
    }

    void write(const void* bytes, std::size_t length) override {
        std::lock_guard<std::mutex> guard(lock_);
        step("write");
        written_.append(static_cast<const char*>(bytes), length);
        ++writes_;
        largestWrite_ = std::max(largestWrite_, length);
    }

    void close() noexcept override {
        std::lock_guard<std::mutex> guard(lock_);
        closed_ = true;
        changed_.notify_all();
    }

    // Waits until a receive blocks at the end of the input (AtEnd::Block) or
    // a connect hangs.
    void waitUntilBlocked() {
        std::unique_lock<std::mutex> guard(lock_);
        changed_.wait(guard, [this] { return blocked_ || closed_; });
    }

    std::string written() const {
        std::lock_guard<std::mutex> guard(lock_);
        return written_;
    }
    int writes() const {
        std::lock_guard<std::mutex> guard(lock_);
        return writes_;
    }
    std::size_t largestWrite() const {
        std::lock_guard<std::mutex> guard(lock_);
        return largestWrite_;
    }
    // Scripted chunks not yet (wholly) received.
    std::size_t unread() const {
        std::lock_guard<std::mutex> guard(lock_);
        return chunks_.size();
    }
    bool closed() const {
        std::lock_guard<std::mutex> guard(lock_);
        return closed_;
    }
    bool connected() const {
        std::lock_guard<std::mutex> guard(lock_);
        return connected_;
    }
    std::string host() const {
        std::lock_guard<std::mutex> guard(lock_);
        return host_;
    }
    int port() const {
        std::lock_guard<std::mutex> guard(lock_);
        return port_;
    }
    int operations() const {
        std::lock_guard<std::mutex> guard(lock_);
        return operations_;
    }

private:
    [[noreturn]] void waitForClose(std::unique_lock<std::mutex>& guard) {
        blocked_ = true;
        changed_.notify_all();
        changed_.wait(guard, [this] { return closed_; });
        blocked_ = false;
        throw CBlockSocket::Canceled();
    }

    // Counts one operation; throws as a closed or failing socket does.
    void step(const char* name) {
        ++operations_;
        if (closed_) {
            throw CBlockSocket::Canceled();
        }
        if (operations_ == failAt_) {
            throw CBlockSocket::Error(name);
        }
    }

    mutable std::mutex lock_;
    std::condition_variable changed_;
    std::deque<std::string> chunks_;
    std::size_t slice_;
    AtEnd atEnd_;
    int failAt_ = 0;
    int operations_ = 0;
    int writes_ = 0;
    std::size_t largestWrite_ = 0;
    bool closed_ = false;
    bool blocked_ = false;
    bool connected_ = false;
    std::string host_;
    int port_ = 0;
    bool hangOnConnect_ = false;
    std::string written_;
};

} // namespace quill
