#pragma once
// Unpredictable bytes from the operating system's generator, for salts and
// other values an attacker must not guess.

#include <cstddef>

namespace quill::platform {

// Fills buffer[0, length) and returns true; false when the system's generator
// could not be used (the buffer's contents are then unspecified).
bool fillRandom(void* buffer, std::size_t length) noexcept;

} // namespace quill::platform
