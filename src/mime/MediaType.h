#pragma once
// Top-level media types, with the codes the part walker works with.

#include "mime/CharClass.h"

#include <string_view>

namespace quill {

enum class MediaType : int {
    Text = 0,
    Image = 1,
    Audio = 2,
    Video = 3,
    Application = 4,
    Multipart = 5,
    Message = 6,
    Other = 7, // no known name matched
};

// The code whose name the Content-Type value starts with (case ignored, in
// the order of the codes); Other when none does.
inline MediaType mediaTypeFromValue(std::string_view contentType) {
    static constexpr std::string_view names[] = {"text",        "image",     "audio",  "video",
                                                 "application", "multipart", "message"};
    for (int i = 0; i < 7; ++i) {
        if (CharClass::startsWithNoCase(contentType, names[i])) {
            return static_cast<MediaType>(i);
        }
    }
    return MediaType::Other;
}

} // namespace quill
