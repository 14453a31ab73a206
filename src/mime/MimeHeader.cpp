#include "mime/MimeHeader.h"

#include "mime/CharClass.h"

#include <algorithm>
#include <new>

namespace quill {

void MimeHeader::clear() {
    fields_.clear();
}

std::size_t MimeHeader::storedLength() const {
    std::size_t total = 2;
    for (const auto& f : fields_)
        total += f.storedLength();
    return total;
}

std::ptrdiff_t MimeHeader::store(char* dest, std::size_t capacity) const {
    try {
        std::size_t o = 0;
        for (const auto& f : fields_) {
            std::size_t r = f.store(dest + o, capacity - o);
            if (r == 0)
                return 0;
            o += r;
        }
        if (capacity - o < 2)
            return 0;
        dest[o++] = '\r';
        dest[o++] = '\n';
        return static_cast<std::ptrdiff_t>(o);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

std::ptrdiff_t MimeHeader::load(const char* data, std::size_t length) {
    try {
        return loadFields(data, length);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

std::ptrdiff_t MimeHeader::loadFields(const char* p, std::size_t n) {
    std::size_t pos = 0;
    while (pos < n && p[pos] != '\0' && p[pos] != '\r') {
        MimeField field;
        std::size_t used = field.load(p + pos, n - pos);
        if (used == 0)
            return 0;
        fields_.push_back(std::move(field));
        pos += used;
    }
    // The empty line's CR LF, as far as the buffer holds it.
    return static_cast<std::ptrdiff_t>(std::min(pos + 2, n));
}

const MimeField* MimeHeader::findField(std::string_view name) const {
    for (const auto& f : fields_)
        if (CharClass::equalNoCase(f.name(), name))
            return &f;
    return nullptr;
}

MimeField* MimeHeader::findField(std::string_view name) {
    for (auto& f : fields_)
        if (CharClass::equalNoCase(f.name(), name))
            return &f;
    return nullptr;
}

std::string MimeHeader::fieldParameter(std::string_view field, std::string_view parameter) const {
    std::string out;
    if (const MimeField* f = findField(field))
        f->getParameter(parameter, out);
    return out;
}

const std::string* MimeHeader::contentTransferEncoding() const {
    const MimeField* f = findField("Content-Transfer-Encoding");
    return f ? &f->value() : nullptr;
}

std::string MimeHeader::mediaTypeName() const {
    const MimeField* f = findField("Content-Type");
    if (!f)
        return "text";
    const std::string& v = f->value();
    return v.substr(0, v.find('/'));
}

std::string MimeHeader::boundary() const {
    return fieldParameter("Content-Type", "boundary");
}

MimeField& MimeHeader::addField(std::string name, std::string value, std::string charset) {
    fields_.emplace_back(std::move(name), std::move(value), std::move(charset));
    return fields_.back();
}

MimeField& MimeHeader::setField(std::string_view name, std::string value, std::string charset) {
    if (MimeField* f = findField(name)) {
        f->setValue(std::move(value));
        f->setCharset(std::move(charset));
        return *f;
    }
    return addField(std::string(name), std::move(value), std::move(charset));
}

std::size_t MimeHeader::removeField(std::string_view name) {
    auto it = std::remove_if(fields_.begin(), fields_.end(), [&](const MimeField& f) {
        return CharClass::equalNoCase(f.name(), name);
    });
    std::size_t gone = static_cast<std::size_t>(fields_.end() - it);
    fields_.erase(it, fields_.end());
    return gone;
}

} // namespace quill
