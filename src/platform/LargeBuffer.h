#pragma once
// A hint for a buffer of many megabytes that is about to be filled: on Linux
// it asks for transparent huge pages over the buffer's whole 2 MiB blocks, so
// that filling 50 MB faults in some 25 pages instead of 12,000. Buffers under
// 4 MiB, and systems without the feature, are left as they are. Only a hint:
// the contents and the size never change.
#include <cstddef>

namespace quill::platform {

void adviseLargeBuffer(void* data, std::size_t size) noexcept;

} // namespace quill::platform
