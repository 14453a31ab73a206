#include "platform/Clock.h"

#include <ctime>
#include <mutex>

namespace quill::platform {

std::int64_t nowSeconds() {
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string localTimeText() {
    // std::localtime shares one result between threads.
    static std::mutex lock;
    const std::time_t now = std::time(nullptr);
    char text[32] = "";
    std::lock_guard<std::mutex> hold(lock);
    if (const std::tm* local = std::localtime(&now))
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", local);
    return text;
}

} // namespace quill::platform
