#pragma once
// The text rules of the POP3 conversation, apart from the session so that each
// can be tested on its own: reading words and message numbers from a command
// line, and framing message data for a multi-line reply.

#include <cstddef>
#include <functional>
#include <string>

namespace quill {
namespace pop3text {

// The next word of line at or after pos: the first run of characters other
// than white space (space, tab, CR, LF, VT, FF) after any leading white space.
// pos moves past the word. Empty when the line holds no further word.
std::string nextWord(const std::string& line, std::size_t& pos);

// Reads a message number: the word's leading decimal digits. False when the
// word does not begin with a digit. Values too large for the type saturate,
// which keeps them out of range of any mailbox.
bool parseNumber(const std::string& word, unsigned long& number);

// The header text with the empty line that closes a message header: text
// that ends in CR LF CR LF is returned unchanged; otherwise the missing line
// breaks are added, so that the body or the terminator never runs on into the
// last header line.
std::string closeHeader(std::string header);

// The first lines of a message body, each with its line end; the whole body
// when it has fewer lines.
std::string firstLines(const std::string& body, unsigned long lines);

// Byte-stuffing of multi-line reply data. The data may come in several pieces
// (the header, then the text): the stuffer keeps track of line starts across
// them. Lines are separated by CR LF; every line that begins with "." gets one
// more "." in front. The output is handed to sink in segments that point into
// the input (no copy of the data is made here).
class DotStuffer {
public:
    using Sink = std::function<void(const char* bytes, std::size_t length)>;
    explicit DotStuffer(Sink sink) : sink_(std::move(sink)) {}

    void feed(const std::string& data);
    // Whether the data fed so far ends with CR LF (true before any data).
    bool endsWithLineEnd() const { return atLineStart_; }

private:
    Sink sink_;
    bool atLineStart_ = true; // the next byte begins a line
    bool afterCr_ = false;    // the last byte fed was CR
};

} // namespace pop3text
} // namespace quill
