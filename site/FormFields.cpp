#include "site/FormFields.h"

#include "site/TextUtil.h"

namespace quill::site {

FormFields::FormFields(std::string_view encoded) {
    std::size_t pos = 0;
    while (pos <= encoded.size()) {
        std::size_t amp = encoded.find('&', pos);
        const std::size_t end = amp == std::string::npos ? encoded.size() : amp;
        if (end > pos) {
            // Positions, not a copy of the piece: a field can be a whole
            // message text.
            std::size_t eq = encoded.find('=', pos);
            if (eq > end) {
                eq = end;
            }
            Field field;
            field.name = formDecode(encoded.substr(pos, eq - pos));
            field.raw = eq == end ? std::string_view() : encoded.substr(eq + 1, end - eq - 1);
            field.value = formDecode(field.raw);
            fields_.push_back(std::move(field));
        }
        if (amp == std::string::npos) {
            break;
        }
        pos = amp + 1;
    }
}

bool FormFields::has(const std::string& name) const {
    for (const auto& f : fields_) {
        if (f.name == name) {
            return true;
        }
    }
    return false;
}

namespace {
const std::string kEmpty;
} // namespace

const std::string& FormFields::value(const std::string& name) const {
    for (const auto& f : fields_) {
        if (f.name == name) {
            return f.value;
        }
    }
    return kEmpty;
}

std::string_view FormFields::raw(const std::string& name) const {
    for (const auto& f : fields_) {
        if (f.name == name) {
            return f.raw;
        }
    }
    return std::string_view();
}

std::vector<std::string> FormFields::rawAll(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& f : fields_) {
        if (f.name == name) {
            out.emplace_back(f.raw);
        }
    }
    return out;
}

} // namespace quill::site
