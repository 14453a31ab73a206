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

// What Corrupt says, one text per fault.
const char* const kCutShort = "gzip answer cut short";
const char* const kBadHeader = "gzip header invalid";
const char* const kBadData = "gzip data corrupt";
const char* const kCrcMismatch = "gzip CRC mismatch";
const char* const kLengthMismatch = "gzip length mismatch";
const char* const kTrailingBytes = "gzip answer has bytes after its last member";

// Reads gzip members from one byte range; pos_ is the next unread byte.
class MemberParser {
public:
    MemberParser(const unsigned char* data, std::size_t length) : data_(data), length_(length) {}

    // Whether the bytes left can be the start of a member: the magic, or
    // its first byte at the very end.
    bool mayBeMember() const {
        return left() > 0 && data_[pos_] == kMagic1 && (left() == 1 || data_[pos_ + 1] == kMagic2);
    }
    std::size_t left() const { return length_ - pos_; }
    const unsigned char* here() const { return data_ + pos_; }
    void advance(std::size_t count) { pos_ += count; }

    // Skips one member header; null, or the fault. Data that ends inside a
    // header that is valid so far is cut short, not invalid.
    const char* skipHeader() {
        const std::size_t have = std::min(left(), kFixedHeader);
        const unsigned char* header = here();
        if ((have > 0 && header[0] != kMagic1) || (have > 1 && header[1] != kMagic2) ||
            (have > 2 && header[2] != kDeflate) || (have > 3 && (header[3] & kFlagReserved) != 0)) {
            return kBadHeader;
        }
        if (have < kFixedHeader) {
            return kCutShort;
        }
        const unsigned char flags = header[3];
        pos_ += kFixedHeader;
        if (flags & kFlagExtra) {
            if (left() < 2) {
                return kCutShort;
            }
            const std::size_t extra =
                data_[pos_] | (static_cast<std::size_t>(data_[pos_ + 1]) << 8);
            pos_ += 2;
            if (left() < extra) {
                return kCutShort;
            }
            pos_ += extra;
        }
        if ((flags & kFlagName) && !skipZeroTerminated()) {
            return kCutShort;
        }
        if ((flags & kFlagComment) && !skipZeroTerminated()) {
            return kCutShort;
        }
        if (flags & kFlagHeaderCrc) {
            if (left() < 2) {
                return kCutShort;
            }
            pos_ += 2;
        }
        return nullptr;
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
// and checks its trailer. Null, or the fault.
const char* inflateMember(Inflater& inflater, MemberParser& parser, std::string& out,
                          std::size_t maxOutput) {
    z_stream& zs = inflater.stream();
    std::uint32_t crc = static_cast<std::uint32_t>(crc32(0L, Z_NULL, 0));
    const std::size_t start = out.size();
    std::size_t used = start;
    int status = Z_OK;
    const char* fault = nullptr;
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
        if (status == Z_MEM_ERROR) {
            throw std::bad_alloc();
        }
        if (status == Z_BUF_ERROR && parser.left() == 0) {
            fault = kCutShort; // the input ended before the final block did
            break;
        }
        if (status != Z_OK && status != Z_STREAM_END && status != Z_BUF_ERROR) {
            fault = kBadData; // Z_DATA_ERROR, Z_NEED_DICT
            break;
        }
        if (status == Z_BUF_ERROR && produced == 0 && zs.avail_out > 0) {
            fault = kBadData; // no progress possible
            break;
        }
    }
    out.resize(used);
    if (fault != nullptr) {
        return fault;
    }
    std::uint32_t stored = 0;
    std::uint32_t size = 0;
    if (!parser.readLe32(stored) || !parser.readLe32(size)) {
        return kCutShort;
    }
    if (stored != crc) {
        return kCrcMismatch;
    }
    // The length is kept modulo 2^32.
    return size == static_cast<std::uint32_t>(used - start) ? nullptr : kLengthMismatch;
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
    if (data == nullptr) {
        length = 0;
    }
    Inflater inflater;
    if (!inflater.ok()) {
        throw std::bad_alloc(); // zlib could not get its state
    }
    std::string out;
    try {
        out.reserve(announcedSize(reinterpret_cast<const unsigned char*>(data), length, maxOutput));
        platform::adviseLargeBuffer(&out[0], out.capacity());
    } catch (const std::bad_alloc&) {
        // Only a hint: the output grows as it is produced.
    }
    MemberParser parser(reinterpret_cast<const unsigned char*>(data), length);
    for (;;) {
        if (const char* fault = parser.skipHeader()) {
            throw Corrupt(fault);
        }
        if (const char* fault = inflateMember(inflater, parser, out, maxOutput)) {
            throw Corrupt(fault);
        }
        if (parser.left() == 0) {
            return out;
        }
        if (!parser.mayBeMember()) {
            throw Corrupt(kTrailingBytes);
        }
        if (inflateReset(&inflater.stream()) != Z_OK) {
            throw Corrupt(kBadData); // not for a stream that inflateInit2 made
        }
    }
}

} // namespace quill
