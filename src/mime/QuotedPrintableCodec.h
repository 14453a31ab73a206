#pragma once
// Quoted-printable transfer codec. The mode flag selects the binary form of
// encoding (CR and LF encoded, no line structure kept); a new codec has the
// text form.

#include "mime/MimeCodec.h"

namespace quill {

class QuotedPrintableCodec : public MimeCodec {
public:
    QuotedPrintableCodec() { setMode(false); }

    // n + 2 per byte that is not alphanumeric, plus 6 per full 74 of that sum.
    std::size_t encodedLength() const override;
    std::size_t encode(char* dest, std::size_t capacity) override;
    std::size_t decode(char* dest, std::size_t capacity) override;

    // Decodes [data, data + length) into dest, writing at most capacity bytes.
    // With underscoreIsSpace (the Q form of encoded words) "_" stands for a
    // space. A "=" with fewer than two bytes after it ends decoding; "=" CR LF
    // is a soft line break; "=" before a byte that is no hex digit gives that
    // byte. Returns the bytes written.
    static std::size_t decodeSpan(const unsigned char* data, std::size_t length, char* dest,
                                  std::size_t capacity, bool underscoreIsSpace);
};

} // namespace quill
