#include "smtp/OutgoingMessage.h"

#include "mime/MimeMessage.h"

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

// Reads the message's structure, without decoding any part; false when its
// header cannot be read. A message of header lines only lost the CR LF of its
// last line with the terminator: it is read again from a copy with that line
// end restored, and loaded then views that copy instead of the text.
bool loadMessage(MimeMessage& message, std::string_view& loaded, std::string& ended) {
    if (loaded.empty() || message.loadStructure(loaded.data(), loaded.size()) > 0) {
        return true;
    }
    if (loaded.size() >= 2 && loaded.substr(loaded.size() - 2) == "\r\n") {
        return false;
    }
    message.clear();
    ended.assign(loaded.data(), loaded.size());
    ended += "\r\n";
    loaded = ended;
    return message.loadStructure(ended.data(), ended.size()) > 0;
}

} // namespace

OutgoingMessage::OutgoingMessage(std::string_view text) {
    analyse(text, nullptr);
}

OutgoingMessage::OutgoingMessage(std::string&& text) {
    analyse(text, &text);
}

void OutgoingMessage::analyse(std::string_view text, std::string* owned) {
    try {
        MimeMessage message;
        std::string_view loaded = text;
        std::string ended;
        if (!loadMessage(message, loaded, ended)) {
            analysed_ = false;
            return;
        }
        to_ = withoutCrLf(fieldValue(message, "To"));
        cc_ = withoutCrLf(fieldValue(message, "CC"));
        bcc_ = withoutCrLf(fieldValue(message, "BCC"));
        subject_ = fieldValue(message, "Subject");
        bool html = false;
        // Only the chosen part is decoded, straight into the body: attachments
        // are dropped unread.
        const MimeBody* chosen = choosePart(message, html);
        bool decoded = true;
        if (chosen && owned != nullptr && loaded.data() == owned->data()) {
            body_.swap(*owned);
            decoded = chosen->decodeBodyInPlace(body_);
        } else if (chosen) {
            decoded = chosen->decodeBodyInto(loaded, body_);
        }
        if (!decoded) {
            body_.clear();
            analysed_ = false;
            return;
        }
        if (chosen && html)
            format_ = "html";
    } catch (const std::bad_alloc&) {
        // Out of memory: nothing of a half analysis may be posted.
        analysed_ = false;
    }
}

} // namespace quill
