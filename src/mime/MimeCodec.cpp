#include "mime/MimeCodec.h"

#include <algorithm>
#include <cstring>

namespace quill {

std::size_t MimeCodec::encode(char* dest, std::size_t capacity) {
    std::size_t count = std::min(length_, capacity);
    if (count) {
        std::memcpy(dest, input_, count);
    }
    return count;
}

std::size_t MimeCodec::decode(char* dest, std::size_t capacity) {
    return encode(dest, capacity);
}

} // namespace quill
