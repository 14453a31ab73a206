#pragma once
// A message or part header: the fields in the order in which they were parsed
// or added. The header owns its fields.
//
// Error model: nothing here throws. load() and store() report failure by a
// result of 0 or less; look-ups report absence by a null pointer or an empty
// text.

#include "mime/MimeField.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quill {

class MimeHeader {
public:
    MimeHeader() = default;
    virtual ~MimeHeader() = default;
    MimeHeader(const MimeHeader&) = delete;
    MimeHeader& operator=(const MimeHeader&) = delete;

    // Removes all fields.
    virtual void clear();
    // Upper bound of store(): the fields' stored lengths plus 2.
    virtual std::size_t storedLength() const;
    // Writes every field, then the empty line's CR LF. Returns the bytes
    // written, or 0 when a field does not fit (or -1 when memory runs out).
    virtual std::ptrdiff_t store(char* dest, std::size_t capacity) const;
    // Parses fields up to the empty line (or a NUL byte). Returns the bytes
    // consumed including the empty line's CR LF (never more than length), or
    // 0 when a field lacks its CR LF; the fields read before it stay.
    virtual std::ptrdiff_t load(const char* data, std::size_t length);

    // The first field with this name (ASCII case ignored), or null.
    const MimeField* findField(std::string_view name) const;
    MimeField* findField(std::string_view name);
    // The parameter of the first such field, or an empty text.
    std::string fieldParameter(std::string_view field, std::string_view parameter) const;
    // The value of Content-Transfer-Encoding, or null when there is none.
    const std::string* contentTransferEncoding() const;
    // The Content-Type value up to its first "/" (the whole value without
    // one); "text" when there is no Content-Type.
    std::string mediaTypeName() const;
    // The "boundary" parameter of Content-Type, or an empty text.
    std::string boundary() const;

    std::size_t fieldCount() const { return fields_.size(); }
    const std::vector<MimeField>& fields() const { return fields_; }
    // Appends a field; returns it (valid until the field list changes).
    MimeField& addField(std::string name, std::string value, std::string charset = {});
    // Sets the value of the first field of that name, or appends one.
    MimeField& setField(std::string_view name, std::string value, std::string charset = {});
    // Removes every field of that name; returns how many went.
    std::size_t removeField(std::string_view name);

protected:
    // The header parse behind load(), without its guard against running out
    // of memory.
    std::ptrdiff_t loadFields(const char* data, std::size_t length);

private:
    std::vector<MimeField> fields_;
};

} // namespace quill
