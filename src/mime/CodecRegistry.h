#pragma once
// Chooses the transfer codec by Content-Transfer-Encoding name.
// "quoted-printable" and "base64" are registered at start-up; every other name
// (and an empty one) gives the 7bit pass-through.

#include "mime/MimeCodec.h"

#include <memory>
#include <string>
#include <string_view>

namespace quill {

class CodecRegistry {
public:
    using Factory = std::unique_ptr<MimeCodec> (*)();

    // A new codec for the encoding name (compared without regard to case);
    // never null. The caller owns it.
    static std::unique_ptr<MimeCodec> codecFor(std::string_view encodingName);
    // Replaces every entry of that name, then appends the new one.
    static void registerCodec(std::string encodingName, Factory factory);
};

} // namespace quill
