#pragma once
// Base64 transfer codec (RFC 2045 alphabet). The mode flag, on for a new codec,
// breaks encoded lines after 76 characters with CR LF.

#include "mime/MimeCodec.h"

#include <cstdint>

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

    // Decoding of an input that comes in pieces: the state carries a partial
    // group from one piece to the next, and the stop at a foreign byte.
    struct DecodeState {
        std::uint32_t bits = 0; // the values of a partial group
        int have = 0;           // how many values bits holds (0 to 3)
        bool stopped = false;   // a foreign byte (or the capacity) ended decoding
    };
    // Decodes the next piece as decodeSpan() would decode it as part of the
    // whole input, except for a final partial group, which finishPieces()
    // writes. Returns the bytes written; consumed is the offset in the piece
    // of the byte that stopped decoding, or length. A capacity of length / 4
    // * 3 + 3 always takes the whole piece.
    static std::size_t decodePiece(const unsigned char* data, std::size_t length, char* dest,
                                   std::size_t capacity, DecodeState& state, std::size_t& consumed);
    // The bytes of a final partial group (at most 2), written into dest.
    static std::size_t finishPieces(const DecodeState& state, char* dest, std::size_t capacity);
    // Encodes with "=" padding into dest (capacity bytes at most); with
    // lineBreaks, CR LF follows every 76 characters and a non-empty last line.
    static std::size_t encodeSpan(const unsigned char* data, std::size_t length, char* dest,
                                  std::size_t capacity, bool lineBreaks);
};

} // namespace quill
