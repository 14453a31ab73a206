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

// The text with every bare LF (one without a CR before it) turned into CR LF;
// a lone CR stays as it is. A mail client reads a line at each LF, so a bare
// one would let a line that the stuffing did not see as a line start end the
// reply early (".") or pass for the next reply ("+OK").
std::string withCrLf(std::string text);

// The header text with the empty line that closes a message header: text
// that ends in CR LF CR LF is returned unchanged; otherwise the missing line
// breaks are added, so that the body or the terminator never runs on into the
// last header line. Give it a header whose LFs all follow a CR (withCrLf).
std::string closeHeader(std::string header);

// The first lines of a message body, each with its line end (a line ends at
// each LF, bare or not); the whole body when it has fewer lines.
std::string firstLines(const std::string& body, unsigned long lines);

// The framing of multi-line reply data, in one pass: every bare LF becomes
// CR LF, and every line that begins with "." gets one more "." in front. The
// data may come in several pieces (the header, then the text): the stuffer
// keeps track of line starts and of a CR that ended a piece across them. The
// output is handed to sink in segments that point into the input (no copy of
// the data is made here).
class DotStuffer {
public:
    using Sink = std::function<void(const char* bytes, std::size_t length)>;
    explicit DotStuffer(Sink sink) : sink_(std::move(sink)) {}

    void feed(const std::string& data);
    // Whether the output so far ends with CR LF (true before any data).
    bool endsWithLineEnd() const { return atLineStart_; }

private:
    Sink sink_;
    bool atLineStart_ = true; // the last byte fed was LF, or none was fed
    bool afterCr_ = false;    // the last byte fed was CR
};

} // namespace pop3text
} // namespace quill
