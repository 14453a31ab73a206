#pragma once
// Decodes gzip data (one or more members) held in memory, with zlib's raw
// inflate and our own member header parsing.
//
// The result is whole or there is none: the data must begin with a member and
// end with one, and every member must have its final deflate block and a
// trailer whose CRC-32 and length match what it inflated to. Anything short of
// that (data cut anywhere, a bad header, corrupt deflate data, a mismatched
// trailer, bytes after the last member) throws GzipReader::Corrupt, which
// names the fault. The one cut no reader can see is one that falls exactly
// between two members: what is left is a whole stream.
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
    // The data is not one whole gzip stream; what() says why ("gzip answer cut
    // short", "gzip CRC mismatch", ...).
    class Corrupt : public std::runtime_error {
    public:
        explicit Corrupt(const char* what) : std::runtime_error(what) {}
    };
    static constexpr std::size_t kUnlimited = static_cast<std::size_t>(-1);

    // data must begin with the magic bytes (1F 8B). At most maxOutput bytes
    // are produced (the memory held stays within maxOutput plus one step of
    // 64 KiB); more throws TooLarge.
    static std::string decode(const char* data, std::size_t length,
                              std::size_t maxOutput = kUnlimited);
    static std::string decode(const std::string& data, std::size_t maxOutput = kUnlimited) {
        return decode(data.data(), data.size(), maxOutput);
    }
};

} // namespace quill
