#pragma once
// The system time.

#include <cstdint>

namespace quill::platform {

// Seconds since 1970-01-01 00:00 UTC.
std::int64_t nowSeconds();

} // namespace quill::platform
