#include "platform/Random.h"

#include <windows.h>

#include <ntsecapi.h>

namespace quill::platform {

// RtlGenRandom (advapi32's SystemFunction036) is the system generator that
// every Windows version since XP has, without a provider to open.
bool fillRandom(void* buffer, std::size_t length) noexcept {
    unsigned char* out = static_cast<unsigned char*>(buffer);
    while (length > 0) {
        const ULONG piece = length > 0x10000 ? 0x10000 : static_cast<ULONG>(length);
        if (!RtlGenRandom(out, piece)) {
            return false;
        }
        out += piece;
        length -= piece;
    }
    return true;
}

} // namespace quill::platform
