#include "platform/Clock.h"

#include <ctime>

namespace quill::platform {

std::int64_t nowSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

} // namespace quill::platform
