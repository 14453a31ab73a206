#pragma once
// A MIME entity: a header plus either its decoded content or, for a multipart,
// the list of child entities (the multipart's own content is then its decoded
// preamble). The entity owns its content and its children.
//
// Error model: nothing here throws. load() and store() give the byte count,
// or 0 or a negative value on failure (-1: out of memory, or a multipart to be
// stored without boundary); what was parsed before a failure stays.

#include "mime/MediaType.h"
#include "mime/MimeHeader.h"
#include "platform/LargeBuffer.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

class MimeBody : public MimeHeader {
public:
    // Multiparts nested deeper than this are loaded as one flat entity, so
    // that no message can exhaust the stack of the parsing thread.
    static constexpr int kMaxDepth = 64;

    MimeBody() = default;
    ~MimeBody() override;

    // Deletes the children, frees the content and removes all fields.
    void clear() override;
    // Upper bound of store().
    std::size_t storedLength() const override;
    // Writes header, encoded content and, for a multipart, the children
    // between delimiter lines. Returns the bytes written (what fits when the
    // capacity runs out), 0 when the header does not fit, -1 for children
    // without a boundary parameter.
    std::ptrdiff_t store(char* dest, std::size_t capacity) const override;
    // Parses the entity from [data, data + length); the buffer is only read
    // during the call. Returns the bytes consumed, or 0 or a negative value
    // when the header could not be read (the fields before the fault stay).
    std::ptrdiff_t load(const char* data, std::size_t length) override;
    // Parses as load() does but decodes no content: each entity notes where
    // its encoded body lies in the buffer, and decodeBody() decodes the ones
    // that are wanted. A reader that needs the structure and one part of a
    // large message so never decodes its attachments; they are only scanned
    // for the delimiter that ends them.
    std::ptrdiff_t loadStructure(const char* data, std::size_t length);
    // Gives the entity the content that load() would have given it, decoded
    // from the buffer that loadStructure() read (it must hold the same bytes
    // still). True also for an entity without a body, which then has no
    // content; false when the buffer is too short for the body or memory runs
    // out.
    bool decodeBody(std::string_view loaded);
    // decodeBody() into out, which is emptied first, leaving the entity as it
    // is: a reader that takes the bytes away saves a copy of them.
    bool decodeBodyInto(std::string_view loaded, std::string& out) const;
    // decodeBodyInto() for a reader that owns the buffer loadStructure() read
    // and needs it no more: loaded becomes the content. A body without
    // transfer encoding is moved to the front of it instead of copied.
    bool decodeBodyInPlace(std::string& loaded) const;

    // The code of the Content-Type value; Text without Content-Type.
    MediaType mediaType() const;
    // The Content-Type main value after its first "/" (the whole main value
    // without one, empty when "/" comes first); "plain" without Content-Type.
    std::string subtype() const;

    // The decoded content; a NUL byte follows it in the buffer. Null and 0
    // when the entity has none.
    bool hasContent() const { return hasContent_; }
    const char* content() const { return hasContent_ ? content_.c_str() : nullptr; }
    std::size_t contentLength() const { return content_.size(); }
    std::string_view contentView() const { return content_; }
    // Replaces the content (composition). Returns false when memory runs out.
    bool setContent(std::string_view bytes);
    void clearContent();

    std::size_t childCount() const { return children_.size(); }
    MimeBody* child(std::size_t index) const {
        return index < children_.size() ? children_[index].get() : nullptr;
    }
    // Cursor over the children: firstChild() restarts it, nextChild()
    // advances; null after the last.
    MimeBody* firstChild();
    MimeBody* nextChild();
    // Appends a child; returns it.
    MimeBody& appendChild(std::unique_ptr<MimeBody> child);

protected:
    // What one load() or loadStructure() call shares with all its entities:
    // the start of the buffer and whether contents are decoded.
    struct LoadPass {
        const char* buffer;
        bool decode;
    };
    // load() at a nesting depth (0 for the top-level entity).
    virtual std::ptrdiff_t loadNested(const char* data, std::size_t length, const LoadPass& pass,
                                      int depth);

private:
    // Decoded contents run to tens of megabytes.
    using Content =
        std::basic_string<char, std::char_traits<char>, platform::LargeBufferAllocator<char>>;

    // Reads a child that runs past the parser's search window, when it is a
    // base64 leaf, in the pass that finds its end; part runs from the child's
    // start to the end of the parent's text. Returns the offset in part of the
    // delimiter that ends the child (part.size() without one), or npos with
    // the entity left empty when the child is to be read the ordinary way.
    std::size_t loadLongPart(std::string_view part, std::string_view delimiter, int depth);
    // The part of loaded where loadStructure() found the body; false when
    // loaded is too short for it.
    bool locatedBody(std::string_view loaded, std::string_view& body) const;
    // Frees the content; where loadStructure() found the body stays known, so
    // that a decodeBody() that ran out of memory can be tried again.
    void dropContent();
    // Decodes body with the transfer codec into the content. False (and no
    // content) when memory runs out.
    bool decodeContent(std::string_view body);
    // decodeContent() for base64, in pieces; stop is the offset of the byte
    // that ended decoding (or the body's size).
    bool decodeBase64(std::string_view body, std::size_t& stop);

    Content content_;
    bool hasContent_ = false;
    // Where loadStructure() found the encoded body: offset in its buffer and length.
    std::size_t bodyOffset_ = 0;
    std::size_t bodyLength_ = 0;
    std::vector<std::unique_ptr<MimeBody>> children_;
    std::size_t cursor_ = 0;
};

} // namespace quill
