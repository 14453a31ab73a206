#pragma once
// Creates the entity object for a child part by its media type name (case
// ignored; an empty name counts as "text"). Nothing is registered by the
// library itself, so every part is a plain MimeBody unless an application
// registers an entity class of its own.

#include "mime/MimeBody.h"

#include <memory>
#include <string>
#include <string_view>

namespace quill {

class PartFactoryRegistry {
public:
    using Factory = std::unique_ptr<MimeBody> (*)();

    // A new entity for the media type name; never null. The caller owns it.
    static std::unique_ptr<MimeBody> create(std::string_view mediaTypeName);
    // Replaces every entry of that name, then appends the new one.
    static void registerFactory(std::string mediaTypeName, Factory factory);
    // True while nothing is registered (the parser then skips the look-up).
    static bool empty();
};

} // namespace quill
