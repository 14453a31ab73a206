#include "platform/LargeBuffer.h"

namespace quill::platform {

// The Windows heap gives large blocks their own committed region; large pages
// there need a privilege that a mail client does not hold.
void adviseLargeBuffer(void*, std::size_t) noexcept {}

} // namespace quill::platform
