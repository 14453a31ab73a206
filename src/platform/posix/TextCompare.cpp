#include "platform/TextCompare.h"

#include <cstring>

namespace quill::platform {

int compareText(const char* a, const char* b) {
    return std::strcoll(a != nullptr ? a : "", b != nullptr ? b : "");
}

} // namespace quill::platform
