#pragma once
// Bounds on what the web-mail site may send, all in one place. The site is
// reached over plain HTTP, so anyone on the path can answer in its place;
// without bounds a small forged answer (a gzip bomb, an endless body) takes
// the memory of the mail client's process, which the plug-in shares. Reaching
// a bound fails the operation with AnswerTooLarge, a CVurelClient::Error, so
// the conversation gives its usual failure reply.

#include "webmail/WebmailError.h"

#include <cstddef>

namespace quill {

// Bytes of one answer as received, header included. Real pages are tens of
// KB; a message part (the raw text of a mail with attachments) can be 50 MB
// and more. 128 MiB leaves room for that and for the copy a caller makes,
// inside a 32-bit process's 2 GiB.
constexpr std::size_t kMaxAnswerBytes = 128u << 20;
// Bytes of a gzip body once inflated: the same bound, however small the
// compressed answer was (deflate reaches some 1000:1).
constexpr std::size_t kMaxInflatedBytes = kMaxAnswerBytes;

// Bytes of an answer's header, up to and including its empty line. Real
// headers are a few KB; a forged one of megabytes would be copied into every
// cookie and request that follows.
constexpr std::size_t kMaxHeaderBytes = 1u << 20;

// An answer or its inflated body went past one of the bounds above.
class AnswerTooLarge : public WebmailError {
public:
    AnswerTooLarge() : WebmailError("answer too large") {}
};

} // namespace quill
