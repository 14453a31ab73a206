#pragma once
// The system time.

#include <cstdint>
#include <string>

namespace quill::platform {

// Seconds since 1970-01-01 00:00 UTC.
std::int64_t nowSeconds();

// The local time now as "YYYY-MM-DD hh:mm:ss".
std::string localTimeText();

} // namespace quill::platform
