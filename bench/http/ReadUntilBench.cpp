// SocketStream::readUntil over a large transfer that arrives in 16 KiB
// receives, with the delimiter only at its end (an SMTP DATA upload). The time
// must grow linearly with the size: 50 MB at most 7x the time of 8 MB.
//
// Most of the time at 50 MB is the kernel's, faulting in fresh pages: glibc
// maps every block above its mmap threshold (32 MiB at most) anew, while the
// 8 MB run reuses heap pages. To see the stream's own cost, run with
//   GLIBC_TUNABLES=glibc.malloc.mmap_max=0:glibc.malloc.trim_threshold=2000000000
// (measured here: 3.6 ms for 8 MB, 24 ms for 50 MB, 6.7x).
#include "webmail/ByteChannel.h"
#include "webmail/SocketStream.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace quill {
namespace {

// Hands out a fixed text, at most 16 KiB per receive, then the end of stream.
class ReplayChannel : public ByteChannel {
public:
    explicit ReplayChannel(const std::string& data) : data_(data) {}
    void connect(const std::string&, int) override {}
    std::size_t receive(void* buffer, std::size_t capacity) override {
        const std::size_t count = std::min({capacity, std::size_t(16384), data_.size() - pos_});
        std::memcpy(buffer, data_.data() + pos_, count);
        pos_ += count;
        return count;
    }
    void write(const void*, std::size_t) override {}
    void close() noexcept override {}

private:
    const std::string& data_;
    std::size_t pos_ = 0;
};

std::string message(std::size_t megabytes) {
    std::string text;
    text.reserve(megabytes * 1000000 + 64);
    for (int i = 0; text.size() < megabytes * 1000000; ++i) {
        text +=
            "Line " + std::to_string(i) + " of a long message body, dot-stuffed where needed.\r\n";
    }
    text += "\r\n.\r\n";
    return text;
}

void BM_ReadUntil(benchmark::State& state) {
    const std::string data = message(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        SocketStream stream(std::make_shared<ReplayChannel>(data));
        std::string got = stream.readUntil("\r\n.\r\n");
        if (got.size() != data.size()) {
            state.SkipWithError("short read");
        }
        benchmark::DoNotOptimize(got);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(data.size()));
}
BENCHMARK(BM_ReadUntil)->Arg(8)->Arg(50)->ArgName("MB")->Unit(benchmark::kMillisecond);

} // namespace
} // namespace quill
