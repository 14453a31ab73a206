#pragma once
// One raw HTTP response split into header and body, the body gzip-decoded
// when the header says "Content-Encoding: gzip". A value the caller owns.
// A response without an empty line is all header. A gzip body that inflates
// beyond its bound (kMaxInflatedBytes unless the reader sets another), and a
// header beyond kMaxHeaderBytes, throw AnswerTooLarge; a gzip body that is not
// whole throws BadGzip. Nothing else throws.

#include "webmail/AnswerLimits.h"
#include "webmail/WebmailError.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace quill {

class HttpResponse {
public:
    // A gzip body that is not one whole stream (see GzipReader.h): the
    // connection ended inside it, or a trailer does not match, or bytes stand
    // before or after its members. Taken for the whole it would be a message
    // cut short. The text names the fault ("gzip answer cut short", ...).
    class BadGzip : public WebmailError {
    public:
        explicit BadGzip(const char* what) : WebmailError(what) {}
    };

    explicit HttpResponse(const std::string& raw, std::size_t maxInflated = kMaxInflatedBytes);
    // Takes over raw's buffer: the body is moved down over the header in
    // place, so a large response is copied once at most and never duplicated.
    explicit HttpResponse(std::string&& raw, std::size_t maxInflated = kMaxInflatedBytes);

    // The number between the first two blanks of the header (its leading
    // digits; 0 when there are none, saturating at the largest int); -1 when
    // the header holds fewer than two blanks.
    int statusCode() const;
    // The rest of the header line that begins with name (name includes its
    // colon and blank, e.g. "Location: "); empty when there is none. The status
    // line never matches.
    std::string headerValue(const std::string& name) const;
    // The name=value pairs of every "Set-Cookie: " line, in header order, each
    // followed by "; ": a ready "Cookie:" header value.
    std::string setCookiePairs() const;

    // What a header says of its body's length: nothing, a length, or
    // something that cannot be taken for one.
    enum class Length { Absent, Known, Unreadable };
    // The one reading of Content-Length, for every rule that a length decides.
    // header: the raw header (the status line first; the empty line may be
    // missing). The field name in any letter case, directly followed by its
    // colon; blanks (space, tab) around the value; the value decimal digits
    // only. Several fields that all give the same value are that value; fields
    // that disagree, a value with anything else in it (a sign, letters, an
    // empty value) and one beyond what a size_t holds are Unreadable, and
    // length is then 0.
    static Length contentLength(std::string_view header, std::size_t& length);

    // True when raw has no complete header (no empty line) or its header
    // announces a Content-Length that its body falls short of: the connection
    // ended before the whole answer had come, and a reader must not take the
    // part for the whole (a message cut short). An unreadable length counts
    // as none: without close_notify to vouch for it (wholeByLength), such an
    // answer is as undecidable as one without a length.
    static bool cutShort(const std::string& raw);
    // True when raw has a complete header with a readable Content-Length and
    // at least that many body bytes: its end is known without the stream's.
    // An answer over TLS that ended without close_notify is taken only then.
    static bool wholeByLength(const std::string& raw);

    // Up to and including the first empty line (CR LF CR LF).
    const std::string& header() const { return header_; }
    const std::string& body() const { return body_; }
    // Moves the body out (no copy); body() is empty afterwards.
    std::string takeBody() { return std::move(body_); }

private:
    std::string header_;
    std::string body_;
};

} // namespace quill
