#pragma once
// Decodes gzip data (one or more members) held in memory, with zlib's raw
// inflate and our own member header parsing.
//
// Never throws on bad data: on a data error (bad header, reserved flags, a
// method other than deflate, corrupt deflate data, a CRC-32 mismatch,
// truncation) decoding stops and everything produced so far, the bytes of the
// failing member included, is the result. Bytes after the last member that do
// not start another member are copied to the output unchanged.
// Memory exhaustion surfaces as std::bad_alloc; output beyond the caller's
// bound throws GzipReader::TooLarge.

#include <cstddef>
#include <stdexcept>
#include <string>

namespace quill {

class GzipReader {
public:
    // The output would exceed maxOutput bytes: a bomb, or a body beyond what
    // the caller can hold. Nothing is returned.
    class TooLarge : public std::length_error {
    public:
        TooLarge() : std::length_error("inflated data too large") {}
    };
    static constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);

    // data points at the first magic byte (1F 8B). At most maxOutput bytes
    // are produced (the memory held stays within maxOutput plus one step of
    // 64 KiB); more throws TooLarge.
    static std::string decode(const char* data, std::size_t length,
                              std::size_t maxOutput = kUnlimited);
    static std::string decode(const std::string& data, std::size_t maxOutput = kUnlimited) {
        return decode(data.data(), data.size(), maxOutput);
    }
};

} // namespace quill
