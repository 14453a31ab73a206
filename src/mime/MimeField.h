#pragma once
// One header field: its name as written, its value decoded by the field coder
// for that name (encoded words replaced by their bytes, folds kept with their
// CR LF, the spaces and tabs after the colon removed, the final CR LF
// excluded), and the charset of the first encoded word (used again when the
// value is encoded for output).

#include <cstddef>
#include <string>
#include <string_view>

namespace quill {

class MimeField {
public:
    MimeField() = default;
    MimeField(std::string name, std::string value, std::string charset = {})
        : name_(std::move(name)), value_(std::move(value)), charset_(std::move(charset)) {}

    // Parses one field from [data, data + length). Returns the bytes consumed
    // including the final CR LF, or 0 when no field could be read: the header
    // ended (a CR at the start) or the field has no CR LF before the end.
    std::size_t load(const char* data, std::size_t length);

    // Upper bound of store(): name + encoded value + 4.
    std::size_t storedLength() const;
    // Writes "name: value CR LF" with the value encoded in the field's charset.
    // Returns the bytes written, or 0 when capacity < name length + 4. A value
    // that does not fit is cut.
    std::size_t store(char* dest, std::size_t capacity) const;

    // The value up to the first ";", trailing white space removed.
    std::string_view mainValue() const;
    // Finds the parameter (name compared without regard to case). On success
    // gives its value without one pair of surrounding double quotes and
    // returns true; otherwise empties out and returns false.
    bool getParameter(std::string_view parameter, std::string& out) const;

    const std::string& name() const { return name_; }
    const std::string& value() const { return value_; }
    const std::string& charset() const { return charset_; }
    void setName(std::string name) { name_ = std::move(name); }
    void setValue(std::string value) { value_ = std::move(value); }
    void setCharset(std::string charset) { charset_ = std::move(charset); }

private:
    std::string name_;
    std::string value_;
    std::string charset_;
};

} // namespace quill
