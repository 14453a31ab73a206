#pragma once
// Base64 (RFC 4648 alphabet, "=" padding, no line breaks) for the network side:
// the proxy's Basic authorization and the SMTP AUTH LOGIN exchange.

#include <cstddef>
#include <string>

namespace quill {

// Encodes one input into Base64 text. Used once per encoding, on the stack.
class Base64Coder {
public:
    // Encodes the bytes of a zero-terminated text; a null text does nothing.
    void encode(const char* text);
    // Encodes any bytes.
    void encode(const void* bytes, std::size_t length);
    // The produced Base64 text; owned by the coder, valid until the next encode
    // or the coder's end. Empty before any encode.
    const char* result() const;

private:
    std::string input_;
    std::string text_;
};

// Decodes Base64 text, skipping every byte outside the alphabet and stopping at
// the first "=". The result ends at the first zero byte that decoding produces.
std::string decodeBase64(const std::string& text);

} // namespace quill
