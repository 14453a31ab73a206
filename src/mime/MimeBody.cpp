#include "mime/MimeBody.h"

#include "mime/CodecRegistry.h"
#include "mime/PartFactoryRegistry.h"
#include "platform/LargeBuffer.h"

#include <cstring>
#include <new>

namespace quill {

namespace {

// Position of needle in [from, n) of p, or n. The walk is done by memchr on
// one byte of the needle: its first dash where it has one (a delimiter line;
// "-" never occurs in base64 and is rarer than CR in text), else its first.
std::size_t findText(const char* p, std::size_t n, std::size_t from, std::string_view needle) {
    const std::size_t k = needle.size();
    if (k == 0 || k > n)
        return n;
    const std::size_t dash = needle.find('-');
    const std::size_t anchor = dash == std::string_view::npos ? 0 : dash;
    while (from + k <= n) {
        const void* hit = std::memchr(p + from + anchor, needle[anchor], n - from - k + 1);
        if (!hit)
            return n;
        std::size_t at = static_cast<std::size_t>(static_cast<const char*>(hit) - p) - anchor;
        if (std::memcmp(p + at, needle.data(), k) == 0)
            return at;
        from = at + 1;
    }
    return n;
}

std::unique_ptr<MimeCodec> codecFor(const MimeHeader& h) {
    const std::string* cte = h.contentTransferEncoding();
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
    if (!buf)
        return false;
    if (!bytes.empty())
        std::memcpy(buf.get(), bytes.data(), bytes.size());
    buf[bytes.size()] = '\0';
    content_ = std::move(buf);
    contentLength_ = bytes.size();
    return true;
}

MediaType MimeBody::mediaType() const {
    const MimeField* f = findField("Content-Type");
    return f ? mediaTypeFromValue(f->value()) : MediaType::Text;
}

std::string MimeBody::subtype() const {
    const MimeField* f = findField("Content-Type");
    if (!f)
        return "plain";
    std::string_view main = f->mainValue();
    std::size_t slash = main.find('/');
    if (slash == std::string_view::npos)
        return std::string(main);
    if (slash == 0)
        return std::string();
    return std::string(main.substr(slash + 1));
}

MimeBody* MimeBody::firstChild() {
    cursor_ = 0;
    return nextChild();
}

MimeBody* MimeBody::nextChild() {
    if (cursor_ >= children_.size())
        return nullptr;
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

std::ptrdiff_t MimeBody::loadNested(const char* p, std::size_t n, int depth) {
    std::ptrdiff_t h = loadFields(p, n);
    if (h <= 0)
        return h;
    clearContent();
    std::size_t bodyStart = static_cast<std::size_t>(h);
    std::size_t end = n;

    std::string delimiter;
    std::size_t found = n;
    if (mediaType() == MediaType::Multipart && depth < kMaxDepth) {
        std::string b = boundary();
        if (!b.empty()) {
            delimiter = "\r\n--" + b;
            // From two bytes back, so that a delimiter right after the empty
            // line (whose CR LF it shares) is found.
            found = findText(p, n, bodyStart >= 2 ? bodyStart - 2 : 0, delimiter);
            if (found < n)
                end = found + 2;
        }
    }

    if (end > bodyStart) {
        auto codec = codecFor(*this);
        codec->setDirection(MimeCodec::Direction::Decode);
        codec->setInput(p + bodyStart, end - bodyStart);
        std::size_t bound = codec->decodedLength();
        std::unique_ptr<char[]> buf(new (std::nothrow) char[bound + 4]);
        if (!buf)
            return -1;
        platform::adviseLargeBuffer(buf.get(), bound + 4);
        std::size_t r = codec->decode(buf.get(), bound);
        buf[r] = '\0';
        content_ = std::move(buf);
        contentLength_ = r;
        bodyStart = end;
    }
    if (bodyStart >= n || found >= n)
        return static_cast<std::ptrdiff_t>(bodyStart < n ? bodyStart : n);

    const bool useFactory = !PartFactoryRegistry::empty();
    const std::size_t dl = delimiter.size();
    std::size_t d = findText(p, n, bodyStart - 2, delimiter);
    while (d < n) {
        std::size_t lineEnd = findText(p, n, d + dl, "\r\n");
        if (lineEnd >= n)
            return static_cast<std::ptrdiff_t>(n);
        std::size_t childStart = lineEnd + 2;
        if (d + dl + 2 <= n && p[d + dl] == '-' && p[d + dl + 1] == '-')
            return static_cast<std::ptrdiff_t>(childStart);
        std::size_t next = findText(p, n, childStart, delimiter);
        std::size_t childEnd = next < n ? next : n;

        std::unique_ptr<MimeBody> child;
        if (useFactory) {
            MimeHeader probe;
            probe.load(p + childStart, childEnd - childStart);
            child = PartFactoryRegistry::create(probe.mediaTypeName());
        } else {
            child = std::make_unique<MimeBody>();
        }
        MimeBody& added = appendChild(std::move(child));
        std::ptrdiff_t r = added.loadNested(p + childStart, childEnd - childStart, depth + 1);
        if (r < 0) {
            children_.pop_back();
            return r;
        }
        d = next;
    }
    return static_cast<std::ptrdiff_t>(n);
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
        std::size_t b = boundary().size();
        for (const auto& c : children_)
            total += b + c->storedLength() + 6;
        total += b + 8;
    }
    return total;
}

std::ptrdiff_t MimeBody::store(char* dest, std::size_t capacity) const {
    try {
        std::ptrdiff_t h = MimeHeader::store(dest, capacity);
        if (h <= 0)
            return h;
        std::size_t o = static_cast<std::size_t>(h);
        if (content_) {
            auto codec = codecFor(*this);
            codec->setDirection(MimeCodec::Direction::Encode);
            codec->setInput(content_.get(), contentLength_);
            o += codec->encode(dest + o, capacity - o);
        }
        if (children_.empty())
            return static_cast<std::ptrdiff_t>(o);
        const std::string b = boundary();
        if (b.empty())
            return -1;
        bool first = true;
        for (const auto& c : children_) {
            if (capacity - o < b.size() + 6)
                break;
            if (first && o >= 2 && dest[o - 2] == '\r' && dest[o - 1] == '\n')
                o -= 2;
            first = false;
            std::memcpy(dest + o, "\r\n--", 4);
            std::memcpy(dest + o + 4, b.data(), b.size());
            std::memcpy(dest + o + 4 + b.size(), "\r\n", 2);
            o += b.size() + 6;
            std::ptrdiff_t r = c->store(dest + o, capacity - o);
            if (r < 0)
                return r;
            o += static_cast<std::size_t>(r);
        }
        if (capacity - o >= b.size() + 8) {
            std::memcpy(dest + o, "\r\n--", 4);
            std::memcpy(dest + o + 4, b.data(), b.size());
            std::memcpy(dest + o + 4 + b.size(), "--\r\n", 4);
            o += b.size() + 8;
        }
        return static_cast<std::ptrdiff_t>(o);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

} // namespace quill
