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
    for (const auto& field : fields_) {
        total += field.storedLength();
    }
    return total;
}

std::ptrdiff_t MimeHeader::store(char* dest, std::size_t capacity) const {
    try {
        std::size_t written = 0;
        for (const auto& field : fields_) {
            std::size_t stored = field.store(dest + written, capacity - written);
            if (stored == 0) {
                return 0;
            }
            written += stored;
        }
        if (capacity - written < 2) {
            return 0;
        }
        dest[written++] = '\r';
        dest[written++] = '\n';
        return static_cast<std::ptrdiff_t>(written);
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

std::ptrdiff_t MimeHeader::loadFields(const char* data, std::size_t length) {
    std::size_t pos = 0;
    while (pos < length && data[pos] != '\0' && data[pos] != '\r') {
        MimeField field;
        std::size_t used = field.load(data + pos, length - pos);
        if (used == 0) {
            return 0;
        }
        fields_.push_back(std::move(field));
        pos += used;
    }
    // The empty line's CR LF, as far as the buffer holds it.
    return static_cast<std::ptrdiff_t>(std::min(pos + 2, length));
}

const MimeField* MimeHeader::findField(std::string_view name) const {
    for (const auto& field : fields_) {
        if (CharClass::equalNoCase(field.name(), name)) {
            return &field;
        }
    }
    return nullptr;
}

MimeField* MimeHeader::findField(std::string_view name) {
    for (auto& field : fields_) {
        if (CharClass::equalNoCase(field.name(), name)) {
            return &field;
        }
    }
    return nullptr;
}

std::string MimeHeader::fieldParameter(std::string_view field, std::string_view parameter) const {
    std::string out;
    if (const MimeField* found = findField(field)) {
        found->getParameter(parameter, out);
    }
    return out;
}

const std::string* MimeHeader::contentTransferEncoding() const {
    const MimeField* field = findField("Content-Transfer-Encoding");
    return field ? &field->value() : nullptr;
}

std::string MimeHeader::mediaTypeName() const {
    const MimeField* field = findField("Content-Type");
    if (!field) {
        return "text";
    }
    const std::string& value = field->value();
    return value.substr(0, value.find('/'));
}

std::string MimeHeader::boundary() const {
    return fieldParameter("Content-Type", "boundary");
}

MimeField& MimeHeader::addField(std::string name, std::string value, std::string charset) {
    fields_.emplace_back(std::move(name), std::move(value), std::move(charset));
    return fields_.back();
}

MimeField& MimeHeader::setField(std::string_view name, std::string value, std::string charset) {
    if (MimeField* field = findField(name)) {
        field->setValue(std::move(value));
        field->setCharset(std::move(charset));
        return *field;
    }
    return addField(std::string(name), std::move(value), std::move(charset));
}

std::size_t MimeHeader::removeField(std::string_view name) {
    auto it = std::remove_if(fields_.begin(), fields_.end(), [&](const MimeField& field) {
        return CharClass::equalNoCase(field.name(), name);
    });
    std::size_t gone = static_cast<std::size_t>(fields_.end() - it);
    fields_.erase(it, fields_.end());
    return gone;
}

} // namespace quill
