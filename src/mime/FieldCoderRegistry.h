#pragma once
// Chooses the field coder by header field name (without regard to case).
// Subject, Comments and Content-Description get the text coder; the address
// fields the address coder; Content-Type and Content-Disposition the
// parameter coder; every other name the base coder.

#include "mime/FieldCoder.h"

#include <memory>
#include <string>
#include <string_view>

namespace quill {

class FieldCoderRegistry {
public:
    using Factory = std::unique_ptr<FieldCoder> (*)();

    // A new coder for the field name; never null. The caller owns it.
    static std::unique_ptr<FieldCoder> coderFor(std::string_view fieldName);
    // Replaces every entry of that name, then appends the new one.
    static void registerCoder(std::string fieldName, Factory factory);
};

} // namespace quill
