#include "webmail/GzipReader.h"

#include "platform/LargeBuffer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <new>

namespace quill {

namespace {

constexpr unsigned char kMagic1 = 0x1F;
constexpr unsigned char kMagic2 = 0x8B;
constexpr unsigned char kDeflate = 8;
constexpr unsigned char kFlagHeaderCrc = 0x02;
constexpr unsigned char kFlagExtra = 0x04;
constexpr unsigned char kFlagName = 0x08;
constexpr unsigned char kFlagComment = 0x10;
constexpr unsigned char kFlagReserved = 0xE0;
// The fixed part of a member header: magic, method, flags, time, extra flags, OS.
constexpr std::size_t kFixedHeader = 10;
// Smallest output room offered to one inflate call.
constexpr std::size_t kMinRoom = 4096;
// Output produced per inflate call at most: the CRC-32 then runs over bytes
// still in the cache.
constexpr std::size_t kOutputStep = 65536;
// zlib counts input in uInt: never offer it more than this at once.
constexpr std::size_t kMaxStep = 1u << 30;
// The output reserved up front from the size a stream announces, at most this
// many times its compressed length and never beyond kMaxReserve: the
// announcement is the sender's word, and a wrong one only costs regrowth.
constexpr std::size_t kMaxRatio = 32;
constexpr std::size_t kMaxReserve = 256u << 20;

// Reads gzip members from one byte range; pos_ is the next unread byte.
class MemberParser {
public:
    MemberParser(const unsigned char* data, std::size_t length) : data_(data), length_(length) {}

    bool atMagic() const {
        return length_ - pos_ >= 2 && data_[pos_] == kMagic1 && data_[pos_ + 1] == kMagic2;
    }
    std::size_t left() const { return length_ - pos_; }
    const unsigned char* here() const { return data_ + pos_; }
    void advance(std::size_t count) { pos_ += count; }

    // Skips one member header; false on a data error.
    bool skipHeader() {
        if (left() < kFixedHeader || !atMagic()) {
            return false;
        }
        const unsigned char method = data_[pos_ + 2];
        const unsigned char flags = data_[pos_ + 3];
        if (method != kDeflate || (flags & kFlagReserved) != 0) {
            return false;
        }
        pos_ += kFixedHeader;
        if (flags & kFlagExtra) {
            if (left() < 2) {
                return false;
            }
            const std::size_t extra =
                data_[pos_] | (static_cast<std::size_t>(data_[pos_ + 1]) << 8);
            pos_ += 2;
            if (left() < extra) {
                return false;
            }
            pos_ += extra;
        }
        if ((flags & kFlagName) && !skipZeroTerminated()) {
            return false;
        }
        if ((flags & kFlagComment) && !skipZeroTerminated()) {
            return false;
        }
        if (flags & kFlagHeaderCrc) {
            if (left() < 2) {
                return false;
            }
            pos_ += 2;
        }
        return true;
    }

    // Reads a little-endian 32-bit value; false when fewer than 4 bytes are left.
    bool readLe32(std::uint32_t& value) {
        if (left() < 4) {
            return false;
        }
        value = static_cast<std::uint32_t>(data_[pos_]) |
                (static_cast<std::uint32_t>(data_[pos_ + 1]) << 8) |
                (static_cast<std::uint32_t>(data_[pos_ + 2]) << 16) |
                (static_cast<std::uint32_t>(data_[pos_ + 3]) << 24);
        pos_ += 4;
        return true;
    }

private:
    bool skipZeroTerminated() {
        const unsigned char* end = std::find(data_ + pos_, data_ + length_, 0);
        if (end == data_ + length_) {
            return false;
        }
        pos_ = static_cast<std::size_t>(end - data_) + 1;
        return true;
    }

    const unsigned char* data_;
    std::size_t length_;
    std::size_t pos_ = 0;
};

// Owns one raw inflate stream.
class Inflater {
public:
    Inflater() { ok_ = inflateInit2(&stream_, -MAX_WBITS) == Z_OK; }
    ~Inflater() {
        if (ok_) {
            inflateEnd(&stream_);
        }
    }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;

    bool ok() const { return ok_; }
    z_stream& stream() { return stream_; }

private:
    z_stream stream_{};
    bool ok_ = false;
};

// Inflates one member's deflate data onto out, starting at parser's position,
// and checks its trailer. False on a data error; out keeps what was produced.
bool inflateMember(Inflater& inflater, MemberParser& parser, std::string& out,
                   std::size_t maxOutput) {
    z_stream& zs = inflater.stream();
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
    std::size_t used = out.size();
    int status = Z_OK;
    while (status != Z_STREAM_END) {
        // Output grows geometrically: the copies amortise to O(1) per byte.
        if (out.size() - used < kMinRoom) {
            std::size_t room = std::max(used + kMinRoom, std::min(out.size() * 2, used + kMaxStep));
            if (out.capacity() >= used + kMinRoom) {
                room = std::min(room, out.capacity()); // fill what is reserved first
            }
            if (maxOutput < GzipReader::kUnlimited - kMinRoom) {
                // Room for one step past the bound, enough to see it crossed.
                room = std::min(room, std::max(maxOutput, used) + kMinRoom);
            }
            out.resize(room);
        }
        const std::size_t input = std::min(parser.left(), kMaxStep);
        zs.next_in = const_cast<Bytef*>(parser.here());
        zs.avail_in = static_cast<uInt>(input);
        zs.next_out = reinterpret_cast<Bytef*>(&out[used]);
        zs.avail_out = static_cast<uInt>(std::min(out.size() - used, kOutputStep));
        const uInt room = zs.avail_out;
        status = inflate(&zs, Z_NO_FLUSH);
        const std::size_t produced = room - zs.avail_out;
        parser.advance(input - zs.avail_in);
        if (produced > 0) {
            crc = static_cast<std::uint32_t>(crc32(crc, reinterpret_cast<const Bytef*>(&out[used]),
                                                   static_cast<uInt>(produced)));
            used += produced;
            if (used > maxOutput) {
                throw GzipReader::TooLarge();
            }
        }
        if (status == Z_BUF_ERROR && parser.left() == 0) {
            break; // the input ended inside the deflate data
        }
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            break; // Z_DATA_ERROR, Z_NEED_DICT, Z_MEM_ERROR
        }
        if (status == Z_BUF_ERROR && produced == 0 && zs.avail_out > 0) {
            break; // no progress possible
        }
    }
    out.resize(used);
    if (status != Z_STREAM_END) {
        return false;
    }
    std::uint32_t stored = 0;
    if (!parser.readLe32(stored) || stored != crc) {
        return false;
    }
    std::uint32_t size = 0;
    return parser.readLe32(size); // the length is not checked
}

// The output size to reserve for a stream: the last member's trailer holds
// its uncompressed size (modulo 2^32), which for the usual single member is
// the whole output. Room for it once saves the copies of a growing buffer.
std::size_t announcedSize(const unsigned char* data, std::size_t length, std::size_t maxOutput) {
    if (length < kFixedHeader + 8) {
        return 0;
    }
    const unsigned char* size = data + length - 4;
    const std::size_t announced = size[0] | (static_cast<std::size_t>(size[1]) << 8) |
                                  (static_cast<std::size_t>(size[2]) << 16) |
                                  (static_cast<std::size_t>(size[3]) << 24);
    const std::size_t bound = length > kMaxReserve / kMaxRatio ? kMaxReserve : length * kMaxRatio;
    return std::min({announced, bound, maxOutput});
}

} // namespace

std::string GzipReader::decode(const char* data, std::size_t length, std::size_t maxOutput) {
    std::string out;
    Inflater inflater;
    if (!inflater.ok() || data == nullptr) {
        return out;
    }
    try {
        out.reserve(announcedSize(reinterpret_cast<const unsigned char*>(data), length, maxOutput));
        platform::adviseLargeBuffer(&out[0], out.capacity());
    } catch (const std::bad_alloc&) {
        // Only a hint: the output grows as it is produced.
    }
    MemberParser parser(reinterpret_cast<const unsigned char*>(data), length);
    for (;;) {
        if (!parser.skipHeader() || !inflateMember(inflater, parser, out, maxOutput)) {
            return out;
        }
        if (parser.left() == 0) {
            return out;
        }
        if (!parser.atMagic()) {
            if (parser.left() > maxOutput - out.size()) {
                throw GzipReader::TooLarge();
            }
            out.append(reinterpret_cast<const char*>(parser.here()), parser.left());
            return out;
        }
        if (inflateReset(&inflater.stream()) != Z_OK) {
            return out;
        }
    }
}

} // namespace quill
