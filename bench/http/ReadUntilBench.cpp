// SocketStream::readUntil over a large transfer that arrives in 16 KiB
// receives, with the delimiter only at its end (an SMTP DATA upload). The time
// must grow linearly with the size: 50 MB at most 7x the time of 8 MB.
//
// The channel plays a socket: each receive copies from a small buffer that is
// hot in cache, as recv copies from the kernel's socket buffer. Replaying from
// one array as large as the message would add the harness's own cache misses
// to the 50 MB run alone (8 MB of source stays in the L3 cache, 50 MB does
// not), and that is not time the stream spends.
//
// Each size runs in two memory regimes, so that both sizes of one comparison
// meet the allocator alike:
//   fresh:0  every block comes from recycled heap pages;
//   fresh:1  every block above 64 KiB is a fresh mapping, whose pages the
//            kernel faults in on first touch.
// glibc's default mixes the two: it recycles blocks up to 32 MiB and maps
// larger ones afresh each time, so under it a 50 MB result pays about 12,000
// page faults that an 8 MB result does not, whatever the code that fills it.
#include "net/ByteChannel.h"
#include "webmail/SocketStream.h"

#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace quill {
namespace {

// Hands out `size` bytes of message lines, at most 16 KiB per receive, taken
// round and round from one 64 KiB block, then the end mark and the end of
// stream.
class ReplayChannel : public ByteChannel {
public:
    ReplayChannel(const std::string& block, std::size_t size) : block_(block), size_(size) {}
    void connect(const std::string&, int) override {}
    std::size_t receive(void* buffer, std::size_t capacity) override {
        char* out = static_cast<char*>(buffer);
        const std::size_t count =
            std::min({capacity, std::size_t(16384), size_ + kEnd.size() - pos_});
        for (std::size_t done = 0; done < count;) {
            std::size_t n;
            if (pos_ < size_) {
                const std::size_t at = pos_ % block_.size();
                n = std::min({count - done, block_.size() - at, size_ - pos_});
                std::memcpy(out + done, block_.data() + at, n);
            } else {
                n = count - done;
                std::memcpy(out + done, kEnd.data() + (pos_ - size_), n);
            }
            done += n;
            pos_ += n;
        }
        return count;
    }
    void write(const void*, std::size_t) override {}
    void close() noexcept override {}

    static const std::string kEnd;

private:
    const std::string& block_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

const std::string ReplayChannel::kEnd = "\r\n.\r\n";

// 64 KiB of whole message lines.
const std::string& lineBlock() {
    static const std::string block = [] {
        std::string text;
        for (int i = 0;; ++i) {
            const std::string line = "Line " + std::to_string(i) +
                                     " of a long message body, dot-stuffed where needed.\r\n";
            if (text.size() + line.size() > 65536) {
                break;
            }
            text += line;
        }
        return text;
    }();
    return block;
}

void BM_ReadUntil(benchmark::State& state) {
    const bool fresh = state.range(1) != 0;
    mallopt(M_MMAP_THRESHOLD, fresh ? 65536 : 1 << 30);
    mallopt(M_TRIM_THRESHOLD, fresh ? 65536 : 1 << 30);
    // Whole blocks, so the body is whole lines.
    const std::size_t wanted = static_cast<std::size_t>(state.range(0)) * 1000000;
    const std::size_t size =
        (wanted + lineBlock().size() - 1) / lineBlock().size() * lineBlock().size();
    const std::size_t total = size + ReplayChannel::kEnd.size();
    for (auto _ : state) {
        SocketStream stream(std::make_shared<ReplayChannel>(lineBlock(), size));
        std::string got = stream.readUntil(ReplayChannel::kEnd);
        if (got.size() != total) {
            state.SkipWithError("short read");
        }
        benchmark::DoNotOptimize(got);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(total));
}
BENCHMARK(BM_ReadUntil)
    ->Args({8, 0})
    ->Args({50, 0})
    ->Args({8, 1})
    ->Args({50, 1})
    ->ArgNames({"MB", "fresh"})
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quill
