#include "site/FormFields.h"

#include "site/TextUtil.h"

namespace quill::site {

FormFields::FormFields(const std::string& encoded) {
    std::size_t pos = 0;
    while (pos <= encoded.size()) {
        std::size_t amp = encoded.find('&', pos);
        std::string piece = encoded.substr(pos, amp == std::string::npos ? amp : amp - pos);
        if (!piece.empty()) {
            std::size_t eq = piece.find('=');
            Field field;
            field.name = formDecode(piece.substr(0, eq));
            field.raw = eq == std::string::npos ? std::string() : piece.substr(eq + 1);
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

std::string FormFields::value(const std::string& name) const {
    for (const auto& f : fields_) {
        if (f.name == name) {
            return f.value;
        }
    }
    return std::string();
}

std::string FormFields::raw(const std::string& name) const {
    for (const auto& f : fields_) {
        if (f.name == name) {
            return f.raw;
        }
    }
    return std::string();
}

std::vector<std::string> FormFields::rawAll(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& f : fields_) {
        if (f.name == name) {
            out.push_back(f.raw);
        }
    }
    return out;
}

} // namespace quill::site
