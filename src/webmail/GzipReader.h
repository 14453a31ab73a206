#pragma once
// Decodes gzip data (one or more members) held in memory, with zlib's raw
// inflate and our own member header parsing.
//
// Never throws on bad data: on a data error (bad header, reserved flags, a
// method other than deflate, corrupt deflate data, a CRC-32 mismatch,
// truncation) decoding stops and everything produced so far, the bytes of the
// failing member included, is the result. Bytes after the last member that do
// not start another member are copied to the output unchanged.
// Memory exhaustion surfaces as std::bad_alloc.

#include <cstddef>
#include <string>

namespace quill {

class GzipReader {
public:
    // data points at the first magic byte (1F 8B).
    static std::string decode(const char* data, std::size_t length);
    static std::string decode(const std::string& data) { return decode(data.data(), data.size()); }
};

} // namespace quill
