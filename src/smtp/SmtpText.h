#pragma once
// Byte-string rules of the local SMTP conversation, kept apart from the session
// so that they can be checked one case at a time. Pure functions; all texts are
// 8-bit byte strings and letter case is folded for ASCII letters only.

#include <set>
#include <string>

namespace quill {
namespace smtptext {

// The first word of a command line: the run of non-blank bytes after any
// leading blanks (space, TAB). An empty or all-blank line gives "".
std::string commandWord(const std::string& line);

// The rest of the line after the command word, with leading and trailing blanks
// removed ("AUTH LOGIN dXNlcg==" gives "LOGIN dXNlcg==").
std::string commandArgument(const std::string& line);

// The forward-path of a RCPT line: the bytes between the "<" that follows the
// first "RCPT TO:" (any letter case, blanks allowed before the "<") and the next
// ">". Empty when a marker is missing or nothing lies between the brackets.
std::string recipientAddress(const std::string& line);

// Undoes SMTP dot-stuffing in place: every line (lines are separated by CR LF,
// the first one starts the text) that begins with "." loses that one dot. One
// pass, no second copy of a long message.
void unstuffDots(std::string& text);

// Whether address occurs in header as a whole address: compared without case,
// and the bytes right before and after the match (if any) are not characters
// that can be part of an address, so "al@x.example" is not named by
// "sal@x.example" nor by "al@x.example.org".
bool namesAddress(const std::string& header, const std::string& address);

// The Bcc to post: bcc, followed by every envelope recipient (in ascending byte
// order) that none of to, cc and bcc names, joined by "," (no leading comma
// when bcc is empty).
std::string blindCopies(const std::string& to, const std::string& cc, const std::string& bcc,
                        const std::set<std::string>& recipients);

} // namespace smtptext
} // namespace quill
