#pragma once
// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) for the network side:
// the proxy's Basic authorization and the SMTP AUTH LOGIN exchange.
// Pure functions of their input; the decoding table is constant data.

#include <cstddef>
#include <string>

namespace quill {

// Encodes one input into Base64 text. Used once per encoding, on the stack.
class Base64Coder {
public:
    // Encodes the bytes of a zero-terminated text; a null text does nothing.
    void encode(const char* text);
    // Encodes any bytes (zero bytes included), whatever the length.
    void encode(const void* bytes, std::size_t length);
    // The produced Base64 text, zero-terminated; owned by the coder, valid until
    // the next encode or the coder's end. Empty before any encode.
    const char* result() const { return text_.c_str(); }
    // Length of result() in characters.
    std::size_t size() const { return text_.size(); }

private:
    std::string input_;
    std::string text_;
};

// The Base64 text of any bytes, in one call.
std::string encodeBase64(const std::string& bytes);

// Decodes Base64 text, skipping every byte outside the alphabet and stopping at
// the first "=". The result ends at the first zero byte that decoding produces,
// because callers use it as text.
std::string decodeBase64(const std::string& text);

} // namespace quill
