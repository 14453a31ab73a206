// latency-relay: a TCP relay on loopback that puts a distance between a
// client and a server. Every byte waits a one-way delay D in each direction,
// so a request and its answer cost the round trip 2D; the first bytes of a
// connection towards the server wait one round trip more (2D), the TCP
// handshake a client at that distance waits for before it can send, and the
// connection reaches the server D after the client made it (the SYN's trip).
// An end of stream travels the same way, D behind the last byte, and a
// connection is torn down once both directions have ended.
//
// usage:
//   latency-relay --target HOST:PORT --delay-ms D [--listen 127.0.0.1:0]
//                 [--port-file FILE] [--stats-file FILE]
//   latency-relay --self-check [--delay-ms D]
//
// Both addresses are IPv4 on loopback (127.0.0.0/8): this is a benchmark tool,
// and it never carries traffic off the machine.
//
// The relay counts the connections open at once. A connection is open from
// its accept until the client's end of stream has been read (or the
// connection failed): that is when the client has closed it. The upstream
// leg lives D longer while that end travels, and the tail is not counted, so
// a client that makes one connection after another counts one. (A client that
// half-closes and reads on would count as closed early; the bridge and the
// mail clients measured here close whole.)
//
// Control lines on standard input, each answered by one line on standard
// output:
//   stats      "open N peak P total T delay-ms D"
//   reset      the same line, then the peak becomes the number open now and
//              the total 0
//   delay MS   the one-way delay from now on, for the bytes read next on
//              every connection; answers "delay-ms D"
// --stats-file FILE is rewritten whole (by rename) whenever a count changes.
//
// --self-check runs a peer of its own behind a relay at --delay-ms (25 by
// default) and checks that a 1-byte ping-pong costs 2D within 2 ms after the
// first exchange, that the first exchange costs the handshake's round trip
// more (within 5 ms), and that 50 MiB move at 80 MB/s or more each way. It prints the
// figures and exits 1 when one is missed.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using Micros = std::chrono::microseconds;

// Reads take up to this much at a time: large chunks keep the cost per byte low.
constexpr std::size_t kChunkBytes = 1u << 20;
// Bytes held per direction: far above what is in flight at 80 MB/s and a
// 50 ms one-way delay (4 MB), so reading never waits on the delay, while a
// receiver that stops reading cannot make the relay hold unbounded memory.
constexpr std::size_t kQueueBytes = 64u << 20;
// The self-check's bulk transfer and the rate it must reach (bytes per second).
constexpr std::size_t kBulkBytes = 50u << 20;
constexpr double kMinRate = 80e6;
// How far above 2D a ping-pong may come back in the self-check, and how far
// above 4D a connection's first exchange (which wakes twice as many of the
// relay's threads, each of which a busy machine may keep waiting a little).
constexpr double kPingSlackMs = 2.0;
constexpr double kFirstSlackMs = 5.0;

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error(what + ": " + std::strerror(errno));
}

// A numeric IPv4 address and port on loopback, "127.0.0.1:8080".
sockaddr_in loopbackAddress(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    sockaddr_in address{};
    address.sin_family = AF_INET;
    if (colon == std::string::npos ||
        inet_pton(AF_INET, text.substr(0, colon).c_str(), &address.sin_addr) != 1) {
        throw std::runtime_error("not an IPv4 address and port: " + text);
    }
    if ((ntohl(address.sin_addr.s_addr) >> 24) != 127) {
        throw std::runtime_error("not a loopback address (127.0.0.0/8): " + text);
    }
    char* end = nullptr;
    const long port = std::strtol(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || end == text.c_str() + colon + 1 || port < 0 || port > 65535) {
        throw std::runtime_error("not a port: " + text);
    }
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    return address;
}

void noDelay(int fd) {
    // Small writes (a POP3 line, a 1-byte ping) leave at once instead of
    // waiting for the acknowledgement of the previous segment.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

int listenOn(const sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fail("socket");
    }
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 128) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        fail("listen");
    }
    return fd;
}

int portOf(int fd) {
    sockaddr_in bound{};
    socklen_t length = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
    return ntohs(bound.sin_port);
}

// -1 when the connection is refused (errno says why).
int connectTo(const sockaddr_in& address) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    noDelay(fd);
    return fd;
}

bool sendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t sent = send(fd, data, size, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

// Writes a file whole: readers see the old contents or the new, never a part.
void writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
    }
    std::rename(temporary.c_str(), path.c_str());
}

// Open, peak and total connections; shared by every connection's threads and
// the control thread, under its lock.
class Stats {
public:
    explicit Stats(std::string path) : path_(std::move(path)) {}

    void opened() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++open_;
        ++total_;
        peak_ = std::max(peak_, open_);
        writeLocked();
    }

    void closed() {
        std::lock_guard<std::mutex> lock(mutex_);
        --open_;
        writeLocked();
    }

    // The counts as a control line; with reset, the peak then restarts from
    // the connections open now and the total from 0.
    std::string line(bool reset, long long delayUs) {
        std::lock_guard<std::mutex> lock(mutex_);
        char text[160];
        std::snprintf(text, sizeof text, "open %d peak %d total %lld delay-ms %g", open_, peak_,
                      total_, static_cast<double>(delayUs) / 1000.0);
        if (reset) {
            peak_ = open_;
            total_ = 0;
            writeLocked();
        }
        return text;
    }

    int peak() {
        std::lock_guard<std::mutex> lock(mutex_);
        return peak_;
    }

private:
    void writeLocked() {
        if (!path_.empty()) {
            writeFileAtomically(path_, "open " + std::to_string(open_) + "\npeak " +
                                           std::to_string(peak_) + "\ntotal " +
                                           std::to_string(total_) + "\n");
        }
    }

    std::mutex mutex_;
    const std::string path_;
    int open_ = 0;
    int peak_ = 0;
    long long total_ = 0;
};

// Each pool thread's read buffer, made (and its pages touched) before the
// thread first waits for a task, so that a connection's first read is not
// held up by page faults.
std::vector<char>& readBuffer() {
    thread_local std::vector<char> buffer(kChunkBytes);
    return buffer;
}

// Threads kept for the connections' readers and writers. A thread made for
// a new connection can wait a whole scheduling period on a busy machine
// before it first runs, and making it holds up the one that makes it, which
// would hold a connection's first bytes longer than the delay; a thread
// woken from the pool runs at once. Its own thread tops the pool up to
// kSpareThreads idle ones whenever fewer than kLowThreads are left, away
// from the connections' threads. Pool threads never end.
class ThreadPool {
public:
    // Made on first use and never destroyed: its threads outlive main.
    static ThreadPool& instance() {
        static ThreadPool* pool = new ThreadPool;
        return *pool;
    }

    void run(std::function<void()> task) {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
        ready_.notify_one();
        if (spareLocked() < kLowThreads) {
            low_.notify_one();
        }
    }

    // Returns once the spare threads are all waiting (at start, so that the
    // first connection does not meet threads that have never run).
    void waitReady() {
        std::unique_lock<std::mutex> lock(mutex_);
        started_.wait(lock, [&] { return starting_ == 0; });
    }

private:
    static constexpr int kSpareThreads = 48; // 12 connections' worth
    static constexpr int kLowThreads = 16;

    ThreadPool() {
        std::lock_guard<std::mutex> lock(mutex_);
        topUpLocked();
        std::thread([this] { keep(); }).detach();
    }

    int spareLocked() const { return idle_ + starting_ - static_cast<int>(tasks_.size()); }

    void topUpLocked() {
        while (spareLocked() < kSpareThreads) {
            ++starting_;
            std::thread([this] { work(); }).detach();
        }
    }

    [[noreturn]] void keep() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            low_.wait(lock, [&] { return spareLocked() < kLowThreads; });
            topUpLocked();
        }
    }

    [[noreturn]] void work() {
        readBuffer();
        std::unique_lock<std::mutex> lock(mutex_);
        --starting_;
        started_.notify_all();
        for (;;) {
            ++idle_;
            ready_.wait(lock, [&] { return !tasks_.empty(); });
            --idle_;
            std::function<void()> task = std::move(tasks_.front());
            tasks_.pop_front();
            lock.unlock();
            task();
            task = nullptr; // its connection goes now, not at the next task
            lock.lock();
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;   // a task is waiting
    std::condition_variable started_; // a new thread has begun to wait
    std::condition_variable low_;     // fewer than kLowThreads are spare
    std::deque<std::function<void()>> tasks_;
    int idle_ = 0;     // threads waiting for a task
    int starting_ = 0; // threads made that have not yet begun to wait
};

// A piece of one direction's stream and the time it may leave; no bytes
// means the end of the stream.
struct Chunk {
    Clock::time_point due;
    std::vector<char> bytes;
};

// One direction of one connection: its reader appends chunks stamped with
// the time they may leave, its writer takes them in order when they are due.
// The two threads share it under its lock; close() wakes both for good.
class DelayQueue {
public:
    // Blocks while kQueueBytes are held (a chunk into an empty queue always
    // goes in); false once closed.
    bool push(Chunk chunk) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] {
            return closed_ || chunks_.empty() || bytes_ + chunk.bytes.size() <= kQueueBytes;
        });
        if (closed_) {
            return false;
        }
        bytes_ += chunk.bytes.size();
        chunks_.push_back(std::move(chunk));
        changed_.notify_all();
        return true;
    }

    // Waits for the first chunk and its time; false once closed.
    bool popDue(Chunk& chunk) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return closed_ || !chunks_.empty(); });
        if (closed_) {
            return false;
        }
        // Only this thread takes chunks, so the first one stays first.
        const Clock::time_point due = chunks_.front().due;
        if (changed_.wait_until(lock, due, [&] { return closed_; })) {
            return false;
        }
        chunk = std::move(chunks_.front());
        chunks_.pop_front();
        bytes_ -= chunk.bytes.size();
        changed_.notify_all();
        return true;
    }

    void close() {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk> chunks_;
    std::size_t bytes_ = 0;
    bool closed_ = false;
};

// One relayed connection, owned jointly by its four threads (reader and
// writer per direction); the last one to end closes both sockets.
class Connection : public std::enable_shared_from_this<Connection> {
public:
    // delayUs is the relay's one-way delay, read for every chunk: a change
    // applies to the connections already open as well (one kept open from
    // an untimed phase at 0 ms then meets the delay of the timed one).
    Connection(int client, const std::atomic<long long>& delayUs, Stats& stats)
        : client_(client), delayUs_(delayUs), accepted_(Clock::now()), stats_(stats) {
        stats_.opened();
    }

    ~Connection() {
        close(client_);
        const int server = server_.load();
        if (server >= 0) {
            close(server);
        }
    }

    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Ends both directions at once: a peer that failed, or an upstream that
    // cannot be reached. Safe from any of the threads, and more than once.
    void abort() {
        aborted_ = true;
        shutdown(client_, SHUT_RDWR);
        const int server = server_.load();
        if (server >= 0) {
            shutdown(server, SHUT_RDWR);
        }
        toServer_.close();
        toClient_.close();
    }

    static std::shared_ptr<Connection> start(int client, const std::atomic<long long>& delayUs,
                                             Stats& stats, const sockaddr_in& target) {
        auto connection = std::make_shared<Connection>(client, delayUs, stats);
        ThreadPool::instance().run(
            [connection] { connection->read(connection->client_, connection->toServer_, true); });
        ThreadPool::instance().run([connection, target] { connection->upstream(target); });
        return connection;
    }

    // True once the client has closed: counted closed here if its end of
    // stream has arrived but its reader has not yet woken to it. The accept
    // thread asks before it counts a new connection, so that a client that
    // closes one connection and then makes the next counts one open, however
    // the relay's threads are scheduled.
    bool closedByClient() {
        if (countedClosed_) {
            return true;
        }
        pollfd ends{client_, POLLRDHUP, 0};
        if (poll(&ends, 1, 0) == 1 && (ends.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0) {
            countClosed();
            return true;
        }
        return false;
    }

private:
    // Reads src into the queue until its end of stream; the first chunk
    // towards the server also carries the handshake's round trip.
    void read(int src, DelayQueue& queue, bool fromClient) {
        std::vector<char>& buffer = readBuffer();
        bool first = fromClient;
        for (;;) {
            const ssize_t got = recv(src, buffer.data(), buffer.size(), 0);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            Chunk chunk;
            const Micros delay(delayUs_.load());
            chunk.due = Clock::now() + delay + (first ? 2 * delay : Micros(0));
            first = false;
            if (got <= 0) {
                // An error counts as the end of the stream: the far side sees
                // it D later, as it would see the connection fail.
                queue.push(std::move(chunk));
                break;
            }
            chunk.bytes.assign(buffer.data(), buffer.data() + got);
            if (!queue.push(std::move(chunk))) {
                break;
            }
        }
        if (fromClient) {
            // The client has closed (or the connection failed): from its side
            // the connection is over, whatever is still on the way to it.
            countClosed();
        }
    }

    // Once per connection, from its reader or from the accept thread.
    void countClosed() {
        if (!countedClosed_.exchange(true)) {
            stats_.closed();
        }
    }

    // Sends the queue's chunks to dst as they come due; the end of the
    // stream becomes a half-close of dst.
    void write(int dst, DelayQueue& queue) {
        Chunk chunk;
        while (queue.popDue(chunk)) {
            if (chunk.bytes.empty()) {
                shutdown(dst, SHUT_WR);
                break;
            }
            if (!sendAll(dst, chunk.bytes.data(), chunk.bytes.size())) {
                abort();
                break;
            }
        }
    }

    // Reaches the target D after the accept, then serves both writers and
    // the server's reader.
    void upstream(const sockaddr_in& target) {
        std::this_thread::sleep_until(accepted_ + Micros(delayUs_.load()));
        const int server = aborted_ ? -1 : connectTo(target);
        if (server < 0) {
            abort();
            return;
        }
        server_ = server;
        if (aborted_) {
            abort(); // the client failed while the connection was being made
            return;
        }
        auto self = shared_from_this();
        ThreadPool::instance().run([self, server] { self->read(server, self->toClient_, false); });
        ThreadPool::instance().run([self] { self->write(self->client_, self->toClient_); });
        write(server, toServer_);
    }

    const int client_;
    std::atomic<int> server_{-1};
    const std::atomic<long long>& delayUs_;
    const Clock::time_point accepted_;
    Stats& stats_;
    std::atomic<bool> aborted_{false};
    std::atomic<bool> countedClosed_{false};
    DelayQueue toServer_;
    DelayQueue toClient_;
};

// The listening socket and what every accepted connection shares.
class Relay {
public:
    Relay(const sockaddr_in& listenAddress, const sockaddr_in& target, Micros delay,
          const std::string& statsFile)
        : listener_(listenOn(listenAddress)), target_(target), delayUs_(delay.count()),
          stats_(statsFile) {}

    ~Relay() { close(listener_); }

    Relay(const Relay&) = delete;
    Relay& operator=(const Relay&) = delete;

    int port() const { return portOf(listener_); }
    Stats& stats() { return stats_; }
    long long delayUs() const { return delayUs_; }
    // Applies to every chunk read from now on, on open connections too.
    void setDelay(Micros delay) { delayUs_ = delay.count(); }

    // Accepts until the process ends; a failed accept (out of descriptors,
    // say) is retried after a pause rather than ending the relay.
    [[noreturn]] void serve() {
        for (;;) {
            const int client = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0) {
                if (errno != EINTR && errno != ECONNABORTED) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                }
                continue;
            }
            noDelay(client);
            std::vector<std::weak_ptr<Connection>> stillOpen;
            for (const std::weak_ptr<Connection>& weak : open_) {
                const std::shared_ptr<Connection> connection = weak.lock();
                if (connection != nullptr && !connection->closedByClient()) {
                    stillOpen.push_back(weak);
                }
            }
            stillOpen.push_back(Connection::start(client, delayUs_, stats_, target_));
            open_ = std::move(stillOpen);
        }
    }

private:
    const int listener_;
    const sockaddr_in target_;
    std::atomic<long long> delayUs_;
    Stats stats_;
    // The connections not yet known to be closed; the accept thread's alone.
    std::vector<std::weak_ptr<Connection>> open_;
};

Micros delayFromMs(const std::string& text) {
    char* end = nullptr;
    const double ms = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || !(ms >= 0) || ms > 10000) {
        throw std::runtime_error("not a delay in milliseconds (0 to 10000): " + text);
    }
    return Micros(static_cast<long long>(ms * 1000.0 + 0.5));
}

// Answers the control lines on standard input until it ends.
void control(Relay& relay) {
    std::string line;
    while (std::getline(std::cin, line)) {
        std::string answer;
        if (line == "stats" || line == "reset") {
            answer = relay.stats().line(line == "reset", relay.delayUs());
        } else if (line.compare(0, 6, "delay ") == 0) {
            try {
                relay.setDelay(delayFromMs(line.substr(6)));
                char text[64];
                std::snprintf(text, sizeof text, "delay-ms %g",
                              static_cast<double>(relay.delayUs()) / 1000.0);
                answer = text;
            } catch (const std::exception& e) {
                answer = std::string("error ") + e.what();
            }
        } else {
            answer = "error unknown command: " + line;
        }
        std::cout << answer << std::endl;
    }
}

// ---- self-check -------------------------------------------------------

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool readExactly(int fd, char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t got = recv(fd, data, size, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        data += got;
        size -= static_cast<std::size_t>(got);
    }
    return true;
}

// Reads to the end of the stream; returns the bytes and the times of the
// first and the last.
std::size_t drain(int fd, Clock::time_point& first, Clock::time_point& last) {
    std::vector<char> buffer(kChunkBytes);
    std::size_t total = 0;
    for (;;) {
        const ssize_t got = recv(fd, buffer.data(), buffer.size(), 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return total;
        }
        last = Clock::now();
        if (total == 0) {
            first = last;
        }
        total += static_cast<std::size_t>(got);
    }
}

bool sendBulk(int fd) {
    const std::vector<char> block(kChunkBytes, 'x');
    for (std::size_t sent = 0; sent < kBulkBytes; sent += block.size()) {
        if (!sendAll(fd, block.data(), std::min(block.size(), kBulkBytes - sent))) {
            return false;
        }
    }
    return true;
}

// The self-check's server. The first byte of a connection names its part:
// 'p' echoes every byte (the first one too), 'u' reads to the end and
// answers the rate it saw in one line, 'd' sends kBulkBytes and closes.
void servePeer(int fd) {
    char mode = 0;
    if (readExactly(fd, &mode, 1)) {
        if (mode == 'p') {
            char byte = mode;
            do {
                if (!sendAll(fd, &byte, 1)) {
                    break;
                }
            } while (readExactly(fd, &byte, 1));
        } else if (mode == 'u') {
            Clock::time_point first;
            Clock::time_point last;
            const std::size_t got = drain(fd, first, last);
            const double seconds = std::chrono::duration<double>(last - first).count();
            const std::string answer =
                std::to_string(got) + " " + std::to_string(seconds > 0 ? got / seconds : 0.0);
            sendAll(fd, answer.data(), answer.size());
        } else if (mode == 'd') {
            sendBulk(fd);
        }
    }
    close(fd);
}

int selfCheck(Micros delay) {
    ThreadPool::instance().waitReady();
    const sockaddr_in loopback = loopbackAddress("127.0.0.1:0");
    const int peer = listenOn(loopback);
    std::thread([peer] {
        for (;;) {
            const int fd = accept4(peer, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                noDelay(fd);
                ThreadPool::instance().run([fd] { servePeer(fd); });
            }
        }
    }).detach();
    sockaddr_in target = loopback;
    target.sin_port = htons(static_cast<std::uint16_t>(portOf(peer)));
    // Never destroyed: its connections' threads may outlive this function.
    Relay& relay = *new Relay(loopback, target, delay, std::string());
    std::thread([&relay] { relay.serve(); }).detach();
    sockaddr_in through = loopback;
    through.sin_port = htons(static_cast<std::uint16_t>(relay.port()));
    const double d = static_cast<double>(delay.count()) / 1000.0;
    bool ok = true;

    // Ping-pong: a connection's first exchange carries the handshake, the
    // others cost 2D each. Medians, of five connections' first exchanges and
    // of the last one's 21 ping-pongs after it.
    std::vector<double> firsts;
    std::vector<double> rounds;
    for (int c = 0; c < 5; ++c) {
        const int ping = connectTo(through);
        if (ping < 0) {
            fail("connect to the relay");
        }
        Clock::time_point start = Clock::now();
        char byte = 'p';
        if (!sendAll(ping, &byte, 1) || !readExactly(ping, &byte, 1)) {
            fail("ping through the relay");
        }
        firsts.push_back(msSince(start));
        for (int i = 0; c == 4 && i < 21; ++i) {
            start = Clock::now();
            byte = 'x';
            if (!sendAll(ping, &byte, 1) || !readExactly(ping, &byte, 1)) {
                fail("ping through the relay");
            }
            rounds.push_back(msSince(start));
        }
        close(ping);
    }
    std::sort(firsts.begin(), firsts.end());
    std::sort(rounds.begin(), rounds.end());
    const double median = rounds[rounds.size() / 2];
    const double firstMs = firsts[firsts.size() / 2];
    const bool pingOk = rounds.front() >= 2 * d - 0.05 && median <= 2 * d + kPingSlackMs;
    const bool firstOk = firsts.front() >= 4 * d - 0.05 && firstMs <= 4 * d + kFirstSlackMs;
    std::printf("self-check, one-way delay %g ms: 1-byte ping-pong %.2f ms median (%.2f to %.2f; "
                "target 2D = %g ms, within %g ms): %s\n",
                d, median, rounds.front(), rounds.back(), 2 * d, kPingSlackMs,
                pingOk ? "PASS" : "FAIL");
    std::printf("self-check, first exchange of a connection %.2f ms median (%.2f to %.2f; target "
                "4D = %g ms, the handshake's round trip more, within %g ms): %s\n",
                firstMs, firsts.front(), firsts.back(), 4 * d, kFirstSlackMs,
                firstOk ? "PASS" : "FAIL");
    ok = ok && pingOk && firstOk;

    // Upload: the peer times the bytes from the first to the last.
    const int up = connectTo(through);
    if (up < 0) {
        fail("connect to the relay");
    }
    char byte = 'u';
    if (!sendAll(up, &byte, 1) || !sendBulk(up)) {
        fail("upload through the relay");
    }
    shutdown(up, SHUT_WR);
    char answer[128] = {};
    std::size_t answered = 0;
    for (;;) {
        const ssize_t got = recv(up, answer + answered, sizeof answer - 1 - answered, 0);
        if (got <= 0) {
            break;
        }
        answered += static_cast<std::size_t>(got);
    }
    close(up);
    unsigned long long upBytes = 0;
    double upRate = 0;
    std::sscanf(answer, "%llu %lf", &upBytes, &upRate);
    const bool upOk = upBytes == kBulkBytes && upRate >= kMinRate;
    std::printf("self-check, %zu MiB towards the server: %.0f MB/s (target at least %.0f): %s\n",
                kBulkBytes >> 20, upRate / 1e6, kMinRate / 1e6, upOk ? "PASS" : "FAIL");

    // Download: timed here, from the first byte to the last.
    const int down = connectTo(through);
    if (down < 0) {
        fail("connect to the relay");
    }
    byte = 'd';
    if (!sendAll(down, &byte, 1)) {
        fail("download through the relay");
    }
    Clock::time_point first;
    Clock::time_point last;
    const std::size_t downBytes = drain(down, first, last);
    close(down);
    const double seconds = std::chrono::duration<double>(last - first).count();
    const double downRate = seconds > 0 ? downBytes / seconds : 0;
    const bool downOk = downBytes == kBulkBytes && downRate >= kMinRate;
    std::printf("self-check, %zu MiB towards the client: %.0f MB/s (target at least %.0f): %s\n",
                kBulkBytes >> 20, downRate / 1e6, kMinRate / 1e6, downOk ? "PASS" : "FAIL");
    ok = ok && upOk && downOk;
    std::printf("self-check: %s\n", ok ? "PASS" : "FAIL");
    return ok ? 0 : 1;
}

void usage() {
    std::fprintf(stderr,
                 "usage: latency-relay --target HOST:PORT --delay-ms D [--listen 127.0.0.1:0]\n"
                 "                     [--port-file FILE] [--stats-file FILE]\n"
                 "       latency-relay --self-check [--delay-ms D]\n");
}

} // namespace

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    std::string listenText = "127.0.0.1:0";
    std::string targetText;
    std::string portFile;
    std::string statsFile;
    std::string delayText;
    bool check = false;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= argc) {
                usage();
                std::exit(2);
            }
            into = argv[++i];
        };
        if (flag == "--listen") {
            value(listenText);
        } else if (flag == "--target") {
            value(targetText);
        } else if (flag == "--delay-ms") {
            value(delayText);
        } else if (flag == "--port-file") {
            value(portFile);
        } else if (flag == "--stats-file") {
            value(statsFile);
        } else if (flag == "--self-check") {
            check = true;
        } else {
            usage();
            return 2;
        }
    }
    try {
        if (check) {
            return selfCheck(delayFromMs(delayText.empty() ? "25" : delayText));
        }
        if (targetText.empty() || delayText.empty()) {
            usage();
            return 2;
        }
        Relay relay(loopbackAddress(listenText), loopbackAddress(targetText),
                    delayFromMs(delayText), statsFile);
        ThreadPool::instance().waitReady();
        if (!portFile.empty()) {
            writeFileAtomically(portFile, std::to_string(relay.port()) + "\n");
        }
        std::thread([&relay] { control(relay); }).detach();
        relay.serve();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "latency-relay: %s\n", e.what());
        return 1;
    }
}
