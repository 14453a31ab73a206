#pragma once
// Base64 transfer codec (RFC 2045 alphabet). The mode flag, on for a new codec,
// breaks encoded lines after 76 characters with CR LF.

#include "mime/MimeCodec.h"

namespace quill {

class Base64Codec : public MimeCodec {
public:
    Base64Codec() { setMode(true); }

    std::size_t encodedLength() const override;
    std::size_t decodedLength() const override;
    std::size_t encode(char* dest, std::size_t capacity) override;
    std::size_t decode(char* dest, std::size_t capacity) override;

    // Decodes [data, data + length): CR and LF are skipped, the first byte
    // outside the alphabet ("=" included) ends decoding, a final partial group
    // gives the bytes it completes. Writes at most capacity bytes; returns the
    // count.
    static std::size_t decodeSpan(const unsigned char* data, std::size_t length, char* dest,
                                  std::size_t capacity);
    // Encodes with "=" padding into dest (capacity bytes at most); with
    // lineBreaks, CR LF follows every 76 characters and a non-empty last line.
    static std::size_t encodeSpan(const unsigned char* data, std::size_t length, char* dest,
                                  std::size_t capacity, bool lineBreaks);
};

} // namespace quill
