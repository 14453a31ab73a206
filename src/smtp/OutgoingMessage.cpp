#include "smtp/OutgoingMessage.h"

#include "mime/MimeMessage.h"
#include "platform/LargeBuffer.h"

#include <new>

namespace quill {

namespace {

std::string withoutCrLf(const std::string& v) {
    std::string out;
    out.reserve(v.size());
    for (std::size_t i = 0; i < v.size(); ++i) {
        if (v[i] == '\r' && i + 1 < v.size() && v[i + 1] == '\n') {
            ++i;
            continue;
        }
        out += v[i];
    }
    return out;
}

std::string fieldValue(const MimeHeader& h, const char* name) {
    const MimeField* f = h.findField(name);
    return f ? f->value() : std::string();
}

// The part whose content becomes the body, or null; html tells whether it is
// a text/html part.
const MimeBody* choosePart(const MimeBody& message, bool& html) {
    html = false;
    const MimeBody* p = &message;
    for (;;) {
        MediaType type = p->mediaType();
        if (type == MediaType::Text) {
            if (p->subtype() == "html")
                html = true;
            return p;
        }
        if (type != MediaType::Multipart)
            return p;
        std::size_t wanted = p->subtype() == "alternative" ? 1 : 0;
        p = p->child(wanted);
        if (!p)
            return nullptr;
    }
}

// Loads the message; false when its header cannot be read. A message of
// header lines only lost the CR LF of its last line with the terminator: it
// is read again with that line end restored.
bool loadMessage(MimeMessage& message, std::string_view text) {
    if (text.empty() || message.load(text.data(), text.size()) > 0) {
        return true;
    }
    if (text.size() >= 2 && text.substr(text.size() - 2) == "\r\n") {
        return false;
    }
    message.clear();
    std::string ended(text);
    ended += "\r\n";
    return message.load(ended.data(), ended.size()) > 0;
}

} // namespace

OutgoingMessage::OutgoingMessage(std::string_view text) {
    try {
        MimeMessage message;
        if (!loadMessage(message, text)) {
            analysed_ = false;
            return;
        }
        to_ = withoutCrLf(fieldValue(message, "To"));
        cc_ = withoutCrLf(fieldValue(message, "CC"));
        bcc_ = withoutCrLf(fieldValue(message, "BCC"));
        subject_ = fieldValue(message, "Subject");
        bool html = false;
        const MimeBody* chosen = choosePart(message, html);
        if (chosen && chosen->hasContent()) {
            // A body of tens of megabytes: huge pages before it is filled.
            body_.reserve(chosen->contentLength());
            platform::adviseLargeBuffer(&body_[0], body_.capacity());
            body_.assign(chosen->content(), chosen->contentLength());
        }
        if (chosen && html)
            format_ = "html";
    } catch (const std::bad_alloc&) {
        // Out of memory: nothing of a half analysis may be posted.
        analysed_ = false;
    }
}

} // namespace quill
