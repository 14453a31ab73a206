// libFuzzer target: loads arbitrary bytes as a message, walks every part,
// loads the structure alone and decodes each body after it, composes the tree
// again and runs the outgoing-message analysis. Any crash, sanitizer report, a
// tree that differs between the two loads, or a composition longer than its
// own bound is a finding.

#include "mime/FieldCoderRegistry.h"
#include "mime/MimeMessage.h"
#include "smtp/OutgoingMessage.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

void walk(const quill::MimeBody& b, int depth) {
    (void)b.mediaType();
    (void)b.subtype();
    (void)b.boundary();
    (void)b.mediaTypeName();
    if (b.hasContent() && b.content()[b.contentLength()] != '\0')
        std::abort(); // the content must stay NUL-terminated
    for (const auto& f : b.fields()) {
        std::string v;
        f.getParameter("charset", v);
        (void)f.mainValue();
        // Encoding the value again must respect its bound.
        auto coder = quill::FieldCoderRegistry::coderFor(f.name());
        coder->setCharset(f.charset().empty() ? "utf-8" : f.charset());
        coder->setDirection(quill::FieldCoder::Direction::Encode);
        coder->setInput(f.value().data(), f.value().size());
        std::size_t bound = coder->encodedLength();
        std::string out(bound, '\0');
        if (coder->encode(&out[0], out.size()) > bound)
            std::abort();
    }
    for (std::size_t i = 0; i < b.childCount(); ++i)
        walk(*b.child(i), depth + 1);
}

// Decodes every body that loadStructure() located and compares it with what
// load() decoded.
bool sameContents(const quill::MimeBody& decoded, quill::MimeBody& located, std::string_view text) {
    if (!located.decodeBody(text) || located.hasContent() != decoded.hasContent() ||
        located.contentView() != decoded.contentView() ||
        located.childCount() != decoded.childCount())
        return false;
    for (std::size_t i = 0; i < decoded.childCount(); ++i)
        if (!sameContents(*decoded.child(i), *located.child(i), text))
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An exact-size copy, so that any read past the end is caught.
    std::vector<char> buf(data, data + size);
    quill::MimeMessage m;
    std::ptrdiff_t r = m.load(buf.data(), buf.size());
    if (r > static_cast<std::ptrdiff_t>(size))
        std::abort();
    walk(m, 0);
    quill::MimeMessage located;
    if (located.loadStructure(buf.data(), buf.size()) != r ||
        !sameContents(m, located, {buf.data(), buf.size()}))
        std::abort(); // reading the structure first must come to the same tree

    std::size_t bound = m.storedLength();
    if (bound < (std::size_t(1) << 26)) {
        std::vector<char> out(bound);
        std::ptrdiff_t w = m.store(out.data(), out.size());
        if (w > static_cast<std::ptrdiff_t>(bound))
            std::abort();
        if (w > 0) {
            quill::MimeMessage again;
            again.load(out.data(), static_cast<std::size_t>(w));
        }
    }

    // The text read in place and the text given away must come to the same.
    const quill::OutgoingMessage analysed(std::string_view(buf.data(), buf.size()));
    const quill::OutgoingMessage taken(std::string(buf.data(), buf.size()));
    if (analysed.analysed() != taken.analysed() || analysed.body() != taken.body() ||
        analysed.to() != taken.to() || analysed.format() != taken.format())
        std::abort();
    return 0;
}
