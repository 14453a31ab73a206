#pragma once
// MD5 digest (RFC 1321) of a text, rendered as 32 lower-case hex digits.

#include <cstddef>
#include <cstdint>
#include <string>

namespace quill {

class Md5Hex {
public:
    // Computes the digest of the bytes of text up to its terminating zero
    // (a null text counts as empty).
    explicit Md5Hex(const char* text);
    explicit Md5Hex(const std::string& text);
    virtual ~Md5Hex();

    // Recomputes the digest for a new text on the same object.
    void compute(const char* text);
    // Digest of any bytes, zero bytes included.
    void compute(const void* bytes, std::size_t length);

    // The 32 lower-case hex digits of the last computation, zero-terminated;
    // valid while the object lives and until the next compute.
    const char* hex() const { return hex_; }

private:
    std::uint8_t digest_[16] = {};
    char hex_[33] = {};
};

} // namespace quill
