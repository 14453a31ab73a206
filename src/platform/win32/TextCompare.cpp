#include "platform/TextCompare.h"

#include <windows.h>

namespace quill::platform {

int compareText(const char* a, const char* b) {
    return ::lstrcmpA(a != nullptr ? a : "", b != nullptr ? b : "");
}

} // namespace quill::platform
