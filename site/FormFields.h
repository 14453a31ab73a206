#pragma once
// The fields of a query string or an application/x-www-form-urlencoded body,
// in order, each with its raw text and its decoded value. Raw values matter:
// clients insert message ids and crumbs into URLs without encoding them.
// The raw values are views of the encoded text, which must outlive the
// fields: a posted message text is not copied once more for them.

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quill::site {

class FormFields {
public:
    struct Field {
        std::string name;     // decoded
        std::string_view raw; // the value as sent
        std::string value;    // decoded ("+" as space, %XX)
    };

    FormFields() = default;
    // Splits at "&"; a piece without "=" is a field with an empty value.
    explicit FormFields(std::string_view encoded);

    bool has(const std::string& name) const;
    // The decoded value of the first field of that name, or empty.
    const std::string& value(const std::string& name) const;
    // The raw value of the first field of that name, or empty.
    std::string_view raw(const std::string& name) const;
    // The raw values of every field of that name, in order.
    std::vector<std::string> rawAll(const std::string& name) const;
    const std::vector<Field>& fields() const { return fields_; }
    // Hands the fields over and leaves none.
    std::vector<Field> takeFields() { return std::move(fields_); }

private:
    std::vector<Field> fields_;
};

} // namespace quill::site
