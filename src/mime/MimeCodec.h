#pragma once
// Transfer codec: converts the content of a body part between its stored
// (decoded) bytes and its transfer encoding. The base class is the 7bit
// pass-through used for "7bit" and for every unknown encoding name.
//
// A codec works on a borrowed input span that must outlive the conversion.
// No operation writes past the capacity it is given, and none throws; size the
// destination with encodedLength()/decodedLength() to get the whole output.

#include <cstddef>

namespace quill {

class MimeCodec {
public:
    enum class Direction { Encode, Decode };

    MimeCodec() = default;
    virtual ~MimeCodec() = default;
    MimeCodec(const MimeCodec&) = delete;
    MimeCodec& operator=(const MimeCodec&) = delete;

    void setInput(const char* data, std::size_t length) {
        input_ = data;
        length_ = data ? length : 0;
    }
    void setDirection(Direction d) { direction_ = d; }
    Direction direction() const { return direction_; }
    // Base64: break lines after 76 characters. Quoted-printable: the binary form.
    void setMode(bool on) { mode_ = on; }
    bool mode() const { return mode_; }

    // Upper bounds of what encode() and decode() write for the current input.
    virtual std::size_t encodedLength() const { return length_; }
    virtual std::size_t decodedLength() const { return length_; }
    // Return the number of bytes written (never more than capacity).
    virtual std::size_t encode(char* dest, std::size_t capacity);
    virtual std::size_t decode(char* dest, std::size_t capacity);

    // Converts in the set direction.
    std::size_t convert(char* dest, std::size_t capacity) {
        return direction_ == Direction::Encode ? encode(dest, capacity) : decode(dest, capacity);
    }
    std::size_t convertedLength() const {
        return direction_ == Direction::Encode ? encodedLength() : decodedLength();
    }

protected:
    const unsigned char* in() const { return reinterpret_cast<const unsigned char*>(input_); }
    std::size_t inLength() const { return length_; }

private:
    const char* input_ = nullptr;
    std::size_t length_ = 0;
    Direction direction_ = Direction::Decode;
    bool mode_ = false;
};

} // namespace quill
