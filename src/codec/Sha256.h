#pragma once
// SHA-256 (FIPS 180-4) over bytes given in any number of pieces.

#include <cstddef>
#include <cstdint>

namespace quill {

class Sha256 {
public:
    static constexpr std::size_t kDigestSize = 32;
    static constexpr std::size_t kBlockSize = 64;

    Sha256() { reset(); }

    // Starts a new digest.
    void reset();
    void update(const void* bytes, std::size_t length);
    // Writes the 32-byte digest of everything updated since reset and leaves
    // the object to be reset before further use.
    void finish(std::uint8_t digest[kDigestSize]);

    // The digest of one piece of bytes.
    static void digest(const void* bytes, std::size_t length, std::uint8_t out[kDigestSize]);

private:
    void compress(const std::uint8_t block[kBlockSize]);

    std::uint32_t state_[8] = {};
    std::uint8_t buffer_[kBlockSize] = {};
    std::size_t buffered_ = 0;
    std::uint64_t totalBytes_ = 0;
};

} // namespace quill
