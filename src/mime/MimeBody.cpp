#include "mime/MimeBody.h"

#include "mime/Base64Codec.h"
#include "mime/CodecRegistry.h"
#include "mime/PartFactoryRegistry.h"
#include "platform/LargeBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <typeinfo>

namespace quill {

namespace {

// A part whose next delimiter lies further than this from its start is a long
// one: a base64 leaf is then decoded in the same pass that finds its end
// (loadLongPart), instead of being read once by the search and once more,
// from main memory, by the decoder.
constexpr std::size_t kSearchWindow = std::size_t(256) << 10;

// Base64 is decoded in pieces of this size: the room for a piece's output is
// made (and zeroed) while it is in the CPU cache, right before it is written.
constexpr std::size_t kPiece = std::size_t(32) << 10;

// Position of needle in data at or after from, or data.size(). The walk is
// done by memchr on one byte of the needle: its first dash where it has one
// (a delimiter line; "-" never occurs in base64 and is rarer than CR in text),
// else its first.
std::size_t findText(std::string_view data, std::size_t from, std::string_view needle) {
    const std::size_t length = data.size();
    const std::size_t needleLength = needle.size();
    if (needleLength == 0 || needleLength > length) {
        return length;
    }
    const std::size_t dash = needle.find('-');
    const std::size_t anchor = dash == std::string_view::npos ? 0 : dash;
    while (from + needleLength <= length) {
        const void* hit = std::memchr(data.data() + from + anchor, needle[anchor],
                                      length - from - needleLength + 1);
        if (!hit) {
            return length;
        }
        const std::size_t at =
            static_cast<std::size_t>(static_cast<const char*>(hit) - data.data()) - anchor;
        if (data.compare(at, needleLength, needle) == 0) {
            return at;
        }
        from = at + 1;
    }
    return length;
}

std::unique_ptr<MimeCodec> codecFor(const MimeHeader& header) {
    const std::string* cte = header.contentTransferEncoding();
    return CodecRegistry::codecFor(cte ? std::string_view(*cte) : std::string_view());
}

// Decodes base64 into out (emptied first), in pieces; stop is the offset of
// the byte that ended decoding (or the body's size). Throws std::bad_alloc.
template <class Out> void decodeBase64Into(std::string_view body, Out& out, std::size_t& stop) {
    const auto* data = reinterpret_cast<const unsigned char*>(body.data());
    out.clear();
    // Every piece's room (3 bytes per 4 of it, plus 3) fits in this with what
    // the pieces before it wrote.
    out.reserve(body.size() / 4 * 3 + 6);
    platform::adviseLargeBuffer(&out[0], out.capacity());
    Base64Codec::DecodeState state;
    stop = 0;
    while (stop < body.size() && !state.stopped) {
        const std::size_t piece = std::min(kPiece, body.size() - stop);
        const std::size_t room = piece / 4 * 3 + 3;
        const std::size_t before = out.size();
        out.resize(before + room);
        std::size_t consumed = 0;
        out.resize(before + Base64Codec::decodePiece(data + stop, piece, &out[before], room, state,
                                                     consumed));
        stop += consumed;
    }
    const std::size_t before = out.size();
    out.resize(before + 2);
    out.resize(before + Base64Codec::finishPieces(state, &out[before], 2));
}

// Decodes body with the header's transfer codec into out (emptied first).
// Throws std::bad_alloc.
template <class Out> void decodeInto(const MimeHeader& header, std::string_view body, Out& out) {
    const auto codec = codecFor(header);
    const MimeCodec& codecRef = *codec;
    if (typeid(codecRef) == typeid(Base64Codec)) {
        std::size_t stop = 0;
        decodeBase64Into(body, out, stop);
        return;
    }
    out.clear();
    if (typeid(codecRef) == typeid(MimeCodec)) {
        // The pass-through: the content is the body.
        out.reserve(body.size());
        platform::adviseLargeBuffer(&out[0], out.capacity());
        out.assign(body.data(), body.size());
        return;
    }
    codec->setDirection(MimeCodec::Direction::Decode);
    codec->setInput(body.data(), body.size());
    out.reserve(codec->decodedLength());
    platform::adviseLargeBuffer(&out[0], out.capacity());
    out.resize(codec->decodedLength());
    out.resize(codec->decode(&out[0], out.size()));
}

} // namespace

MimeBody::~MimeBody() = default;

void MimeBody::clear() {
    children_.clear();
    cursor_ = 0;
    clearContent();
    MimeHeader::clear();
}

void MimeBody::clearContent() {
    dropContent();
    bodyOffset_ = 0;
    bodyLength_ = 0;
}

void MimeBody::dropContent() {
    Content().swap(content_);
    hasContent_ = false;
}

bool MimeBody::setContent(std::string_view bytes) {
    try {
        Content copy(bytes.data(), bytes.size());
        content_.swap(copy);
    } catch (const std::bad_alloc&) {
        return false;
    }
    hasContent_ = true;
    return true;
}

MediaType MimeBody::mediaType() const {
    const MimeField* field = findField("Content-Type");
    return field ? mediaTypeFromValue(field->value()) : MediaType::Text;
}

std::string MimeBody::subtype() const {
    const MimeField* field = findField("Content-Type");
    if (!field) {
        return "plain";
    }
    std::string_view main = field->mainValue();
    std::size_t slash = main.find('/');
    if (slash == std::string_view::npos) {
        return std::string(main);
    }
    if (slash == 0) {
        return std::string();
    }
    return std::string(main.substr(slash + 1));
}

MimeBody* MimeBody::firstChild() {
    cursor_ = 0;
    return nextChild();
}

MimeBody* MimeBody::nextChild() {
    if (cursor_ >= children_.size()) {
        return nullptr;
    }
    return children_[cursor_++].get();
}

MimeBody& MimeBody::appendChild(std::unique_ptr<MimeBody> child) {
    children_.push_back(std::move(child));
    return *children_.back();
}

std::ptrdiff_t MimeBody::load(const char* data, std::size_t length) {
    try {
        return loadNested(data, length, LoadPass{data, true}, 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

std::ptrdiff_t MimeBody::loadStructure(const char* data, std::size_t length) {
    try {
        return loadNested(data, length, LoadPass{data, false}, 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

bool MimeBody::locatedBody(std::string_view loaded, std::string_view& body) const {
    if (bodyOffset_ > loaded.size() || bodyLength_ > loaded.size() - bodyOffset_) {
        return false;
    }
    body = loaded.substr(bodyOffset_, bodyLength_);
    return true;
}

bool MimeBody::decodeBody(std::string_view loaded) {
    if (bodyLength_ == 0) {
        return true;
    }
    std::string_view body;
    return locatedBody(loaded, body) && decodeContent(body);
}

bool MimeBody::decodeBodyInto(std::string_view loaded, std::string& out) const {
    out.clear();
    if (bodyLength_ == 0) {
        return true;
    }
    std::string_view body;
    if (!locatedBody(loaded, body)) {
        return false;
    }
    try {
        decodeInto(*this, body, out);
    } catch (const std::bad_alloc&) {
        std::string().swap(out);
        return false;
    }
    return true;
}

bool MimeBody::decodeBodyInPlace(std::string& loaded) const {
    if (bodyLength_ == 0) {
        std::string().swap(loaded);
        return true;
    }
    std::string_view body;
    if (!locatedBody(loaded, body)) {
        return false;
    }
    const auto codec = codecFor(*this);
    const MimeCodec& codecRef = *codec;
    if (typeid(codecRef) == typeid(MimeCodec)) {
        loaded.erase(0, bodyOffset_);
        loaded.resize(bodyLength_);
        return true;
    }
    std::string out;
    if (!decodeBodyInto(loaded, out)) {
        return false;
    }
    loaded.swap(out);
    return true;
}

std::ptrdiff_t MimeBody::loadNested(const char* data, std::size_t length, const LoadPass& pass,
                                    int depth) {
    std::ptrdiff_t headerLength = loadFields(data, length);
    if (headerLength <= 0) {
        return headerLength;
    }
    clearContent();
    const std::string_view text(data, length);
    std::size_t bodyStart = static_cast<std::size_t>(headerLength);
    std::size_t end = length;

    std::string delimiter;
    std::size_t found = length;
    if (mediaType() == MediaType::Multipart && depth < kMaxDepth) {
        std::string boundaryText = boundary();
        if (!boundaryText.empty()) {
            delimiter = "\r\n--" + boundaryText;
            // From two bytes back, so that a delimiter right after the empty
            // line (whose CR LF it shares) is found.
            found = findText(text, bodyStart >= 2 ? bodyStart - 2 : 0, delimiter);
            if (found < length) {
                end = found + 2;
            }
        }
    }

    if (end > bodyStart) {
        if (!pass.decode) {
            bodyOffset_ = static_cast<std::size_t>(data - pass.buffer) + bodyStart;
            bodyLength_ = end - bodyStart;
        } else if (!decodeContent(text.substr(bodyStart, end - bodyStart))) {
            return -1;
        }
        bodyStart = end;
    }
    if (bodyStart >= length || found >= length) {
        return static_cast<std::ptrdiff_t>(bodyStart < length ? bodyStart : length);
    }

    const bool useFactory = !PartFactoryRegistry::empty();
    const std::size_t delimiterLength = delimiter.size();
    std::size_t delimiterAt = findText(text, bodyStart - 2, delimiter);
    while (delimiterAt < length) {
        std::size_t lineEnd = findText(text, delimiterAt + delimiterLength, "\r\n");
        if (lineEnd >= length) {
            return static_cast<std::ptrdiff_t>(length);
        }
        std::size_t childStart = lineEnd + 2;
        if (delimiterAt + delimiterLength + 2 <= length &&
            data[delimiterAt + delimiterLength] == '-' &&
            data[delimiterAt + delimiterLength + 1] == '-') {
            return static_cast<std::ptrdiff_t>(childStart);
        }

        std::unique_ptr<MimeBody> child;
        std::size_t next = std::string_view::npos;
        if (!useFactory) {
            child = std::make_unique<MimeBody>();
            if (pass.decode) {
                // An entity of the library's own class: a long part may be read in one pass.
                next = child->loadLongPart(text.substr(childStart), delimiter, depth + 1);
            }
        }
        if (next != std::string_view::npos) {
            appendChild(std::move(child));
            delimiterAt = childStart + next;
            continue;
        }
        next = findText(text, childStart, delimiter);
        if (useFactory) {
            MimeHeader probe;
            probe.load(data + childStart, next - childStart);
            child = PartFactoryRegistry::create(probe.mediaTypeName());
        }
        MimeBody& added = appendChild(std::move(child));
        std::ptrdiff_t result =
            added.loadNested(data + childStart, next - childStart, pass, depth + 1);
        if (result < 0) {
            children_.pop_back();
            return result;
        }
        delimiterAt = next;
    }
    return static_cast<std::ptrdiff_t>(length);
}

std::size_t MimeBody::loadLongPart(std::string_view part, std::string_view delimiter, int depth) {
    // No delimiter may begin inside the window: the header is then read from
    // the window alone, and reads the same as from the part up to its end
    // when it ends well inside the window.
    if (part.size() <= kSearchWindow ||
        findText(part.substr(0, kSearchWindow + delimiter.size() - 1), 0, delimiter) <
            kSearchWindow) {
        return std::string_view::npos;
    }
    const std::ptrdiff_t headerLength = loadFields(part.data(), kSearchWindow);
    const auto bodyStart = static_cast<std::size_t>(headerLength);
    const auto codec = codecFor(*this);
    const MimeCodec& codecRef = *codec;
    std::size_t stop = 0;
    if (headerLength <= 0 || bodyStart + 4 > kSearchWindow ||
        (mediaType() == MediaType::Multipart && depth < kMaxDepth) ||
        typeid(codecRef) != typeid(Base64Codec) || !decodeBase64(part.substr(bodyStart), stop)) {
        // Out of memory too: the ordinary way reserves less.
        clear();
        return std::string_view::npos;
    }
    // Base64 decoding stops at the first byte outside its alphabet, and every
    // byte before it is in the alphabet or a line end. The delimiter's dashes
    // are outside it: so it begins no earlier than the line end just before
    // the stop, and the decoded content is that of the part up to it.
    const std::size_t stopAt = bodyStart + stop;
    const std::size_t next = findText(part, std::max(kSearchWindow, stopAt - 2), delimiter);
    // What the reservation for the rest of the message left unused goes back
    // when it is much (later parts follow).
    if (content_.capacity() - content_.size() > content_.size() / 8 + kSearchWindow) {
        content_.shrink_to_fit();
    }
    return next;
}

bool MimeBody::decodeContent(std::string_view body) {
    try {
        decodeInto(*this, body, content_);
    } catch (const std::bad_alloc&) {
        dropContent();
        return false;
    }
    hasContent_ = true;
    return true;
}

bool MimeBody::decodeBase64(std::string_view body, std::size_t& stop) {
    try {
        decodeBase64Into(body, content_, stop);
    } catch (const std::bad_alloc&) {
        dropContent();
        return false;
    }
    hasContent_ = true;
    return true;
}

std::size_t MimeBody::storedLength() const {
    std::size_t total = MimeHeader::storedLength() + 2;
    if (hasContent_) {
        auto codec = codecFor(*this);
        codec->setDirection(MimeCodec::Direction::Encode);
        codec->setInput(content_.data(), content_.size());
        total += codec->encodedLength();
    }
    if (!children_.empty()) {
        std::size_t boundaryText = boundary().size();
        for (const auto& child : children_) {
            total += boundaryText + child->storedLength() + 6;
        }
        total += boundaryText + 8;
    }
    return total;
}

std::ptrdiff_t MimeBody::store(char* dest, std::size_t capacity) const {
    try {
        std::ptrdiff_t headerLength = MimeHeader::store(dest, capacity);
        if (headerLength <= 0) {
            return headerLength;
        }
        std::size_t written = static_cast<std::size_t>(headerLength);
        if (hasContent_) {
            auto codec = codecFor(*this);
            codec->setDirection(MimeCodec::Direction::Encode);
            codec->setInput(content_.data(), content_.size());
            written += codec->encode(dest + written, capacity - written);
        }
        if (children_.empty()) {
            return static_cast<std::ptrdiff_t>(written);
        }
        const std::string boundaryText = boundary();
        if (boundaryText.empty()) {
            return -1;
        }
        bool first = true;
        for (const auto& child : children_) {
            if (capacity - written < boundaryText.size() + 6) {
                break;
            }
            if (first && written >= 2 && dest[written - 2] == '\r' && dest[written - 1] == '\n') {
                written -= 2;
            }
            first = false;
            std::memcpy(dest + written, "\r\n--", 4);
            std::memcpy(dest + written + 4, boundaryText.data(), boundaryText.size());
            std::memcpy(dest + written + 4 + boundaryText.size(), "\r\n", 2);
            written += boundaryText.size() + 6;
            std::ptrdiff_t result = child->store(dest + written, capacity - written);
            if (result < 0) {
                return result;
            }
            written += static_cast<std::size_t>(result);
        }
        if (capacity - written >= boundaryText.size() + 8) {
            std::memcpy(dest + written, "\r\n--", 4);
            std::memcpy(dest + written + 4, boundaryText.data(), boundaryText.size());
            std::memcpy(dest + written + 4 + boundaryText.size(), "--\r\n", 4);
            written += boundaryText.size() + 8;
        }
        return static_cast<std::ptrdiff_t>(written);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

} // namespace quill
