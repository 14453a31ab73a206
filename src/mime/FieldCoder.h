#pragma once
// Field coder: converts one header field value between its raw form on the
// wire (with RFC 2047 encoded words and folds) and its stored form (decoded
// bytes). The base class serves every field name without a coder of its own.
//
// Decoding replaces encoded words by their bytes and remembers the charset of
// the first one; folds stay in the value. Encoding with a charset (the coder's,
// or else the library default) turns segments holding 8-bit bytes into encoded
// words and folds after the coder's fold points; with no charset the value is
// copied unchanged. Works on a borrowed input span; never throws and never
// writes past the given capacity.

#include <cstddef>
#include <string>

namespace quill {

class FieldCoder {
public:
    enum class Direction { Encode, Decode };

    FieldCoder() = default;
    virtual ~FieldCoder() = default;
    FieldCoder(const FieldCoder&) = delete;
    FieldCoder& operator=(const FieldCoder&) = delete;

    void setInput(const char* data, std::size_t length) {
        input_ = data;
        length_ = data ? length : 0;
    }
    void setDirection(Direction d) { direction_ = d; }
    Direction direction() const { return direction_; }
    void setCharset(std::string charset) { charset_ = std::move(charset); }
    const std::string& charset() const { return charset_; }

    // Upper bound of encode() for the current input and charset.
    virtual std::size_t encodedLength() const;
    virtual std::size_t decodedLength() const { return length_; }
    // Return the bytes written.
    virtual std::size_t encode(char* dest, std::size_t capacity);
    virtual std::size_t decode(char* dest, std::size_t capacity);
    // After a fold point the encoder writes CR LF TAB.
    virtual bool isFoldPoint(unsigned char) const { return false; }
    // 0: segments end at white space and specials; any other value is the byte
    // that closes the opening quoted state (255: never, one segment).
    virtual unsigned char initialQuotingState() const { return 0; }

    // Conveniences over encode/decode that size their own buffer.
    std::string encoded();
    std::string decoded();

    // The process-wide charset used when a coder has none (empty at start).
    static void setDefaultCharset(std::string charset);
    static std::string defaultCharset();

private:
    void encodeTo(std::string& out, const std::string& charset) const;
    std::string effectiveCharset() const;

    const char* input_ = nullptr;
    std::size_t length_ = 0;
    Direction direction_ = Direction::Decode;
    std::string charset_;
};

} // namespace quill
