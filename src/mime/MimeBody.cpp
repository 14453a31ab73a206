#include "mime/MimeBody.h"

#include "mime/CodecRegistry.h"
#include "mime/PartFactoryRegistry.h"
#include "platform/LargeBuffer.h"

#include <cstring>
#include <new>

namespace quill {

namespace {

// Position of needle in [from, length) of data, or length. The walk is done by memchr on
// one byte of the needle: its first dash where it has one (a delimiter line;
// "-" never occurs in base64 and is rarer than CR in text), else its first.
std::size_t findText(const char* data, std::size_t length, std::size_t from,
                     std::string_view needle) {
    const std::size_t needleLength = needle.size();
    if (needleLength == 0 || needleLength > length) {
        return length;
    }
    const std::size_t dash = needle.find('-');
    const std::size_t anchor = dash == std::string_view::npos ? 0 : dash;
    while (from + needleLength <= length) {
        const void* hit =
            std::memchr(data + from + anchor, needle[anchor], length - from - needleLength + 1);
        if (!hit) {
            return length;
        }
        std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - data) - anchor;
        if (std::memcmp(data + at, needle.data(), needleLength) == 0) {
            return at;
        }
        from = at + 1;
    }
    return length;
}

std::unique_ptr<MimeCodec> codecFor(const MimeHeader& headerLength) {
    const std::string* cte = headerLength.contentTransferEncoding();
    return CodecRegistry::codecFor(cte ? std::string_view(*cte) : std::string_view());
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
    content_.reset();
    contentLength_ = 0;
}

bool MimeBody::setContent(std::string_view bytes) {
    std::unique_ptr<char[]> buf(new (std::nothrow) char[bytes.size() + 1]);
    if (!buf) {
        return false;
    }
    if (!bytes.empty()) {
        std::memcpy(buf.get(), bytes.data(), bytes.size());
    }
    buf[bytes.size()] = '\0';
    content_ = std::move(buf);
    contentLength_ = bytes.size();
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
        return loadNested(data, length, 0);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

std::ptrdiff_t MimeBody::loadNested(const char* data, std::size_t length, int depth) {
    std::ptrdiff_t headerLength = loadFields(data, length);
    if (headerLength <= 0) {
        return headerLength;
    }
    clearContent();
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
            found = findText(data, length, bodyStart >= 2 ? bodyStart - 2 : 0, delimiter);
            if (found < length) {
                end = found + 2;
            }
        }
    }

    if (end > bodyStart) {
        auto codec = codecFor(*this);
        codec->setDirection(MimeCodec::Direction::Decode);
        codec->setInput(data + bodyStart, end - bodyStart);
        std::size_t bound = codec->decodedLength();
        std::unique_ptr<char[]> buf(new (std::nothrow) char[bound + 4]);
        if (!buf) {
            return -1;
        }
        platform::adviseLargeBuffer(buf.get(), bound + 4);
        std::size_t result = codec->decode(buf.get(), bound);
        buf[result] = '\0';
        content_ = std::move(buf);
        contentLength_ = result;
        bodyStart = end;
    }
    if (bodyStart >= length || found >= length) {
        return static_cast<std::ptrdiff_t>(bodyStart < length ? bodyStart : length);
    }

    const bool useFactory = !PartFactoryRegistry::empty();
    const std::size_t delimiterLength = delimiter.size();
    std::size_t delimiterAt = findText(data, length, bodyStart - 2, delimiter);
    while (delimiterAt < length) {
        std::size_t lineEnd = findText(data, length, delimiterAt + delimiterLength, "\r\n");
        if (lineEnd >= length) {
            return static_cast<std::ptrdiff_t>(length);
        }
        std::size_t childStart = lineEnd + 2;
        if (delimiterAt + delimiterLength + 2 <= length &&
            data[delimiterAt + delimiterLength] == '-' &&
            data[delimiterAt + delimiterLength + 1] == '-') {
            return static_cast<std::ptrdiff_t>(childStart);
        }
        std::size_t next = findText(data, length, childStart, delimiter);
        std::size_t childEnd = next < length ? next : length;

        std::unique_ptr<MimeBody> child;
        if (useFactory) {
            MimeHeader probe;
            probe.load(data + childStart, childEnd - childStart);
            child = PartFactoryRegistry::create(probe.mediaTypeName());
        } else {
            child = std::make_unique<MimeBody>();
        }
        MimeBody& added = appendChild(std::move(child));
        std::ptrdiff_t result =
            added.loadNested(data + childStart, childEnd - childStart, depth + 1);
        if (result < 0) {
            children_.pop_back();
            return result;
        }
        delimiterAt = next;
    }
    return static_cast<std::ptrdiff_t>(length);
}

std::size_t MimeBody::storedLength() const {
    std::size_t total = MimeHeader::storedLength() + 2;
    if (content_) {
        auto codec = codecFor(*this);
        codec->setDirection(MimeCodec::Direction::Encode);
        codec->setInput(content_.get(), contentLength_);
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
        if (content_) {
            auto codec = codecFor(*this);
            codec->setDirection(MimeCodec::Direction::Encode);
            codec->setInput(content_.get(), contentLength_);
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
