#pragma once
// The values that the web-mail compose form takes, reduced from a message
// that the mail client submitted: the first To, Cc, Bcc and Subject fields of
// the top-level header, and the decoded content of one chosen part with its
// format. Everything else in the message is dropped; no charset conversion is
// made. All members are independent byte strings.
//
// The part is chosen by walking down from the message: a text/html part is
// taken as HTML; multipart/alternative goes to its second child, any other
// multipart to its first; any other part is taken as it is. Subtypes are
// compared exactly (case-sensitive).

#include <string>
#include <string_view>

namespace quill {

class OutgoingMessage {
public:
    // All members empty.
    OutgoingMessage() = default;
    // Analyses the message text as the SMTP session received it (header,
    // empty line, body; CR LF line ends; the final CR LF already removed; dot
    // stuffing undone). Never throws: what cannot be found stays empty, and a
    // message that cannot be analysed at all is marked so.
    explicit OutgoingMessage(std::string_view messageText);
    // The same for a text the caller gives away: a body without transfer
    // encoding becomes the body where it lies, instead of a copy.
    explicit OutgoingMessage(std::string&& messageText);

    // False when the message could not be analysed (its header could not be
    // read, or memory ran out): it must not be posted, since what would go
    // out is not what the mail client submitted. An empty message is analysed.
    bool analysed() const { return analysed_; }

    // Field values with every CR LF deleted (the white space after it stays).
    const std::string& to() const { return to_; }
    const std::string& cc() const { return cc_; }
    const std::string& bcc() const { return bcc_; }
    // The Subject value as stored, folds (CR LF and white space) kept.
    const std::string& subject() const { return subject_; }
    // The decoded content of the chosen part, or empty.
    const std::string& body() const { return body_; }
    // "html" when the chosen part is text/html, otherwise empty.
    const std::string& format() const { return format_; }

private:
    // Fills the members from text; owned, when not null, holds text and may
    // be taken over for the body.
    void analyse(std::string_view text, std::string* owned);

    std::string to_;
    std::string cc_;
    std::string bcc_;
    std::string subject_;
    std::string body_;
    std::string format_;
    bool analysed_ = true;
};

} // namespace quill
