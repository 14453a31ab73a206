#pragma once
// Reads and writes RFC 2047 encoded words ("=?charset?B?...?=" and the Q form).
// Works on a borrowed input span; never writes past the capacity given.

#include <cstddef>
#include <string>

namespace quill {

class EncodedWordCoder {
public:
    void setInput(const char* data, std::size_t length) {
        input_ = data;
        length_ = data ? length : 0;
    }
    // 'B' or 'Q' for encoding; after decode, the letter of the first word.
    void setEncoding(char letter) { letter_ = letter; }
    char encoding() const { return letter_; }
    // The charset to encode with; after decode, the charset of the first
    // encoded word (empty when there was none).
    void setCharset(std::string charset) { charset_ = std::move(charset); }
    const std::string& charset() const { return charset_; }

    // Upper bound of encode() for the current input.
    std::size_t encodedLength() const;
    std::size_t decodedLength() const { return length_; }

    // Writes the whole input as encoded words in the set form, separated by
    // one space. Returns the bytes written.
    std::size_t encode(char* dest, std::size_t capacity) const;
    void encodeTo(std::string& out) const;

    // Replaces encoded words by their decoded bytes and copies other text;
    // white space between two encoded words is dropped. A word with a letter
    // other than B or Q stays as text; a word without "?=" runs to the end.
    // Returns the bytes written.
    std::size_t decode(char* dest, std::size_t capacity);

    // Size of the Q-form text of the input (without word brackets).
    std::size_t qTextLength() const;

private:
    const char* input_ = nullptr;
    std::size_t length_ = 0;
    char letter_ = 'B';
    std::string charset_;
};

} // namespace quill
