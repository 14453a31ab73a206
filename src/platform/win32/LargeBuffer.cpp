#include "platform/LargeBuffer.h"

#include <new>

namespace quill::platform {

// The Windows heap gives large blocks their own committed region; large pages
// there need a privilege that a mail client does not hold.
void adviseLargeBuffer(void*, std::size_t) noexcept {}

void* allocateLargeBuffer(std::size_t size) {
    return ::operator new(size);
}

void releaseLargeBuffer(void* data, std::size_t) noexcept {
    ::operator delete(data);
}

} // namespace quill::platform
